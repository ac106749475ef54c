#include "boards/schedule.h"

#include <mutex>
#include <random>

namespace lumidex {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kScheduleFields = "board, group, at, daily, days, set, clock, note";

bool Known(const std::string& key) {
    for (const char* field : {"board", "group", "at", "daily", "days", "set", "clock", "note"}) {
        if (key == field) {
            return true;
        }
    }
    return false;
}

std::optional<BodyRefusal> ReadText(const Json& body, const char* key, std::string& out) {
    if (!body.contains(key)) {
        return std::nullopt;
    }
    if (!body[key].is_string() || body[key].get<std::string>().empty()) {
        return Unprocessable(std::string(key) + " is a name, not " + JsonExcerpt(body[key]), key);
    }
    out = body[key].get<std::string>();
    return std::nullopt;
}

// Characters of a UTF-8 text (its bytes less the continuation bytes).
std::size_t Characters(const std::string& text) {
    std::size_t count = 0;
    for (const char c : text) {
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }
    return count;
}

std::optional<BodyRefusal> ReadWhen(const Json& body, Schedule& schedule) {
    if (body.contains("at") == body.contains("daily")) {
        return Unprocessable("a schedule runs once (\"at\": \"YYYY-MM-DD HH:MM:SS\") or every day "
                             "(\"daily\": \"HH:MM\"): one of them",
                             body.contains("at") ? "daily" : "at");
    }
    if (body.contains("at")) {
        const Json& at = body["at"];
        schedule.at = at.is_string() ? ParseLocalDateTime(at.get<std::string>()) : std::nullopt;
        if (!schedule.at) {
            return Unprocessable("at is \"YYYY-MM-DD HH:MM:SS\" (a real date, the service's local "
                                 "time), not " + JsonExcerpt(at),
                                 "at");
        }
        if (body.contains("days")) {
            return Unprocessable("days go with daily, not with at", "days");
        }
        return std::nullopt;
    }
    const Json& daily = body["daily"];
    const auto time = daily.is_string() ? ParseTimeOfDay(daily.get<std::string>()) : std::nullopt;
    if (!time) {
        return Unprocessable("daily is \"HH:MM\" (00:00..23:59, the service's local time), not " +
                                 JsonExcerpt(daily),
                             "daily");
    }
    Daily every{*time, kEveryDay};
    if (body.contains("days")) {
        const Json& days = body["days"];
        every.days = 0;
        if (!days.is_array() || days.empty()) {
            return Unprocessable("days are a list of mon, tue, wed, thu, fri, sat, sun", "days");
        }
        for (const Json& item : days) {
            const auto index = item.is_string() ? WeekdayIndex(item.get<std::string>()) : std::nullopt;
            if (!index) {
                return Unprocessable("days are mon, tue, wed, thu, fri, sat, sun, not " +
                                         JsonExcerpt(item),
                                     "days");
            }
            every.days = static_cast<Weekdays>(every.days | (1u << *index));
        }
    }
    schedule.daily = every;
    return std::nullopt;
}

Json DaysJson(Weekdays days) {
    Json list = Json::array();
    for (int i = 0; i < 7; ++i) {
        if ((days & (1u << i)) != 0) {
            list.push_back(std::string(WeekdayName(i)));
        }
    }
    return list;
}

// The fields a schedule keeps, as the API and the file write them.
Json CommonJson(const Schedule& schedule) {
    Json json;
    json["id"] = schedule.id;
    if (!schedule.board.empty()) {
        json["board"] = schedule.board;
    } else {
        json["group"] = schedule.group;
    }
    if (schedule.at) {
        json["at"] = LocalDateTimeText(*schedule.at);
    } else if (schedule.daily) {
        json["daily"] = TimeOfDayText(schedule.daily->time);
        json["days"] = DaysJson(schedule.daily->days);
    }
    if (schedule.clock) {
        json["clock"] = true;
    } else {
        json["set"] = schedule.set;
    }
    json["note"] = schedule.note;
    json["created_by"] = schedule.created_by;
    json["created_at"] = IsoUtc(schedule.created_at);
    return json;
}

Json RunJson(const std::optional<ScheduleRun>& run) {
    if (!run) {
        return nullptr;
    }
    return Json{{"at", IsoUtc(run->at)}, {"statuses", run->statuses}};
}

} // namespace

