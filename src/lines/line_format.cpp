#include "lines/line_format.h"

#include "settings/keys.h"
#include "settings/text_codec.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace lumidex {
namespace {

constexpr int kSignificantDigits = 17;
constexpr int kMaxDecimalPlaces = 4;
// Beyond this every double is a whole number: cutting decimals changes nothing.
constexpr double kWholeNumbersFrom = 4503599627370496.0; // 2^52
// FormatFixedLegacy prints at most this many decimals.
constexpr int kMaxPrintDecimals = 20;

template <std::size_t N>
std::optional<std::string_view> MatchItem(const std::array<std::string_view, N>& items,
                                          std::string_view value) {
    for (std::string_view item : items) {
        if (EqualIgnoringCase(item, value)) {
            return item;
        }
    }
    return std::nullopt;
}

// The decimal string-to-double conversion of the legacy runtime: leading
// blanks, an optional sign, digits with at most one point and an optional
// exponent; it stops at the first character that does not fit. No number
// gives 0. Infinity and NaN spellings and hexadecimal are not numbers here.
double ParseLeadingDouble(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || (text[pos] >= '\t' && text[pos] <= '\r'))) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const std::string_view rest = text.substr(pos);
    if (rest.empty() || !(rest.front() == '.' || (rest.front() >= '0' && rest.front() <= '9'))) {
        return 0.0;
    }
    double value = 0.0;
    const auto result =
        std::from_chars(rest.data(), rest.data() + rest.size(), value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: like the legacy runtime, the
        // magnitude saturates (HUGE_VAL) or underflows to 0.
        value = std::strtod(std::string(rest.substr(0, result.ptr - rest.data())).c_str(), nullptr);
    } else if (result.ec != std::errc()) {
        return 0.0;
    }
    return negative ? -value : value;
}

} // namespace

int DigitCountFromText(std::string_view numbers_text) {
    return FirstDigitValue(numbers_text);
}

int DecimalPlacesFromText(std::string_view fixed_point_text) {
    return fixed_point_text == kFreePoint ? 0 : FirstDigitValue(fixed_point_text);
}

bool PlacesAccepted(std::string_view numbers_text, std::string_view fixed_point_text) {
    return DigitCountFromText(numbers_text) > DecimalPlacesFromText(fixed_point_text);
}

std::optional<std::string_view> MatchDigitCountItem(std::string_view value) {
    return MatchItem(kDigitCountItems, value);
}

std::optional<std::string_view> MatchDecimalPlaceItem(std::string_view value) {
    return MatchItem(kDecimalPlaceItems, value);
}

std::vector<std::pair<SettingKey, std::string>>
UnifiedSettingsWrites(std::string_view numbers_shown, std::string_view places_shown) {
    std::vector<std::pair<SettingKey, std::string>> writes;
    if (!numbers_shown.empty()) {
        for (const SettingKey& key : keys::kDigitCount) {
            writes.emplace_back(key, numbers_shown);
        }
    }
    if (!places_shown.empty()) {
        for (const SettingKey& key : keys::kDecimalPlaces) {
            writes.emplace_back(key, places_shown);
        }
    }
    if (!numbers_shown.empty()) {
        writes.emplace_back(keys::kUnifiedDigitCount, numbers_shown);
    }
    if (!places_shown.empty()) {
        writes.emplace_back(keys::kUnifiedDecimalPlaces, places_shown);
    }
    return writes;
}

std::string ShownDigitCount(std::string_view stored) {
    const auto item = MatchDigitCountItem(stored);
    return item ? std::string(*item) : std::string();
}

std::string ShownDecimalPlaces(std::string_view stored) {
    const auto item = MatchDecimalPlaceItem(stored);
    return item ? std::string(*item) : std::string();
}

std::array<LineFormat, kLineCount> LineFormatsAfterRefresh(const SettingsFile& settings) {
    std::array<LineFormat, kLineCount> formats;
    for (std::size_t i = 0; i < kLineCount; ++i) {
        formats[i] = {settings.Read(keys::kDigitCount[i]), settings.Read(keys::kDecimalPlaces[i])};
    }
    if (keys::IsSeparateMode(settings.ReadNumber(keys::kMode))) {
        return formats;
    }
    const auto writes =
        UnifiedSettingsWrites(ShownDigitCount(settings.Read(keys::kUnifiedDigitCount)),
                              ShownDecimalPlaces(settings.Read(keys::kUnifiedDecimalPlaces)));
    for (const auto& [key, value] : writes) {
        for (std::size_t i = 0; i < kLineCount; ++i) {
            if (key.name == keys::kDigitCount[i].name) {
                formats[i].numbers = value;
            } else if (key.name == keys::kDecimalPlaces[i].name) {
                formats[i].places = value;
            }
        }
    }
    return formats;
}

std::vector<std::pair<SettingKey, std::string>> SettingsRefreshWrites(const SettingsFile& settings) {
    const bool separate = keys::IsSeparateMode(settings.ReadNumber(keys::kMode));
    std::vector<std::pair<SettingKey, std::string>> writes{
        {keys::kMode, std::string(separate ? keys::kSeparateMode : keys::kUnifiedMode)}};
    if (!separate) {
        for (auto& write :
             UnifiedSettingsWrites(ShownDigitCount(settings.Read(keys::kUnifiedDigitCount)),
                                   ShownDecimalPlaces(settings.Read(keys::kUnifiedDecimalPlaces)))) {
            writes.push_back(std::move(write));
        }
    }
    return writes;
}

