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

// The changes a board takes, one per command of either door (the MQTT
// topic endings "line/N/set", "brightness/day/set", ...; the HTTP API's
// fields).
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

// The frame a command leads to, as the status names it: "content",
// "brightness", "clock" or "init".
std::string CommandName(CommandKind command);

// A checked change: the keys to store (in order) and what to send.
struct BoardChange {
    std::vector<std::pair<SettingKey, std::string>> writes;
    bool content = false;
    bool brightness = false;
    bool init = false;
    // A clock calibration: the time given, or nothing for the bridge's
    // local time when it is sent.
    std::optional<std::optional<ClockTime>> clock;
};

// Checks a command's value (for the line commands, of line 1..6) against the
// board's line formats (as a settings refresh leaves them) and turns it into
// what is stored and sent.
// Returns the command, or the reason it is refused (nothing stored, nothing
// sent): a line value that does not fit the line (LineValueFits), a flag other than 1 or 0, an
// update time other than Now or HH:00, a brightness outside 0..7, a clock time not "YYYY-MM-DD
// HH:MM:SS" (or empty or "now"), and an init without the payload INITIALIZE. Blanks and line breaks
// around a payload do not count.
std::variant<BoardChange, std::string>
CheckCommand(CommandKind command, int line, std::string_view payload,
             const std::array<LineFormat, kLineCount>& formats);

// Adds a later change to an earlier one: its writes follow (a later value of
// a key replacing an earlier one), and what is to be sent is the union.
void MergeChange(BoardChange& into, BoardChange later);

// The payload without the blanks and line breaks around it, which no
// command counts.
std::string_view TrimPayload(std::string_view text);

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
