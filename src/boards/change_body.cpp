#include "boards/change_body.h"

#include "lines/line_format.h"
#include "protocol/local_time.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace lumidex {
namespace {

using Json = nlohmann::ordered_json;
using Checked = std::variant<BoardChange, BodyRefusal>;

// `field` names the field at fault; empty when the whole command is.
BodyRefusal AdminOnly(const std::string& what, const std::string& field) {
    return {403, "only an admin may " + what, field};
}

std::string Shown(const Json& value) {
    return JsonExcerpt(value);
}

// A refusal of the board rules, for the field at fault.
std::optional<BodyRefusal> Refused(std::optional<std::string> refusal, const std::string& field) {
    if (!refusal) {
        return std::nullopt;
    }
    return Unprocessable(std::move(*refusal), field);
}

std::optional<BodyRefusal> AddLines(BoardChange& change, const std::string& name, const Json& value,
                                    const LineRules& rules) {
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
            if (auto refused =
                    Refused(AddLineValue(change, line, item.get<std::string>(), rules), field)) {
                return refused;
            }
        } else {
            if (!item.is_boolean()) {
                return Unprocessable("a flag is true or false, not " + Shown(item), field);
            }
            const ChangeField flag = name == "flicker" ? ChangeField::Flicker : ChangeField::Point;
            if (auto refused = Refused(AddLineFlag(change, flag, line, item.get<bool>()), field)) {
                return refused;
            }
        }
    }
    return std::nullopt;
}

std::optional<BodyRefusal> AddBrightnessLevels(BoardChange& change, const Json& value) {
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
        const auto which = key == "day" ? ChangeField::DayBrightness : ChangeField::NightBrightness;
        if (auto refused =
                Refused(AddBrightness(change, which, static_cast<int>(item.get<long long>())), field)) {
            return refused;
        }
    }
    return std::nullopt;
}

} // namespace

BodyRefusal Unprocessable(std::string error, std::string field) {
    return {422, std::move(error), std::move(field)};
}

std::string JsonExcerpt(const Json& value) {
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

std::string_view RoleName(Role role) {
    return role == Role::Admin ? "admin" : "operator";
}

std::optional<Role> RoleFromName(std::string_view name) {
    if (name == "operator") {
        return Role::Operator;
    }
    if (name == "admin") {
        return Role::Admin;
    }
    return std::nullopt;
}

Role RoleNeeded(const Json& body) {
    if (body.is_object()) {
        for (const char* admin : {"flicker", "point", "brightness"}) {
            if (body.contains(admin)) {
                return Role::Admin;
            }
        }
    }
    return Role::Operator;
}

int LineKey(const std::string& key) {
    if (key.size() == 1 && key[0] >= '1' && key[0] <= '6') {
        return key[0] - '0';
    }
    return 0;
}

Checked ChangeFromBody(const Json& body, const LineRules& rules, Role role) {
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
                          ? Refused(AddUpdateTime(change, value.get<std::string>()), key)
                          : Unprocessable("the update time is a string, Now or HH:00", key);
        } else if (key == "brightness") {
            refused = AddBrightnessLevels(change, value);
        } else {
            refused = AddLines(change, key, value, rules);
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
    BoardChange change;
    if (!body.contains("time")) {
        AddClock(change, std::nullopt);
        return change;
    }
    // A time given is a time: "now" is said by leaving it out.
    const auto time = body["time"].is_string() ? ParseClockTime(body["time"].get<std::string>())
                                               : std::nullopt;
    if (!time) {
        return Unprocessable("the time is \"YYYY-MM-DD HH:MM:SS\" (a real date, 2000..2255); "
                             "leave it out for the service's local time",
                             "time");
    }
    AddClock(change, time);
    return change;
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
    BoardChange change;
    AddInit(change);
    return change;
}

} // namespace lumidex
