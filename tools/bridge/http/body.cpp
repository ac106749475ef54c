#include "tools/bridge/http/body.h"

#include "link/address.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace lumidex {

using Json = nlohmann::ordered_json;

namespace {

// An integer field, or why not.
std::optional<BodyRefusal> WholeNumber(const Json& value, const std::string& field, int& out) {
    if (!value.is_number_integer()) {
        return Unprocessable(field + " is a whole number, not " + JsonExcerpt(value), field);
    }
    const auto number = value.get<std::int64_t>();
    out = number < -1 || number > 1000000 ? -1 : static_cast<int>(number);
    return std::nullopt;
}

std::optional<BodyRefusal> Text(const Json& value, const std::string& field, std::string& out) {
    if (!value.is_string()) {
        return Unprocessable(field + " is a string, not " + JsonExcerpt(value), field);
    }
    out = value.get<std::string>();
    return std::nullopt;
}

std::optional<BodyRefusal> LineSetupFromBody(const Json& value, const std::string& name,
                                             LineSetupChange& line) {
    if (!value.is_object()) {
        return Unprocessable(name + " is an object of caption, chosen, digits and places", name);
    }
    for (const auto& [key, item] : value.items()) {
        const std::string field = name + "." + key;
        if (key == "caption") {
            std::string text;
            if (auto refused = Text(item, field, text)) {
                return refused;
            }
            line.caption = std::move(text);
        } else if (key == "chosen") {
            if (!item.is_boolean()) {
                return Unprocessable(field + " is true or false, not " + JsonExcerpt(item), field);
            }
            line.chosen = item.get<bool>();
        } else if (key == "digits") {
            int digits = 0;
            if (auto refused = WholeNumber(item, field, digits)) {
                return refused;
            }
            line.digits = digits;
        } else if (key == "places") {
            std::string text;
            if (auto refused = Text(item, field, text)) {
                return refused;
            }
            line.places = std::move(text);
        } else {
            return Unprocessable("a line's set-up has no field " + JsonExcerpt(Json(key)), field);
        }
    }
    return std::nullopt;
}

} // namespace

std::variant<SetupChange, BodyRefusal> SetupFromBody(const Json& body) {
    if (auto refused = NotAnObject(body)) {
        return *refused;
    }
    SetupChange change;
    for (const auto& [key, value] : body.items()) {
        std::optional<BodyRefusal> refused;
        if (key == "address") {
            std::string text;
            refused = Text(value, key, text);
            if (!refused) {
                change.address = ParseDottedAddress(text);
                if (!change.address) {
                    refused = Unprocessable(
                        "the address is four numbers 0..255 joined by dots, not " + JsonExcerpt(value),
                        key);
                }
            }
        } else if (key == "bus" || key == "baud") {
            int number = 0;
            refused = WholeNumber(value, key, number);
            (key == "bus" ? change.bus : change.baud) = number;
        } else if (key == "link") {
            if (value == "udp" || value == "serial") {
                change.link = value == "udp" ? BoardLink::Udp : BoardLink::Serial;
            } else {
                refused = Unprocessable("the link is \"udp\" or \"serial\", not " + JsonExcerpt(value), key);
            }
        } else if (key == "port") {
            std::string text;
            refused = Text(value, key, text);
            change.port = std::move(text);
        } else if (key == "groups") {
            if (!value.is_array() ||
                !std::all_of(value.begin(), value.end(), [](const Json& g) { return g.is_string(); })) {
                refused = Unprocessable("groups are an array of names, not " + JsonExcerpt(value), key);
            } else {
                change.groups = value.get<std::vector<std::string>>();
            }
        } else if (key == "lines") {
            if (!value.is_object()) {
                refused = Unprocessable("lines are an object of line numbers 1 to 6", key);
            }
            for (auto it = value.begin(); !refused && value.is_object() && it != value.end(); ++it) {
                const int line = LineKey(it.key());
                if (line == 0) {
                    refused = Unprocessable("lines are 1 to 6, not " + JsonExcerpt(Json(it.key())),
                                            "lines." + it.key());
                } else {
                    refused = LineSetupFromBody(it.value(), "lines." + it.key(),
                                                change.lines[static_cast<std::size_t>(line - 1)]);
                }
            }
        } else {
            refused = Unprocessable("a board's set-up has no field " + JsonExcerpt(Json(key)), key);
        }
        if (refused) {
            return *refused;
        }
    }
    return change;
}

Json SetupJson(const BoardSetup& setup) {
    Json lines = Json::object();
    for (std::size_t i = 0; i < kLineCount; ++i) {
        const LineSetup& line = setup.lines[i];
        lines[std::to_string(i + 1)] = {{"caption", line.caption},
                                        {"chosen", line.chosen},
                                        {"digits", DigitCountFromText(line.digits)},
                                        {"places", line.places}};
    }
    return {{"address", FormatDottedAddress(setup.address)},
            {"bus", setup.bus},
            {"link", std::string(LinkName(setup.link))},
            {"port", setup.port},
            {"baud", setup.baud},
            {"groups", setup.groups},
            {"lines", std::move(lines)}};
}

} // namespace lumidex
