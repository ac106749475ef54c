#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace lumidex::test {

// The controller's end of a serial line in a test: a pseudo-terminal
// (PtyPair) or the second of a pair of COM ports.
class SerialEnd {
public:
    using Bytes = std::vector<std::uint8_t>;
    virtual ~SerialEnd() = default;
    // Reads what the program wrote, waiting up to `timeout` for the first
    // byte and then until the line has been quiet for 50 ms; empty when
    // nothing came.
    virtual Bytes ReadFrame(std::chrono::milliseconds timeout) = 0;
    virtual void Write(const Bytes& bytes) = 0;
};

// Plays the controller on a serial line, on a thread of its own: reads one
// frame per exchange and answers with what `answer` gives for it (nothing
// for silence). It stops after `exchanges` frames, or when no frame comes
// within 5 s.
class SerialController {
public:
    using Answer = std::function<std::optional<SerialEnd::Bytes>(int index)>;
    SerialController(SerialEnd& line, int exchanges, Answer answer);
    SerialController(const SerialController&) = delete;
    SerialController& operator=(const SerialController&) = delete;
    ~SerialController();
    // Waits for the controller to finish and returns the frames it read.
    const std::vector<SerialEnd::Bytes>& Frames();

private:
    std::vector<SerialEnd::Bytes> frames_;
    std::thread thread_;
};

// The pair of COM ports scripts/test-windows lays out under Wine, named in
// LUMIDEX_TEST_COM_PAIR ("COM17,COM8"): the program under test opens the
// first, the test plays the controller on the second. Nothing when the
// variable is not set or names no pair.
struct ComPair {
    std::string program;
    std::string controller;
};
std::optional<ComPair> ComPairFromEnvironment();

} // namespace lumidex::test
