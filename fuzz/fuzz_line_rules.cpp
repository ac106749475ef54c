// Runs the line rules on fuzzed input: the formatting a line editor applies
// when it loses the focus, the legacy fixed-point printer under it, and the
// keystroke rule of the line editors.
//
// Input: the "Numbers" text, the "Fixed point" text, the line text and a
// tail of raw bytes, separated by zero bytes. The tail holds the typed
// character (2 bytes, little-endian), the selection (2 bytes) and a double
// for the printer (8 bytes). For the keystroke the line text is taken one
// byte per UTF-16 unit.
//
// Properties of the formatting: free-point mode keeps a leading part of at
// most g characters and a second formatting changes nothing; fixed-point
// mode keeps a trailing part of at most g + 1 characters made of digits, one
// point and a sign, and formatting a result that was not cut again gives the
// same text (a negative zero excepted: it becomes 0). The printer writes an
// optional sign, digits and exactly d decimals within half a unit of the
// last place of the value. The keystroke rule never changes a refused or
// dropped text; an accepted one is the single-line edit of the character;
// and from a text the rules allow, every keystroke leaves a text they allow.

#include "fuzz/fuzz_support.h"

#include "lines/keystroke.h"
#include "lines/line_format.h"
#include "settings/keys.h"
#include "settings/text_codec.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace lumidex;

namespace {

// The largest digit count a "Numbers" text can give: its first character.
constexpr std::string_view kWidestNumbers = "9";
constexpr int kMaxPlaces = 4;

bool IsFixedPointText(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!((c >= '0' && c <= '9') || c == '.' || (c == '-' && i == 0))) {
            return false;
        }
    }
    return std::count(text.begin(), text.end(), '.') <= 1;
}

bool IsNegativeZero(std::string_view text) {
    return text.starts_with('-') && text.find_first_of("123456789") == std::string_view::npos;
}

void CheckFormatting(std::string_view text, std::string_view numbers, std::string_view places) {
    const auto result = FormatLineText(text, numbers, places);
    const auto what = [&] {
        return "\"" + fuzz::Printable(text) + "\" with Numbers \"" + fuzz::Printable(numbers) +
               "\" and Fixed point \"" + fuzz::Printable(places) + "\" gives \"" +
               (result ? fuzz::Printable(*result) : std::string("nothing")) + "\"";
    };
    const auto widest = FormatLineText(text, kWidestNumbers, places);
    const std::size_t g = static_cast<std::size_t>(DigitCountFromText(numbers));
    if (places == kFreePoint) {
        fuzz::Require(result.has_value(), "free-point mode always gives a text", what);
        fuzz::Require(CountCharacters(*result) <= g, "free-point mode keeps at most g characters",
                      what);
        fuzz::Require(widest->starts_with(*result), "free-point mode cuts from the right", what);
        fuzz::Require(FormatLineText(*result, numbers, places) == result,
                      "free-point formatting is idempotent", what);
        return;
    }
    if (text.empty()) {
        fuzz::Require(!result.has_value(), "an empty text in fixed-point mode stores nothing",
                      what);
        return;
    }
    fuzz::Require(result.has_value(), "a text in fixed-point mode gives a text", what);
    if (FirstDigitValue(places) > kMaxPlaces) {
        fuzz::Require(result->empty(), "places beyond 4 give the empty text", what);
        return;
    }
    fuzz::Require(CountCharacters(*result) <= g + 1,
                  "fixed-point mode keeps at most g + 1 characters", what);
    fuzz::Require(IsFixedPointText(*result), "fixed-point mode gives a number's characters", what);
    fuzz::Require(widest->ends_with(*result), "fixed-point mode cuts from the left", what);
    const bool uncut = *widest == *result && CountCharacters(*widest) <= kWidestNumbers[0] - '0';
    if (uncut && !IsNegativeZero(*result)) {
        const auto again = FormatLineText(*result, numbers, places);
        fuzz::Require(
            again == result, "formatting an uncut fixed-point result changes nothing", [&] {
                return what() + ", then \"" + (again ? fuzz::Printable(*again) : "nothing") + "\"";
            });
    }
}

void CheckPrinter(double value, int decimals) {
    const std::string printed = FormatFixedLegacy(value, decimals);
    const auto what = [&] {
        char shown[64];
        std::snprintf(shown, sizeof shown, "%.17g with %d places", value, decimals);
        return std::string(shown) + " prints \"" + printed + "\"";
    };
    std::size_t pos = printed.starts_with('-') ? 1 : 0;
    const std::size_t point = printed.find('.');
    const std::size_t integer_end = point == std::string::npos ? printed.size() : point;
    bool well_formed = integer_end > pos;
    for (std::size_t i = pos; i < printed.size(); ++i) {
        well_formed = well_formed && (i == point || (printed[i] >= '0' && printed[i] <= '9'));
    }
    well_formed = well_formed && (decimals == 0 ? point == std::string::npos
                                                : printed.size() - point - 1 ==
                                                      static_cast<std::size_t>(decimals));
    fuzz::Require(well_formed, "the printer writes a sign, digits and exactly d decimals", what);
    const double back = std::strtod(printed.c_str(), nullptr);
    const double allowed = 0.5 * std::pow(10.0, -decimals) * (1 + 1e-9) + std::fabs(value) * 1e-15;
    fuzz::Require(std::fabs(back - value) <= allowed,
                  "the printer stays within half a unit of the last place", what);
}

