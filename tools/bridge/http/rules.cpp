#include "tools/bridge/http/rules.h"

#include "settings/text_codec.h"
#include "tools/common/host_port.h"

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <cctype>
#include <locale>

namespace lumidex {
namespace {

constexpr int kHttpPort = 80;
constexpr int kHttpsPort = 443;

// An IP address as the text writes it. An IPv4 address must be written as
// four decimal numbers, as Linux's parser takes it: Windows' parser, which
// Asio uses there, also takes "127.1" and octal parts, so the text must be
// what the address prints as, for one rule on both systems.
std::optional<boost::asio::ip::address> IpAddress(std::string_view text) {
    boost::system::error_code failure;
    const auto address = boost::asio::ip::make_address(std::string(text), failure);
    if (failure || (address.is_v4() && address.to_string() != text)) {
        return std::nullopt;
    }
    return address;
}

} // namespace

std::optional<ListenAddress> ParseListen(std::string_view text) {
    auto parsed = ParseHostPort(text);
    if (!parsed || !parsed->port) {
        return std::nullopt;
    }
    if (parsed->host == "localhost") {
        parsed->host = "127.0.0.1";
    }
    if (!IpAddress(parsed->host)) {
        return std::nullopt;
    }
    return ListenAddress{parsed->host, *parsed->port};
}

bool IsLoopbackHost(std::string_view host) {
    const auto address = IpAddress(host);
    return address && address->is_loopback();
}

bool HostAllowed(std::string_view host, int port, bool tls, const std::vector<std::string>& names) {
    const auto parsed = ParseHostPort(host);
    if (!parsed || parsed->port.value_or(tls ? kHttpsPort : kHttpPort) != port) {
        return false;
    }
    if (IpAddress(parsed->host) || EqualIgnoringCase(parsed->host, "localhost")) {
        return true;
    }
    // What stands in brackets and is no IPv6 address names nothing.
    return parsed->host.find(':') == std::string::npos &&
           std::any_of(names.begin(), names.end(), [&](const std::string& known) {
               return !known.empty() && EqualIgnoringCase(known, parsed->host);
           });
}

bool IsWebOrigin(std::string_view origin) {
    constexpr std::string_view kSchemes[] = {"http://", "https://"};
    const auto scheme = std::find_if(std::begin(kSchemes), std::end(kSchemes),
                                     [&](std::string_view s) { return origin.starts_with(s); });
    if (scheme == std::end(kSchemes)) {
        return false;
    }
    const auto parsed = ParseHostPort(origin.substr(scheme->size()));
    if (!parsed) {
        return false;
    }
    if (parsed->host.find(':') != std::string::npos) {
        return IpAddress(parsed->host).has_value();
    }
    return std::all_of(parsed->host.begin(), parsed->host.end(), [](unsigned char c) {
        return std::isalnum(c) != 0 || c == '-' || c == '.';
    });
}

std::string OwnOrigin(std::string_view host, bool tls) {
    return (tls ? "https://" : "http://") +
           boost::algorithm::to_lower_copy(std::string(host), std::locale::classic());
}

bool IsJsonContentType(std::string_view content_type) {
    const std::string_view type = content_type.substr(0, content_type.find(';'));
    const std::size_t first = type.find_first_not_of(" \t");
    const std::size_t last = type.find_last_not_of(" \t");
    return first != std::string_view::npos &&
           EqualIgnoringCase(type.substr(first, last - first + 1), "application/json");
}

std::string CookieValue(std::string_view header, std::string_view name) {
    while (!header.empty()) {
        const std::size_t semicolon = std::min(header.find(';'), header.size());
        std::string_view pair = header.substr(0, semicolon);
        header.remove_prefix(std::min(semicolon + 1, header.size()));
        while (!pair.empty() && pair.front() == ' ') {
            pair.remove_prefix(1);
        }
        const std::size_t equals = pair.find('=');
        if (equals != std::string_view::npos && pair.substr(0, equals) == name) {
            return std::string(pair.substr(equals + 1));
        }
    }
    return {};
}

std::string ClientOf(std::string_view address) {
    boost::system::error_code failure;
    auto parsed = boost::asio::ip::make_address(std::string(address), failure);
    if (failure) {
        return std::string(address);
    }
    if (parsed.is_v6() && parsed.to_v6().is_v4_mapped()) {
        parsed = boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, parsed.to_v6());
    }
    if (parsed.is_v4()) {
        return parsed.to_string();
    }
    auto bytes = parsed.to_v6().to_bytes();
    std::fill(bytes.begin() + 8, bytes.end(), 0);
    return boost::asio::ip::address_v6(bytes).to_string() + "/64";
}

bool IsOnlyChunked(std::string_view transfer_encoding) {
    const std::size_t first = transfer_encoding.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return false;
    }
    const std::size_t last = transfer_encoding.find_last_not_of(" \t");
    return EqualIgnoringCase(transfer_encoding.substr(first, last - first + 1), "chunked");
}

std::string_view ContentTypeOf(std::string_view file_name) {
    static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".json", "application/json"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".ico", "image/x-icon"},
        {".ttf", "font/ttf"},
        {".woff", "font/woff"},
        {".woff2", "font/woff2"},
        {".txt", "text/plain; charset=utf-8"},
        {".webmanifest", "application/manifest+json"},
    };
    for (const auto& [ending, type] : kTypes) {
        if (file_name.size() >= ending.size() &&
            EqualIgnoringCase(file_name.substr(file_name.size() - ending.size()), ending)) {
            return type;
        }
    }
    return "application/octet-stream";
}

} // namespace lumidex
