#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace lumidex {

// The controller's answer: 23 bytes, byte 3 equal to 1 meaning accepted.
inline constexpr std::size_t kReplySize = 23;
// Before an answer is awaited the block is filled with 'F', so a missing or
// short answer never looks accepted.
inline constexpr std::uint8_t kReplyFill = 0x46;
inline constexpr std::size_t kReplyStatusByte = 3;
inline constexpr std::uint8_t kReplyAccepted = 1;
using ReplyBlock = std::array<std::uint8_t, kReplySize>;

// True when the controller accepted the frame.
inline bool ReplyAccepted(const ReplyBlock& reply) {
    return reply[kReplyStatusByte] == kReplyAccepted;
}

// One way to the controller, opened for one exchange: open, write one frame,
// read up to a number of bytes within a time-out, close. UDP and the serial
// port implement it.
class Link {
public:
    virtual ~Link() = default;
    // False when the link cannot be opened; error() then says why.
    virtual bool Open() = 0;
    // Sends the frame in one datagram or one write; false on failure.
    virtual bool Write(std::span<const std::uint8_t> frame) = 0;
    // Reads at most into.size() bytes within the time-out. Returns how many
    // arrived (0 when none did), or nothing when the link failed.
    virtual std::optional<std::size_t> Read(std::span<std::uint8_t> into,
                                            std::chrono::milliseconds timeout) = 0;
    virtual void Close() = 0;
    // The operating system's message for the last failure.
    virtual std::string error() const = 0;
};

} // namespace lumidex
