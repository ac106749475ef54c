#pragma once

// SHA-256 (FIPS 180-4), for the change record's chain: each line carries the
// hash of the line before it, so an edited or removed line shows.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace lumidex {

std::array<std::uint8_t, 32> Sha256(std::string_view bytes);
// The hash as 64 lower-case hex digits.
std::string Sha256Hex(std::string_view bytes);

} // namespace lumidex
