#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lumidex {

// Cuts the byte stream of a serial line into frames. Bytes before a start
// byte are garbage; from a start byte on, the length byte says how many bytes
// the frame has. A line that stays quiet in the middle of a frame ends it as
// truncated. Nothing is buffered beyond one frame of at most 257 bytes.
class FrameAssembler {
public:
    struct Piece {
        enum Kind { Frame, Garbage, Truncated } kind;
        std::vector<std::uint8_t> bytes;
    };

    // Takes the bytes that arrived and returns the pieces they complete.
    std::vector<Piece> Feed(std::span<const std::uint8_t> bytes);
    // The line went quiet: returns what is pending as garbage or a
    // truncated frame.
    std::vector<Piece> Flush();
    bool pending() const { return !buffer_.empty(); }

private:
    std::vector<std::uint8_t> buffer_;
};

} // namespace lumidex
