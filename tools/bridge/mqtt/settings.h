#pragma once

// The MQTT door's settings: its keys in the boards file's [bridge] section
// and the command-line options over them, read and checked.
#include "boards/boards_file.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace lumidex {

// The MQTT door's keys in [bridge]. Every build takes them, so that one
// boards file serves on every system (the Windows build, which has no MQTT
// client, notes a broker and uses none).
inline constexpr std::string_view kMqttKeyNames[] = {
    "broker", "prefix", "client-id", "username", "password-file", "tls-ca", "discovery"};
inline constexpr DoorKeys kMqttDoorKeys{"bridge", kMqttKeyNames};

// The MQTT door's command-line options; what they name overrides the
// boards file's [bridge] keys.
struct MqttOptions {
    std::optional<std::string> broker;        // --broker HOST[:PORT]
    std::optional<std::string> prefix;        // --prefix TOPIC
    std::optional<std::string> client_id;     // --client-id ID
    std::optional<std::string> username;      // --username NAME
    std::optional<std::string> password_file; // --password-file FILE
    std::optional<std::string> tls_ca;        // --tls-ca FILE
    bool discovery = false;                   // --discovery
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
    // The password file is a credential systemd handed over
    // ([bridge] password-file=credential:NAME).
    bool password_handed_over = false;
    std::filesystem::path tls_ca;
    bool discovery = false;
    // True when the boards file names a broker ([bridge] broker=).
    bool named = false;
};

// Reads the MQTT door's keys of the boards file's [bridge] section, paths
// made absolute against the boards file's folder. Nothing, with "FILE:
// [bridge] KEY: why" in `error`, for a broker that is no HOST[:PORT], a
// prefix that is no topic prefix, a discovery other than yes, no, 1 or 0, or
// a file named as a credential that cannot be one (see DoorSection::File).
std::optional<BrokerConfig> ReadBrokerConfig(const BridgeConfig& boards, std::string& error);

// Puts the command line's options over the boards file's. False, with the
// reason in `error`, for a --broker that is no HOST[:PORT] or a --prefix
// that is no topic prefix.
bool ApplyMqttOptions(const MqttOptions& options, BrokerConfig& broker, std::string& error);

// Parses "HOST[:PORT]" (an IPv6 address in brackets) into the broker's host
// and port; false for an empty host or a port outside 1..65535.
bool ParseBrokerAddress(const std::string& text, BrokerConfig& broker);

// True for a topic prefix: one or more levels separated by '/', no empty
// level, no wildcard ('+', '#') and no NUL.
bool IsTopicPrefix(const std::string& prefix);

} // namespace lumidex
