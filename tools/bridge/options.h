#pragma once

// lumidex-bridge's command line, one parser for both systems: what every
// build takes, the MQTT door's options where the build has an MQTT client,
// the HTTP door's, and the Windows service verbs (refused on Linux).
#include "tools/bridge/http/settings.h"
#include "tools/bridge/mqtt/settings.h"
#include "tools/bridge/platform/service_manager.h"

#include <optional>
#include <string>
#include <vector>

namespace lumidex {

// The command line of lumidex-bridge; what it names overrides the boards
// file's [bridge] and [http] sections.
struct BridgeOptions {
    std::string boards;
    MqttOptions mqtt;
    HttpOptions http;
    ServiceVerb service = ServiceVerb::None;
    bool help = false;
    bool version = false;
    std::string check_record; // --check-record FILE: walk a record file's chain
};

// Parses the arguments (without the program name); on bad usage returns
// nothing with a one-line reason in `error`. A password is never taken on
// the command line, only from a file.
std::optional<BridgeOptions> ParseBridgeOptions(const std::vector<std::string>& args,
                                                std::string& error);

// The text --help prints: what every build says, the MQTT door's part (or
// that the build has no MQTT client), the Windows service's part on
// Windows, and the HTTP door's part.
std::string BridgeUsage();

} // namespace lumidex
