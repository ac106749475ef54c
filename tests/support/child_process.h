#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace lumidex::test {

// A program started by a test, its standard output read line by line.
// Standard error goes to the test's own. Killed when the object goes away.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    // The next whole line of output, or nothing when none came in time or
    // the output ended.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
    // Sends a signal and waits for the exit; returns the exit status, or
    // -1 when the program did not end within the time-out.
    int Stop(int signal, std::chrono::milliseconds timeout);
    // Waits for the exit; the exit status or -1 on time-out.
    int Wait(std::chrono::milliseconds timeout);
    // The program's process id, for what /proc tells of it.
    int pid() const { return pid_; }

private:
    int pid_ = -1;
    int out_ = -1;
    std::string pending_;
    std::optional<int> status_;
};

// Runs a program to its end and returns its exit status and output.
struct RunOutput {
    int status = -1;
    std::string out;
    std::string err;
};
RunOutput RunProgram(const std::vector<std::string>& argv);

} // namespace lumidex::test
