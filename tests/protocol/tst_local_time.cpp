#include "protocol/local_time.h"

#include <gtest/gtest.h>

namespace lumidex {
namespace {

TEST(ParseClockTime, ValidatesTheDateAndFindsTheWeekday) {
    const auto saturday = ParseClockTime("2024-06-15 14:30:00");
    ASSERT_TRUE(saturday);
    EXPECT_EQ(saturday->weekday, 6);
    EXPECT_EQ(ParseClockTime("2024-02-29 00:00:00")->weekday, 4);
    EXPECT_FALSE(ParseClockTime("2023-02-29 00:00:00"));
    EXPECT_FALSE(ParseClockTime("2024-06-15 24:00:00"));
    EXPECT_FALSE(ParseClockTime("2024-06-15 14:30"));
    EXPECT_FALSE(ParseClockTime("1999-12-31 23:59:59"));
    EXPECT_EQ(ParseClockTime("2255-12-31 23:59:59")->second, 59);
    EXPECT_EQ(ParseClockTime("2000-01-01 00:00:00")->weekday, 6);
    // Every field in digits: no signs, blanks or short fields.
    for (const char* text :
         {"2024-06-15 -1:30:-5", "2024-06-15 14:30:-0", "2024-06-15  1:30:00",
          "2024-06-15 14:-0:00", "2024-06-15 +1:30:00", "+024-06-15 14:30:00",
          "2024-6-15  14:30:00", "2024-06-15 14:30:0 ", " 2024-06-15 14:30:0",
          "2024-00-15 14:30:00", "2024-13-15 14:30:00", "2024-06-00 14:30:00",
          "2024-06-31 14:30:00", "2024-06-15 14:60:00", "2024-06-15 14:30:60",
          "2024/06/15 14:30:00", "2024-06-15 14:30:00\n", "2024-06-15 14:30:0x"}) {
        EXPECT_FALSE(ParseClockTime(text)) << text;
    }
}

} // namespace
} // namespace lumidex
