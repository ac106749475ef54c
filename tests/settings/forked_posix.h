#pragma once

#include <chrono>
#include <csignal>
#include <functional>
#include <optional>
#include <poll.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace lumidex::test {

// A forked child process running a function of the test; its result is the
// child's exit status. Killed when the object goes away.
class Forked {
public:
    explicit Forked(const std::function<int()>& body) : pid_(::fork()) {
        if (pid_ == 0) {
            ::_exit(body());
        }
    }
    Forked(const Forked&) = delete;
    Forked& operator=(const Forked&) = delete;
    ~Forked() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    bool started() const { return pid_ > 0; }

    // True while the child runs; once it has ended, its status is kept.
    bool Running() {
        if (pid_ <= 0 || status_) {
            return false;
        }
        int raw = 0;
        if (::waitpid(pid_, &raw, WNOHANG) != pid_) {
            return true;
        }
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return false;
    }

    // Waits for the exit; the exit status, or -1 when the child did not end
    // within the time-out (it is then killed) or was ended by a signal.
    int Wait(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (Running()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                Kill();
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return status_.value_or(-1);
    }

    // Kills the child with SIGKILL and reaps it.
    void Kill() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            status_ = -1;
        }
    }

private:
    pid_t pid_;
    std::optional<int> status_;
};

// A one-byte message from a forked child to the test: create it before the
// fork; the child calls Send(), the test calls Await().
class ChildSignal {
public:
    ChildSignal() {
        if (::pipe(fds_) != 0) {
            fds_[0] = fds_[1] = -1;
        }
    }
    ChildSignal(const ChildSignal&) = delete;
    ChildSignal& operator=(const ChildSignal&) = delete;
    ~ChildSignal() {
        for (int fd : fds_) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    void Send() { (void)!::write(fds_[1], "!", 1); }

    // True when the child sent within the time-out; false when it did not,
    // or ended without sending.
    bool Await(std::chrono::milliseconds timeout) {
        if (fds_[1] >= 0) {
            ::close(fds_[1]); // the child's copy is then the only writer left
            fds_[1] = -1;
        }
        pollfd ready{fds_[0], POLLIN, 0};
        char byte = 0;
        return ::poll(&ready, 1, static_cast<int>(timeout.count())) == 1 &&
               ::read(fds_[0], &byte, 1) == 1;
    }

private:
    int fds_[2] = {-1, -1};
};

} // namespace lumidex::test
