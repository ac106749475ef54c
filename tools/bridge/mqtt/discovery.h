#pragma once

#include "lines/line_format.h"

#include <set>
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
// brightness (0..7), a button for the clock, a text entity for the
// initialisation that takes only the typed confirmation INITIALIZE, and a
// sensor for the status. Every document names its origin (this bridge, its
// version, where to get help). The sensor is available while the bridge
// is, every other entity while both the bridge and the board are.
std::vector<std::pair<std::string, std::string>> DiscoveryDocuments(const DiscoveryBoard& board);

// The node level of a board's discovery topics ("lumidex_hall"): the
// prefix's levels and the board's name joined by '_'.
std::string DiscoveryNode(const std::string& prefix, const std::string& board);

// True for a discovery topic that this bridge's documents could use under
// `prefix` ("homeassistant/COMPONENT/NODE/OBJECT/config" with the node of
// a board under that prefix): only such topics are ever removed.
bool IsOwnDiscoveryTopic(const std::string& topic, const std::string& prefix);

// The list of discovery topics a bridge published, as kept retained on
// its own topic (a JSON array), and read back: the topics that are this
// bridge's (IsOwnDiscoveryTopic) and no longer in `current`, which are to
// be removed. A list that is not a JSON array of texts yields nothing.
std::string DiscoveryList(const std::set<std::string>& topics);
std::vector<std::string> StaleDiscoveryTopics(const std::string& list, const std::string& prefix,
                                              const std::set<std::string>& current);

} // namespace lumidex
