#include "tools/sim/frame_assembler.h"

#include "protocol/frame.h"

#include <algorithm>

namespace lumidex {

std::vector<FrameAssembler::Piece> FrameAssembler::Feed(std::span<const std::uint8_t> bytes) {
    std::vector<Piece> pieces;
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    for (;;) {
        const auto start = std::find(buffer_.begin(), buffer_.end(), kStartByte);
        if (start != buffer_.begin()) {
            pieces.push_back({Piece::Garbage, {buffer_.begin(), start}});
            buffer_.erase(buffer_.begin(), start);
        }
        if (buffer_.size() < 2) {
            return pieces;
        }
        const std::size_t length = buffer_[1];
        if (length < kEnvelopeBytes) {
            // No frame is that short: the start byte was noise.
            pieces.push_back({Piece::Garbage, {buffer_.begin(), buffer_.begin() + 1}});
            buffer_.erase(buffer_.begin());
            continue;
        }
        const std::size_t size = length + kChecksumBytes;
        if (buffer_.size() < size) {
            return pieces;
        }
        pieces.push_back(
            {Piece::Frame, {buffer_.begin(), buffer_.begin() + static_cast<long>(size)}});
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(size));
    }
}

std::vector<FrameAssembler::Piece> FrameAssembler::Flush() {
    std::vector<Piece> pieces;
    if (!buffer_.empty()) {
        const bool framed = buffer_.front() == kStartByte;
        pieces.push_back({framed ? Piece::Truncated : Piece::Garbage, std::move(buffer_)});
        buffer_.clear();
    }
    return pieces;
}

} // namespace lumidex
