#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace lumidex {

// What the bridge tells the service manager when systemd runs it as a
// Type=notify service: that it is ready, that it is alive (the watchdog),
// its state in one line, and that it is stopping. Run any other way, every
// call does nothing.
class ServiceManager {
public:
    ServiceManager();

    // How often to say the bridge is alive, when the unit has a watchdog.
    std::optional<std::chrono::microseconds> AlivePeriod() const { return alive_period_; }

    void Ready();
    void Alive();
    void Status(const std::string& line);
    void Stopping();

private:
    bool active_ = false;
    std::optional<std::chrono::microseconds> alive_period_;
};

} // namespace lumidex
