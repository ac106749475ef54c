#pragma once

// The system's service manager as lumidex-bridge meets it: systemd on Linux
// (a Type=notify unit), the Windows service manager on Windows.
#include <chrono>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

namespace lumidex {

// What the bridge tells the service manager that runs it: that it is ready,
// that it is alive (systemd's watchdog), its state in one line (systemd's
// status), and that it is stopping. On Windows "ready" and "stopping" are
// the service's running and stop-pending states. Run any other way, every
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

// What the command line asks of the Windows service: register it
// (--install-service), remove it (--uninstall-service), or run as it
// (--service, what the service manager starts).
enum class ServiceVerb { None, Install, Uninstall, Run };

// How the service serves its boards file: the run over that file, its
// lines going to `log`; returns the run's exit status.
using ServeBoardsFile = std::function<int(const std::filesystem::path& boards, std::ostream& log)>;

// Carries out a verb other than None. On Windows: 0, or 1 with one line on
// `err` (the service manager refuses, the service's folder is not safe, the
// process was not started by the service manager); running as the service
// serves %ProgramData%\Lumidex\boards.ini through `serve`. On Linux,
// where systemd runs the bridge from its unit, a verb is refused with one
// line on `err`: 2.
int RunServiceVerb(ServiceVerb verb, const ServeBoardsFile& serve, std::ostream& out,
                   std::ostream& err);

// What --help says about the service verbs: the Windows service's part;
// nothing on Linux.
std::string ServiceUsage();

} // namespace lumidex
