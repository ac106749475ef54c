#pragma once

#include "lines/line_format.h"

#include <string>
#include <utility>
#include <vector>

namespace lumidex {

// What Home Assistant needs to know of one board to offer it.
struct DiscoveryBoard {
    std::string name;   // the board's name in the boards file
    std::string prefix; // the topic prefix
    std::array<LineFormat, kLineCount> formats;
    std::array<bool, kLineCount> chosen{}; // lines selected for sending
};

// The topic where Home Assistant says it (re)started.
inline constexpr const char* kDiscoveryStatusTopic = "homeassistant/status";

// Home Assistant MQTT discovery documents (topic, JSON) for one board, to
// be published retained: a text entity per selected line whose pattern
// allows what the line's editor allows, number entities for day and night
// brightness (0..7), buttons for the clock and the initialisation, and a
// sensor for the status. The sensor is available while the bridge is, every
// other entity while both the bridge and the board are.
std::vector<std::pair<std::string, std::string>> DiscoveryDocuments(const DiscoveryBoard& board);

} // namespace lumidex
