// The one reading of "HOST[:PORT]" the tools share: where the host ends,
// which ports are ports, and where an IPv6 address needs its brackets.
#include "tools/common/host_port.h"

#include <gtest/gtest.h>

namespace lumidex {
namespace {

TEST(HostPort, SplitsHostAndPort) {
    struct Row {
        const char* text;
        const char* host; // nullptr: refused
        std::optional<int> port;
    } rows[] = {
        {"127.0.0.1:8080", "127.0.0.1", 8080},
        {"mqtt.plant", "mqtt.plant", std::nullopt},
        {"mqtt.plant:8883", "mqtt.plant", 8883},
        {"localhost:65535", "localhost", 65535},
        {"host:1", "host", 1},
        {"host:00080", "host", 80},
        {"[::1]:8080", "::1", 8080},
        {"[::1]", "::1", std::nullopt},
        {"[fe80::1%eth0]:1883", "fe80::1%eth0", 1883},
        {"", nullptr, {}},
        {":8080", nullptr, {}}, // no host
        {"host:", nullptr, {}}, // a ':' without a port
        {"host:0", nullptr, {}},
        {"host:65536", nullptr, {}},
        {"host:000080", nullptr, {}}, // six digits
        {"host:+80", nullptr, {}},
        {"host:-1", nullptr, {}},
        {"host: 80", nullptr, {}},
        {"host:8o", nullptr, {}},
        {"a:b:c", nullptr, {}},
        {"::1:8080", nullptr, {}}, // an IPv6 address needs its brackets
        {"fe80::1", nullptr, {}},
        {"[::1", nullptr, {}},
        {"[::1]8080", nullptr, {}},
        {"[::1]:", nullptr, {}},
        {"[]:80", nullptr, {}},
        {"[evil]:8080", nullptr, {}}, // only an IPv6 address stands in brackets
    };
    for (const Row& row : rows) {
        const auto parsed = ParseHostPort(row.text);
        ASSERT_EQ(parsed.has_value(), row.host != nullptr) << row.text;
        if (parsed) {
            EXPECT_EQ(parsed->host, row.host) << row.text;
            EXPECT_EQ(parsed->port, row.port) << row.text;
        }
    }
}

} // namespace
} // namespace lumidex
