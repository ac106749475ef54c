#include "link/udp_link.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumidex {
namespace {

using Clock = std::chrono::steady_clock;

class UdpLink final : public Link {
public:
    UdpLink(std::string_view address, std::uint16_t port) : text_(address), port_(port) {}
    ~UdpLink() override { Close(); }

    bool Open() override {
        Close();
        destination_ = {};
        destination_.sin_family = AF_INET;
        destination_.sin_port = htons(port_);
        if (::inet_pton(AF_INET, text_.c_str(), &destination_.sin_addr) != 1) {
            error_ = "'" + text_ + "' is no IPv4 address";
            return false;
        }
        if (destination_.sin_addr.s_addr == htonl(INADDR_ANY)) {
            error_ = "0.0.0.0 names no controller";
            return false;
        }
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) {
            return Fail("socket");
        }
        const timeval timeout{kUdpTimeout.count() / 1000, (kUdpTimeout.count() % 1000) * 1000};
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        return true;
    }

    bool Write(std::span<const std::uint8_t> frame) override {
        const ssize_t sent =
            ::sendto(fd_, frame.data(), frame.size(), 0,
                     reinterpret_cast<const sockaddr*>(&destination_), sizeof destination_);
        if (sent != static_cast<ssize_t>(frame.size())) {
            return Fail("sendto");
        }
        return true;
    }

    std::optional<std::size_t> Read(std::span<std::uint8_t> into,
                                    std::chrono::milliseconds timeout) override {
        const auto deadline = Clock::now() + timeout;
        // One deadline for the whole wait: the socket's receive time-out is
        // set to what is left of it before every receive, so neither a stray
        // datagram nor an interrupting signal (EINTR) starts the wait afresh.
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return 0;
            }
            const timeval wait{static_cast<time_t>(left.count() / 1000000),
                               static_cast<suseconds_t>(left.count() % 1000000)};
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            // Each datagram is taken whole; only what fits is kept.
            std::uint8_t datagram[2048];
            sockaddr_in sender{};
            socklen_t sender_size = sizeof sender;
            const ssize_t got = ::recvfrom(fd_, datagram, sizeof datagram, 0,
                                           reinterpret_cast<sockaddr*>(&sender), &sender_size);
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                if (errno != EAGAIN && errno != EWOULDBLOCK) {
                    // An ICMP "port unreachable" from the controller's host
                    // shows here; no answer will come.
                    Fail("recvfrom");
                }
                return 0;
            }
            if (sender.sin_addr.s_addr != destination_.sin_addr.s_addr) {
                continue; // a stray datagram is no answer from the controller
            }
            const std::size_t kept = std::min(static_cast<std::size_t>(got), into.size());
            std::memcpy(into.data(), datagram, kept);
            return kept;
        }
    }

    void Close() override {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

    std::string error() const override { return error_; }

private:
    bool Fail(const char* call) {
        error_ = std::string(call) + ": " + std::strerror(errno);
        return false;
    }

    std::string text_;
    std::uint16_t port_;
    sockaddr_in destination_{};
    int fd_ = -1;
    std::string error_;
};

} // namespace

bool StartSockets() {
    return true;
}

std::unique_ptr<Link> MakeUdpLink(std::string_view address, std::uint16_t port,
                                  std::function<void()> /*on_sockets_failure: never here*/) {
    return std::make_unique<UdpLink>(address, port);
}

} // namespace lumidex
