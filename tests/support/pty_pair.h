#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace lumidex::test {

// A pseudo-terminal standing in for a serial cable: the program under test
// opens `device()`, the test plays the controller on the other end.
class PtyPair {
public:
    PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;
    ~PtyPair();

    const std::string& device() const { return device_; }

    // Reads what the program wrote, waiting up to `timeout` for the first
    // byte and then until the line has been quiet for 50 ms.
    std::vector<std::uint8_t> ReadFrame(std::chrono::milliseconds timeout);
    void Write(const std::vector<std::uint8_t>& bytes);
    // Cuts the cable: the program's end then fails on every call.
    void Hangup();
    bool ok() const { return controller_ >= 0; }

private:
    int controller_ = -1; // the controller's end (the master side)
    int keeper_ = -1;     // holds the device open between the program's exchanges
    std::string device_;
};

} // namespace lumidex::test
