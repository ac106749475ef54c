#include "lines/keystroke.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace lumidex {
namespace {

struct KeyCase {
    const char* name;
    const char* digits;
    const char* places;
    std::u16string text;
    int sel_start;
    int sel_end;
    char16_t key;
    KeyVerdict verdict;
    std::u16string after; // the text shown afterwards
    int caret;
};

constexpr auto A = KeyVerdict::Accepted;
constexpr auto R = KeyVerdict::Refused;
constexpr auto D = KeyVerdict::Dropped;

const KeyCase kCases[] = {
    // Digit count 3, free point.
    {"first digit", "3", "No", u"", 0, 0, u'1', A, u"1", 1},
    {"third digit", "3", "No", u"12", 2, 2, u'3', A, u"123", 3},
    {"fourth digit refused", "3", "No", u"123", 3, 3, u'4', R, u"123", 3},
    {"point after two digits", "3", "No", u"12", 2, 2, u'.', A, u"12.", 3},
    {"point first refused", "3", "No", u"", 0, 0, u'.', R, u"", 0},
    {"point after three digits refused", "3", "No", u"123", 3, 3, u'.', R, u"123", 3},
    {"second point refused", "3", "No", u"1.2", 3, 3, u'.', R, u"1.2", 3},
    {"point before the digits refused", "3", "No", u"12", 0, 0, u'.', R, u"12", 0},
    // Digit count 5, two decimals.
    {"three integer digits", "5", "2", u"12", 2, 2, u'3', A, u"123", 3},
    {"fourth integer digit refused", "5", "2", u"123", 3, 3, u'4', R, u"123", 3},
    {"decimals up to six characters", "5", "2", u"123.4", 5, 5, u'5', A, u"123.45", 6},
    {"seventh character refused", "5", "2", u"123.45", 6, 6, u'6', R, u"123.45", 6},
    {"more decimals than places", "5", "2", u"12.34", 5, 5, u'5', A, u"12.345", 6},
    {"digit in front once a point is there", "5", "2", u"123.4", 0, 0, u'9', A, u"9123.4", 1},
    // No decimals: the point never reaches the editor.
    {"zero places drop the point", "5", "0", u"12", 2, 2, u'.', D, u"12", 2},
    {"zero places: H digits", "5", "0", u"1234", 4, 4, u'5', A, u"12345", 5},
    {"zero places: no more", "5", "0", u"12345", 5, 5, u'6', R, u"12345", 5},
    {"zero places, digit count 3", "3", "0", u"123", 3, 3, u'4', R, u"123", 3},
    // Backspace.
    {"backspace leaving a leading point", "3", "No", u"1.5", 1, 1, kBackspace, R, u"1.5", 1},
    {"backspace at the end", "3", "No", u"1.5", 3, 3, kBackspace, A, u"1.", 2},
    {"backspace at the start", "3", "No", u"15", 0, 0, kBackspace, A, u"15", 0},
    {"backspace deletes the selection", "3", "No", u"123", 1, 3, kBackspace, A, u"1", 1},
    // Selection replaced.
    {"select all and type", "5", "No", u"12345", 0, 5, u'7', A, u"7", 1},
    {"selection replaced within limits", "3", "No", u"123", 1, 2, u'9', A, u"193", 2},
    // Characters that are dropped.
    {"letter", "3", "No", u"1", 1, 1, u'a', D, u"1", 1},
    {"minus", "3", "No", u"1", 1, 1, u'-', D, u"1", 1},
    {"plus", "3", "No", u"1", 1, 1, u'+', D, u"1", 1},
    {"blank", "3", "No", u"1", 1, 1, u' ', D, u"1", 1},
    {"Ctrl+V", "3", "No", u"1", 1, 1, 0x16, D, u"1", 1},
    {"Ctrl+C", "3", "No", u"1", 1, 1, 0x03, D, u"1", 1},
    {"Ctrl+X", "3", "No", u"1", 1, 1, 0x18, D, u"1", 1},
    {"Ctrl+Z", "3", "No", u"1", 1, 1, 0x1A, D, u"1", 1},
    // Carriage return.
    {"return on one character gives 0", "3", "No", u"5", 1, 1, kCarriageReturn, A, u"0", 0},
    {"return on two characters changes nothing", "3", "No", u"12", 2, 2, kCarriageReturn, A, u"12",
     2},
    // The editors' own default for a missing digit count.
    {"default digit count 3位", "3位", "No", u"123", 3, 3, u'4', R, u"123", 3},
};

class Keystrokes : public testing::TestWithParam<KeyCase> {};

TEST_P(Keystrokes, Rule) {
    const KeyCase& c = GetParam();
    const auto outcome =
        ApplyLineKeystroke({c.text, c.sel_start, c.sel_end}, c.key, c.digits, c.places);
    EXPECT_EQ(outcome.verdict, c.verdict);
    EXPECT_TRUE(outcome.result.text == c.after);
    EXPECT_EQ(outcome.result.sel_end, c.caret);
    if (c.verdict != A) {
        EXPECT_EQ(outcome.result, (EditorText{c.text, c.sel_start, c.sel_end}))
            << "text and selection stay";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Keystrokes, testing::ValuesIn(kCases), test::RowName());

} // namespace
} // namespace lumidex