std::variant<Schedule, BodyRefusal> ScheduleFromBody(const Json& body, Role role) {
    if (auto refused = NotAnObject(body)) {
        return *refused;
    }
    for (const auto& [key, value] : body.items()) {
        if (!Known(key)) {
            return Unprocessable("no such field (" + std::string(kScheduleFields) + ")", key);
        }
    }
    Schedule schedule;
    if (auto refused = ReadText(body, "board", schedule.board)) {
        return *refused;
    }
    if (auto refused = ReadText(body, "group", schedule.group)) {
        return *refused;
    }
    if (schedule.board.empty() == schedule.group.empty()) {
        return Unprocessable("a schedule is for one board (\"board\") or one group (\"group\")",
                             schedule.board.empty() ? "board" : "group");
    }
    if (auto refused = ReadWhen(body, schedule)) {
        return *refused;
    }
    const bool clock = body.contains("clock");
    if (clock == body.contains("set")) {
        return Unprocessable("a schedule changes values (\"set\": {...}) or calibrates the clock "
                             "(\"clock\": true): one of them",
                             clock ? "set" : "set");
    }
    if (clock) {
        if (!body["clock"].is_boolean() || !body["clock"].get<bool>()) {
            return Unprocessable("clock is true, or left out", "clock");
        }
        schedule.clock = true;
        schedule.role = Role::Admin;
    } else {
        schedule.set = body["set"];
        if (!schedule.set.is_object() || schedule.set.empty()) {
            return Unprocessable("set is a change: lines, flicker, point, update, brightness", "set");
        }
        schedule.role = RoleNeeded(schedule.set);
    }
    if (schedule.role == Role::Admin && role != Role::Admin) {
        if (schedule.clock) {
            return BodyRefusal{403, "only an admin may set the clock", "clock"};
        }
        // The field as a POST of the change would name it, within "set".
        auto refused = ChangeFromBody(schedule.set, LineRules{}, role);
        auto* refusal = std::get_if<BodyRefusal>(&refused);
        return refusal != nullptr && refusal->status == 403
                   ? BodyRefusal{403, refusal->error, "set." + refusal->field}
                   : BodyRefusal{403, "only an admin may change flicker, point or brightness", "set"};
    }
    if (body.contains("note")) {
        if (!body["note"].is_string()) {
            return Unprocessable("note is a text", "note");
        }
        schedule.note = body["note"].get<std::string>();
        if (Characters(schedule.note) > kMaxScheduleNote) {
            return Unprocessable("a note is at most 200 characters", "note");
        }
    }
    return schedule;
}

std::optional<SysSeconds> NextDue(const Schedule& schedule, const TimeZone& zone, SysSeconds after) {
    if (schedule.at) {
        return FromLocal(zone, *schedule.at);
    }
    if (schedule.daily) {
        return NextDaily(zone, *schedule.daily, after);
    }
    return std::nullopt;
}

Json ScheduleJson(const Schedule& schedule, const TimeZone& zone, std::optional<SysSeconds> next) {
    Json json = CommonJson(schedule);
    json["next"] = next ? Json(IsoLocal(zone, *next)) : Json(nullptr);
    json["last_run"] = RunJson(schedule.last_run);
    return json;
}

std::string SchedulesFileText(const std::vector<Schedule>& schedules) {
    Json list = Json::array();
    for (const Schedule& schedule : schedules) {
        Json json = CommonJson(schedule);
        json["role"] = std::string(RoleName(schedule.role));
        json["last_due"] = schedule.last_due ? Json(IsoUtc(*schedule.last_due)) : Json(nullptr);
        json["last_run"] = RunJson(schedule.last_run);
        list.push_back(std::move(json));
    }
    return Json{{"schedules", std::move(list)}}.dump(1, '\t') + "\n";
}

std::optional<std::vector<Schedule>> ParseSchedulesFile(std::string_view text, std::string& error) {
    const Json file = Json::parse(text, nullptr, false);
    if (file.is_discarded() || !file.is_object() || !file.contains("schedules") ||
        !file["schedules"].is_array()) {
        error = "not a schedules file ({\"schedules\": [...]})";
        return std::nullopt;
    }
    std::vector<Schedule> schedules;
    for (const Json& item : file["schedules"]) {
        if (!item.is_object()) {
            error = "a schedule is no object";
            return std::nullopt;
        }
        // The body's fields read as a POST reads them, by an admin; the
        // service's own fields after them.
        Json body = Json::object();
        for (const auto& [key, value] : item.items()) {
            if (Known(key)) {
                body[key] = value;
            }
        }
        auto read = ScheduleFromBody(body, Role::Admin);
        const std::string id = item.value("id", "");
        if (auto* refusal = std::get_if<BodyRefusal>(&read)) {
            error = "schedule " + id + ": " + refusal->field + ": " + refusal->error;
            return std::nullopt;
        }
        Schedule schedule = std::get<Schedule>(std::move(read));
        schedule.id = id;
        schedule.created_by = item.value("created_by", "");
        const auto created = ParseIsoUtc(item.value("created_at", ""));
        const auto role = RoleFromName(item.value("role", ""));
        if (id.empty() || !created || !role) {
            error = "schedule " + id + ": no id, created_at or role";
            return std::nullopt;
        }
        schedule.created_at = *created;
        schedule.role = *role;
        if (item.contains("last_due") && item["last_due"].is_string()) {
            schedule.last_due = ParseIsoUtc(item["last_due"].get<std::string>());
        }
        if (item.contains("last_run") && item["last_run"].is_object()) {
            const Json& run = item["last_run"];
            if (const auto at = ParseIsoUtc(run.value("at", ""))) {
                schedule.last_run = ScheduleRun{*at, run.value("statuses", Json::array())};
            }
        }
        schedules.push_back(std::move(schedule));
    }
    return schedules;
}

std::string NewScheduleId() {
    static std::mutex mutex;
    static std::mt19937_64 random{std::random_device{}()};
    std::lock_guard lock(mutex);
    const std::uint64_t value = random();
    static constexpr char kHex[] = "0123456789abcdef";
    std::string id;
    for (int i = 0; i < 12; ++i) {
        id += kHex[(value >> (4 * i)) & 0xF];
    }
    return id;
}

} // namespace lumidex
