#include "protocol/frame.h"

#include <array>
#include <cstdio>
#include <cassert>

namespace lumidex {
namespace {

constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        std::uint16_t crc = static_cast<std::uint16_t>(byte << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<std::uint16_t>(crc << 1);
        }
        table[byte] = crc;
    }
    return table;
}

constexpr auto kCrcTable = MakeCrcTable();

// Monday 1 .. Saturday 6, Sunday 7.
constexpr std::uint8_t kSundayOnTheWire = 7;
constexpr std::uint8_t kCentury = 0x14;

} // namespace

std::uint16_t Crc16Xmodem(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0;
    for (std::uint8_t byte : bytes) {
        crc = static_cast<std::uint16_t>((crc << 8) ^ kCrcTable[((crc >> 8) ^ byte) & 0xFF]);
    }
    return crc;
}

Frame BuildEnvelope(std::uint8_t address, std::uint8_t command,
                    std::span<const std::uint8_t> payload) {
    assert(payload.size() + kEnvelopeBytes + kChecksumBytes <= kMaxFrameSize);
    Frame frame;
    frame.reserve(payload.size() + kEnvelopeBytes + kChecksumBytes);
    frame.push_back(kStartByte);
    frame.push_back(static_cast<std::uint8_t>(payload.size() + kEnvelopeBytes));
    frame.push_back(address);
    frame.push_back(command);
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(kEndMarker);
    const std::uint16_t crc = Crc16Xmodem(frame);
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    return frame;
}

Frame BuildBrightnessFrame(std::uint8_t address, std::uint8_t day_level, std::uint8_t night_level) {
    const std::array<std::uint8_t, 2> payload{day_level, night_level};
    return BuildEnvelope(address, kBrightness, payload);
}

Frame BuildClockFrame(std::uint8_t address, const ClockTime& time) {
    auto byte = [](int value) { return static_cast<std::uint8_t>(value & 0xFF); };
    const std::array<std::uint8_t, 8> payload{
        kCentury,
        byte(time.year + 0x30), // low eight bits: year - 2000 for 2000..2255
        byte(time.month),
        byte(time.day),
        byte(time.hour),
        byte(time.minute),
        byte(time.second),
        time.weekday == 0 ? kSundayOnTheWire : byte(time.weekday),
    };
    return BuildEnvelope(address, kClockCalibration, payload);
}

Frame BuildInitialiseFrame() {
    return BuildEnvelope(0, kInitialise, {});
}

std::string FormatHex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (std::uint8_t byte : bytes) {
        if (!out.empty()) {
            out += ' ';
        }
        out += kDigits[byte >> 4];
        out += kDigits[byte & 0x0F];
    }
    return out;
}

std::string FormatClock(const ClockTime& time) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", time.year, time.month,
                  time.day, time.hour, time.minute, time.second);
    return text;
}

} // namespace lumidex
