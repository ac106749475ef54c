#include "protocol/frame_decoder.h"

#include <cstdio>
#include <utility>

namespace lumidex {
namespace {

constexpr std::uint8_t kFirstLineMarker = 0xFA;
constexpr std::uint8_t kDigitCountBase = 0x10;
constexpr int kMinDigits = 3;
constexpr int kMaxDigits = 8;
constexpr std::size_t kHeaderBytes = 4;        // start, length, address, command
constexpr std::size_t kContentHeaderBytes = 2; // hour code, block count
constexpr std::size_t kBlockHeaderBytes = 3;   // marker, flicker, 0x10 + N

template <typename... Args> DecodeResult Fail(FrameError error, const char* format, Args... args) {
    char reason[160];
    std::snprintf(reason, sizeof reason, format, args...);
    return {std::nullopt, error, reason};
}

DecodeResult BadPayload(std::string reason) {
    return {std::nullopt, FrameError::BadPayload, std::move(reason)};
}

// Appends what one character byte shows; false for a byte that is no
// character of the display.
bool AppendCharacter(std::string& text, std::uint8_t byte) {
    if (byte <= 0x09) {
        text += static_cast<char>('0' + byte);
    } else if (byte == 0x10) {
        text += ' ';
    } else if (byte >= 0x11 && byte <= 0x1A) {
        text += static_cast<char>('0' + byte - 0x11);
        text += '.';
    } else if (byte == 0x21) {
        text += " .";
    } else {
        return false;
    }
    return true;
}

DecodeResult DecodeContent(DecodedFrame frame, std::span<const std::uint8_t> payload) {
    if (payload.size() < kContentHeaderBytes) {
        return BadPayload("content frame without hour code and line count");
    }
    frame.at_once = frame.command == kContentNow;
    frame.hour_code = payload[0];
    if (frame.at_once && frame.hour_code != 1) {
        return BadPayload("hour code " + std::to_string(frame.hour_code) +
                          " with 0xAB; showing at once sends 1");
    }
    if (!frame.at_once && (frame.hour_code < 1 || frame.hour_code > 24)) {
        return BadPayload("hour code " + std::to_string(frame.hour_code) + " outside 1..24");
    }
    const int declared = payload[1];
    std::size_t pos = kContentHeaderBytes;
    int previous_line = 0;
    while (pos < payload.size()) {
        if (payload.size() - pos < kBlockHeaderBytes) {
            return BadPayload("line block cut short at payload byte " + std::to_string(pos));
        }
        const std::uint8_t marker = payload[pos];
        if (marker < kFirstLineMarker) {
            return BadPayload("line marker " + FormatHex(payload.subspan(pos, 1)) +
                              " is not FA..FF");
        }
        DecodedLine line;
        line.line = marker - kFirstLineMarker + 1;
        if (line.line <= previous_line) {
            return BadPayload("line " + std::to_string(line.line) + " out of order or repeated");
        }
        previous_line = line.line;
        if (payload[pos + 1] > 1) {
            return BadPayload("flicker byte of line " + std::to_string(line.line) +
                              " is not 0 or 1");
        }
        line.flicker = payload[pos + 1] == 1;
        line.digit_count = payload[pos + 2] - kDigitCountBase;
        pos += kBlockHeaderBytes;
        // The characters run to the next line marker or to the end marker:
        // a fixed-point line with 0 places carries up to N + 1 digits, a
        // hand-edited text more, and a text with several points fewer.
        const std::size_t first = pos;
        while (pos < payload.size() && payload[pos] < kFirstLineMarker) {
            if (!AppendCharacter(line.text, payload[pos])) {
                return BadPayload("character byte " + FormatHex(payload.subspan(pos, 1)) +
                                  " of line " + std::to_string(line.line) + " is not displayable");
            }
            ++pos;
        }
        // A digit count outside 3..8 (a hand-edited settings file) is sent
        // with no characters; characters with it are no frame of ours.
        if ((line.digit_count < kMinDigits || line.digit_count > kMaxDigits) && pos != first) {
            return BadPayload("digit count byte " + FormatHex(payload.subspan(first - 1, 1)) +
                              " of line " + std::to_string(line.line) +
                              " is not 13..18 and the line has characters");
        }
        // A line is padded to its N places (N + 1 when it holds a point), so
        // fewer characters than that come from no sender of ours.
        if (line.digit_count >= kMinDigits && line.digit_count <= kMaxDigits) {
            const std::size_t places = static_cast<std::size_t>(line.digit_count) +
                                       (line.text.find('.') != std::string::npos ? 1 : 0);
            if (line.text.size() < places) {
                return BadPayload("line " + std::to_string(line.line) + " shows \"" + line.text +
                                  "\", fewer than the " + std::to_string(places) +
                                  " places its digit count fills");
            }
        }
        frame.lines.push_back(std::move(line));
    }
    if (static_cast<int>(frame.lines.size()) != declared) {
        return BadPayload("line count byte says " + std::to_string(declared) + ", frame holds " +
                          std::to_string(frame.lines.size()));
    }
    return {std::move(frame), FrameError::None, {}};
}

DecodeResult DecodeBrightness(DecodedFrame frame, std::span<const std::uint8_t> payload) {
    if (payload.size() != 2) {
        return BadPayload("brightness payload of " + std::to_string(payload.size()) +
                          " bytes; it has 2");
    }
    frame.day_level = payload[0];
    frame.night_level = payload[1];
    if (frame.day_level > 7 || frame.night_level > 7) {
        return BadPayload("brightness level outside 0..7");
    }
    return {std::move(frame), FrameError::None, {}};
}

DecodeResult DecodeClock(DecodedFrame frame, std::span<const std::uint8_t> payload) {
    if (payload.size() != 8) {
        return BadPayload("clock payload of " + std::to_string(payload.size()) +
                          " bytes; it has 8");
    }
    if (payload[0] != 0x14) {
        return BadPayload("century byte " + FormatHex(payload.subspan(0, 1)) + " is not 14");
    }
    ClockTime& t = frame.clock;
    t.year = 2000 + payload[1];
    t.month = payload[2];
    t.day = payload[3];
    t.hour = payload[4];
    t.minute = payload[5];
    t.second = payload[6];
    t.weekday = payload[7];
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 ||
        t.second > 59 || t.weekday < 1 || t.weekday > 7) {
        return BadPayload("clock field out of range");
    }
    return {std::move(frame), FrameError::None, {}};
}

} // namespace

