#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lumidex {

// The serial ports a Linux sysfs tree lists under `sysfs_root`/class/tty:
// every terminal with a device behind it (its "device" link), as
// "/dev/" + its name, in name order. Virtual terminals (no device) are left
// out, and so are 8250-type ports whose "type" says 0, the places the
// driver reserves without finding a UART. Returns nothing when the tree has
// no class/tty to read. ListSerialPorts() reads /sys this way.
std::optional<std::vector<std::string>> ListSerialPortsIn(const std::filesystem::path& sysfs_root);

} // namespace lumidex
