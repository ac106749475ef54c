#include "tests/support/udp_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumidex::test {

UdpPeer::UdpPeer(const std::string& address, std::uint16_t port, Script script)
    : script_(std::move(script)) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    if (::pipe2(stop_pipe_, O_CLOEXEC) != 0) {
        return;
    }
    thread_ = std::thread([this] { Run(); });
}

UdpPeer::~UdpPeer() {
    if (thread_.joinable()) {
        const char byte = 1;
        [[maybe_unused]] auto ignored = ::write(stop_pipe_[1], &byte, 1);
        thread_.join();
    }
    for (int fd : {fd_, stop_pipe_[0], stop_pipe_[1]}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

std::vector<UdpPeer::Received> UdpPeer::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

void UdpPeer::SendTo(const std::string& address, std::uint16_t port, const Bytes& bytes) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

void UdpPeer::Run() {
    for (;;) {
        pollfd fds[2] = {{stop_pipe_[0], POLLIN, 0}, {fd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 || (fds[0].revents & POLLIN)) {
            return;
        }
        Bytes bytes(65536);
        sockaddr_in sender{};
        socklen_t size = sizeof sender;
        const ssize_t got = ::recvfrom(fd_, bytes.data(), bytes.size(), 0,
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
            ::sendto(fd_, answer->data(), answer->size(), 0, reinterpret_cast<sockaddr*>(&sender),
                     size);
        }
    }
}

UdpPeer::Bytes ReplyWithStatus(std::uint8_t status, std::size_t size) {
    UdpPeer::Bytes reply(size, 0);
    if (size > 3) {
        reply[3] = status;
    }
    return reply;
}

} // namespace lumidex::test
