#pragma once

#include "link/link.h"

#include <array>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace lumidex {

// Link modes of TransmitFrame.
inline constexpr int kModeUdp = 10006;
inline constexpr int kModeSerial = 232;

// The serial line's baud rates, as the baud list offers them.
inline constexpr std::array<std::string_view, 2> kBaudItems{"9600", "57600"};

// What became of one exchange with a controller.
enum class ExchangeOutcome {
    Accepted,   // an answer whose byte 3 is 1
    Rejected,   // an answer whose byte 3 is anything else
    NoAnswer,   // the frame went out and no answer came in time
    LinkFailed, // the link could not be opened or the frame could not be written
};

struct ExchangeResult {
    ExchangeOutcome outcome = ExchangeOutcome::LinkFailed;
    // Why it was not accepted, in the system's or the controller's terms;
    // empty when accepted.
    std::string reason;
    bool accepted() const { return outcome == ExchangeOutcome::Accepted; }
};

// The result text the dialog and the tools show for a content send to the
// bus address: "Sent successfully!" when accepted; "Broadcast Send." when the
// frame went out to address 0, where no controller is expected to answer;
// "Send failed!" otherwise, and always when the link failed.
const char* SendResultText(const ExchangeResult& result, std::uint8_t bus_address);

// The transmission operations: every frame of the system reaches a link
// through TransmitFrame. Each exchange opens and closes its own socket or
// port. The reply block is kept until the next exchange.
class Send {
public:
    Send() { reply_.fill(kReplyFill); }

    // Sends the frame over the link of `mode` (kModeUdp: `target` is the
    // dotted IPv4 address; kModeSerial: `target` is the port, at `baud`) and
    // returns true when the controller's answer has byte 3 equal to 1. Any
    // other mode fails without touching a link.
    bool TransmitFrame(std::span<const std::uint8_t> frame, std::string_view target, int mode,
                       int baud) {
        return Exchange(frame, target, mode, baud).accepted();
    }
    // The same exchange, telling what became of it. Any other mode fails as
    // a link failure without touching a link.
    ExchangeResult Exchange(std::span<const std::uint8_t> frame, std::string_view target, int mode,
                            int baud);

    // One datagram to the address at port 10006 and one answer within
    // 1000 ms. Returns the reply block (still filled with 0x46 where no
    // answer came), or nothing when the sockets library cannot be started.
    const ReplyBlock* UdpExchange(std::string_view address, std::span<const std::uint8_t> frame);

    // The serial exchange, in this order. OpenPort: true when the port is
    // open and set up. WritePort: true when the frame was written; on false
    // the port is closed. ReadReply: waits 200 ms and reads up to 23 bytes
    // within 2000 ms; returns the reply block, or nothing when the read
    // failed, the port then being closed. ClosePort ends the exchange.
    bool OpenPort(std::string_view port, int baud);
    bool WritePort(std::span<const std::uint8_t> frame);
    const ReplyBlock* ReadReply();
    void ClosePort();

    const ReplyBlock& reply() const { return reply_; }

    // The operating system's reason for the last failed exchange, for tools
    // that print it; empty when the controller answered.
    const std::string& last_error() const { return last_error_; }

    // Called when the sockets library cannot be started, so the dialog can
    // say "Sends out the failure...".
    void SetSocketsFailureHandler(std::function<void()> handler) {
        sockets_failed_ = std::move(handler);
    }

private:
    // What an exchange whose frame went out came to, by its reply block.
    ExchangeResult Judge(const ReplyBlock& reply);

    ReplyBlock reply_{};
    std::unique_ptr<Link> port_;
    std::string last_error_;
    // Whether the last UdpExchange got its datagram out.
    bool udp_frame_sent_ = false;
    std::function<void()> sockets_failed_;
};

} // namespace lumidex
