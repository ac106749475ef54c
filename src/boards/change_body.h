#pragma once

// The JSON bodies that ask for a change of a board (the HTTP door's POSTs, a
// schedule's "set", the MQTT door's schedules), checked with the board rules
// the MQTT door's topics use: every field first, then the whole change or
// nothing. Who may ask for what is said by two roles.
#include "boards/board_rules.h"

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace lumidex {

// An operator changes line texts and "Update in" (what the dialog allows
// without its password); an admin changes everything.
enum class Role { Operator, Admin };

// "operator" or "admin".
std::string_view RoleName(Role role);
// The role of that name; nothing for any other text.
std::optional<Role> RoleFromName(std::string_view name);

// Why a body is refused: the HTTP status (403, 404 or 422), one line, and
// the field at fault ("lines.1"; empty when the body as a whole is).
struct BodyRefusal {
    int status = 422;
    std::string error;
    std::string field;
};

// A 422 refusal of the field.
BodyRefusal Unprocessable(std::string error, std::string field);
// JSON as written, cut short, for an echo in a refusal.
std::string JsonExcerpt(const nlohmann::ordered_json& value);
// The refusal of a body that is no JSON object.
std::optional<BodyRefusal> NotAnObject(const nlohmann::ordered_json& body);

// A line number key "1".."6" of a body's object; 0 for anything else.
int LineKey(const std::string& key);

// A change of a board's values: any of "lines" {"1".."6": text}, "flicker"
// and "point" {"1".."6": true|false}, "update" ("Now" or "HH:00") and
// "brightness" {"day", "night": 0..7}. Refuses a field the API does not
// know, an empty change, a value its rule refuses (the board rules' text),
// and, for an operator, flicker, point and brightness (403).
std::variant<BoardChange, BodyRefusal> ChangeFromBody(const nlohmann::ordered_json& body,
                                                      const LineRules& rules, Role role);

// The role a change body needs: admin when it names flicker, point or
// brightness.
Role RoleNeeded(const nlohmann::ordered_json& body);

// A clock calibration: {} (the service's local time) or {"time":
// "YYYY-MM-DD HH:MM:SS"}. Admin only.
std::variant<BoardChange, BodyRefusal> ClockFromBody(const nlohmann::ordered_json& body, Role role);

// An initialisation: {"confirm": "INITIALIZE"}. Admin only.
std::variant<BoardChange, BodyRefusal> InitFromBody(const nlohmann::ordered_json& body, Role role);

} // namespace lumidex
