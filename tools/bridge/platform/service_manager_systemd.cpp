#include "tools/bridge/platform/service_manager.h"

#include <systemd/sd-daemon.h>

#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>

namespace lumidex {
namespace {

constexpr int kExitBadInput = 2;

} // namespace

ServiceManager::ServiceManager() : active_(std::getenv("NOTIFY_SOCKET") != nullptr) {
    std::uint64_t watchdog_us = 0;
    if (active_ && sd_watchdog_enabled(0, &watchdog_us) > 0 && watchdog_us > 0) {
        // Three times within the watchdog's time, so one late turn is no restart.
        alive_period_ = std::chrono::microseconds(watchdog_us / 3);
    }
}

void ServiceManager::Ready() {
    if (active_) {
        sd_notify(0, "READY=1");
    }
}

void ServiceManager::Alive() {
    if (active_) {
        sd_notify(0, "WATCHDOG=1");
    }
}

void ServiceManager::Status(const std::string& line) {
    if (active_) {
        // One line: a line break would start another assignment.
        std::string status = "STATUS=" + line;
        for (char& c : status) {
            if (c == '\n' || c == '\r') {
                c = ' ';
            }
        }
        sd_notify(0, status.c_str());
    }
}

void ServiceManager::Stopping() {
    if (active_) {
        sd_notify(0, "STOPPING=1");
    }
}

int RunServiceVerb(ServiceVerb verb, const ServeBoardsFile&, std::ostream&, std::ostream& err) {
    const char* option = verb == ServiceVerb::Install     ? "--install-service"
                         : verb == ServiceVerb::Uninstall ? "--uninstall-service"
                                                          : "--service";
    err << "lumidex-bridge: " << option
        << " is for the Windows service; on Linux systemd runs the bridge from its unit "
           "(lumidex-bridge.service)\n";
    return kExitBadInput;
}

std::string ServiceUsage() {
    return {};
}

} // namespace lumidex
