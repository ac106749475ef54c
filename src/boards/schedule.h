#pragma once

// Changes on time: a change of a board's values (the body a door's change
// takes) or a clock calibration, for one board or a group, once at a local
// date and time or every day (on chosen weekdays) at a local time. What a
// schedule is, how its body is read, when it is due, and how the list is
// kept on disk; the board service runs them.
#include "boards/change_body.h"
#include "boards/time_zone.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace lumidex {

inline constexpr std::size_t kMaxScheduleNote = 200;
// How many schedules the service keeps.
inline constexpr std::size_t kMaxSchedules = 1000;

// What came of a schedule's last run: when, and the status of every
// exchange that carried it (or why a board refused it), as StatusJson
// writes them.
struct ScheduleRun {
    SysSeconds at{};
    nlohmann::ordered_json statuses = nlohmann::ordered_json::array();
};

struct Schedule {
    std::string id;
    std::string board; // one of board and group
    std::string group;
    std::optional<LocalSeconds> at; // once, at this local date and time, or
    std::optional<Daily> daily;     // every day (on its weekdays)
    nlohmann::ordered_json set;     // the change; null for a clock calibration
    bool clock = false;
    std::string note;
    std::string created_by;
    Role role = Role::Operator; // the role its change takes, to make or cancel it
    SysSeconds created_at{};
    // The occurrence it last applied (daily), kept so a restart never
    // applies it twice.
    std::optional<SysSeconds> last_due;
    std::optional<ScheduleRun> last_run;
};

// A schedule as a POST asks for it: {"board": B} or {"group": G}; "at":
// "YYYY-MM-DD HH:MM:SS" or "daily": "HH:MM" with optional "days": ["mon",
// ...]; "set": {change} or "clock": true; optional "note". Checks the shape
// only (the change against the boards is the service's): refuses a field it
// does not know, a missing or doubled target or time, a set that is no
// object, days without daily, a note over kMaxScheduleNote characters, and
// (403) a change the role may not ask for.
std::variant<Schedule, BodyRefusal> ScheduleFromBody(const nlohmann::ordered_json& body, Role role);

// The first moment it is due after `after` (a one-off: its moment, however
// late it is).
std::optional<SysSeconds> NextDue(const Schedule& schedule, const TimeZone& zone, SysSeconds after);

// The schedule as the doors show it: id, board or group, at or daily and
// days, set or clock, note, next (local, with its offset; null when it has
// none), created_by, created_at (UTC), last_run.
nlohmann::ordered_json ScheduleJson(const Schedule& schedule, const TimeZone& zone,
                                    std::optional<SysSeconds> next);

// The schedules file: the list as JSON, and back (nothing, and why in
// `error`, for a file that is not one).
std::string SchedulesFileText(const std::vector<Schedule>& schedules);
std::optional<std::vector<Schedule>> ParseSchedulesFile(std::string_view text, std::string& error);

// A fresh schedule id: 12 lower-case hex digits.
std::string NewScheduleId();

} // namespace lumidex
