#pragma once

#include "link/link.h"
#include "tools/sim/display.h"

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lumidex {

enum class ReplyMode { Ok, Nak, Silent };

struct SimOptions {
    std::string udp_address = "127.0.0.1";
    std::uint16_t udp_port = 10006;
    std::optional<std::string> serial;
    bool pty = false;
    int baud = 9600;
    ReplyMode reply = ReplyMode::Ok;
    long drop = 0;             // the first N frames get no answer
    std::optional<long> count; // stop after N frames
    bool json = false;
    bool help = false;
    bool version = false;
};

// Parses the simulator's arguments; on bad usage returns nothing with a
// one-line reason in `error`.
std::optional<SimOptions> ParseSimOptions(const std::vector<std::string>& args, std::string& error);

// The virtual control card's judgement of one frame: decodes it, updates the
// display, and says what to answer: nothing when silent or dropped, and
// nothing to input that does not decode (a controller does not answer
// garbage). Kept
// apart from the sockets so it can be tested on its own.
class ControlCard {
public:
    explicit ControlCard(const SimOptions& options) : options_(options) {}

    struct Outcome {
        DecodeResult decoded;
        std::optional<ReplyBlock> reply;
        bool dropped = false;
    };

    Outcome Receive(std::span<const std::uint8_t> frame);

    const DisplayState& display() const { return display_; }
    long frames() const { return frames_; }

private:
    SimOptions options_;
    DisplayState display_;
    long frames_ = 0;
};

// Holds back reports of rejected input beyond `burst` per `window`, so a
// flood (or a peer that answers the card's own answers) cannot fill the log.
class ReportLimiter {
public:
    using Clock = std::chrono::steady_clock;
    ReportLimiter(int burst, std::chrono::milliseconds window) : burst_(burst), window_(window) {}
    // True when a report may be printed at `now`; `held_back` then says how
    // many were held back since the last one printed.
    bool Allow(Clock::time_point now, long& held_back);

private:
    int burst_;
    std::chrono::milliseconds window_;
    Clock::time_point window_start_{};
    int in_window_ = 0;
    long held_back_ = 0;
};

// The 23-byte answer: FE 15, the address, 1 (accepted) or 0 (rejected), the
// command, zeros, FF at byte 20 and the CRC-16/XMODEM of bytes 0..20.
ReplyBlock MakeReply(std::uint8_t address, std::uint8_t command, bool accepted);

// Runs the simulator until SIGINT/SIGTERM or --count frames; returns the
// exit status. Reports go to `out`, problems to `err`.
int RunSimulator(const SimOptions& options, std::ostream& out, std::ostream& err);

std::string SimUsage();

// The warning for a card that listens beyond this machine (a UDP address
// outside 127.0.0.0/8, such as 0.0.0.0); nothing for a loopback one.
std::optional<std::string> ExposureWarning(const SimOptions& options);

} // namespace lumidex
