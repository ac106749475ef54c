// Throws arbitrary bytes at the frame decoder. The first input byte picks how
// the rest is used: taken as received (even), or with its envelope made whole
// first (odd: start byte, length byte, end marker and checksum set to match),
// so the fuzzer spends its time in the payload decoders instead of the CRC.
//
// Properties: the decoder never reads outside the bytes; a refusal names its
// reason; an accepted frame is one the program's own builders make again,
// byte for byte, from the decoded fields.

#include "fuzz/fuzz_support.h"

#include "protocol/frame.h"
#include "protocol/frame_decoder.h"

#include <cstdint>
#include <vector>

using namespace lumidex;

namespace {

void MakeEnvelopeWhole(std::vector<std::uint8_t>& bytes) {
    if (bytes.size() < kEnvelopeBytes + kChecksumBytes ||
        bytes.size() > kMaxFrameSize + kChecksumBytes) {
        return; // no length byte can describe it
    }
    const std::size_t length = bytes.size() - kChecksumBytes;
    bytes[0] = kStartByte;
    bytes[1] = static_cast<std::uint8_t>(length);
    bytes[length - 1] = kEndMarker;
    const std::uint16_t crc = Crc16Xmodem(std::span(bytes).first(length));
    bytes[length] = static_cast<std::uint8_t>(crc >> 8);
    bytes[length + 1] = static_cast<std::uint8_t>(crc & 0xFF);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::vector<std::uint8_t> bytes(data + 1, data + size);
    if (data[0] & 1) {
        MakeEnvelopeWhole(bytes);
    }
    const DecodeResult result = DecodeFrame(bytes);
    const auto hex = [&] { return FormatHex(bytes); };
    if (!result.frame) {
        fuzz::Require(result.error != FrameError::None && !result.reason.empty(),
                      "a refused frame says why", hex);
        return 0;
    }
    fuzz::Require(result.error == FrameError::None, "an accepted frame has no error", hex);
    fuzz::Require(bytes.size() <= kMaxFrameSize, "an accepted frame fits the largest frame", hex);
    const auto rebuilt = fuzz::RebuildFrame(*result.frame);
    fuzz::Require(rebuilt.has_value(), "the builders make an accepted frame again", hex);
    fuzz::Require(*rebuilt == bytes, "an accepted frame rebuilds byte for byte",
                  [&] { return "received: " + hex() + "\nrebuilt:  " + FormatHex(*rebuilt); });
    return 0;
}
