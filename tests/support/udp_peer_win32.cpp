#include "tests/support/udp_peer.h"

#include "link/udp_link.h"

#include <winsock2.h>
#include <ws2tcpip.h>
// after winsock2.h, which it needs
#include <mswsock.h>

namespace lumidex::test {
namespace {

// How often the peer's thread looks whether it should stop.
constexpr int kStopCheckMs = 20;

SOCKET Socket(std::uintptr_t socket) {
    return static_cast<SOCKET>(socket);
}

sockaddr_in Loopback(const std::string& address, std::uint16_t port) {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = ::htons(port);
    ::inet_pton(AF_INET, address.c_str(), &where.sin_addr);
    return where;
}

} // namespace

UdpPeer::UdpPeer(const std::string& address, std::uint16_t port, Script script)
    : script_(std::move(script)) {
    if (!StartSockets()) {
        return;
    }
    const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET) {
        return;
    }
    // A datagram to a closed port must not make the next receive fail.
    BOOL report = FALSE;
    DWORD ignored = 0;
    ::WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &ignored, nullptr,
               nullptr);
    const sockaddr_in local = Loopback(address, port);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        ::closesocket(s);
        return;
    }
    socket_ = static_cast<std::uintptr_t>(s);
    thread_ = std::thread([this] { Run(); });
}

UdpPeer::~UdpPeer() {
    stopping_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    if (bound()) {
        ::closesocket(Socket(socket_));
    }
}

void UdpPeer::SendTo(const std::string& address, std::uint16_t port, const Bytes& bytes) {
    const sockaddr_in to = Loopback(address, port);
    ::sendto(Socket(socket_), reinterpret_cast<const char*>(bytes.data()),
             static_cast<int>(bytes.size()), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

void UdpPeer::Run() {
    while (!stopping_) {
        WSAPOLLFD waiting{Socket(socket_), POLLRDNORM, 0};
        if (::WSAPoll(&waiting, 1, kStopCheckMs) <= 0) {
            continue;
        }
        Bytes bytes(65536);
        sockaddr_in sender{};
        int size = sizeof sender;
        const int got = ::recvfrom(Socket(socket_), reinterpret_cast<char*>(bytes.data()),
                                   static_cast<int>(bytes.size()), 0,
                                   reinterpret_cast<sockaddr*>(&sender), &size);
        if (got == SOCKET_ERROR) {
            continue;
        }
        bytes.resize(static_cast<std::size_t>(got));
        int index = 0;
        {
            std::lock_guard lock(mutex_);
            index = static_cast<int>(received_.size());
            received_.push_back(
                {bytes, std::chrono::steady_clock::now(), ::ntohs(sender.sin_port)});
        }
        if (const auto answer = script_(bytes, index)) {
            ::sendto(Socket(socket_), reinterpret_cast<const char*>(answer->data()),
                     static_cast<int>(answer->size()), 0, reinterpret_cast<sockaddr*>(&sender),
                     size);
        }
    }
}

bool LoopbackAliasesKeepTheirAddress() {
    // Windows itself keeps them; Wine, which says so through an export of
    // its own in ntdll, does not.
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll == nullptr || ::GetProcAddress(ntdll, "wine_get_version") == nullptr;
}

} // namespace lumidex::test
