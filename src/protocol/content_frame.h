#pragma once

#include "protocol/frame.h"
#include "settings/keys.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumidex {

// What the dialog shows that the content frame carries: the six line
// editors' texts, the "Flicker" and "9/10" boxes and the "Update in"
// selection (0 "Now", 1..23 "01:00".."23:00", 24 "00:00"; negative when the
// list shows nothing, which counts as "Now").
struct DialogLines {
    std::array<std::string, kLineCount> texts;
    std::array<bool, kLineCount> flicker{};
    std::array<bool, kLineCount> point{};
    int update_index = 0;
};

// What the dialog shows of those after a settings refresh: the stored line
// texts ("TD1".."TD6"), flicker and "9/10" flags ("FCC1".., "PLL1"..) and the
// "Update in" item ("UIN"; -1 when it is none of the list's items). The
// dialog's refresh and lumidex-send both read the lines through this.
DialogLines LinesAfterRefresh(const SettingsFile& settings);

// One display line as the frame encodes it.
struct ContentLine {
    bool included = true;
    std::int32_t digit_count = 3;
    std::string text;
    bool flicker = false;
    bool point = false; // the "9/10" flag: a point after the last digit
};

// Everything the content frame is made of, settings already read.
struct ContentRecord {
    std::uint8_t address = 1;
    int update_index = 0;
    std::array<ContentLine, kLineCount> lines;
};

// A built content frame, or the reason it was refused.
struct ContentFrameResult {
    std::optional<Frame> frame;
    std::string refusal;
};

// Encodes the content frame: 0xAB (at once) or 0xAC (at the hour of the
// update index), the hour code, the number of line blocks, then one block per
// included line (marker 0xFA + line - 1, flicker, 0x10 + digit count, one byte
// per character of the text right-justified with blanks in a field of N, or
// N + 1 when it holds a point), the end marker and the checksum. A point
// joins the character before it (+0x11); a point with no plain character
// before it in its block stands on a blank of its own (0x21). A frame that
// would exceed kMaxFrameSize bytes (only texts far longer than their digit
// count can make one) is refused rather than cut.
ContentFrameResult EncodeContentFrame(const ContentRecord& record);

// Reads the bus address, the lines chosen for sending and their digit counts
// from the settings file, and encodes the frame with the dialog's lines.
ContentFrameResult BuildContentFrame(const DialogLines& dialog, const SettingsFile& settings);
// The same with the lines' digit-count texts given (as the keys hold them
// after a settings refresh) instead of read from the settings file.
ContentFrameResult BuildContentFrame(const DialogLines& dialog, const SettingsFile& settings,
                                     const std::array<std::string, kLineCount>& digit_counts);

// The bus address as every frame reads it from the settings ("ADD485").
std::uint8_t ReadBusAddress(const SettingsFile& settings);

// The brightness command from the stored levels ("LD", "LD2").
Frame BuildBrightnessFrame(const SettingsFile& settings);

// The clock calibration for the given local time.
Frame BuildClockFrame(const SettingsFile& settings, const ClockTime& time);

// The items of the "Update in" list, in list order: an item's position is
// its update index.
inline constexpr std::array<std::string_view, 25> kUpdateTimeItems{
    "Now",   "01:00", "02:00", "03:00", "04:00", "05:00", "06:00", "07:00", "08:00",
    "09:00", "10:00", "11:00", "12:00", "13:00", "14:00", "15:00", "16:00", "17:00",
    "18:00", "19:00", "20:00", "21:00", "22:00", "23:00", "00:00"};

// The update index of an "Update in" text ("Now" 0, "01:00" 1 .. "23:00" 23,
// "00:00" 24), matched without regard to letter case; nothing for any other.
std::optional<int> UpdateIndexFromText(std::string_view text);

} // namespace lumidex
