#pragma once

// The request to stop lumidex-bridge on Windows: Ctrl+C, closing the
// console, or the service manager's stop. (On Linux the bridge's own loop
// waits for SIGTERM and SIGINT.)
namespace lumidex {

class StopSignal {
public:
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
