#pragma once

#include "tests/support/serial_controller.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace lumidex::test {

// A pseudo-terminal standing in for a serial cable: the program under test
// opens `device()`, the test plays the controller on the other end.
class PtyPair final : public SerialEnd {
public:
    PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;
    ~PtyPair() override;

    const std::string& device() const { return device_; }

    Bytes ReadFrame(std::chrono::milliseconds timeout) override;
    void Write(const Bytes& bytes) override;
    // Cuts the cable: the program's end then fails on every call.
    void Hangup();
    bool ok() const { return controller_ >= 0; }

private:
    int controller_ = -1; // the controller's end (the master side)
    int keeper_ = -1;     // holds the device open between the program's exchanges
    std::string device_;
};

} // namespace lumidex::test
