#include "link/send.h"

namespace lumidex {

bool Send::TransmitFrame(std::span<const std::uint8_t> frame, std::string_view target, int mode,
                         int baud) {
    LinkTarget link_target;
    if (mode == kModeUdp) {
        link_target = UdpTarget{std::string(target)};
    } else if (mode == kModeSerial) {
        link_target = SerialTarget{std::string(target), baud};
    } else {
        reply_.fill(kReplyFill);
        reason_ = "link mode " + std::to_string(mode) + " is neither UDP nor serial";
        return false;
    }
    const auto link = MakeLink(link_target);
    const ExchangeResult result = Exchange(*link, frame, TimingOf(link_target));
    reply_ = result.reply;
    reason_ = result.reason;
    return result.accepted();
}

} // namespace lumidex
