#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lumidex {

// The machine's serial ports as the platform lists them (device paths here,
// COM names on Windows), in the platform's order; the dialog's list sorts
// them. Returns nothing when the platform's list cannot be read at all,
// which is different from a machine without serial ports (an empty list).
std::optional<std::vector<std::string>> ListSerialPorts();

// A port name as Windows registers it: the data of a value under the
// serial-port key, UTF-16LE text up to its first terminator (or to the end
// of the data when it has none), as UTF-8. An odd last byte is no character
// and is left out.
std::string PortNameFromRegistryData(std::span<const std::uint8_t> data);

} // namespace lumidex
