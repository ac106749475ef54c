#include "tools/bridge/http/password_checks.h"

#include "tools/bridge/platform/thread_priority.h"

namespace lumidex {

PasswordChecks::PasswordChecks() = default;

PasswordChecks::~PasswordChecks() {
    Stop();
}

bool PasswordChecks::Run(const std::string& client, std::function<void(bool)> check) {
    {
        std::lock_guard lock(mutex_);
        const auto mine = per_client_.find(client);
        if (stopping_ || queue_.size() >= kMostWaitingChecks ||
            (mine != per_client_.end() && mine->second >= kMostWaitingChecksPerClient)) {
            return false;
        }
        ++per_client_[client];
        queue_.push_back({client, std::move(check), std::chrono::steady_clock::now()});
        if (!thread_.joinable()) {
            thread_ = std::thread([this] { Loop(); });
        }
    }
    wake_.notify_one();
    return true;
}

void PasswordChecks::Stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
    queue_.clear();
}

void PasswordChecks::Loop() {
    // A flood of logins keeps this thread busy; the door's own thread and
    // the boards' workers go first when the machine is short of time.
    LowerThisThreadsPriority();
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) {
            return;
        }
        Waiting next = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        next.check(std::chrono::steady_clock::now() - next.asked <= kLongestCheckWait);
        lock.lock();
        if (--per_client_[next.client] == 0) {
            per_client_.erase(next.client);
        }
    }
}

} // namespace lumidex
