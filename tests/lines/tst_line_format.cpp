#include "lines/line_format.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <limits>

namespace lumidex {
namespace {

struct FormatCase {
    const char* text;
    const char* numbers;
    const char* places;
    std::optional<std::string> expected;
};

TEST(FormatLineText, FixedPointCutsThenRoundsHalfAwayFromZero) {
    const FormatCase cases[] = {
        {"3.14159", "5", "2", "3.14"},
        {"1.2349", "5", "2", "1.23"},
        {"1.2351", "5", "2", "1.24"},
        {"1.125", "5", "2", "1.13"}, // an exact tie goes away from zero
        {"7", "5", "2", "7.00"},
        {"007.5", "5", "2", "7.50"},
        {"1.005", "5", "2", "1.00"}, // the double lies below 1.005
        {"2.5", "4", "0", "3"},
        {"3.5", "4", "0", "4"},
        {"2.49", "4", "0", "2"},
        {"0.25", "4", "1", "0.3"},
        {"9.995", "5", "2", "9.99"},  // cut to 9.994 first
        {"0.9951", "5", "2", "1.00"}, // 0.995 has 17 digits 0.99500000000000000
        {"9.9951", "5", "2", "9.99"}, // 9.995 has 17 digits 9.9949999999999992
        {"-2.5", "4", "0", "-3"},
        {"0.0004", "4", "3", "0.000"},
        {"0.0006", "4", "3", "0.001"},
        {"123.4", "3", "1", "23.4"}, // the last g+1 characters remain
        {"12345", "3", "1", "45.0"},
        {"-3.14159", "3", "2", "3.14"}, // the sign falls outside
        {"-3.14159", "4", "2", "-3.14"},
        {"-0.001", "4", "2", "-0.00"},
        {"abc", "5", "2", "0.00"}, // no number formats as 0
        {".", "3", "1", "0.0"},
        {"12.", "5", "2", "12.00"},
        {" +1.5e1", "5", "1", "15.0"}, // blanks, sign and exponent
        {"1.5abc", "5", "1", "1.5"},
        {"inf", "5", "1", "0.0"}, // not a decimal number
        {"0x10", "5", "1", "0.0"},
        {"1.23456", "8", "4", "1.2346"},
        {"", "5", "2", std::nullopt}, // an empty line stays empty and is not stored
        {"5", "", "2", "0"},          // no digit count keeps one character
        {"5", "5", "", "5"},          // an empty places text means 0 places
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(FormatLineText(c.text, c.numbers, c.places), c.expected)
            << c.text << " with " << c.numbers << "/" << c.places;
    }
}

TEST(FormatLineText, FreePointKeepsTheFirstCharacters) {
    const FormatCase cases[] = {
        {"12345", "3", "No", "123"}, {"1.234", "3", "No", "1.2"},
        {"007", "3", "No", "007"},   {"12.", "3", "No", "12."},  // 12.0 cut to three characters
        {".", "3", "No", ".0"},      {"", "3", "No", ""},        // an empty line is stored empty
        {"123", "", "No", ""},                                   // no digit count empties the line
        {"abc", "8", "No", "abc"},   {"äöüß", "3", "No", "äöü"}, // characters, not bytes
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(FormatLineText(c.text, c.numbers, c.places), c.expected) << c.text;
    }
}

// Scaled values beyond 32 bits (typed 9999999.9 with 8 digits and 2 places,
// or a pasted long number) are cut in double precision: the true value.
TEST(FormatLineText, ValuesBeyond32BitsKeepTheirTrueDigits) {
    const FormatCase cases[] = {
        {"9999999.9", "8", "2", "999999.90"},
        {"9999999.9", "8", "4", "9999.9000"},
        {"123456789012", "8", "0", "456789012"},
        {"-98765432109", "8", "1", "5432109.0"},
        {"1e300", "8", "4", "0000.0000"}, // 17 significant digits, then zeros
        {"1e999", "8", "2", "0.00"},      // beyond a double: treated as no number
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(FormatLineText(c.text, c.numbers, c.places), c.expected) << c.text;
    }
}

// Huge values used to overflow value * 10^(d+1) to infinity, and the printer
// then read past its buffer. Every value now has a defined text: from 2^52
// on a double is whole, so it keeps its 17 digits followed by zeros.
TEST(FormatLineText, HugeValuesStayWithinTheLineAtEveryPlaces) {
    const FormatCase cases[] = {
        {"1e308", "8", "2", "000000.00"},
        {"-2e307", "5", "0", "000000"},
        {"1.7976931348623157e308", "8", "4", "0000.0000"}, // largest finite double
        {"-1.7976931348623157e308", "8", "0", "000000000"},
        {"1.7976931348623157e308", "3", "No", "1.7"},
        // Around each places' old overflow point, DBL_MAX / 10^(d+1).
        {"1.7976931348623157e307", "6", "0", "0000000"},
        {"1.7976931348623158e307", "6", "0", "0000000"},
        {"1.7976931348623157e306", "6", "1", "00000.0"},
        {"1.7976931348623157e305", "6", "2", "0000.00"},
        {"1.7976931348623157e304", "6", "3", "000.000"},
        {"1.7976931348623157e303", "6", "4", "00.0000"},
        {"1.8e304", "8", "4", "0000.0000"},
        // Either side of 2^52, where the cut stops scaling.
        {"4503599627370495.5", "8", "1", "7370495.5"},
        {"4503599627370496", "8", "1", "7370496.0"},
        {"-4503599627370497", "8", "0", "627370497"},
        {"12345678901234567", "8", "0", "901234568"}, // 17 digits, the last rounded
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(FormatLineText(c.text, c.numbers, c.places), c.expected)
            << c.text << " with " << c.numbers << "/" << c.places;
    }
}

TEST(FormatFixedLegacy, ValuesNoDisplayShowsPrintAsZero) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(FormatFixedLegacy(inf, 2), "0.00");
    EXPECT_EQ(FormatFixedLegacy(-inf, 0), "0");
    EXPECT_EQ(FormatFixedLegacy(std::numeric_limits<double>::quiet_NaN(), 1), "0.0");
    const std::string largest = FormatFixedLegacy(std::numeric_limits<double>::max(), 1);
    EXPECT_EQ(largest.substr(0, 17), "17976931348623157");
    EXPECT_EQ(largest.size(), 309u + 2u);
    EXPECT_EQ(largest.find_first_not_of('0', 17), largest.size() - 2); // zeros up to ".0"
}

TEST(FormatFixedLegacy, RoundsTheSeventeenDigitString) {
    struct Case {
        double value;
        int decimals;
        const char* expected;
    };
    const Case cases[] = {
        {0.0, 2, "0.00"},
        {-0.0, 0, "0"},
        {2.5, 0, "3"},
        {0.5, 0, "1"},
        {1.125, 2, "1.13"},
        {1.235, 2, "1.24"},
        {0.05, 1, "0.1"},
        {99.95, 1, "100.0"},
        {-1.5, 0, "-2"},
        {1e20, 1, "100000000000000000000.0"},
        {123.456, 4, "123.4560"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatFixedLegacy(c.value, c.decimals), c.expected) << c.value;
    }
}

TEST(ListTexts, DigitCountsPlacesAndTheCheck) {
    EXPECT_EQ(DigitCountFromText("8"), 8);
    EXPECT_EQ(DigitCountFromText(""), 0);
    EXPECT_EQ(DecimalPlacesFromText("No"), 0);
    EXPECT_EQ(DecimalPlacesFromText("4"), 4);
    EXPECT_EQ(DecimalPlacesFromText(""), 0);

    struct Case {
        const char* numbers;
        const char* places;
        bool accepted;
    };
    const Case cases[] = {
        {"3", "3", false}, {"3", "4", false}, {"4", "4", false}, {"4", "3", true}, {"3", "0", true},
        {"8", "0", true},  {"3", "No", true}, {"", "No", false}, {"", "0", false}, {"5", "2", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PlacesAccepted(c.numbers, c.places), c.accepted) << c.numbers << "/" << c.places;
    }
}

// The formats a settings refresh leaves: separate mode keeps the line keys;
// any other mode copies the unified lists' texts over them, each list only
// when its stored value is a list item.
TEST(LineFormatsAfterRefresh, UnifiedModeCopiesWhatTheUnifiedListsShow) {
    struct Case {
        const char* name;
        const char* set_section; // lines of [Set]
        std::array<const char*, 2> line1;
        std::array<const char*, 2> line6;
    };
    const Case cases[] = {
        {"separate mode keeps the line keys",
         "Set=1\nsetsws=5\nsetsss=2\nwsv1=4\nwsv23=1\n",
         {"4", "No"},
         {"3", "1"}},
        {"unified mode copies both",
         "Set=2\nsetsws=5\nsetsss=2\nwsv1=3\nwsv23=1\n",
         {"5", "2"},
         {"5", "2"}},
        {"any number but 1 is unified",
         "Set=0\nsetsws=7\nsetsss=no\nwsv1=3\nwsv6=2\n",
         {"7", "No"},
         {"7", "No"}},
        {"only the first character counts", "Set=12\nsetsws=7\nwsv1=4\n", {"4", "No"}, {"3", "No"}},
        {"unified defaults when the keys are missing",
         "Set=2\nwsv1=6\nwsv6=3\n",
         {"3", "No"},
         {"3", "No"}},
        {"a digit count that is no item leaves the digit counts",
         "Set=2\nsetsws=9\nsetsss=1\nwsv1=4\nwsv22=6\n",
         {"4", "1"},
         {"6", "1"}},
        {"places that are no item leave the places",
         "Set=2\nsetsws=8\nsetsss=5\nwsv6=3\n",
         {"8", "3"},
         {"8", "No"}},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        test::WriteFileOrFail(dir / "Config.ini", std::string("[Set]\n") + c.set_section);
        const SettingsFile settings(dir / "Config.ini");
        const auto formats = LineFormatsAfterRefresh(settings);
        EXPECT_EQ(formats[0].numbers, c.line1[0]) << c.name;
        EXPECT_EQ(formats[0].places, c.line1[1]) << c.name;
        EXPECT_EQ(formats[5].numbers, c.line6[0]) << c.name;
        EXPECT_EQ(formats[5].places, c.line6[1]) << c.name;
        EXPECT_EQ(test::ReadFileOrFail(dir / "Config.ini"), std::string("[Set]\n") + c.set_section)
            << c.name << ": the file is only read";
    }
}

TEST(UnifiedSettingsWrites, EveryLineThenTheUnifiedKeysInOrder) {
    const auto writes = UnifiedSettingsWrites("5", "2");
    std::vector<std::string> seen;
    for (const auto& [key, value] : writes) {
        seen.push_back(std::string(key.name) + "=" + value);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"wsv1=5", "wsv2=5", "wsv3=5", "wsv4=5", "wsv5=5",
                                              "wsv22=5", "wsv6=2", "wsv7=2", "wsv8=2", "wsv9=2",
                                              "wsv10=2", "wsv23=2", "setsws=5", "setsss=2"}));
    EXPECT_EQ(UnifiedSettingsWrites("", "").size(), 0u);
    EXPECT_EQ(UnifiedSettingsWrites("", "No").size(), 7u); // places only
}

TEST(ListTexts, StoredValuesMatchItemsWithoutRegardToCase) {
    EXPECT_EQ(MatchDecimalPlaceItem("no"), "No");
    EXPECT_EQ(MatchDecimalPlaceItem("3"), "3");
    EXPECT_EQ(MatchDecimalPlaceItem("5"), std::nullopt);
    EXPECT_EQ(MatchDigitCountItem("8"), "8");
    EXPECT_EQ(MatchDigitCountItem("9"), std::nullopt);
    EXPECT_EQ(MatchDigitCountItem(""), std::nullopt);
}

} // namespace
} // namespace lumidex
