#include "link/address.h"
#include "link/port_list.h"

#include <gtest/gtest.h>
#include <vector>

namespace lumidex {
namespace {

// Windows registers each port as a string value: UTF-16LE up to its
// terminator, whatever else the data buffer holds after it.
TEST(PortList, NameFromRegistryData) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> data;
        std::string expected;
    };
    const Case cases[] = {
        {"terminated", {'C', 0, 'O', 0, 'M', 0, '3', 0, 0, 0}, "COM3"},
        {"no terminator", {'C', 0, 'O', 0, 'M', 0, '1', 0, '0', 0}, "COM10"},
        {"bytes after the terminator", {'C', 0, 'O', 0, 'M', 0, '1', 0, 0, 0, 'X', 0}, "COM1"},
        {"odd last byte", {'C', 0, 'O', 0, 'M', 0, '4', 0, 'Z'}, "COM4"},
        {"empty", {}, ""},
        {"only a terminator", {0, 0, 'C', 0}, ""},
        {"non-ASCII", {'C', 0, 'O', 0, 'M', 0, 0xFC, 0x00, 0x4D, 0x4F}, "COM\u00FC\u4F4D"},
        {"a zero low byte is no terminator", {0x00, 0x4E, '5', 0}, "\u4E005"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PortNameFromRegistryData(c.data), c.expected) << c.name;
    }
}

TEST(ControllerAddress, StoredAsSignedValue) {
    struct Case {
        const char* dotted;
        std::int32_t stored;
    };
    const Case cases[] = {
        {"192.168.1.100", -1062731420}, {"10.0.0.5", 167772165},
        {"255.255.255.255", -1},        {"0.0.0.0", 0},
        {"127.0.0.1", 2130706433},
    };
    for (const Case& c : cases) {
        const auto address = ParseDottedAddress(c.dotted);
        ASSERT_TRUE(address) << c.dotted;
        EXPECT_EQ(StoredAddressValue(*address), c.stored) << c.dotted;
        EXPECT_EQ(FormatDottedAddress(AddressFromStored(c.stored)), c.dotted);
    }
    for (const char* bad :
         {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "a.b.c.d", "1.2.3.4 ", "1234.1.1.1",
          "127.000.000.055", "010.0.0.1", "1.2.3.04", "+1.2.3.4"}) {
        EXPECT_FALSE(ParseDottedAddress(bad)) << bad;
    }
}

TEST(ControllerAddress, HandWrittenAddressesAreNamedWithTheNumberMeant) {
    struct Case {
        const char* stored;
        const char* says; // nullptr: taken as it is
    };
    const Case cases[] = {
        {"2130706434", nullptr},
        {" -1062731420 ", nullptr},
        {"", nullptr},
        {"127.0.0.2",
         "LEDIP=127.0.0.2 is read as 127 (the controller at 0.0.0.127): the settings hold an "
         "address as one whole number, as the dialog stores it; for 127.0.0.2 write "
         "LEDIP=2130706434"},
        {"192.168.1.100 ", "; for 192.168.1.100 write LEDIP=-1062731420"},
        {"12abc", "LEDIP=12abc is read as 12 (the controller at 0.0.0.12)"},
        {"controller", "is read as 0 (the controller at 0.0.0.0)"},
    };
    for (const Case& c : cases) {
        const auto problem = StoredAddressProblem(c.stored);
        ASSERT_EQ(problem.has_value(), c.says != nullptr) << c.stored;
        if (problem) {
            EXPECT_NE(problem->find(c.says), std::string::npos) << *problem;
        }
    }
}

} // namespace
} // namespace lumidex
