#include "tools/bridge/mqtt/topics.h"

#include <optional>
#include <vector>

namespace lumidex {
namespace {

std::vector<std::string_view> SplitLevels(std::string_view topic) {
    std::vector<std::string_view> levels;
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = topic.find('/', start);
        levels.push_back(topic.substr(start, slash - start));
        if (slash == std::string_view::npos) {
            return levels;
        }
        start = slash + 1;
    }
}

std::optional<int> LineNumber(std::string_view level) {
    if (level.size() == 1 && level[0] >= '1' && level[0] <= '0' + kLineCount) {
        return level[0] - '0';
    }
    return std::nullopt;
}

// The command an ending names ("line/3/set" ...), or nothing.
std::optional<ParsedTopic> ParseEnding(const std::vector<std::string_view>& e) {
    ParsedTopic t;
    t.kind = TopicKind::BoardCommand;
    if (e.size() >= 3 && e[0] == "line" && e.back() == "set") {
        const auto line = LineNumber(e[1]);
        if (!line) {
            return std::nullopt;
        }
        t.line = *line;
        if (e.size() == 3) {
            t.field = ChangeField::Line;
            return t;
        }
        if (e.size() == 4 && (e[2] == "flicker" || e[2] == "point")) {
            t.field = e[2] == "flicker" ? ChangeField::Flicker : ChangeField::Point;
            return t;
        }
        return std::nullopt;
    }
    if (e.size() == 3 && e[0] == "brightness" && e[2] == "set" &&
        (e[1] == "day" || e[1] == "night")) {
        t.field = e[1] == "day" ? ChangeField::DayBrightness : ChangeField::NightBrightness;
        return t;
    }
    if (e.size() == 2 && e[1] == "set") {
        if (e[0] == "update") {
            t.field = ChangeField::Update;
            return t;
        }
        if (e[0] == "clock") {
            t.field = ChangeField::Clock;
            return t;
        }
        if (e[0] == "init") {
            t.field = ChangeField::Init;
            return t;
        }
    }
    return std::nullopt;
}

// The topics the bridge itself publishes under a board.
bool IsOwnStateEnding(const std::vector<std::string_view>& e) {
    if (e.size() == 1) {
        return e[0] == "status" || e[0] == "availability" || e[0] == "record";
    }
    if (e.size() == 2) {
        return (e[0] == "line" && LineNumber(e[1])) ||
               (e[0] == "brightness" && (e[1] == "day" || e[1] == "night"));
    }
    return false;
}

} // namespace

ParsedTopic ParseTopic(std::string_view rest) {
    const std::vector<std::string_view> levels = SplitLevels(rest);
    ParsedTopic unknown;
    if (levels[0] == "schedules") {
        // The list, and its two commands. A board may still be named
        // "schedules": none of its topics ends like these.
        if (levels.size() == 1) {
            return {TopicKind::OwnState, "schedules", ChangeField::Line, 0};
        }
        if (levels.size() == 2 && levels[1] == "add") {
            return {TopicKind::ScheduleAdd, "", ChangeField::Line, 0};
        }
        if (levels.size() == 3 && !levels[1].empty() && levels[2] == "delete") {
            return {TopicKind::ScheduleCancel, std::string(levels[1]), ChangeField::Line, 0};
        }
    }
    if (levels.size() < 2 || levels[0].empty()) {
        return unknown;
    }
    if (levels[0] == "group") {
        if (levels.size() < 3 || levels[1].empty()) {
            return unknown;
        }
        auto parsed = ParseEnding({levels.begin() + 2, levels.end()});
        if (!parsed) {
            unknown.target = std::string(levels[1]);
            return unknown;
        }
        parsed->kind = TopicKind::GroupCommand;
        parsed->target = std::string(levels[1]);
        return *parsed;
    }
    const std::vector<std::string_view> ending(levels.begin() + 1, levels.end());
    if (levels[0] == "bridge" &&
        (ending.size() == 1 && (ending[0] == "availability" || ending[0] == "status" ||
                                ending[0] == "discovery"))) {
        return {TopicKind::OwnState, "bridge", ChangeField::Line, 0};
    }
    if (ending.size() == 3 && ending[0] == "line" && ending[2] == "stale") {
        if (const auto line = LineNumber(ending[1])) {
            return {TopicKind::LineStale, std::string(levels[0]), ChangeField::Line, *line};
        }
    }
    if (IsOwnStateEnding(ending)) {
        return {TopicKind::OwnState, std::string(levels[0]), ChangeField::Line, 0};
    }
    auto parsed = ParseEnding(ending);
    if (!parsed) {
        unknown.target = std::string(levels[0]);
        return unknown;
    }
    parsed->target = std::string(levels[0]);
    return *parsed;
}

std::string LineStatePayload(const std::string& text) {
    return text.empty() ? std::string(kEmptyLinePayload) : text;
}

} // namespace lumidex
