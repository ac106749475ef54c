#include "link/address.h"

#include "settings/keys.h"

#include <algorithm>
#include <charconv>

namespace lumidex {

std::int32_t StoredAddressValue(std::uint32_t address) {
    return static_cast<std::int32_t>(address); // two's complement, as "%d" prints it
}

std::uint32_t AddressFromStored(std::int32_t stored) {
    return static_cast<std::uint32_t>(stored);
}

std::string FormatDottedAddress(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::optional<std::uint32_t> ParseDottedAddress(std::string_view text) {
    std::uint32_t address = 0;
    for (int field = 0; field < 4; ++field) {
        if (field > 0) {
            if (text.empty() || text.front() != '.') {
                return std::nullopt;
            }
            text.remove_prefix(1);
        }
        unsigned value = 0;
        const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
        const auto used = static_cast<std::size_t>(result.ptr - text.data());
        // "010" is refused as the system's own conversion refuses it (some
        // read it as octal), so a text passes here only if it reaches the
        // controller it names.
        const bool leading_zero = used > 1 && text.front() == '0';
        if (result.ec != std::errc() || used == 0 || used > 3 || value > 255 || leading_zero) {
            return std::nullopt;
        }
        text.remove_prefix(used);
        address = (address << 8) | value;
    }
    return text.empty() ? std::optional(address) : std::nullopt;
}

std::optional<std::string> StoredAddressProblem(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view trimmed = text.substr(first, text.find_last_not_of(" \t") - first + 1);
    const std::string_view digits =
        trimmed.front() == '-' || trimmed.front() == '+' ? trimmed.substr(1) : trimmed;
    if (!digits.empty() &&
        std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const std::int32_t read = LeadingNumber(trimmed);
    std::string why = "LEDIP=" + std::string(trimmed) + " is read as " + std::to_string(read) +
                      " (the controller at " + FormatDottedAddress(AddressFromStored(read)) +
                      "): the settings hold an address as one whole number, as the dialog "
                      "stores it";
    if (const auto meant = ParseDottedAddress(trimmed)) {
        why += "; for " + std::string(trimmed) + " write LEDIP=" +
               std::to_string(StoredAddressValue(*meant));
    }
    return why;
}

} // namespace lumidex
