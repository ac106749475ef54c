#pragma once

#include "link/link.h"
#include "link/serial_port.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <variant>

namespace lumidex {

// What became of one exchange with a controller.
enum class ExchangeOutcome {
    Accepted,   // an answer whose byte 3 is 1
    Rejected,   // an answer whose byte 3 is anything else, or too short to have one
    NoAnswer,   // the frame went out and no answer came in time
    LinkFailed, // the link could not be opened or the frame could not be written
};

struct ExchangeResult {
    ExchangeOutcome outcome = ExchangeOutcome::LinkFailed;
    // Why it was not accepted, in the system's or the controller's terms;
    // empty when accepted.
    std::string reason;
    // The reply block of the last attempt: filled with 0x46 before the
    // answer was awaited, so whatever did not arrive keeps that fill.
    ReplyBlock reply{};
    bool accepted() const { return outcome == ExchangeOutcome::Accepted; }
};

// How one kind of link waits for the controller's answer: a pause after
// the write, then one read of up to kReplySize bytes within the time-out.
struct ExchangeTiming {
    std::chrono::milliseconds reply_delay{0};
    std::chrono::milliseconds read_timeout{1000};
};

// The exchange over a link, tried up to `attempts` times while the frame is
// not accepted (a retry is a whole new exchange: the link is opened anew).
// Each attempt opens the link, writes the frame in one datagram or one
// write, waits the reply delay, fills the reply block with 0x46, reads once,
// closes the link and judges the answer by its byte 3. Returns the last
// attempt's result; never throws.
ExchangeResult Exchange(Link& link, std::span<const std::uint8_t> frame,
                        const ExchangeTiming& timing, int attempts = 1);

// Where a frame goes: a controller's dotted IPv4 address (UDP port 10006),
// or a serial port at a baud rate.
struct UdpTarget {
    std::string address;
};
struct SerialTarget {
    std::string port;
    int baud = kDefaultBaud;
};
using LinkTarget = std::variant<UdpTarget, SerialTarget>;

// The link to a target, not yet opened. `on_sockets_failure` is called each
// time a UDP link cannot start the platform's sockets library (only possible
// on Windows), so the dialog can say so.
std::unique_ptr<Link> MakeLink(const LinkTarget& target,
                               std::function<void()> on_sockets_failure = {});

// The timing of the target's kind of link: UDP reads its answer at once
// within 1000 ms; the serial line waits 200 ms and reads within 2000 ms.
ExchangeTiming TimingOf(const LinkTarget& target);

// The target as messages name it: "udp 192.168.1.100", "serial /dev/ttyUSB0".
std::string DescribeTarget(const LinkTarget& target);

} // namespace lumidex
