#pragma once

#include <string>
#include <string_view>

namespace lumidex {

// A line editor's text and selection (positions in UTF-16 units, start <=
// end; an empty selection is the caret).
struct EditorText {
    std::u16string text;
    int sel_start = 0;
    int sel_end = 0;
    bool operator==(const EditorText&) const = default;
};

enum class KeyVerdict {
    Dropped,  // the character never reaches the editor
    Accepted, // the editor shows the result
    Refused,  // the editor keeps its text and selection
};

struct KeyOutcome {
    KeyVerdict verdict;
    EditorText result; // the text and selection the editor shows afterwards
};

inline constexpr char16_t kBackspace = 8;
inline constexpr char16_t kCarriageReturn = 13;

// Decides one typed character in a line editor, given the line's stored
// digit-count text and decimal-places text ("No" or "0".."4"). With "0"
// places only digits, backspace and carriage return pass the filter,
// otherwise also ".". A passed character is applied as a single-line editor
// applies it (it replaces the selection; backspace deletes the selection or
// the character before the caret; a carriage return changes nothing, except
// that a one-character text becomes "0" with the caret at the start). The
// result is refused when, with fixed decimals, it has no point and more than
// H - L characters; when it is longer than H (H + 1 with a point within the
// first H places); when it starts with a point; or when a second point was
// typed.
KeyOutcome ApplyLineKeystroke(const EditorText& before, char16_t c,
                              std::string_view digit_count_text, std::string_view places_text);

} // namespace lumidex
