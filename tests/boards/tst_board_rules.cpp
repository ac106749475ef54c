// The line rules the board service applies to a value before it stores it,
// and the pattern its doors give for the same line.
#include "boards/board_rules.h"

#include <gtest/gtest.h>
#include <regex>

namespace lumidex {
namespace {

// Every text of up to `length` characters over digits and the point.
std::vector<std::string> AllTexts(std::size_t length) {
    std::vector<std::string> texts{""};
    std::vector<std::string> last{""};
    for (std::size_t n = 1; n <= length; ++n) {
        std::vector<std::string> next;
        for (const std::string& t : last) {
            for (const char c : {'1', '9', '.'}) {
                next.push_back(t + c);
            }
        }
        texts.insert(texts.end(), next.begin(), next.end());
        last = std::move(next);
    }
    return texts;
}

// The pattern allows exactly the texts whose whole-number part fits, and
// a fitting value never loses a whole-number place in its formatting.
TEST(LineValue, PatternAndFitAgreeForEveryFormat) {
    for (const std::string_view numbers : kDigitCountItems) {
        for (const std::string_view places : kDecimalPlaceItems) {
            const LineFormat format{std::string(numbers), std::string(places)};
            if (!PlacesAccepted(format.numbers, format.places)) {
                continue;
            }
            const std::regex pattern(LineValuePattern(format), std::regex::ECMAScript);
            for (const std::string& text : AllTexts(std::size_t(FirstDigitValue(numbers)) + 2)) {
                SCOPED_TRACE(text + " with " + format.numbers + " digits, places " + format.places);
                const bool fits = LineValueFits(text, format);
                const bool matches = std::regex_match(text, pattern);
                // Only a value whose rounding carries (9.99.. to 10.0..) fits
                // the pattern and not the line.
                const bool carries = matches && !fits && text.find("99") != std::string::npos;
                EXPECT_TRUE(fits == matches || carries)
                    << "fits " << fits << ", pattern " << LineValuePattern(format);
                if (fits && !text.empty()) {
                    EXPECT_TRUE(EditorTakes(text.substr(0, text.find('.')), format));
                }
            }
        }
    }
}

struct ValueRow {
    const char* name;
    const char* numbers;
    const char* places;
    const char* payload;
    const char* stored; // nullptr: refused
};

class LineCommand : public testing::TestWithParam<ValueRow> {};

// What a value for line 3 becomes, beside the dialog's formatting.
TEST_P(LineCommand, StoresTheFormattedTextOrRefuses) {
    const ValueRow& row = GetParam();
    LineRules rules;
    rules.formats[2] = {row.numbers, row.places};
    const auto checked = ChangeFromText(ChangeField::Line, 3, row.payload, rules);
    if (row.stored == nullptr) {
        EXPECT_TRUE(std::holds_alternative<std::string>(checked));
        return;
    }
    ASSERT_TRUE(std::holds_alternative<BoardChange>(checked)) << std::get<std::string>(checked);
    const auto& command = std::get<BoardChange>(checked);
    ASSERT_EQ(command.writes.size(), 1u);
    EXPECT_EQ(command.writes[0].first.name, "TD3");
    EXPECT_EQ(command.writes[0].second, row.stored);
    EXPECT_EQ(command.sends, Commands{Command::Content});
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LineCommand,
    testing::Values(ValueRow{"fixed_rounds_extra_decimals", "5", "2", "3.14159", "3.14"},
                    ValueRow{"fixed_pads_decimals", "5", "2", "7", "7.00"},
                    ValueRow{"fixed_whole_too_long", "5", "2", "1234", nullptr},
                    ValueRow{"fixed_carry_loses_a_place", "4", "2", "99.999", nullptr},
                    ValueRow{"fixed_carry_within_the_line", "5", "2", "99.999", "100.00"},
                    ValueRow{"zero_places_rounds", "4", "0", "2.5", "3"},
                    ValueRow{"free_cuts_decimals", "3", "No", "1.234", "1.2"},
                    ValueRow{"free_keeps_leading_zeros", "3", "No", "007", "007"},
                    ValueRow{"free_whole_too_long", "3", "No", "12345", nullptr},
                    ValueRow{"empty_clears_fixed", "5", "2", "", ""},
                    ValueRow{"blanks_around_do_not_count", "5", "2", " 1.5\n", "1.50"},
                    ValueRow{"minus_refused", "5", "2", "-1.5", nullptr},
                    ValueRow{"exponent_refused", "5", "2", "1e2", nullptr},
                    ValueRow{"two_points_refused", "5", "No", "1.2.3", nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace lumidex
