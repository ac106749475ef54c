#include "lines/keystroke.h"

#include "lines/line_format.h"
#include "settings/keys.h"

namespace lumidex {
namespace {

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// The character as a single-line editor applies it.
EditorText ApplyToEditor(const EditorText& before, char16_t c) {
    EditorText after = before;
    const auto start = static_cast<std::size_t>(before.sel_start);
    const auto end = static_cast<std::size_t>(before.sel_end);
    if (c == kCarriageReturn) {
        return after;
    }
    if (c == kBackspace) {
        if (start != end) {
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

} // namespace

KeyOutcome ApplyLineKeystroke(const EditorText& before, char16_t c,
                              std::string_view digit_count_text, std::string_view places_text) {
    const bool free_point = places_text == kFreePoint;
    const bool no_point_allowed = !free_point && LeadingNumber(places_text) == 0;
    const bool passes =
        IsDigit(c) || c == kBackspace || c == kCarriageReturn || (c == u'.' && !no_point_allowed);
    if (!passes) {
        return {KeyVerdict::Dropped, before};
    }
    const EditorText after = ApplyToEditor(before, c);
    const auto n = static_cast<int>(after.text.size());
    if (n == 1 && c == kCarriageReturn) {
        return {KeyVerdict::Accepted, EditorText{u"0", 0, 0}};
    }
    const std::size_t point = after.text.find(u'.');
    const int first_point = point == std::u16string::npos ? -1 : static_cast<int>(point);
    const int digits = FirstDigitValue(digit_count_text);
    const int places = FirstDigitValue(places_text);
    const KeyOutcome refused{KeyVerdict::Refused, before};
    if (!free_point && first_point == -1 && n > digits - places) {
        return refused;
    }
    const int longest = (first_point >= 0 && first_point < digits) ? digits + 1 : digits;
    if (n > longest) {
        return refused;
    }
    if (n >= 1 && after.text.front() == u'.') {
        return refused;
    }
    if (before.text.find(u'.') != std::u16string::npos && c == u'.') {
        return refused;
    }
    return {KeyVerdict::Accepted, after};
}

} // namespace lumidex
