#include "link/udp_link.h"

#include "link/address.h"
#include "link/system_error_win32.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace lumidex {
namespace {

using Clock = std::chrono::steady_clock;

// The sockets library is started once for the whole run and released when
// the program ends; a failed start is tried again at the next exchange.
std::mutex g_sockets_mutex;
bool g_sockets_started = false;

void ReleaseSockets() {
    ::WSACleanup();
}

class UdpLink final : public Link {
public:
    UdpLink(std::string_view address, std::uint16_t port, std::function<void()> on_sockets_failure)
        : text_(address), port_(port), on_sockets_failure_(std::move(on_sockets_failure)) {}
    ~UdpLink() override { Close(); }

    bool Open() override {
        Close();
        const auto address = ParseDottedAddress(text_);
        if (!address) {
            error_ = "'" + text_ + "' is no IPv4 address";
            return false;
        }
        if (*address == 0) {
            error_ = "0.0.0.0 names no controller";
            return false;
        }
        if (!StartSockets()) {
            error_ = "the sockets library cannot be started";
            if (on_sockets_failure_) {
                on_sockets_failure_();
            }
            return false;
        }
        destination_ = {};
        destination_.sin_family = AF_INET;
        destination_.sin_port = ::htons(port_);
        destination_.sin_addr.s_addr = ::htonl(*address);
        // The receive time-out works only on a socket made for overlapped
        // use, as socket() makes them.
        socket_ = ::WSASocketW(AF_INET, SOCK_DGRAM, 0, nullptr, 0,
                               WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
        if (socket_ == INVALID_SOCKET) {
            return Fail("socket");
        }
        SetReceiveTimeout(kUdpTimeout);
        const DWORD send_timeout = static_cast<DWORD>(kUdpTimeout.count());
        ::setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&send_timeout),
                     sizeof send_timeout);
        return true;
    }

    bool Write(std::span<const std::uint8_t> frame) override {
        const int sent = ::sendto(
            socket_, reinterpret_cast<const char*>(frame.data()), static_cast<int>(frame.size()), 0,
            reinterpret_cast<const sockaddr*>(&destination_), sizeof destination_);
        if (sent != static_cast<int>(frame.size())) {
            return Fail("sendto");
        }
        return true;
    }

    std::optional<std::size_t> Read(std::span<std::uint8_t> into,
                                    std::chrono::milliseconds timeout) override {
        const auto deadline = Clock::now() + timeout;
        // Open set the receive time-out to the exchange's; after a stray
        // datagram it is shortened to what is left.
        bool retarget = timeout != kUdpTimeout;
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return 0;
            }
            if (retarget) {
                SetReceiveTimeout(left);
            }
            char datagram[2048];
            sockaddr_in sender{};
            int sender_size = sizeof sender;
            int got = ::recvfrom(socket_, datagram, sizeof datagram, 0,
                                 reinterpret_cast<sockaddr*>(&sender), &sender_size);
            if (got == SOCKET_ERROR) {
                const int code = ::WSAGetLastError();
                if (code == WSAEMSGSIZE) {
                    got = sizeof datagram; // a longer datagram: its start is here
                } else {
                    if (code != WSAETIMEDOUT) {
                        // WSAECONNRESET: the controller's host said "port
                        // unreachable"; no answer will come.
                        Fail("recvfrom", code);
                    }
                    return 0;
                }
            }
            if (sender.sin_addr.s_addr != destination_.sin_addr.s_addr) {
                retarget = true;
                continue; // a stray datagram is no answer from the controller
            }
            const std::size_t kept = std::min(static_cast<std::size_t>(got), into.size());
            std::memcpy(into.data(), datagram, kept);
            return kept;
        }
    }

    void Close() override {
        if (socket_ != INVALID_SOCKET) {
            ::closesocket(socket_);
            socket_ = INVALID_SOCKET;
        }
    }

    std::string error() const override { return error_; }

private:
    void SetReceiveTimeout(std::chrono::milliseconds timeout) {
        // Winsock takes the time-out as a 32-bit count of milliseconds; 0
        // would mean "wait for ever".
        const DWORD value = static_cast<DWORD>(std::max<long long>(1, timeout.count()));
        ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&value),
                     sizeof value);
    }

    bool Fail(const char* call, int code = ::WSAGetLastError()) {
        error_ = std::string(call) + ": " + SystemMessage(static_cast<unsigned long>(code));
        return false;
    }

    std::string text_;
    std::uint16_t port_;
    std::function<void()> on_sockets_failure_;
    sockaddr_in destination_{};
    SOCKET socket_ = INVALID_SOCKET;
    std::string error_;
};

} // namespace

bool StartSockets() {
    std::lock_guard lock(g_sockets_mutex);
    if (g_sockets_started) {
        return true;
    }
    // Version 1.1 is asked for and must be what the library grants; any
    // other answer counts as a failed start.
    constexpr WORD kVersion = MAKEWORD(1, 1);
    WSADATA data{};
    if (::WSAStartup(kVersion, &data) != 0) {
        return false;
    }
    if (data.wVersion != kVersion) {
        ::WSACleanup();
        return false;
    }
    g_sockets_started = true;
    std::atexit(ReleaseSockets);
    return true;
}

std::unique_ptr<Link> MakeUdpLink(std::string_view address, std::uint16_t port,
                                  std::function<void()> on_sockets_failure) {
    return std::make_unique<UdpLink>(address, port, std::move(on_sockets_failure));
}

} // namespace lumidex
