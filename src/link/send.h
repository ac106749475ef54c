#pragma once

#include "link/exchange.h"

#include <span>
#include <string_view>

namespace lumidex {

// Link modes of TransmitFrame: the UDP port selects the UDP link, 232 the
// serial link.
inline constexpr int kModeUdp = 10006;
inline constexpr int kModeSerial = 232;

// The transmission entry point by its classic name, kept for callers that
// think in link modes: one exchange (no retry) over the link the mode
// selects, the answer kept in the reply block until the next exchange.
// Everything else reaches a board through the command path (Deliver).
class Send {
public:
    Send() { reply_.fill(kReplyFill); }

    // Sends the frame over the link of `mode` (kModeUdp: `target` is the
    // dotted IPv4 address; kModeSerial: `target` is the port, at `baud`) and
    // returns true when the controller's answer has byte 3 equal to 1. Any
    // other mode fails without touching a link.
    bool TransmitFrame(std::span<const std::uint8_t> frame, std::string_view target, int mode,
                       int baud);

    const ReplyBlock& reply() const { return reply_; }
    // Why the last exchange was not accepted; empty when it was.
    const std::string& reason() const { return reason_; }

private:
    ReplyBlock reply_{};
    std::string reason_;
};

} // namespace lumidex
