#pragma once

// A clock a test moves forward itself, for the board service: its workers
// wait on it as on the system's clock, and wake when the test advances past
// the moment they wait for. The test can also wait until every worker has
// done what it can at the current moment.
#include "boards/clock.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>
#include <vector>

namespace lumidex::test {

class FakeClock final : public ServiceClock {
public:
    // Starts on a day of its own: the calendar reads 2026-12-09 12:00:00 UTC.
    FakeClock() = default;

    TimePoint Now() const override {
        std::lock_guard lock(mutex_);
        return now_;
    }

    std::chrono::system_clock::time_point WallNow() const override {
        std::lock_guard lock(mutex_);
        return kCalendarStart + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                    now_ - kStart);
    }

    void WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& waiting,
                   TimePoint until) override {
        std::list<Sleeper>::iterator me;
        {
            std::lock_guard lock(mutex_);
            ++waits_;
            if (until <= now_) {
                changed_.notify_all();
                return;
            }
            me = sleepers_.insert(sleepers_.end(), Sleeper{&wake, waiting.mutex(), until});
        }
        changed_.notify_all();
        // Woken by the service (new work) or by Advance (its moment came).
        wake.wait(waiting);
        {
            std::lock_guard lock(mutex_);
            sleepers_.erase(me);
        }
        changed_.notify_all();
    }

    // How many times a thread has begun to wait so far.
    std::uint64_t Waits() const {
        std::lock_guard lock(mutex_);
        return waits_;
    }

    // Moves the time forward and wakes whoever waits for a moment now come.
    void Advance(std::chrono::milliseconds by) {
        std::vector<Sleeper> due;
        {
            std::lock_guard lock(mutex_);
            now_ += by;
            for (const Sleeper& sleeper : sleepers_) {
                if (sleeper.until <= now_) {
                    due.push_back(sleeper);
                }
            }
        }
        // Taking the waiter's mutex first: it is released only once the
        // waiter waits, so the notification cannot come too early.
        for (const Sleeper& sleeper : due) {
            std::lock_guard lock(*sleeper.mutex);
            sleeper.wake->notify_all();
        }
    }

    // Waits (in real time, up to `limit`) until `threads` threads wait for a
    // moment still to come, having begun to wait more than `since` times in
    // all: the service has done everything it can do now. False at the
    // limit.
    bool Settled(std::size_t threads, std::uint64_t since = 0,
                 std::chrono::milliseconds limit = std::chrono::seconds{5}) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] {
            if (waits_ <= since || sleepers_.size() != threads) {
                return false;
            }
            for (const Sleeper& sleeper : sleepers_) {
                if (sleeper.until <= now_) {
                    return false;
                }
            }
            return true;
        });
    }

private:
    struct Sleeper {
        std::condition_variable* wake;
        std::mutex* mutex;
        TimePoint until;
    };
    static constexpr TimePoint kStart = TimePoint{} + std::chrono::hours{1000};
    static constexpr std::chrono::system_clock::time_point kCalendarStart =
        std::chrono::sys_days{std::chrono::year{2026} / 12 / 9} + std::chrono::hours{12};

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    TimePoint now_ = kStart;
    std::uint64_t waits_ = 0;
    std::list<Sleeper> sleepers_;
};

} // namespace lumidex::test
