#include "protocol/frame.h"

#include <gtest/gtest.h>
#include <string>

namespace lumidex {
namespace {

TEST(Crc16Xmodem, CheckValueAndByteOrder) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc16Xmodem({reinterpret_cast<const std::uint8_t*>(check.data()), check.size()}),
              0x31C3);
    EXPECT_EQ(Crc16Xmodem({}), 0x0000);
    const std::uint8_t init[] = {0xFE, 0x05, 0x00, 0xCC, 0xFF};
    EXPECT_EQ(Crc16Xmodem(init), 0x0172);
}

struct CommandCase {
    const char* name;
    Frame frame;
    const char* hex;
};

TEST(CommandFrames, ExactBytes) {
    const CommandCase cases[] = {
        {"brightness defaults", BuildBrightnessFrame(1, 5, 5), "FE 07 01 02 05 05 FF 98 9D"},
        {"brightness broadcast", BuildBrightnessFrame(0, 7, 0), "FE 07 00 02 07 00 FF A3 59"},
        {"clock Saturday", BuildClockFrame(1, {2024, 6, 15, 14, 30, 0, 6}),
         "FE 0D 01 03 14 18 06 0F 0E 1E 00 06 FF 66 48"},
        {"clock Sunday is 7", BuildClockFrame(1, {2024, 6, 16, 9, 5, 7, 0}),
         "FE 0D 01 03 14 18 06 10 09 05 07 07 FF 6D 02"},
        {"clock new year's eve", BuildClockFrame(3, {2031, 12, 31, 23, 59, 59, 3}),
         "FE 0D 03 03 14 1F 0C 1F 17 3B 3B 03 FF 05 A5"},
        {"initialise", BuildInitialiseFrame(), "FE 05 00 CC FF 01 72"},
    };
    for (const CommandCase& c : cases) {
        EXPECT_EQ(FormatHex(c.frame), c.hex) << c.name;
    }
}

TEST(CommandFrames, YearIsLowByteOfYearPlus0x30) {
    EXPECT_EQ(BuildClockFrame(0, {2000, 1, 1, 0, 0, 0, 6})[5], 0x00);
    EXPECT_EQ(BuildClockFrame(0, {2255, 1, 1, 0, 0, 0, 1})[5], 0xFF);
}

TEST(FormatHex, UpperCaseSeparatedBySingleBlanks) {
    EXPECT_EQ(FormatHex(Frame{}), "");
    EXPECT_EQ(FormatHex(Frame{0x0A}), "0A");
    EXPECT_EQ(FormatHex(Frame{0xab, 0x00, 0xff}), "AB 00 FF");
}

} // namespace
} // namespace lumidex
