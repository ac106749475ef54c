#include "tools/bridge/discovery.h"

#include "boards/board_rules.h"

#include <nlohmann/json.hpp>

namespace lumidex {

std::vector<std::pair<std::string, std::string>> DiscoveryDocuments(const DiscoveryBoard& board) {
    using Json = nlohmann::ordered_json;
    const std::string base = board.prefix + "/" + board.name;
    // Discovery node ids allow letters, digits, '_' and '-'.
    std::string node = board.prefix + "_" + board.name;
    for (char& c : node) {
        if (c == '/') {
            c = '_';
        }
    }
    Json device;
    device["identifiers"] = Json::array({node});
    device["name"] = "Lumidex " + board.name;
    device["model"] = "LED display";
    Json availability = Json::array();
    availability.push_back({{"topic", board.prefix + "/bridge/availability"}});
    availability.push_back({{"topic", base + "/availability"}});

    std::vector<std::pair<std::string, std::string>> documents;
    // The status sensor stays available while the board is offline, since
    // it tells why.
    auto add = [&](const std::string& component, const std::string& object, Json doc,
                   bool needs_board = true) {
        doc["unique_id"] = node + "_" + object;
        doc["object_id"] = node + "_" + object;
        doc["device"] = device;
        if (needs_board) {
            doc["availability"] = availability;
            doc["availability_mode"] = "all";
        } else {
            doc["availability_topic"] = board.prefix + "/bridge/availability";
        }
        documents.emplace_back("homeassistant/" + component + "/" + node + "/" + object + "/config",
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
        Json doc;
        doc["name"] = "Initialize";
        doc["command_topic"] = base + "/init/set";
        doc["payload_press"] = "INITIALIZE";
        doc["entity_category"] = "config";
        add("button", "init", doc);
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

} // namespace lumidex
