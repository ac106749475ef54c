#pragma once

// The HTTP door's rules about a request's headers, as pure functions: the
// address it listens on, the Host it answers to (no DNS rebinding), its own
// origin, the JSON content type, cookies, and the content type of a page
// file.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumidex {

// Where the door listens: an IP address (IPv6 without brackets) and a port.
struct ListenAddress {
    std::string host;
    int port = 0;
};

// "ADDRESS:PORT": an IPv4 address, "[IPv6]" or "localhost" (127.0.0.1), and
// a port 1..65535; nothing for anything else.
std::optional<ListenAddress> ParseListen(std::string_view text);

// True for an address only this machine reaches: 127.0.0.0/8 and ::1.
bool IsLoopbackHost(std::string_view host);

// True when a request's Host header names this service, so a page from
// another site cannot reach it through a name it points at this machine
// (DNS rebinding): an IP address, "localhost" or one of `names` (the
// machine's own, the listen address's), case aside, and the service's
// port (none given stands for 80, or 443 over TLS).
bool HostAllowed(std::string_view host, int port, bool tls, const std::vector<std::string>& names);

// True for an origin as a browser sends it: "http://" or "https://", then a
// host (a name, an IPv4 address or a bracketed IPv6 one) and an optional
// ":PORT", nothing else (no path, no trailing slash).
bool IsWebOrigin(std::string_view origin);

// The service's own origin as a page loaded through that Host sees it:
// "http://HOST" or "https://HOST", lower case.
std::string OwnOrigin(std::string_view host, bool tls);

// True for "application/json", with parameters ("; charset=utf-8") and in
// any case.
bool IsJsonContentType(std::string_view content_type);

// The value of the cookie `name` in a Cookie header; empty when absent.
std::string CookieValue(std::string_view header, std::string_view name);

// The client a connection or a login counts against: an IPv4 address as it
// is, an IPv6 address by its /64 network (one machine may take any number
// of addresses of its network), an IPv4 address mapped into IPv6 as that
// IPv4 address; the text as given when it is no address.
std::string ClientOf(std::string_view address);

// True for a Transfer-Encoding header the door takes: exactly "chunked"
// (case and blanks around aside). Any other coding or list of codings
// leaves the body's length unknown to the door, and so possibly different
// from what a proxy in front of it saw.
bool IsOnlyChunked(std::string_view transfer_encoding);

// The content type a page file is served with, by its name's ending;
// "application/octet-stream" for an ending not known.
std::string_view ContentTypeOf(std::string_view file_name);

} // namespace lumidex
