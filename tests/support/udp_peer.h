#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace lumidex::test {

// An in-test controller on a loopback address: it records every datagram it
// receives with its arrival time and answers with what the script returns
// (nothing for silence). It runs on its own thread until destroyed.
class UdpPeer {
public:
    using Bytes = std::vector<std::uint8_t>;
    using Script = std::function<std::optional<Bytes>(const Bytes& received, int index)>;

    UdpPeer(const std::string& address, std::uint16_t port, Script script);
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;
    ~UdpPeer();

    struct Received {
        Bytes bytes;
        std::chrono::steady_clock::time_point at;
        std::uint16_t sender_port = 0;
    };
    std::vector<Received> received() const;
    bool bound() const { return socket_ != kNoSocket; }

    // Sends a datagram from this peer's socket to a loopback port.
    void SendTo(const std::string& address, std::uint16_t port, const Bytes& bytes);

private:
    void Run();

    // The socket as the platform numbers it (a descriptor, or a Winsock
    // SOCKET); udp_peer_posix.cpp and udp_peer_win32.cpp hold the calls.
    static constexpr std::uintptr_t kNoSocket = ~std::uintptr_t{0};
    std::uintptr_t socket_ = kNoSocket;
    std::atomic<bool> stopping_{false};
    Script script_;
    mutable std::mutex mutex_;
    std::vector<Received> received_;
    std::thread thread_;
};

// True when a socket bound to a loopback address other than 127.0.0.1
// sends from that address. Wine binds such a socket to every address
// instead, so its datagrams all come from 127.0.0.1.
bool LoopbackAliasesKeepTheirAddress();

// The loopback address for a suite's controller: its own address where
// loopback aliases work, 127.0.0.1 where they do not.
const char* ControllerAddress(const char* own_address);

// Answers that tests use: a 23-byte reply with byte 3 as given.
UdpPeer::Bytes ReplyWithStatus(std::uint8_t status, std::size_t size = 23);

} // namespace lumidex::test
