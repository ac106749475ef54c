#pragma once

#include <optional>
#include <string>
#include <vector>

namespace lumidex {

// The machine's serial ports as the platform lists them (device paths here,
// COM names on Windows), in the platform's order; the dialog's list sorts
// them. Returns nothing when the platform's list cannot be read at all,
// which is different from a machine without serial ports (an empty list).
std::optional<std::vector<std::string>> ListSerialPorts();

} // namespace lumidex
