#pragma once

#include "lines/line_format.h"
#include "protocol/frame.h"
#include "settings/keys.h"

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace lumidex {

// What a topic under the prefix names, its prefix taken off: a command to
// one board or to a group, one of the bridge's own state topics (which it
// publishes and takes no notice of), or something unknown.
enum class TopicKind { BoardCommand, GroupCommand, OwnState, Unknown };

// The command endings ("line/N/set", "brightness/day/set", ...).
enum class CommandKind {
    Line,
    Flicker,
    Point,
    Update,
    DayBrightness,
    NightBrightness,
    Clock,
    Init
};

struct ParsedTopic {
    TopicKind kind = TopicKind::Unknown;
    std::string target; // the board or group named
    CommandKind command = CommandKind::Line;
    int line = 0; // 1..6 for the line commands
};

// Takes a topic apart, `rest` being what follows "PREFIX/". Board and group
// names are not checked against the boards file here.
ParsedTopic ParseTopic(std::string_view rest);

// The frame a command leads to, as the status names it: "content",
// "brightness", "clock" or "init".
std::string CommandName(CommandKind command);

// A checked command: the keys to store (in order) and what to send.
struct CheckedCommand {
    std::vector<std::pair<SettingKey, std::string>> writes;
    bool content = false;
    bool brightness = false;
    bool init = false;
    // A clock calibration: the time given, or nothing for the bridge's
    // local time when it is sent.
    std::optional<std::optional<ClockTime>> clock;
};

// Checks a command's payload against the board's line formats (as a
// settings refresh leaves them) and turns it into what is stored and sent.
// Returns the command, or the reason it is refused (nothing stored, nothing
// sent): a line value that does not fit the line (LineValueFits), a flag other than 1 or 0, an
// update time other than Now or HH:00, a brightness outside 0..7, a clock time not "YYYY-MM-DD
// HH:MM:SS" (or empty or "now"), and an init without the payload INITIALIZE. Blanks and line breaks
// around a payload do not count.
std::variant<CheckedCommand, std::string>
CheckCommand(const ParsedTopic& topic, std::string_view payload,
             const std::array<LineFormat, kLineCount>& formats);

// True when the line editor of a line with these digit-count and places
// texts takes `text` typed key by key from an empty editor.
bool EditorTakes(std::string_view text, const LineFormat& format);

// True when a value fits the line: empty (the line is cleared), or digits
// with at most one point, not at the start, whose whole-number digits (and
// point) the line's editor takes, and which the line's formatting shows
// without losing a whole-number place. Decimals beyond the line's places
// are rounded (fixed point) or cut (free point) as the dialog does.
bool LineValueFits(std::string_view text, const LineFormat& format);

// A regular expression (for Home Assistant's text entity) matching the
// well-formed texts whose whole-number part fits the line, the empty text
// included; LineValueFits further refuses the few whose rounding would
// carry into a place the line does not have.
std::string LineValuePattern(const LineFormat& format);

} // namespace lumidex
