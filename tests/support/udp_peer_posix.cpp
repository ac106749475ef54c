#include "tests/support/udp_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumidex::test {
namespace {

// How often the peer's thread looks whether it should stop.
constexpr int kStopCheckMs = 20;

int Fd(std::uintptr_t socket) {
    return static_cast<int>(socket);
}

} // namespace

UdpPeer::UdpPeer(const std::string& address, std::uint16_t port, Script script)
    : script_(std::move(script)) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd);
        return;
    }
    socket_ = static_cast<std::uintptr_t>(fd);
    thread_ = std::thread([this] { Run(); });
}

UdpPeer::~UdpPeer() {
    stopping_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    if (bound()) {
        ::close(Fd(socket_));
    }
}

void UdpPeer::SendTo(const std::string& address, std::uint16_t port, const Bytes& bytes) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    ::sendto(Fd(socket_), bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
             sizeof to);
}

void UdpPeer::Run() {
    while (!stopping_) {
        pollfd waiting{Fd(socket_), POLLIN, 0};
        if (::poll(&waiting, 1, kStopCheckMs) <= 0) {
            continue;
        }
        Bytes bytes(65536);
        sockaddr_in sender{};
        socklen_t size = sizeof sender;
        const ssize_t got = ::recvfrom(Fd(socket_), bytes.data(), bytes.size(), 0,
                                       reinterpret_cast<sockaddr*>(&sender), &size);
        if (got < 0) {
            continue;
        }
        bytes.resize(static_cast<std::size_t>(got));
        int index = 0;
        {
            std::lock_guard lock(mutex_);
            index = static_cast<int>(received_.size());
            received_.push_back({bytes, std::chrono::steady_clock::now(), ntohs(sender.sin_port)});
        }
        if (const auto answer = script_(bytes, index)) {
            ::sendto(Fd(socket_), answer->data(), answer->size(), 0,
                     reinterpret_cast<sockaddr*>(&sender), size);
        }
    }
}

bool LoopbackAliasesKeepTheirAddress() {
    return true;
}

} // namespace lumidex::test