std::string FormatFixedLegacy(double value, int decimals) {
    if (!std::isfinite(value) || value == 0.0) {
        value = 0.0; // a negative zero prints as "0"; no display shows infinity
    }
    decimals = std::clamp(decimals, 0, kMaxPrintDecimals);
    // 17 significant digits, correctly rounded: d.dddddddddddddddde±XX. Even
    // the largest finite double needs only 24 characters of the buffer.
    char scientific[40];
    const int printed =
        std::snprintf(scientific, sizeof scientific, "%.*e", kSignificantDigits - 1, value);
    const std::string_view text(
        scientific, printed > 0 ? std::min<std::size_t>(printed, sizeof scientific - 1) : 0);
    const std::size_t exponent_mark = text.find('e');
    if (exponent_mark == std::string_view::npos || exponent_mark + 1 >= text.size()) {
        return std::string(); // cannot happen for a finite value; never walk past the text
    }
    const bool negative = !text.empty() && text.front() == '-';
    std::string digits;
    for (std::size_t i = negative ? 1 : 0; i < exponent_mark; ++i) {
        if (text[i] != '.') {
            digits += text[i];
        }
    }
    int exponent = 0;
    std::from_chars(text.data() + exponent_mark + 1 + (text[exponent_mark + 1] == '+' ? 1 : 0),
                    text.data() + text.size(), exponent);

    // digits[i] has the place value 10^(exponent - i). The kept places end at
    // 10^-decimals, i.e. at index exponent + decimals.
    const int keep = exponent + decimals + 1; // number of digits that stay
    std::string kept;
    if (keep > 0) {
        kept = digits.substr(0, std::min<std::size_t>(keep, digits.size()));
        kept.append(static_cast<std::size_t>(keep) - kept.size(), '0');
    }
    int integer_digits = exponent + 1;
    const bool round_up =
        keep >= 0 && keep < static_cast<int>(digits.size()) && digits[keep] >= '5';
    if (round_up) {
        int i = static_cast<int>(kept.size()) - 1;
        for (; i >= 0 && kept[i] == '9'; --i) {
            kept[i] = '0';
        }
        if (i >= 0) {
            ++kept[i];
        } else {
            kept.insert(kept.begin(), '1');
            ++integer_digits;
        }
    }
    // Lay the kept digits out in fixed notation, with at least one digit
    // before the point.
    if (keep < 0) {
        kept.assign(static_cast<std::size_t>(decimals) + 1, '0'); // below half the last place
        integer_digits = 1;
    } else if (integer_digits <= 0) {
        kept.insert(0, static_cast<std::size_t>(1 - integer_digits), '0');
        integer_digits = 1;
    }
    std::string body = kept.substr(0, static_cast<std::size_t>(integer_digits));
    if (decimals > 0) {
        body.push_back('.');
        body.append(kept, static_cast<std::size_t>(integer_digits));
    }
    if (negative) {
        body.insert(body.begin(), '-');
    }
    return body;
}

std::optional<std::string> FormatLineText(std::string_view text, std::string_view numbers_text,
                                          std::string_view fixed_point_text) {
    const int digit_count = DigitCountFromText(numbers_text);
    std::string line(text);
    if (!line.empty() && line.back() == '.') {
        line += '0';
    }
    if (fixed_point_text == kFreePoint) {
        return std::string(FirstCharacters(line, static_cast<std::size_t>(digit_count)));
    }
    if (line.empty()) {
        return std::nullopt;
    }
    const int decimals = FirstDigitValue(fixed_point_text);
    std::string formatted;
    if (decimals <= kMaxDecimalPlaces) {
        double value = ParseLeadingDouble(line);
        if (!std::isfinite(value)) {
            value = 0.0; // beyond any display: treated like a text that is no number
        }
        const double scale = std::pow(10.0, decimals + 1);
        // The value is cut (not rounded) to d+1 decimals before the rounding
        // print. The legacy program cut through a 32-bit integer, which has
        // no defined result once |value| * scale leaves that range, as a
        // pasted or a long typed value with several decimals can. Cutting in
        // double precision gives the same result wherever the 32-bit cut was
        // defined and the true cut value everywhere else.
        // From 2^52 on a double has no fractional part, so the cut is the
        // value itself; scaling it could overflow to infinity (1e308 * 1000).
        const double cut =
            std::fabs(value) >= kWholeNumbersFrom ? value : std::trunc(value * scale) / scale;
        formatted = FormatFixedLegacy(cut == 0.0 ? 0.0 : cut, decimals);
    }
    return std::string(LastCharacters(formatted, static_cast<std::size_t>(digit_count) + 1));
}

std::optional<std::string> FormatTypedLine(std::string_view typed, const LineFormat& format) {
    return FormatLineText(typed, ShownDigitCount(format.numbers), ShownDecimalPlaces(format.places));
}

} // namespace lumidex
