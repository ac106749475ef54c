#pragma once

#include "link/link.h"

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace lumidex {

// Link modes of TransmitFrame.
inline constexpr int kModeUdp = 10006;
inline constexpr int kModeSerial = 232;

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
    // Notes why an answer that came was not an acceptance.
    bool Judge(const ReplyBlock& reply);

    ReplyBlock reply_{};
    std::unique_ptr<Link> port_;
    std::string last_error_;
    std::function<void()> sockets_failed_;
};

} // namespace lumidex
