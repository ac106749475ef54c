#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumidex {

// A host and the port after it, as "HOST[:PORT]" names them.
struct HostPort {
    std::string host;        // a name or IPv4 address, or an IPv6 address without its brackets
    std::optional<int> port; // 1..65535, when given
};

// Splits "HOST[:PORT]": HOST a name or an IPv4 address, or an IPv6 address
// in brackets ("[::1]:8080"); PORT 1..65535 in at most five decimal digits.
// Whether the host is a name or an address the caller decides; this only
// keeps the ':' apart: a host in brackets holds one and a host outside them
// holds none, so "::1:8080" is refused (an IPv6 address needs its
// brackets). Nothing for an empty host, a missing ']', anything but ":PORT"
// after the host, or a ':' without a port.
std::optional<HostPort> ParseHostPort(std::string_view text);

} // namespace lumidex
