#pragma once

// Password checks away from the thread that serves every request: one
// PBKDF2 costs about a tenth of a second, so the HTTP door hands each check
// to a thread of its own and goes on serving page files and events. Checks
// wait their turn in a short queue; a client may have only a few waiting,
// so a flood of wrong logins from one place cannot hold the queue.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace lumidex {

// How many checks may wait in all, and per client; a check that waited
// longer than kLongestCheckWait is not made (its client has waited enough:
// it is told the door is busy).
inline constexpr std::size_t kMostWaitingChecks = 16;
inline constexpr std::size_t kMostWaitingChecksPerClient = 2;
inline constexpr std::chrono::seconds kLongestCheckWait{5};

class PasswordChecks {
public:
    PasswordChecks();
    // Stops the thread; checks still waiting are dropped unrun.
    ~PasswordChecks();
    PasswordChecks(const PasswordChecks&) = delete;
    PasswordChecks& operator=(const PasswordChecks&) = delete;

    // Runs `check` on the checking thread (started with the first check),
    // after those waiting before it, telling it whether it runs within
    // kLongestCheckWait of being asked.
    // False, and `check` is dropped, when kMostWaitingChecks wait already or
    // this client has kMostWaitingChecksPerClient waiting or running.
    bool Run(const std::string& client, std::function<void(bool in_time)> check);

    // Ends the thread after the check it runs; the rest are dropped. Safe
    // to call twice.
    void Stop();

private:
    struct Waiting {
        std::string client;
        std::function<void(bool)> check;
        std::chrono::steady_clock::time_point asked;
    };
    void Loop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Waiting> queue_;
    std::map<std::string, std::size_t> per_client_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace lumidex
