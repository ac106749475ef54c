#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lumidex {

// How the bridge reaches a board: UDP to the controller address its
// settings hold, or its serial port at its baud rate.
enum class BoardLink { Udp, Serial };

// One board of the boards file.
struct BoardConfig {
    std::string name;               // used in topics: letters, digits, '-' and '_'
    std::filesystem::path settings; // its Config.ini, made absolute
    BoardLink link = BoardLink::Udp;
    std::vector<std::string> groups;
    // The serial port named in its settings at start, for serial boards:
    // boards on one port share it one exchange at a time.
    std::string serial_port;
    // How often the board is re-asserted, when its section says (0: never).
    std::optional<std::chrono::seconds> refresh;
};

// Where the broker is and how to log in; every field may come from the
// boards file's [bridge] section or from the command line.
struct BrokerConfig {
    std::string host = "127.0.0.1";
    std::optional<int> port; // 1883, or 8883 with TLS, when not given
    std::string prefix = "lumidex";
    std::string client_id; // empty: one made from the host and the boards file
    std::string username;
    std::filesystem::path password_file;
    std::filesystem::path tls_ca;
    bool discovery = false;
    // True when the boards file names a broker ([bridge] broker=).
    bool named = false;
};

// The HTTP door's settings, from the boards file's [http] section (paths
// made absolute against the boards file) or the command line. An empty
// `listen` means no HTTP door.
struct HttpConfig {
    std::string listen; // "ADDRESS:PORT"
    std::filesystem::path operator_password_file;
    std::filesystem::path admin_password_file;
    std::filesystem::path tokens_file;
    std::string allow_origin; // the one other origin that may call the API
    std::filesystem::path tls_cert;
    std::filesystem::path tls_key;
};

// How often a board is re-asserted unless the boards file says otherwise.
inline constexpr std::chrono::seconds kDefaultRefresh{300};

// The boards file read and checked.
struct BridgeConfig {
    std::filesystem::path file; // the boards file itself, made absolute
    BrokerConfig broker;
    HttpConfig http;
    // [bridge] refresh: every board's re-assertion interval (0: never).
    std::chrono::seconds refresh = kDefaultRefresh;
    std::vector<BoardConfig> boards;
};

// True for a name usable as one topic level: 1..64 letters, digits, '-'
// and '_'.
bool IsTopicName(const std::string& name);

// Parses "HOST[:PORT]" into the broker's host and port; false for an empty
// host or a port outside 1..65535.
bool ParseBrokerAddress(const std::string& text, BrokerConfig& broker);

// True for a topic prefix: one or more levels separated by '/', no empty
// level, no wildcard ('+', '#') and no NUL.
bool IsTopicPrefix(const std::string& prefix);

// True for an origin as a browser sends it: "http://" or "https://", then a
// host (a name, an IPv4 address or a bracketed IPv6 one) and an optional
// ":PORT", nothing else (no path, no trailing slash).
bool IsWebOrigin(const std::string& origin);

// Reads the boards file with the settings reader. Refuses (nothing, and one
// line in `error` naming the file, the section and the key) a file that
// cannot be read, a key the file may not hold, a board section without
// "settings", a bad board or group name, a board named "bridge" or "group"
// (topic levels of their own), a link other than udp or serial, a settings
// file that cannot be read, a UDP board without a controller address and a
// serial board without a port; in [http], a key it may not hold and an
// allow-origin that is no origin ("http://host[:port]" or "https://...").
std::optional<BridgeConfig> ReadBoardsFile(const std::filesystem::path& file, std::string& error);

} // namespace lumidex
