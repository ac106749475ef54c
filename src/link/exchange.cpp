#include "link/exchange.h"

#include "link/serial_port.h"
#include "link/udp_link.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace lumidex {
namespace {

ExchangeResult Judge(const ReplyBlock& reply, std::size_t got) {
    if (ReplyAccepted(reply)) {
        return {ExchangeOutcome::Accepted, {}, reply};
    }
    char reason[64];
    if (got <= kReplyStatusByte) {
        std::snprintf(reason, sizeof reason, "the controller answered only %zu bytes", got);
    } else {
        std::snprintf(reason, sizeof reason, "the controller answered %02X in byte 3, not 01",
                      reply[kReplyStatusByte]);
    }
    return {ExchangeOutcome::Rejected, reason, reply};
}

ExchangeResult ExchangeOnce(Link& link, std::span<const std::uint8_t> frame,
                            const ExchangeTiming& timing) {
    ExchangeResult result;
    result.reply.fill(kReplyFill);
    if (!link.Open()) {
        result.reason = link.error();
        return result;
    }
    if (!link.Write(frame)) {
        result.reason = link.error();
        link.Close();
        return result;
    }
    if (timing.reply_delay.count() > 0) {
        std::this_thread::sleep_for(timing.reply_delay);
    }
    result.reply.fill(kReplyFill);
    const std::optional<std::size_t> got = link.Read(result.reply, timing.read_timeout);
    const std::string error = link.error();
    link.Close();
    if (!got || *got == 0) {
        // The frame went out; nothing came back in time, or the line failed
        // while the answer was awaited.
        result.outcome = ExchangeOutcome::NoAnswer;
        result.reason = !error.empty() ? error
                                       : "no answer within " +
                                             std::to_string(timing.read_timeout.count()) + " ms";
        return result;
    }
    return Judge(result.reply, *got);
}

} // namespace

ExchangeResult Exchange(Link& link, std::span<const std::uint8_t> frame,
                        const ExchangeTiming& timing, int attempts) {
    ExchangeResult result = ExchangeOnce(link, frame, timing);
    for (int attempt = 1; attempt < attempts && !result.accepted(); ++attempt) {
        result = ExchangeOnce(link, frame, timing);
    }
    return result;
}

std::unique_ptr<Link> MakeLink(const LinkTarget& target, std::function<void()> on_sockets_failure) {
    if (const auto* udp = std::get_if<UdpTarget>(&target)) {
        return MakeUdpLink(udp->address, kUdpPort, std::move(on_sockets_failure));
    }
    const auto& serial = std::get<SerialTarget>(target);
    return MakeSerialPort(serial.port, serial.baud);
}

ExchangeTiming TimingOf(const LinkTarget& target) {
    if (std::holds_alternative<UdpTarget>(target)) {
        return {std::chrono::milliseconds{0}, kUdpTimeout};
    }
    return {kSerialReplyDelay, kSerialReadTimeout};
}

std::string DescribeTarget(const LinkTarget& target) {
    if (const auto* udp = std::get_if<UdpTarget>(&target)) {
        return "udp " + udp->address;
    }
    return "serial " + std::get<SerialTarget>(target).port;
}

} // namespace lumidex
