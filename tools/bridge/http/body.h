#pragma once

// The bodies the HTTP door's POSTs take, checked with the board rules the
// MQTT door uses: every field first, then the whole change or nothing.
#include "boards/board_rules.h"
#include "boards/board_setup.h"
#include "tools/bridge/http/auth.h"

#include <nlohmann/json_fwd.hpp>

#include <array>
#include <string>
#include <variant>

namespace lumidex {

// Why a body is refused: the HTTP status (403 or 422), one line, and the
// field at fault ("lines.1"; empty when the body as a whole is).
struct BodyRefusal {
    int status = 422;
    std::string error;
    std::string field;
};

// A change of a board's values: any of "lines" {"1".."6": text}, "flicker"
// and "point" {"1".."6": true|false}, "update" ("Now" or "HH:00") and
// "brightness" {"day", "night": 0..7}. Refuses a field the API does not
// know, an empty change, a value its rule refuses (the board rules' text),
// and, for an operator, flicker, point and brightness (403).
std::variant<BoardChange, BodyRefusal> ChangeFromBody(const nlohmann::ordered_json& body,
                                                      const std::array<LineFormat, kLineCount>& formats,
                                                      Role role);

// A clock calibration: {} (the service's local time) or {"time":
// "YYYY-MM-DD HH:MM:SS"}. Admin only.
std::variant<BoardChange, BodyRefusal> ClockFromBody(const nlohmann::ordered_json& body, Role role);

// An initialisation: {"confirm": "INITIALIZE"}. Admin only.
std::variant<BoardChange, BodyRefusal> InitFromBody(const nlohmann::ordered_json& body, Role role);

// A board's set-up, any part of {"address": "a.b.c.d", "bus": 0..99,
// "link": "udp"|"serial", "port": "...", "baud": 9600|57600, "groups":
// ["..."], "lines": {"1".."6": {"caption": "...", "chosen": true|false,
// "digits": 3..8, "places": "No"|"0".."4"}}}: each field of its JSON type,
// the address dotted (ParseDottedAddress); refuses a field it does not know
// (422, the field named, "lines.2.colour"). Values are checked further by
// ApplySetupChange.
std::variant<SetupChange, BodyRefusal> SetupFromBody(const nlohmann::ordered_json& body);

// A board's set-up as the API shows it: the address dotted, as the dialog's
// address field shows it.
nlohmann::ordered_json SetupJson(const BoardSetup& setup);

} // namespace lumidex
