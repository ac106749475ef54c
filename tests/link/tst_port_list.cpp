#include "link/address.h"
#include "link/port_list.h"
#include "link/port_list_sysfs.h"
#include "tests/support/temp_dir.h"

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

namespace lumidex {
namespace {

// A sysfs tree laid out as the kernel lays it out: class/tty/<name> with a
// "device" link for terminals that have hardware behind them, a "driver"
// link below that, and "type" for ports of the serial core.
class FakeSysfs {
public:
    FakeSysfs() { std::filesystem::create_directories(tty_); }
    // A terminal without a device behind it.
    void Virtual(const std::string& name) { std::filesystem::create_directories(tty_ / name); }
    // A terminal served by `driver`; `type` is written when given.
    void Port(const std::string& name, const std::string& driver, const char* type = nullptr) {
        const auto device = root_ / "devices" / ("hw-" + name);
        std::filesystem::create_directories(device);
        std::filesystem::create_directories(root_ / "bus" / "drivers" / driver);
        std::filesystem::create_directory_symlink(root_ / "bus" / "drivers" / driver,
                                                  device / "driver");
        std::filesystem::create_directories(tty_ / name);
        std::filesystem::create_directory_symlink(device, tty_ / name / "device");
        if (type) {
            test::WriteFileOrFail(tty_ / name / "type", std::string(type) + "\n");
        }
    }
    const std::filesystem::path& root() const { return root_.path(); }

private:
    test::TempDir root_;
    std::filesystem::path tty_ = root_ / "class" / "tty";
};

TEST(PortList, ListsTheTerminalsWithHardwareBehindThem) {
    FakeSysfs sysfs;
    sysfs.Virtual("tty0");
    sysfs.Virtual("console");
    sysfs.Virtual("ptmx");
    sysfs.Port("ttyS0", "serial8250", "4"); // a 16550A that answered
    sysfs.Port("ttyS1", "serial8250", "0"); // a reserved place without a UART
    sysfs.Port("ttyS2", "serial8250");      // no type to read: listed
    sysfs.Port("ttyUSB0", "ftdi_sio", "0"); // "type" only counts for the 8250 driver
    sysfs.Port("ttyACM0", "cdc_acm");
    sysfs.Port("ttyAMA0", "uart-pl011", "83");
    EXPECT_EQ(ListSerialPortsIn(sysfs.root()),
              (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyAMA0", "/dev/ttyS0", "/dev/ttyS2",
                                        "/dev/ttyUSB0"}));
}

TEST(PortList, EmptyAndMissingTreesDiffer) {
    FakeSysfs only_virtual;
    only_virtual.Virtual("tty1");
    EXPECT_EQ(ListSerialPortsIn(only_virtual.root()), std::vector<std::string>{})
        << "a machine without serial ports: an empty list";
    test::TempDir no_tty_class;
    EXPECT_EQ(ListSerialPortsIn(no_tty_class.path()), std::nullopt)
        << "a tree without class/tty cannot be read";
}

// This machine's own list has the same shape: device paths, in order, and
// never a pseudo-terminal or a virtual console.
TEST(PortList, ThisMachinesListHasTheSameShape) {
    const auto ports = ListSerialPorts();
    ASSERT_EQ(ports.has_value(), std::filesystem::is_directory("/sys/class/tty"));
    if (!ports) {
        return;
    }
    EXPECT_TRUE(std::is_sorted(ports->begin(), ports->end()));
    for (const std::string& port : *ports) {
        EXPECT_TRUE(port.starts_with("/dev/tty")) << port;
        EXPECT_NE(port, "/dev/tty0");
        EXPECT_NE(port, "/dev/console");
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
