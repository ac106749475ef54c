#include "boards/record_entries.h"

#include <algorithm>

namespace lumidex {
namespace {

std::string Numbered(const char* name, std::size_t i) {
    return std::string(name) + "." + std::to_string(i + 1);
}

bool SameKey(const SettingKey& a, const SettingKey& b) {
    return a.section == b.section && a.name == b.name;
}

} // namespace

FieldValues RecordedValues(const StoredView& stored) {
    FieldValues values;
    for (std::size_t i = 0; i < kLineCount; ++i) {
        values[Numbered("lines", i)] = stored.lines[i].text;
        values[Numbered("flicker", i)] = stored.lines[i].flicker ? "1" : "0";
        values[Numbered("point", i)] = stored.lines[i].point ? "1" : "0";
    }
    values["update"] = stored.update;
    values["brightness.day"] = stored.day;
    values["brightness.night"] = stored.night;
    return values;
}

std::optional<std::string> RecordedField(const SettingKey& key) {
    for (std::size_t i = 0; i < kLineCount; ++i) {
        if (SameKey(key, keys::kLineText[i])) {
            return Numbered("lines", i);
        }
        if (SameKey(key, keys::kFlicker[i])) {
            return Numbered("flicker", i);
        }
        if (SameKey(key, keys::kPoint[i])) {
            return Numbered("point", i);
        }
    }
    if (SameKey(key, keys::kUpdateTime)) {
        return "update";
    }
    if (SameKey(key, keys::kDayBrightness)) {
        return "brightness.day";
    }
    if (SameKey(key, keys::kNightBrightness)) {
        return "brightness.night";
    }
    return std::nullopt;
}

Command CommandOfField(std::string_view field) {
    if (field.starts_with("brightness.")) {
        return Command::Brightness;
    }
    if (field == "clock") {
        return Command::Clock;
    }
    if (field == "init") {
        return Command::Init;
    }
    return Command::Content;
}

std::vector<RecordedChange> FieldChanges(const std::string& board, const BoardChange& change,
                                         const FieldValues& before) {
    // A later write of a field replaces an earlier one in the same change.
    std::vector<std::pair<std::string, std::string>> set;
    for (const auto& [key, value] : change.writes) {
        const auto field = RecordedField(key);
        if (!field) {
            continue;
        }
        const auto same = std::find_if(set.begin(), set.end(), [&](const auto& s) { return s.first == *field; });
        if (same != set.end()) {
            same->second = value;
        } else {
            set.emplace_back(*field, value);
        }
    }
    std::vector<RecordedChange> changes;
    for (auto& [field, value] : set) {
        const auto old = before.find(field);
        const std::string old_value = old != before.end() ? old->second : std::string();
        if (old_value != value) {
            changes.push_back({board, field, old_value, value, {}, {}, {}});
        }
    }
    if (change.sends.Has(Command::Clock)) {
        changes.push_back({board, "clock", "", change.clock_time ? FormatClock(*change.clock_time) : "local time",
                           {}, {}, {}});
    }
    if (change.sends.Has(Command::Init)) {
        changes.push_back({board, "init", "", "initialise", {}, {}, {}});
    }
    return changes;
}

std::vector<RecordedChange> FileChanges(const std::string& board, const FieldValues& known,
                                        const FieldValues& now) {
    std::vector<RecordedChange> changes;
    for (const auto& [field, value] : now) {
        const auto was = known.find(field);
        if (was != known.end() && was->second != value) {
            changes.push_back({board, field, was->second, value, {}, "file", {}});
        }
    }
    return changes;
}

std::vector<RecordedOutcome> Settle(std::vector<OpenChange>& open, const std::string& board,
                                    Command command, StatusResult result, std::uint64_t generation) {
    const auto carried = [&](const OpenChange& c) {
        return c.command == command && c.generation <= generation;
    };
    const bool one_off = command == Command::Clock || command == Command::Init;
    std::vector<RecordedOutcome> outcomes;
    if (Delivered(result) || one_off) {
        // Not an exchange at all (a lock held it back): the command is
        // taken up again, and its changes with it.
        if (result == StatusResult::Locked) {
            return outcomes;
        }
        const std::string ended(ResultName(result));
        for (auto it = open.begin(); it != open.end(); ++it) {
            if (!carried(*it)) {
                continue;
            }
            const bool later = std::any_of(it + 1, open.end(), [&](const OpenChange& c) {
                return carried(c) && c.field == it->field;
            });
            outcomes.push_back({board, it->seq, later ? "superseded" : ended});
        }
        std::erase_if(open, carried);
        return outcomes;
    }
    if (result == StatusResult::Rejected || result == StatusResult::Refused) {
        for (OpenChange& c : open) {
            if (carried(c) && !c.noted) {
                c.noted = true;
                outcomes.push_back({board, c.seq, std::string(ResultName(result))});
            }
        }
    }
    return outcomes;
}

std::map<std::string, std::vector<OpenChange>>
UnendedChanges(const std::vector<nlohmann::ordered_json>& lines,
               const std::map<std::string, FieldValues>& values) {
    struct Unended {
        std::string board;
        std::string field;
        std::string value;
    };
    std::map<std::uint64_t, Unended> unended;
    for (const auto& line : lines) {
        const auto seq = line.value("seq", std::uint64_t{0});
        if (line.contains("field")) {
            unended[seq] = {line.value("board", ""), line.value("field", ""), line.value("new", "")};
        } else if (line.contains("applied")) {
            unended.erase(line.value("applied", std::uint64_t{0}));
        }
    }
    // The latest unended value of each board's field: taken up only when
    // the file still holds it (else it never reached the file, or a later
    // value replaced it there).
    std::map<std::pair<std::string, std::string>, std::string> latest;
    for (const auto& [seq, change] : unended) {
        latest[{change.board, change.field}] = change.value;
    }
    std::map<std::string, std::vector<OpenChange>> open;
    for (const auto& [seq, change] : unended) {
        const Command command = CommandOfField(change.field);
        const auto board = values.find(change.board);
        if (command == Command::Clock || command == Command::Init || change.field.starts_with("stale.") ||
            board == values.end()) {
            continue;
        }
        const auto held = board->second.find(change.field);
        if (held != board->second.end() && held->second == latest[{change.board, change.field}]) {
            open[change.board].push_back({seq, change.field, command, 0});
        }
    }
    return open;
}

} // namespace lumidex
