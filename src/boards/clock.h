#pragma once

// The time as the board service sees it: now, and waiting until a moment.
// The program uses the system's clocks; tests hand the service a clock they
// move forward themselves, so retries, refreshes and schedules are checked
// in milliseconds.
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace lumidex {

class ServiceClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~ServiceClock() = default;

    // Now, for pauses and intervals (never goes back).
    virtual TimePoint Now() const = 0;
    // Now on the calendar, for what statuses and records say.
    virtual std::chrono::system_clock::time_point WallNow() const = 0;
    // Waits, `lock` held on entry and on return, until `until` has come
    // (TimePoint::max(): no end) or `wake` is notified; may also return
    // early. The caller looks at the time again either way.
    virtual void WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                           TimePoint until) = 0;
};

// The system's steady and calendar clocks.
ServiceClock& SystemServiceClock();

} // namespace lumidex
