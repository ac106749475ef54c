#pragma once

#include "protocol/frame.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lumidex {

// Why a byte sequence is not a frame the controller takes.
enum class FrameError {
    None,
    TooShort,         // fewer bytes than the smallest frame
    TooLong,          // more bytes than the largest frame (kMaxFrameSize)
    BadStartByte,     // byte 0 is not 0xFE
    LengthMismatch,   // the length byte does not match the bytes received
    MissingEndMarker, // byte L-1 is not 0xFF
    ChecksumMismatch, // the CRC-16/XMODEM does not match
    UnknownCommand,   // byte 3 is no command the controller knows
    BadPayload,       // the command's payload is malformed
};

// One display line of a content frame.
struct DecodedLine {
    int line = 0; // 1..6, from the block's marker
    bool flicker = false;
    // 3..8 for every line the dialog sends; byte - 0x10 as sent otherwise
    // (a hand-edited digit count), such a line having no characters.
    int digit_count = 0;
    // The characters sent, one per character byte, a point written after
    // the place that carries it (" 12.5", "  7."). The block runs to the next
    // line marker or the end marker, so it can hold more characters than the
    // digit count (a fixed-point line with 0 places keeps up to N + 1) or
    // fewer (a hand-edited text with several points), but never fewer
    // characters than the N places it is padded to (N + 1 with a point).
    std::string text;
};

// A frame taken apart into its fields.
struct DecodedFrame {
    std::uint8_t address = 0;
    std::uint8_t command = 0;
    // Content (0xAB, 0xAC): at once, or from the hour code (1..23, 24 = 00:00).
    bool at_once = true;
    int hour_code = 1;
    std::vector<DecodedLine> lines;
    // Brightness (0x02).
    int day_level = 0;
    int night_level = 0;
    // Clock calibration (0x03); weekday as sent, Monday 1 .. Sunday 7.
    ClockTime clock;
};

struct DecodeResult {
    std::optional<DecodedFrame> frame;
    FrameError error = FrameError::None;
    std::string reason; // one line saying exactly what is wrong
};

// Checks the envelope and checksum of a received frame and decodes content,
// brightness, clock and initialise frames. Never reads outside `bytes`.
DecodeResult DecodeFrame(std::span<const std::uint8_t> bytes);

// A short name for a command code ("content", "brightness", ...).
std::string CommandName(std::uint8_t command);

} // namespace lumidex
