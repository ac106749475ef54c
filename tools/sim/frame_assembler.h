#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lumidex {

// Cuts the byte stream of a serial line into frames. A frame starts at a
// start byte and is as long as its length byte says; it counts only when its
// end marker and checksum hold. A start byte whose frame does not hold (noise,
// or a stray FE just before a real frame) is dropped as garbage and the search
// goes on from the next byte, so the frame after it is still found, even when
// the noise claims a length that the real frame has not yet filled. A line
// that stays quiet in the middle of a frame ends it as truncated. Nothing is
// buffered beyond one frame of at most 257 bytes.
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
