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

// Why a stored controller address ("LEDIP") is not what its writer meant:
// anything but a whole number, a dotted address written by hand
// ("127.0.0.2") above all, is read as the number it starts with (127, the
// controller at 0.0.0.127), as the dialog reads it. One line saying so and,
// for a dotted address, the number that means it; nothing for a whole
// number (blanks around it aside) or an empty text.
std::optional<std::string> StoredAddressProblem(std::string_view text);

} // namespace lumidex
