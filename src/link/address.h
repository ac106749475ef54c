#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumidex {

// The controller address as the settings store it ("LEDIP"): the 32-bit
// value with the first field in the top 8 bits, written as a signed decimal
// number (192.168.1.100 is -1062731420).
std::int32_t StoredAddressValue(std::uint32_t address);
std::uint32_t AddressFromStored(std::int32_t stored);

// "a.b.c.d" with each field in decimal, as the address field shows it.
std::string FormatDottedAddress(std::uint32_t address);

// Four decimal fields 0..255 joined by ".", each without leading zeros;
// nothing for any other text.
std::optional<std::uint32_t> ParseDottedAddress(std::string_view text);

} // namespace lumidex
