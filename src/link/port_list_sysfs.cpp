#include "link/port_list_sysfs.h"
#include "link/port_list.h"

#include <algorithm>
#include <fstream>

namespace lumidex {
namespace {

// The driver that serves 8250/16550 UARTs registers a fixed number of ports
// whether or not hardware answers at them.
constexpr std::string_view kReservingDriver = "serial8250";

std::string FirstLine(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

} // namespace

std::optional<std::vector<std::string>> ListSerialPortsIn(const std::filesystem::path& sysfs_root) {
    const std::filesystem::path ttys = sysfs_root / "class" / "tty";
    std::error_code ec;
    std::filesystem::directory_iterator entries(ttys, ec);
    if (ec) {
        return std::nullopt;
    }
    std::vector<std::string> ports;
    for (const auto& entry : entries) {
        const std::filesystem::path device = entry.path() / "device";
        if (!std::filesystem::exists(device, ec)) {
            continue; // a virtual terminal: tty0, console, ptmx
        }
        const auto driver = std::filesystem::read_symlink(device / "driver", ec);
        if (!ec && driver.filename() == kReservingDriver &&
            FirstLine(entry.path() / "type") == "0") {
            continue;
        }
        ports.push_back("/dev/" + entry.path().filename().string());
    }
    std::sort(ports.begin(), ports.end());
    return ports;
}

std::optional<std::vector<std::string>> ListSerialPorts() {
    return ListSerialPortsIn("/sys");
}

} // namespace lumidex
