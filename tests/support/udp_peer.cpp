#include "tests/support/udp_peer.h"

namespace lumidex::test {

std::vector<UdpPeer::Received> UdpPeer::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

const char* ControllerAddress(const char* own_address) {
    return LoopbackAliasesKeepTheirAddress() ? own_address : "127.0.0.1";
}

UdpPeer::Bytes ReplyWithStatus(std::uint8_t status, std::size_t size) {
    UdpPeer::Bytes reply(size, 0);
    if (size > 3) {
        reply[3] = status;
    }
    return reply;
}

} // namespace lumidex::test
