#pragma once

// The request to stop lumidex-bridge: SIGTERM or SIGINT on POSIX; Ctrl+C,
// closing the console, or the service manager's stop on Windows.
namespace lumidex {

class StopSignal {
public:
    // On POSIX the stop signals are blocked from here on, for this thread
    // and every thread it starts, so only Wait takes them: make it before
    // any thread.
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // Returns once a stop was asked for.
    void Wait();

    // Asks every StopSignal's Wait to return (the Windows service's stop).
    static void Raise();
};

} // namespace lumidex
