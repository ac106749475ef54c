#include "tools/bridge/mqtt/discovery.h"

#include "boards/board_rules.h"
#include "version.h"

#include <nlohmann/json.hpp>

namespace lumidex {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kDiscoveryRoot = "homeassistant/";

// A discovery node id allows letters, digits, '_' and '-': the prefix's
// levels joined by '_'.
std::string NodePrefix(const std::string& prefix) {
    std::string node = prefix;
    for (char& c : node) {
        if (c == '/') {
            c = '_';
        }
    }
    return node + "_";
}

} // namespace

std::string DiscoveryNode(const std::string& prefix, const std::string& board) {
    return NodePrefix(prefix) + board;
}

std::vector<std::pair<std::string, std::string>> DiscoveryDocuments(const DiscoveryBoard& board) {
    const std::string base = board.prefix + "/" + board.name;
    const std::string node = DiscoveryNode(board.prefix, board.name);
    Json device;
    device["identifiers"] = Json::array({node});
    device["name"] = "Lumidex " + board.name;
    device["manufacturer"] = "Lumidex";
    device["model"] = "LED display";
    Json origin;
    origin["name"] = "lumidex-bridge";
    origin["sw_version"] = std::string(kVersion);
    origin["support_url"] = LUMIDEX_HOMEPAGE;
    Json availability = Json::array();
    availability.push_back({{"topic", board.prefix + "/bridge/availability"}});
    availability.push_back({{"topic", base + "/availability"}});

    std::vector<std::pair<std::string, std::string>> documents;
    // The status sensor stays available while the board is offline, since
    // it tells why.
    auto add = [&](const std::string& component, const std::string& object, Json doc,
                   bool needs_board = true) {
        doc["unique_id"] = node + "_" + object;
        doc["default_entity_id"] = component + "." + node + "_" + object;
        doc["device"] = device;
        doc["origin"] = origin;
        if (needs_board) {
            doc["availability"] = availability;
            doc["availability_mode"] = "all";
        } else {
            doc["availability_topic"] = board.prefix + "/bridge/availability";
        }
        if (doc.contains("command_topic")) {
            // Commands reach a bridge that is restarting once it is back.
            doc["qos"] = 1;
        }
        documents.emplace_back(kDiscoveryRoot + component + "/" + node + "/" + object + "/config",
                               doc.dump());
    };
    for (int line = 1; line <= kLineCount; ++line) {
        const auto i = static_cast<std::size_t>(line - 1);
        if (!board.chosen[i]) {
            continue;
        }
        Json doc;
        doc["name"] = "Line " + std::to_string(line);
        doc["command_topic"] = base + "/line/" + std::to_string(line) + "/set";
        doc["state_topic"] = base + "/line/" + std::to_string(line);
        // An empty line is published as one blank (see LineStatePayload).
        doc["value_template"] = "{{ value | trim }}";
        // Extra decimals are rounded or cut, so the pattern alone bounds
        // the text.
        doc["pattern"] = LineValuePattern(board.formats[i]);
        doc["mode"] = "text";
        add("text", "line" + std::to_string(line), doc);
    }
    for (const char* which : {"day", "night"}) {
        Json doc;
        doc["name"] = std::string(which == std::string("day") ? "Day" : "Night") + " brightness";
        doc["command_topic"] = base + "/brightness/" + which + "/set";
        doc["state_topic"] = base + "/brightness/" + which;
        doc["min"] = 0;
        doc["max"] = 7;
        doc["step"] = 1;
        doc["mode"] = "slider";
        add("number", std::string("brightness_") + which, doc);
    }
    {
        Json doc;
        doc["name"] = "Set clock";
        doc["command_topic"] = base + "/clock/set";
        doc["payload_press"] = "now";
        add("button", "clock", doc);
    }
    {
        // Not a button: the control card's memory is wiped, so the operator
        // types the confirmation the dialog asks for.
        Json doc;
        doc["name"] = "Initialize (type INITIALIZE)";
        doc["command_topic"] = base + "/init/set";
        doc["pattern"] = "^INITIALIZE$";
        doc["min"] = 0;
        doc["max"] = 10;
        doc["mode"] = "text";
        doc["entity_category"] = "config";
        add("text", "init", doc);
    }
    {
        Json doc;
        doc["name"] = "Last send";
        doc["state_topic"] = base + "/status";
        doc["value_template"] = "{{ value_json.result }}";
        doc["json_attributes_topic"] = base + "/status";
        doc["entity_category"] = "diagnostic";
        add("sensor", "status", doc, false);
    }
    return documents;
}

bool IsOwnDiscoveryTopic(const std::string& topic, const std::string& prefix) {
    // homeassistant / COMPONENT / NODE / OBJECT / config
    if (!topic.starts_with(kDiscoveryRoot) || !topic.ends_with("/config")) {
        return false;
    }
    const std::string middle = topic.substr(std::string(kDiscoveryRoot).size(),
                                            topic.size() - std::string(kDiscoveryRoot).size() -
                                                std::string("/config").size());
    const auto first = middle.find('/');
    const auto second = first == std::string::npos ? first : middle.find('/', first + 1);
    if (first == 0 || second == std::string::npos || second == first + 1 ||
        second + 1 >= middle.size() || middle.find('/', second + 1) != std::string::npos) {
        return false;
    }
    const std::string node = middle.substr(first + 1, second - first - 1);
    const std::string own = NodePrefix(prefix);
    return node.size() > own.size() && node.starts_with(own);
}

std::string DiscoveryList(const std::set<std::string>& topics) {
    return Json(topics).dump();
}

std::vector<std::string> StaleDiscoveryTopics(const std::string& list, const std::string& prefix,
                                              const std::set<std::string>& current) {
    const Json parsed = Json::parse(list, nullptr, false);
    std::vector<std::string> stale;
    if (!parsed.is_array()) {
        return stale;
    }
    for (const Json& item : parsed) {
        if (item.is_string()) {
            const auto topic = item.get<std::string>();
            if (IsOwnDiscoveryTopic(topic, prefix) && !current.contains(topic)) {
                stale.push_back(topic);
            }
        }
    }
    return stale;
}

} // namespace lumidex
