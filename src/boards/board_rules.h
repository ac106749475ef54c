#pragma once

#include "boards/boards_file.h"
#include "delivery/delivery.h"
#include "lines/line_format.h"
#include "protocol/frame.h"
#include "settings/keys.h"

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace lumidex {

// What a door may ask to change of a board, one field each (the MQTT topic
// endings "line/N/set", "brightness/day/set", ...; the HTTP API's fields).
enum class ChangeField {
    Line,
    Flicker,
    Point,
    Update,
    DayBrightness,
    NightBrightness,
    Clock,
    Init
};

// The command a field's change is carried by: content (a line, its flags,
// "Update in"), brightness, clock or init.
Command CommandOf(ChangeField field);

// A checked change of a board: the keys to store, in order, and what it
// sends.
struct BoardChange {
    std::vector<std::pair<SettingKey, std::string>> writes;
    Commands sends;
    // For Command::Clock: the time given, or nothing for the service's
    // local time when the frame is built.
    std::optional<ClockTime> clock_time;
};

// What a board's lines take: their formats as a settings refresh leaves
// them, and the service's bounds.
struct LineRules {
    std::array<LineFormat, kLineCount> formats;
    std::array<LineBounds, kLineCount> bounds;
};

// Why a line's value (as the line shows it: `shown`) is outside its
// bounds, in words naming the value as it was typed ("line 1 takes 1.000 to
// 2.500, not 3.328"); nothing when it is inside, or empty (a cleared line).
std::optional<std::string> OutsideBounds(int line, std::string_view shown, std::string_view typed,
                                         const LineBounds& bounds);

// The typed pieces of a change, each checked against the board's line
// rules (as a settings refresh leaves them) before it is added: nothing,
// or why it is refused (and nothing is added). A line is 1..6.
// A line's value: one LineValueFits takes, stored as the line's formatting
// shows it (the empty text clears the line), within the line's bounds.
std::optional<std::string> AddLineValue(BoardChange& change, int line, std::string_view text,
                                        const LineRules& rules);
// A line's flicker or its "9/10" point, on or off.
std::optional<std::string> AddLineFlag(BoardChange& change, ChangeField flag, int line, bool on);
// "Update in": Now or a whole hour HH:00.
std::optional<std::string> AddUpdateTime(BoardChange& change, std::string_view text);
// The day's or the night's brightness (DayBrightness, NightBrightness): 0..7.
std::optional<std::string> AddBrightness(BoardChange& change, ChangeField which, int level);
// A clock calibration: the time given, or nothing for the local time.
void AddClock(BoardChange& change, std::optional<ClockTime> time);
// An initialisation of the control card.
void AddInit(BoardChange& change);

// A field's value as a text (the MQTT door's payloads): a line's value as
// typed, flags 1 or 0, an update time Now or HH:00, a brightness 0..7, a
// clock time "YYYY-MM-DD HH:MM:SS" (or empty or "now"), and an init's
// confirmation INITIALIZE; blanks and line breaks around it do not count.
// The change, or the reason it is refused (nothing stored, nothing sent).
std::variant<BoardChange, std::string>
ChangeFromText(ChangeField field, int line, std::string_view payload, const LineRules& rules);

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
