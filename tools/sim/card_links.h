#pragma once

#include "tools/sim/simulator.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace lumidex {

// A UDP endpoint as numbers: the IPv4 address with its first field in the
// top 8 bits, and the port.
struct UdpEndpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
};

// What one wait on the card's links brought. The bytes stay valid until the
// next wait.
struct CardInput {
    bool stop = false;                  // SIGINT/SIGTERM, Ctrl+C or a console close
    std::optional<std::string> failure; // the wait itself failed: the system's reason
    std::optional<UdpEndpoint> sender;  // set when a datagram came
    std::span<const std::uint8_t> datagram;
    std::span<const std::uint8_t> serial; // bytes the serial line brought
    bool serial_closed = false;           // the serial line was hung up or failed
};

// The virtual control card's links as the platform has them: a UDP socket,
// a serial line (a device, a COM port or a pseudo-terminal of its own) and a
// stop request. Only waiting, reading and answering live here; what to make
// of the input is RunSimulator's, written once (simulator.cpp).
// (simulator_posix.cpp, simulator_win32.cpp)
class CardLinks {
public:
    using Clock = std::chrono::steady_clock;

    // Sets up the stop request; nothing, with the reason in `error`, when
    // that fails.
    static std::unique_ptr<CardLinks> Create(std::string& error);
    virtual ~CardLinks() = default;

    // Opens the serial line the options name (--serial or --pty) and says
    // its name; nothing when none is asked for, else the reason it cannot be
    // opened, as one line.
    virtual std::optional<std::string> OpenSerial(const SimOptions& options, std::string& name) = 0;
    // Binds the UDP socket to the options' address and port and says where
    // it listens; the system's reason when it cannot.
    virtual std::optional<std::string> OpenUdp(const SimOptions& options, UdpEndpoint& own) = 0;
    // Waits until input arrives, a stop is asked for, or `until` passes (for
    // ever without it). It may return early with nothing.
    virtual CardInput Wait(std::optional<Clock::time_point> until) = 0;
    virtual void AnswerDatagram(const UdpEndpoint& to, const ReplyBlock& reply) = 0;
    virtual void AnswerSerial(const ReplyBlock& reply) = 0;
    // Waits until the last serial answer has reached the sender, so closing
    // the line does not discard it.
    virtual void LetAnswerArrive() = 0;
};

} // namespace lumidex
