#include "tools/bridge/http/body.h"

#include "boards/time_zone.h"
#include "link/address.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <map>

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

// A query's part as written: "%XX" the byte XX, '+' a space; nothing for a
// '%' without two hexadecimal digits after it.
std::optional<std::string> PercentDecoded(std::string_view text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            decoded += ' ';
        } else if (text[i] != '%') {
            decoded += text[i];
        } else {
            unsigned byte = 0;
            const char* first = text.data() + i + 1;
            if (i + 2 >= text.size() ||
                std::from_chars(first, first + 2, byte, 16).ptr != first + 2) {
                return std::nullopt;
            }
            decoded += static_cast<char>(byte);
            i += 2;
        }
    }
    return decoded;
}

BodyRefusal BadParameter(std::string error, std::string parameter) {
    return {400, std::move(error), std::move(parameter)};
}

} // namespace

std::variant<RecordRequest, BodyRefusal> RecordRequestFromQuery(std::string_view query) {
    std::map<std::string, std::string, std::less<>> given;
    while (!query.empty()) {
        const std::string_view pair = query.substr(0, query.find('&'));
        query.remove_prefix(std::min(query.size(), pair.size() + 1));
        if (pair.empty()) {
            continue; // "a=1&&b=2", a trailing '&'
        }
        const std::size_t equals = pair.find('=');
        const auto name = PercentDecoded(pair.substr(0, equals));
        const auto value = PercentDecoded(equals == std::string_view::npos ? "" : pair.substr(equals + 1));
        if (!name || !value) {
            return BadParameter("the query has a '%' without two hexadecimal digits after it",
                                name ? *name : "");
        }
        if (*name != "board" && *name != "since" && *name != "until" && *name != "limit" &&
            *name != "format") {
            return BadParameter("the record is read by board, since, until, limit and format, not " +
                                    JsonExcerpt(Json(*name)),
                                *name);
        }
        if (value->empty()) {
            return BadParameter(*name + " is given without a value", *name);
        }
        if (!given.emplace(*name, *value).second) {
            return BadParameter(*name + " is given twice", *name);
        }
    }
    RecordRequest request;
    if (const auto board = given.find("board"); board != given.end()) {
        request.query.board = board->second;
    }
    for (const char* name : {"since", "until"}) {
        const auto found = given.find(name);
        if (found == given.end()) {
            continue;
        }
        const auto moment = ParseIsoUtc(found->second);
        if (!moment) {
            return BadParameter(std::string(name) + " is a UTC time YYYY-MM-DDTHH:MM:SSZ, not " +
                                    JsonExcerpt(Json(found->second)),
                                name);
        }
        (std::string_view(name) == "since" ? request.query.since : request.query.until) = moment;
    }
    if (request.query.since && request.query.until && *request.query.since > *request.query.until) {
        return BadParameter("since is after until", "until");
    }
    if (const auto limit = given.find("limit"); limit != given.end()) {
        const std::string& text = limit->second;
        std::size_t count = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
        if (error != std::errc() || end != text.data() + text.size() || count < 1 ||
            count > kMostRecordEntries) {
            return BadParameter("limit is a whole number 1 to " + std::to_string(kMostRecordEntries) +
                                    ", not " + JsonExcerpt(Json(text)),
                                "limit");
        }
        request.query.limit = count;
    }
    if (const auto format = given.find("format"); format != given.end()) {
        if (format->second != "json" && format->second != "csv") {
            return BadParameter("format is json or csv, not " + JsonExcerpt(Json(format->second)),
                                "format");
        }
        request.csv = format->second == "csv";
    }
    return request;
}

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
