#pragma once

#include "boards/board_rules.h"

#include <string>
#include <string_view>

namespace lumidex {

// What a topic under the prefix names, its prefix taken off: a command to
// one board or to a group, a schedule to add or to cancel, one of the
// bridge's own state topics (which it publishes and takes no notice of), a
// line's stale topic (its own state too, which a start clears where the
// line is no longer guarded), or something unknown.
enum class TopicKind {
    BoardCommand,
    GroupCommand,
    ScheduleAdd,
    ScheduleCancel,
    OwnState,
    LineStale,
    Unknown
};

struct ParsedTopic {
    TopicKind kind = TopicKind::Unknown;
    std::string target; // the board or group named; a cancelled schedule's id
    ChangeField field = ChangeField::Line;
    int line = 0; // 1..6 for the line commands and a line's stale topic
};

// Takes a topic apart, `rest` being what follows "PREFIX/": the endings
// "line/N/set", "line/N/flicker/set", "line/N/point/set", "update/set",
// "brightness/day/set", "brightness/night/set", "clock/set" and "init/set"
// under a board or under "group/G"; "schedules/add" and
// "schedules/ID/delete"; the state topics "schedules", "bridge/..." and a
// board's "line/N", "line/N/stale", "brightness/...", "status",
// "availability" and "record". Board and group names and schedule ids are not checked
// against the service here.
ParsedTopic ParseTopic(std::string_view rest);

// The payload of a guarded line's stale topic.
inline const char* StalePayload(bool stale) {
    return stale ? "true" : "false";
}

// What a line's state topic carries for its text. A zero-length retained
// message deletes a topic, so an empty line is published as one blank:
// after a broker restart it still reads as empty, never as unknown.
inline constexpr const char* kEmptyLinePayload = " ";
std::string LineStatePayload(const std::string& text);

} // namespace lumidex