bool AllowedByRules(const std::u16string& text, int digits, int places, bool free_point,
                    bool points_allowed) {
    int points = 0;
    for (char16_t c : text) {
        if (c == u'.') {
            ++points;
        } else if (c < u'0' || c > u'9') {
            return false;
        }
    }
    if (points > (points_allowed ? 1 : 0) || (!text.empty() && text.front() == u'.')) {
        return false;
    }
    const auto n = static_cast<int>(text.size());
    const auto point = text.find(u'.');
    const int g = point == std::u16string::npos ? -1 : static_cast<int>(point);
    if (!free_point && g == -1 && n > digits - places) {
        return false;
    }
    const int longest = (g >= 0 && g < digits) ? digits + 1 : digits;
    return n <= longest;
}

// The text and selection a single-line editor shows after the character.
EditorText ApplyEdit(const EditorText& before, char16_t c) {
    EditorText after = before;
    const auto start = static_cast<std::size_t>(before.sel_start);
    const auto end = static_cast<std::size_t>(before.sel_end);
    if (c == kCarriageReturn) {
        return after;
    }
    if (c == kBackspace) {
        if (start < end) {
            after.text.erase(start, end - start);
            after.sel_start = after.sel_end = before.sel_start;
        } else if (start > 0) {
            after.text.erase(start - 1, 1);
            after.sel_start = after.sel_end = before.sel_start - 1;
        }
        return after;
    }
    after.text.replace(start, end - start, 1, c);
    after.sel_start = after.sel_end = before.sel_start + 1;
    return after;
}

void CheckKeystroke(std::string_view text, std::string_view numbers, std::string_view places,
                    std::string_view tail) {
    if (tail.size() < 4) {
        return;
    }
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(tail[i]); };
    const auto c = static_cast<char16_t>(byte(0) | (byte(1) << 8));
    EditorText before;
    for (unsigned char b : text) {
        before.text += static_cast<char16_t>(b);
    }
    const int length = static_cast<int>(before.text.size());
    before.sel_start = byte(2) % (length + 1);
    before.sel_end = before.sel_start + byte(3) % (length - before.sel_start + 1);

    const KeyOutcome outcome = ApplyLineKeystroke(before, c, numbers, places);
    const auto what = [&] {
        char shown[160];
        std::snprintf(shown, sizeof shown, "key U+%04X on a text of %d units, selection %d..%d",
                      static_cast<unsigned>(c), length, before.sel_start, before.sel_end);
        return std::string(shown) + ", text \"" + fuzz::Printable(text) + "\", Numbers \"" +
               fuzz::Printable(numbers) + "\", Fixed point \"" + fuzz::Printable(places) + "\"";
    };
    if (outcome.verdict != KeyVerdict::Accepted) {
        fuzz::Require(outcome.result == before, "a refused or dropped key changes nothing", what);
        return;
    }
    const EditorText& after = outcome.result;
    fuzz::Require(0 <= after.sel_start && after.sel_start <= after.sel_end &&
                      after.sel_end <= static_cast<int>(after.text.size()),
                  "the selection stays within the text", what);
    const bool carriage_return_on_one = c == kCarriageReturn && length == 1;
    if (carriage_return_on_one) {
        fuzz::Require(after == EditorText{u"0", 0, 0},
                      "a carriage return on one character leaves 0", what);
    } else {
        fuzz::Require(after == ApplyEdit(before, c), "an accepted key is applied as typed", what);
    }
    const bool free_point = places == kFreePoint;
    const int digits = FirstDigitValue(numbers);
    const int decimal_places = free_point ? 0 : FirstDigitValue(places);
    const bool points_allowed = free_point || LeadingNumber(places) != 0;
    if (AllowedByRules(before.text, digits, decimal_places, free_point, points_allowed)) {
        fuzz::Require(
            AllowedByRules(after.text, digits, decimal_places, free_point, points_allowed),
            "from an allowed text every key leaves an allowed text", what);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fields = fuzz::SplitFields(data, size, 4);
    const std::string_view numbers = fields[0];
    const std::string_view places = fields[1];
    const std::string_view text = fields[2];
    const std::string_view tail = fields[3];
    CheckFormatting(text, numbers, places);
    CheckKeystroke(text, numbers, places, tail);
    if (tail.size() >= 12) {
        double value = 0;
        std::memcpy(&value, tail.data() + 4, sizeof value);
        if (std::isfinite(value)) {
            CheckPrinter(value, static_cast<unsigned char>(tail[0]) % (kMaxPlaces + 1));
        }
    }
    return 0;
}
