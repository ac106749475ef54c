#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace lumidex {

// The items of a "Numbers" list (digit count of a line), in list order.
inline constexpr std::array<std::string_view, 6> kDigitCountItems{"3", "4", "5", "6", "7", "8"};
// The items of a "Fixed point" list: "No" is free-point mode, "0".."4" the
// number of fixed decimals.
inline constexpr std::array<std::string_view, 6> kDecimalPlaceItems{"No", "0", "1", "2", "3", "4"};
// The text that selects free-point mode.
inline constexpr std::string_view kFreePoint = "No";

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

// Brings a typed line text into its line's format, as a line editor does when
// it loses the focus. A trailing point gets a "0" first. Free-point mode
// ("No") keeps the first g characters (g from the "Numbers" text). Fixed-point
// mode parses the text as a number (no number gives 0), cuts it to d+1
// decimals, rounds that to d decimals half away from zero, and keeps the last
// g+1 characters. Values from 2^52 on have no decimals to cut and keep their
// 17 significant digits followed by zeros (1e308 with 8 digits and 2 places
// gives "000000.00"); the legacy 32-bit cut had no defined result for any
// value whose scaled form leaves 32 bits. Returns nothing when the text is empty in fixed-point mode:
// the editor then stays empty and nothing is stored.
std::optional<std::string> FormatLineText(std::string_view text, std::string_view numbers_text,
                                          std::string_view fixed_point_text);

// A finite double written with `decimals` places the way the legacy runtime
// printed "%.Nf": first 17 significant digits, then that digit string rounded
// at the last kept place, half away from zero (2.5 -> "3", 1.125 -> "1.13").
// Infinity and NaN print as 0; `decimals` is taken within 0..20.
std::string FormatFixedLegacy(double value, int decimals);

} // namespace lumidex
