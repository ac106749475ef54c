#include "tools/sim/frame_assembler.h"

#include "protocol/frame.h"

#include <algorithm>

namespace lumidex {

namespace {

enum class Candidate { Incomplete, Valid, Invalid };

// Judges the frame that would start at `at` (a start byte): its length byte,
// end marker and checksum.
Candidate Judge(std::span<const std::uint8_t> bytes, std::size_t at) {
    if (bytes.size() - at < 2) {
        return Candidate::Incomplete;
    }
    const std::size_t length = bytes[at + 1];
    if (length < kEnvelopeBytes) {
        return Candidate::Invalid; // no frame is that short
    }
    if (bytes.size() - at < length + kChecksumBytes) {
        return Candidate::Incomplete;
    }
    const auto frame = bytes.subspan(at, length + kChecksumBytes);
    const auto crc = static_cast<std::uint16_t>((frame[length] << 8) | frame[length + 1]);
    return frame[length - 1] == kEndMarker && Crc16Xmodem(frame.first(length)) == crc
               ? Candidate::Valid
               : Candidate::Invalid;
}

void AddGarbage(std::vector<FrameAssembler::Piece>& pieces,
                std::vector<std::uint8_t>::iterator from, std::vector<std::uint8_t>::iterator to) {
    if (from == to) {
        return;
    }
    if (!pieces.empty() && pieces.back().kind == FrameAssembler::Piece::Garbage) {
        pieces.back().bytes.insert(pieces.back().bytes.end(), from, to);
    } else {
        pieces.push_back({FrameAssembler::Piece::Garbage, {from, to}});
    }
}

} // namespace

std::vector<FrameAssembler::Piece> FrameAssembler::Feed(std::span<const std::uint8_t> bytes) {
    std::vector<Piece> pieces;
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    for (;;) {
        const auto start = std::find(buffer_.begin(), buffer_.end(), kStartByte);
        AddGarbage(pieces, buffer_.begin(), start);
        buffer_.erase(buffer_.begin(), start);
        if (buffer_.empty()) {
            return pieces;
        }
        const Candidate first = Judge(buffer_, 0);
        if (first == Candidate::Valid) {
            const std::size_t size = buffer_[1] + kChecksumBytes;
            pieces.push_back(
                {Piece::Frame, {buffer_.begin(), buffer_.begin() + static_cast<long>(size)}});
            buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(size));
            continue;
        }
        if (first == Candidate::Invalid) {
            AddGarbage(pieces, buffer_.begin(), buffer_.begin() + 1);
            buffer_.erase(buffer_.begin());
            continue;
        }
        // The first start byte's frame is not complete yet. When a later start
        // byte already begins a whole valid frame, the first one was noise.
        auto later = buffer_.begin() + 1;
        for (;; ++later) {
            later = std::find(later, buffer_.end(), kStartByte);
            if (later == buffer_.end() ||
                Judge(buffer_, static_cast<std::size_t>(later - buffer_.begin())) ==
                    Candidate::Valid) {
                break;
            }
        }
        if (later == buffer_.end()) {
            return pieces;
        }
        AddGarbage(pieces, buffer_.begin(), later);
        buffer_.erase(buffer_.begin(), later);
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
