#pragma once

#include "settings/keys.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumidex {

// The items of a "Numbers" list (digit count of a line), in list order.
inline constexpr std::array<std::string_view, 6> kDigitCountItems{"3", "4", "5", "6", "7", "8"};
// The items of a "Fixed point" list: "No" is free-point mode, "0".."4" the
// number of fixed decimals.
inline constexpr std::array<std::string_view, 6> kDecimalPlaceItems{"No", "0", "1", "2", "3", "4"};
// The text that selects free-point mode.
inline constexpr std::string_view kFreePoint = "No";
// What a "Numbers" or a "Fixed point" list shows once the places check has
// refused the operator's choice in it: the most digits, or no decimals. The
// check accepts either beside any item of the other list.
inline constexpr std::string_view kDigitCountAfterRefusal = "8";
inline constexpr std::string_view kPlacesAfterRefusal = "0";

// Digit count from a "Numbers" text: the value of its first character
// ("5" -> 5; an empty text gives 0).
int DigitCountFromText(std::string_view numbers_text);

// Decimal places from a "Fixed point" text: 0 for "No", otherwise the value of
// its first character (an empty text gives 0).
int DecimalPlacesFromText(std::string_view fixed_point_text);

// True when the digit count is larger than the decimal places, the only
// combination the lists accept ("4" with "3" yes, "3" with "3" no).
bool PlacesAccepted(std::string_view numbers_text, std::string_view fixed_point_text);

// The list item that equals `value` without regard to letter case, as the
// lists select a stored value; nothing when no item equals it.
std::optional<std::string_view> MatchDigitCountItem(std::string_view value);
std::optional<std::string_view> MatchDecimalPlaceItem(std::string_view value);

// One line's format as its two lists show it: the "Numbers" text and the
// "Fixed point" text.
struct LineFormat {
    std::string numbers;
    std::string places;
};

// The keys a settings refresh writes in unified mode, in the order it writes
// them, given the texts the unified lists show: every line's digit-count key
// and "setsws" take `numbers_shown`, every line's places key and "setsss"
// take `places_shown`. A unified list that shows nothing (its stored value is
// no list item) writes nothing, so the line keys keep what they hold.
std::vector<std::pair<SettingKey, std::string>>
UnifiedSettingsWrites(std::string_view numbers_shown, std::string_view places_shown);

// Each line's stored digit-count and places texts as they stand once a
// settings refresh has run: in separate mode ("Set" is 1) the line keys as
// stored; otherwise with UnifiedSettingsWrites applied, the unified lists
// showing the stored "setsws" and "setsss" when they are list items. Reads
// the settings, writes nothing.
std::array<LineFormat, kLineCount> LineFormatsAfterRefresh(const SettingsFile& settings);

// The keys a settings refresh stores, in the order it stores them: "Set" as
// 1 (separate formats) or 2 (unified), and in unified mode the
// UnifiedSettingsWrites of the unified lists as the refresh shows them. The
// dialog's refresh stores exactly these; on a missing file they are what the
// dialog's first start writes, its defaults. Reads the settings, writes
// nothing.
std::vector<std::pair<SettingKey, std::string>> SettingsRefreshWrites(const SettingsFile& settings);

// The text a list shows once a refresh selected `stored` in it: the item equal
// to it without regard to case, or the empty text when there is none.
std::string ShownDigitCount(std::string_view stored);
std::string ShownDecimalPlaces(std::string_view stored);

// Brings a typed line text into its line's format, as a line editor does when
// it loses the focus. A trailing point gets a "0" first. Free-point mode
// ("No") keeps the first g characters (g from the "Numbers" text). Fixed-point
// mode parses the text as a number (no number gives 0), cuts it to d+1
// decimals, rounds that to d decimals half away from zero, and keeps the last
// g+1 characters. Values from 2^52 on have no decimals to cut and keep their
// 17 significant digits followed by zeros (1e308 with 8 digits and 2 places
// gives "000000.00"); the legacy 32-bit cut had no defined result for any
// value whose scaled form leaves 32 bits. Returns nothing when the text is
// empty in fixed-point mode: the editor then stays empty and nothing is
// stored.
std::optional<std::string> FormatLineText(std::string_view text, std::string_view numbers_text,
                                          std::string_view fixed_point_text);

// A text typed by an operator or a program brought into a line's format as
// a settings refresh leaves it (LineFormatsAfterRefresh), exactly as the
// line's editor formats it on losing the focus: the format's texts count as
// the lists show them (ShownDigitCount, ShownDecimalPlaces). Nothing when a
// fixed-point line is given the empty text (the editor stays empty).
std::optional<std::string> FormatTypedLine(std::string_view typed, const LineFormat& format);

// A double written with `decimals` places the way the legacy runtime
// printed "%.Nf": first 17 significant digits, then that digit string rounded
// at the last kept place, half away from zero (2.5 -> "3", 1.125 -> "1.13").
// Infinity and NaN print as 0; `decimals` is taken within 0..20.
std::string FormatFixedLegacy(double value, int decimals);

} // namespace lumidex
