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

} // namespace
} // namespace lumidex
