#pragma once

// One exchange with a controller over a real link, made as the command path
// makes it: the target's own link and timing, one attempt.
#include "link/exchange.h"

#include <cstdint>
#include <span>

namespace lumidex::test {

inline ExchangeResult ExchangeWith(const LinkTarget& target, std::span<const std::uint8_t> frame) {
    const auto link = MakeLink(target);
    return Exchange(*link, frame, TimingOf(target));
}

} // namespace lumidex::test
