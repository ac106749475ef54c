#pragma once

// The MQTT door as lumidex-bridge starts and runs it, one seam for both
// systems: with libmosquitto on Linux (startup_posix.cpp); on Windows, whose
// build has no MQTT client, a stand-in that runs no door
// (startup_win32.cpp).
#include "boards/service.h"
#include "tools/bridge/mqtt/settings.h"

#include <CLI/CLI.hpp>

#include <array>
#include <chrono>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumidex {

// A connection loop that has not turned for this long is stuck: longer than
// the slowest name lookup (a few resolvers times their time-outs).
inline constexpr std::chrono::seconds kLoopStuckAfter{90};

// True where the build has an MQTT client (Linux).
bool HasMqttClient();

// The MQTT options' texts while CLI11 parses them.
struct MqttOptionTexts {
    std::array<std::string, 6> values;
    std::array<const CLI::Option*, 6> given{};
};

// Refuses, before parsing, what must never be on the command line: a
// password (others can read it there), with or without a value. Nothing
// when the arguments may be parsed, else the one-line reason.
std::optional<std::string> RefuseMqttArguments(const std::vector<std::string>& args);
// Declares --broker, --prefix, --client-id, --username, --password-file,
// --tls-ca and --discovery; none where the build has no MQTT client.
void AddMqttOptions(CLI::App& parser, MqttOptionTexts& texts, MqttOptions& options);
// Takes the parsed texts; false, with the reason, for an empty value.
bool TakeMqttOptions(const MqttOptionTexts& texts, MqttOptions& options, std::string& error);

// What --help says about MQTT: the door, its topics and its options; where
// the build has no MQTT client, that it has none.
std::string MqttUsage();

// The MQTT door's start-up: its settings from the boards file's [bridge]
// keys and the command line, the broker's password from a file (or
// systemd's credential), the connection and the door over the service.
class MqttStartup {
public:
    MqttStartup();
    ~MqttStartup();
    MqttStartup(const MqttStartup&) = delete;
    MqttStartup& operator=(const MqttStartup&) = delete;

    // Reads the door's keys in [bridge] and the command line's options over
    // them. False, with one line on `err`, for a key or an option that
    // cannot be used. Without an MQTT client, notes a broker the boards file
    // names and uses none.
    bool Configure(const BridgeConfig& boards, const MqttOptions& options, std::ostream& err);

    // Decides whether the door runs: when a broker is named, or when no
    // HTTP door runs beside it. Then checks what it will read: a password
    // file (named, or systemd's credential when a user name is given) that
    // only its user may read and change, and a CA file no other user may
    // change; warns on `err` of a user name going to the broker without
    // TLS. False, with one line on `err`, when one of them cannot be used.
    bool Prepare(bool http_door, std::ostream& err);

    // Starts the connection (tried for as long as it takes) and opens the
    // door over `service`, when the door runs; each change of the
    // connection goes to `log`. False, with one line on `err`, when the
    // connection's options cannot be used (a CA file without a
    // certificate).
    bool Start(BoardService& service, std::function<void(const std::string&)> log,
               std::ostream& err);

    // The start-up line's part: "broker HOST:PORT (TLS), prefix P, client
    // id C", or "no MQTT broker named".
    std::string Summary() const;

    // True when the door runs and its connection's loop has not turned for
    // kLoopStuckAfter.
    bool LoopStuck() const;

    // Stops taking commands (those that had just arrived are dropped, as a
    // line on `err` says), lets the broker take the last messages for a
    // moment and disconnects. Also done, without the line, when the object
    // goes away.
    void Stop(std::ostream& err);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace lumidex
