#include "tools/bridge/platform/service_manager.h"

#include <systemd/sd-daemon.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace lumidex {

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

} // namespace lumidex
