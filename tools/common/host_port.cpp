#include "tools/common/host_port.h"

#include <algorithm>
#include <charconv>

namespace lumidex {
namespace {

constexpr std::size_t kMostPortDigits = 5;
constexpr int kHighestPort = 65535;

std::optional<int> ParsePort(std::string_view text) {
    // Digits only: from_chars would take a sign.
    if (text.empty() || text.size() > kMostPortDigits ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    int port = 0;
    std::from_chars(text.data(), text.data() + text.size(), port);
    if (port < 1 || port > kHighestPort) {
        return std::nullopt;
    }
    return port;
}

} // namespace

std::optional<HostPort> ParseHostPort(std::string_view text) {
    HostPort parsed;
    std::string_view rest;
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view host = text.substr(1, close - 1);
        if (host.find(':') == std::string_view::npos) {
            return std::nullopt;
        }
        parsed.host = host;
        rest = text.substr(close + 1);
    } else {
        const std::size_t colon = std::min(text.find(':'), text.size());
        parsed.host = text.substr(0, colon);
        rest = text.substr(colon);
    }
    if (parsed.host.empty()) {
        return std::nullopt;
    }
    if (!rest.empty()) {
        if (rest.front() != ':' || !(parsed.port = ParsePort(rest.substr(1)))) {
            return std::nullopt;
        }
    }
    return parsed;
}

} // namespace lumidex
