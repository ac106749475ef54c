#pragma once

#include <chrono>
#include <string_view>

namespace lumidex {

// The request to stop lumidex-bridge. On Linux SIGTERM and SIGINT, taken
// by the thread that made the StopSignal alone: it blocks them, and every
// thread started after it inherits that mask. On Windows Ctrl+C, closing
// the console, or the service manager's stop. Make it before any thread.
class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // Waits up to `timeout`; true once a stop was asked for.
    bool WaitFor(std::chrono::milliseconds timeout);

    // Asks for a stop, as the system's own request does (the Windows
    // service's stop).
    static void Raise();
};

// How a stop is asked for, as --help says it: "SIGTERM or SIGINT", "Ctrl+C".
std::string_view StopRequestName();

} // namespace lumidex
