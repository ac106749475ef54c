#include "boards/clock.h"

namespace lumidex {
namespace {

class SystemClock final : public ServiceClock {
public:
    TimePoint Now() const override { return std::chrono::steady_clock::now(); }
    std::chrono::system_clock::time_point WallNow() const override {
        return std::chrono::system_clock::now();
    }
    void WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                   TimePoint until) override {
        if (until == TimePoint::max()) {
            wake.wait(lock);
        } else {
            wake.wait_until(lock, until);
        }
    }
};

} // namespace

ServiceClock& SystemServiceClock() {
    static SystemClock clock;
    return clock;
}

} // namespace lumidex
