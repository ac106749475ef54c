#pragma once

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
    bool bound() const { return fd_ >= 0; }

    // Sends a datagram from this peer's socket to a loopback port.
    void SendTo(const std::string& address, std::uint16_t port, const Bytes& bytes);

private:
    void Run();

    int fd_ = -1;
    int stop_pipe_[2] = {-1, -1};
    Script script_;
    mutable std::mutex mutex_;
    std::vector<Received> received_;
    std::thread thread_;
};

// Answers that tests use: a 23-byte reply with byte 3 as given.
UdpPeer::Bytes ReplyWithStatus(std::uint8_t status, std::size_t size = 23);

} // namespace lumidex::test
