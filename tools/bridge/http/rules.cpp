#include "tools/bridge/http/rules.h"

#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <charconv>

namespace lumidex {
namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::optional<int> Port(std::string_view text) {
    int port = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || text.size() > 5 || result.ec != std::errc() ||
        result.ptr != text.data() + text.size() || port < 1 || port > 65535) {
        return std::nullopt;
    }
    return port;
}

bool IsIpv4(std::string_view text) {
    int parts = 0;
    while (true) {
        const std::size_t dot = text.find('.');
        const std::string_view part = text.substr(0, dot);
        int value = 0;
        const auto result = std::from_chars(part.data(), part.data() + part.size(), value);
        if (part.empty() || part.size() > 3 || result.ec != std::errc() ||
            result.ptr != part.data() + part.size() || value > 255) {
            return false;
        }
        ++parts;
        if (dot == std::string_view::npos) {
            return parts == 4;
        }
        text.remove_prefix(dot + 1);
    }
}

bool IsIpv6(std::string_view text) {
    return text.size() >= 2 && text.find(':') != std::string_view::npos &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) {
               return std::isxdigit(c) != 0 || c == ':' || c == '.';
           });
}

} // namespace

std::optional<ListenAddress> ParseListen(std::string_view text) {
    std::string_view host;
    std::string_view port;
    if (text.starts_with('[')) {
        const std::size_t close = text.find("]:");
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
        if (!IsIpv6(host)) {
            return std::nullopt;
        }
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon == std::string_view::npos) {
            return std::nullopt;
        }
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (host == "localhost") {
            host = "127.0.0.1";
        }
        if (!IsIpv4(host)) {
            return std::nullopt;
        }
    }
    const auto number = Port(port);
    if (!number) {
        return std::nullopt;
    }
    return ListenAddress{std::string(host), *number};
}

bool IsLoopbackHost(std::string_view host) {
    return (IsIpv4(host) && host.starts_with("127.")) || host == "::1";
}

bool HostAllowed(std::string_view host, int port, bool tls, const std::vector<std::string>& names) {
    std::string_view name = host;
    std::optional<int> given;
    if (host.starts_with('[')) {
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos) {
            return false;
        }
        name = host.substr(1, close - 1);
        const std::string_view rest = host.substr(close + 1);
        if (!rest.empty()) {
            if (!rest.starts_with(':') || !(given = Port(rest.substr(1)))) {
                return false;
            }
        }
        if (!IsIpv6(name)) {
            return false;
        }
    } else {
        const std::size_t colon = host.find(':');
        if (colon != std::string_view::npos) {
            name = host.substr(0, colon);
            if (!(given = Port(host.substr(colon + 1)))) {
                return false;
            }
        }
    }
    if (given.value_or(tls ? 443 : 80) != port || name.empty()) {
        return false;
    }
    const std::string lower = Lower(name);
    if (IsIpv4(lower) || IsIpv6(lower) || lower == "localhost") {
        return true;
    }
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& known) { return !known.empty() && Lower(known) == lower; });
}

std::string OwnOrigin(std::string_view host, bool tls) {
    return (tls ? "https://" : "http://") + Lower(host);
}

bool IsJsonContentType(std::string_view content_type) {
    const std::string type = Lower(content_type.substr(0, content_type.find(';')));
    const std::size_t first = type.find_first_not_of(" \t");
    const std::size_t last = type.find_last_not_of(" \t");
    return first != std::string::npos && type.substr(first, last - first + 1) == "application/json";
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
    return Lower(transfer_encoding.substr(first, last - first + 1)) == "chunked";
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
    const std::string lower = Lower(file_name);
    for (const auto& [ending, type] : kTypes) {
        if (lower.ends_with(ending)) {
            return type;
        }
    }
    return "application/octet-stream";
}

} // namespace lumidex
