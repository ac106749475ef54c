#include "link/address.h"
#include "link/port_list.h"

#include <gtest/gtest.h>

namespace lumidex {
namespace {

TEST(PortList, ListsDevicePaths) {
    const auto ports = ListSerialPorts();
    ASSERT_TRUE(ports.has_value()) << "the kernel's serial devices are readable here";
    for (const std::string& port : *ports) {
        EXPECT_TRUE(port.starts_with("/dev/")) << port;
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
         {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "a.b.c.d", "1.2.3.4 ", "1234.1.1.1"}) {
        EXPECT_FALSE(ParseDottedAddress(bad)) << bad;
    }
}

} // namespace
} // namespace lumidex