DecodeResult DecodeFrame(std::span<const std::uint8_t> bytes) {
    const std::size_t smallest = kEnvelopeBytes + kChecksumBytes;
    if (bytes.size() < smallest) {
        return Fail(FrameError::TooShort, "%zu bytes; the smallest frame has %zu", bytes.size(),
                    smallest);
    }
    if (bytes.size() > kMaxFrameSize) {
        return Fail(FrameError::TooLong, "%zu bytes; the largest frame has %zu", bytes.size(),
                    kMaxFrameSize);
    }
    if (bytes[0] != kStartByte) {
        return Fail(FrameError::BadStartByte, "start byte %02X is not FE", bytes[0]);
    }
    const std::size_t length = bytes[1];
    if (length < kEnvelopeBytes || length + kChecksumBytes != bytes.size()) {
        return Fail(FrameError::LengthMismatch, "length byte %zu says %zu bytes, %zu received",
                    length, length + kChecksumBytes, bytes.size());
    }
    if (bytes[length - 1] != kEndMarker) {
        return Fail(FrameError::MissingEndMarker, "byte %zu is %02X, not the end marker FF",
                    length - 1, bytes[length - 1]);
    }
    const std::uint16_t expected = Crc16Xmodem(bytes.first(length));
    const std::uint16_t received =
        static_cast<std::uint16_t>((bytes[length] << 8) | bytes[length + 1]);
    if (expected != received) {
        return Fail(FrameError::ChecksumMismatch, "checksum %04X received, %04X computed", received,
                    expected);
    }
    DecodedFrame frame;
    frame.address = bytes[2];
    frame.command = bytes[3];
    const auto payload = bytes.subspan(kHeaderBytes, length - kEnvelopeBytes);
    switch (frame.command) {
    case kContentNow:
    case kContentAtHour:
        return DecodeContent(std::move(frame), payload);
    case kBrightness:
        return DecodeBrightness(std::move(frame), payload);
    case kClockCalibration:
        return DecodeClock(std::move(frame), payload);
    case kInitialise:
        if (!payload.empty()) {
            return BadPayload("initialise frame with a payload");
        }
        return {std::move(frame), FrameError::None, {}};
    default:
        return Fail(FrameError::UnknownCommand, "command %02X is unknown", frame.command);
    }
}

std::string CommandName(std::uint8_t command) {
    switch (command) {
    case kContentNow:
    case kContentAtHour:
        return "content";
    case kBrightness:
        return "brightness";
    case kClockCalibration:
        return "clock";
    case kInitialise:
        return "init";
    default:
        return "unknown";
    }
}

} // namespace lumidex
