#pragma once

// The bodies of the HTTP door's set-up requests (a change's body is the
// board service's, change_body.h) and the query of a reading of the change
// record.
#include "boards/board_setup.h"
#include "boards/change_body.h"
#include "boards/change_record.h"

#include <nlohmann/json_fwd.hpp>

#include <array>
#include <string>
#include <string_view>
#include <variant>

namespace lumidex {

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

// What a reading of the change record asks for: which changes, and as CSV
// or as JSON.
struct RecordRequest {
    RecordQuery query;
    bool csv = false;
};

// The query of GET /api/record (what follows the '?', percent-encoded):
// "board", "since" and "until" (UTC, "YYYY-MM-DDTHH:MM:SSZ"), "limit"
// (1..kMostRecordEntries, 100 when absent) and "format" ("json", the
// default, or "csv"), each at most once. A parameter it does not know, one
// given twice or empty, a value it does not take and a "since" after the
// "until" are refused (400, the parameter named). Whether the board exists
// is the service's to say.
std::variant<RecordRequest, BodyRefusal> RecordRequestFromQuery(std::string_view query);

} // namespace lumidex
