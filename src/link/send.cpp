#include "link/send.h"

#include "link/serial_port.h"
#include "link/udp_link.h"

#include <cstdio>
#include <thread>

namespace lumidex {

const char* SendResultText(const ExchangeResult& result, std::uint8_t bus_address) {
    if (result.accepted()) {
        return "Sent successfully!";
    }
    if (bus_address == 0 && result.outcome != ExchangeOutcome::LinkFailed) {
        return "Broadcast Send.";
    }
    return "Send failed!";
}

ExchangeResult Send::Judge(const ReplyBlock& reply) {
    if (ReplyAccepted(reply)) {
        return {ExchangeOutcome::Accepted, {}};
    }
    if (!last_error_.empty()) {
        // The reply block still holds its fill: nothing (or too little) came.
        return {ExchangeOutcome::NoAnswer, last_error_};
    }
    char reason[64];
    std::snprintf(reason, sizeof reason, "the controller answered %02X in byte 3, not 01",
                  reply[kReplyStatusByte]);
    last_error_ = reason;
    return {ExchangeOutcome::Rejected, last_error_};
}

ExchangeResult Send::Exchange(std::span<const std::uint8_t> frame, std::string_view target,
                              int mode, int baud) {
    if (mode == kModeUdp) {
        const ReplyBlock* reply = UdpExchange(target, frame);
        if (reply == nullptr || !udp_frame_sent_) {
            return {ExchangeOutcome::LinkFailed, last_error_};
        }
        return Judge(*reply);
    }
    if (mode == kModeSerial) {
        if (!OpenPort(target, baud) || !WritePort(frame)) {
            return {ExchangeOutcome::LinkFailed, last_error_};
        }
        const ReplyBlock* reply = ReadReply();
        if (reply == nullptr) {
            // The frame was written; the line failed while the answer was awaited.
            return {ExchangeOutcome::NoAnswer, last_error_};
        }
        ClosePort();
        return Judge(*reply);
    }
    last_error_ = "link mode " + std::to_string(mode) + " is neither UDP nor serial";
    return {ExchangeOutcome::LinkFailed, last_error_};
}

const ReplyBlock* Send::UdpExchange(std::string_view address, std::span<const std::uint8_t> frame) {
    udp_frame_sent_ = false;
    if (!StartSockets()) {
        last_error_ = "the sockets library cannot be started";
        if (sockets_failed_) {
            sockets_failed_();
        }
        return nullptr;
    }
    reply_.fill(kReplyFill);
    last_error_.clear();
    udp_frame_sent_ = false;
    const auto link = MakeUdpLink(address);
    if (link->Open() && link->Write(frame)) {
        udp_frame_sent_ = true;
        const auto got = link->Read(reply_, kUdpTimeout);
        if (!got || *got == 0) {
            last_error_ = link->error().empty() ? "no answer within 1000 ms" : link->error();
        }
    } else {
        last_error_ = link->error();
    }
    link->Close();
    return &reply_;
}

bool Send::OpenPort(std::string_view port, int baud) {
    ClosePort();
    last_error_.clear();
    port_ = MakeSerialPort(port, baud);
    if (!port_->Open()) {
        last_error_ = port_->error();
        port_.reset();
        return false;
    }
    return true;
}

bool Send::WritePort(std::span<const std::uint8_t> frame) {
    if (!port_) {
        return false;
    }
    if (!port_->Write(frame)) {
        last_error_ = port_->error();
        ClosePort();
        return false;
    }
    return true;
}

const ReplyBlock* Send::ReadReply() {
    if (!port_) {
        return nullptr;
    }
    std::this_thread::sleep_for(kSerialReplyDelay);
    reply_.fill(kReplyFill);
    const auto got = port_->Read(reply_, kSerialReadTimeout);
    if (!got) {
        last_error_ = port_->error();
        ClosePort();
        return nullptr;
    }
    if (*got == 0) {
        last_error_ = "no answer within 2000 ms";
    }
    return &reply_;
}

void Send::ClosePort() {
    if (port_) {
        port_->Close();
        port_.reset();
    }
}

} // namespace lumidex
