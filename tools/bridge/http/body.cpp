#include "tools/bridge/http/body.h"

#include <nlohmann/json.hpp>

namespace lumidex {
namespace {

using Json = nlohmann::ordered_json;
using Checked = std::variant<BoardChange, BodyRefusal>;

BodyRefusal Unprocessable(std::string error, std::string field) {
    return {422, std::move(error), std::move(field)};
}

// `field` names the field at fault; empty when the whole command is.
BodyRefusal AdminOnly(const std::string& what, const std::string& field) {
    return {403, "only an admin may " + what, field};
}

// Text for an echo in an error: JSON as written, cut short.
std::string Shown(const Json& value) {
    std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
    if (text.size() > 40) {
        text = text.substr(0, 37) + "...";
    }
    return text;
}

std::optional<BodyRefusal> NotAnObject(const Json& body) {
    if (!body.is_object()) {
        return Unprocessable("the body is a JSON object", "");
    }
    return std::nullopt;
}

// Adds one command's change, or says why it is refused.
std::optional<BodyRefusal> Add(BoardChange& change, CommandKind kind, int line,
                               std::string_view payload, const std::string& field,
                               const std::array<LineFormat, kLineCount>& formats) {
    auto checked = CheckCommand(kind, line, payload, formats);
    if (auto* refusal = std::get_if<std::string>(&checked)) {
        return Unprocessable(*refusal, field);
    }
    MergeChange(change, std::get<BoardChange>(std::move(checked)));
    return std::nullopt;
}

// A line number key "1".."6"; 0 for anything else.
int LineKey(const std::string& key) {
    if (key.size() == 1 && key[0] >= '1' && key[0] <= '6') {
        return key[0] - '0';
    }
    return 0;
}

std::optional<BodyRefusal> AddLines(BoardChange& change, const std::string& name, const Json& value,
                                    const std::array<LineFormat, kLineCount>& formats) {
    if (!value.is_object() || value.empty()) {
        return Unprocessable(name + " is an object of line numbers 1 to 6", name);
    }
    for (const auto& [key, item] : value.items()) {
        const std::string field = name + "." + key;
        const int line = LineKey(key);
        if (line == 0) {
            return Unprocessable("lines are 1 to 6, not " + Shown(Json(key)), field);
        }
        if (name == "lines") {
            if (!item.is_string()) {
                return Unprocessable("a line's value is a string of digits, not " + Shown(item),
                                     field);
            }
            if (auto refused = Add(change, CommandKind::Line, line, item.get<std::string>(), field,
                                   formats)) {
                return refused;
            }
        } else {
            if (!item.is_boolean()) {
                return Unprocessable("a flag is true or false, not " + Shown(item), field);
            }
            const CommandKind kind = name == "flicker" ? CommandKind::Flicker : CommandKind::Point;
            if (auto refused =
                    Add(change, kind, line, item.get<bool>() ? "1" : "0", field, formats)) {
                return refused;
            }
        }
    }
    return std::nullopt;
}

std::optional<BodyRefusal> AddBrightness(BoardChange& change, const Json& value,
                                         const std::array<LineFormat, kLineCount>& formats) {
    if (!value.is_object() || value.empty()) {
        return Unprocessable("brightness is an object with day and night", "brightness");
    }
    for (const auto& [key, item] : value.items()) {
        const std::string field = "brightness." + key;
        if (key != "day" && key != "night") {
            return Unprocessable("brightness has day and night only", field);
        }
        if (!item.is_number_integer() || item.get<long long>() < 0 || item.get<long long>() > 7) {
            return Unprocessable("a brightness level is 0 to 7, not " + Shown(item), field);
        }
        const auto kind = key == "day" ? CommandKind::DayBrightness : CommandKind::NightBrightness;
        if (auto refused = Add(change, kind, 0, std::to_string(item.get<long long>()), field, formats)) {
            return refused;
        }
    }
    return std::nullopt;
}

} // namespace

Checked ChangeFromBody(const Json& body, const std::array<LineFormat, kLineCount>& formats,
                       Role role) {
    if (auto refused = NotAnObject(body)) {
        return *refused;
    }
    if (body.empty()) {
        return Unprocessable("the body names nothing to change", "");
    }
    for (const auto& [key, value] : body.items()) {
        if (key != "lines" && key != "flicker" && key != "point" && key != "update" &&
            key != "brightness") {
            return Unprocessable("no such field (lines, flicker, point, update, brightness)", key);
        }
    }
    if (role != Role::Admin) {
        for (const char* admin : {"flicker", "point", "brightness"}) {
            if (body.contains(admin)) {
                return AdminOnly("change " + std::string(admin), admin);
            }
        }
    }
    BoardChange change;
    for (const auto& [key, value] : body.items()) {
        std::optional<BodyRefusal> refused;
        if (key == "update") {
            refused = value.is_string()
                          ? Add(change, CommandKind::Update, 0, value.get<std::string>(), key, formats)
                          : Unprocessable("the update time is a string, Now or HH:00", key);
        } else if (key == "brightness") {
            refused = AddBrightness(change, value, formats);
        } else {
            refused = AddLines(change, key, value, formats);
        }
        if (refused) {
            return *refused;
        }
    }
    return change;
}

Checked ClockFromBody(const Json& body, Role role) {
    if (auto refused = NotAnObject(body)) {
        return *refused;
    }
    for (const auto& [key, value] : body.items()) {
        if (key != "time") {
            return Unprocessable("no such field (time)", key);
        }
    }
    if (role != Role::Admin) {
        return AdminOnly("set the clock", "");
    }
    std::string time;
    if (body.contains("time")) {
        if (!body["time"].is_string() || body["time"].get<std::string>().empty()) {
            return Unprocessable("the time is a string \"YYYY-MM-DD HH:MM:SS\"", "time");
        }
        time = body["time"].get<std::string>();
    }
    auto checked = CheckCommand(CommandKind::Clock, 0, time, {});
    auto* change = std::get_if<BoardChange>(&checked);
    if (change == nullptr || (!time.empty() && !change->clock->has_value())) {
        // A time given is a time: "now" is said by leaving it out.
        return Unprocessable("the time is \"YYYY-MM-DD HH:MM:SS\" (a real date, 2000..2255); "
                             "leave it out for the service's local time",
                             "time");
    }
    return std::move(*change);
}

Checked InitFromBody(const Json& body, Role role) {
    if (auto refused = NotAnObject(body)) {
        return *refused;
    }
    for (const auto& [key, value] : body.items()) {
        if (key != "confirm") {
            return Unprocessable("no such field (confirm)", key);
        }
    }
    if (role != Role::Admin) {
        return AdminOnly("initialise the control card", "");
    }
    const bool confirmed = body.contains("confirm") && body["confirm"].is_string() &&
                           body["confirm"].get<std::string>() == "INITIALIZE";
    if (!confirmed) {
        return Unprocessable("initialising the control card takes {\"confirm\": \"INITIALIZE\"}",
                             "confirm");
    }
    auto checked = CheckCommand(CommandKind::Init, 0, "INITIALIZE", {});
    return std::get<BoardChange>(std::move(checked));
}

} // namespace lumidex
