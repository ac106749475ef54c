#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lumidex {

using Frame = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kStartByte = 0xFE;
inline constexpr std::uint8_t kEndMarker = 0xFF;
// Start byte, length byte, bus address, command code and end marker.
inline constexpr std::size_t kEnvelopeBytes = 5;
inline constexpr std::size_t kChecksumBytes = 2;
// The largest frame the program builds or accepts, checksum included.
inline constexpr std::size_t kMaxFrameSize = 255;

// Command codes (byte 3 of a frame).
inline constexpr std::uint8_t kContentNow = 0xAB;
inline constexpr std::uint8_t kContentAtHour = 0xAC;
inline constexpr std::uint8_t kBrightness = 0x02;
inline constexpr std::uint8_t kClockCalibration = 0x03;
inline constexpr std::uint8_t kInitialise = 0xCC;

// CRC-16/XMODEM (polynomial 0x1021, initial value 0, not reflected, no final
// XOR) over the bytes; "123456789" gives 0x31C3.
std::uint16_t Crc16Xmodem(std::span<const std::uint8_t> bytes);

// Wraps a payload: 0xFE, length L (bytes up to and including the end
// marker), bus address, command, payload, 0xFF, then the checksum over those
// L bytes, high byte first. The payload must leave the frame within
// kMaxFrameSize bytes.
Frame BuildEnvelope(std::uint8_t address, std::uint8_t command,
                    std::span<const std::uint8_t> payload);

// Day and night brightness levels (0..7), command 0x02.
Frame BuildBrightnessFrame(std::uint8_t address, std::uint8_t day_level, std::uint8_t night_level);

// A local date and time as the clock calibration sends it.
struct ClockTime {
    int year = 2000; // full year, 2000..2255
    int month = 1;   // 1..12
    int day = 1;     // 1..31
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..59
    int weekday = 0; // as the C library counts it: 0 Sunday .. 6 Saturday
};

// The clock as "YYYY-MM-DD HH:MM:SS".
std::string FormatClock(const ClockTime& time);

// The clock calibration, command 0x03: century 20, year within the century,
// month, day, hour, minute, second, and the weekday with Monday 1 .. Sunday 7.
Frame BuildClockFrame(std::uint8_t address, const ClockTime& time);

// The initialise command: always bus address 0, FE 05 00 CC FF 01 72.
Frame BuildInitialiseFrame();

// The frame as upper-case hex bytes separated by single spaces ("FE 05 00").
std::string FormatHex(std::span<const std::uint8_t> bytes);

} // namespace lumidex
