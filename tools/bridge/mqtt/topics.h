#pragma once

#include "boards/board_rules.h"

#include <string>
#include <string_view>

namespace lumidex {

// What a topic under the prefix names, its prefix taken off: a command to
// one board or to a group, one of the bridge's own state topics (which it
// publishes and takes no notice of), or something unknown.
enum class TopicKind { BoardCommand, GroupCommand, OwnState, Unknown };

struct ParsedTopic {
    TopicKind kind = TopicKind::Unknown;
    std::string target; // the board or group named
    ChangeField field = ChangeField::Line;
    int line = 0; // 1..6 for the line commands
};

// Takes a topic apart, `rest` being what follows "PREFIX/": the endings
// "line/N/set", "line/N/flicker/set", "line/N/point/set", "update/set",
// "brightness/day/set", "brightness/night/set", "clock/set" and "init/set"
// under a board or under "group/G". Board and group names are not checked
// against the boards file here.
ParsedTopic ParseTopic(std::string_view rest);

// What a line's state topic carries for its text. A zero-length retained
// message deletes a topic, so an empty line is published as one blank:
// after a broker restart it still reads as empty, never as unknown.
inline constexpr const char* kEmptyLinePayload = " ";
std::string LineStatePayload(const std::string& text);

} // namespace lumidex
