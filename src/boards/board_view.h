#pragma once

// A board as the doors draw it: what its Config.ini holds (as the service
// last read it), what the board shows, whether it is there, and what became
// of the last exchange.
#include "boards/boards_file.h"
#include "boards/status.h"
#include "lines/line_format.h"
#include "settings/keys.h"
#include "settings/profile.h"

#include <array>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumidex {

enum class Availability { Unknown, Online, Offline };

// "online", "offline" or "unknown".
std::string_view AvailabilityName(Availability availability);

// What a board shows: its lines and brightness as it last accepted them
// (from its Config.ini until the first exchange).
struct BoardShown {
    std::array<std::string, kLineCount> lines;
    std::string day;
    std::string night;
    bool operator==(const BoardShown&) const = default;
};

// One line of a board as its settings describe it.
struct BoardLine {
    int number = 0;
    std::string caption;  // "TB1".. as the dialog's caption editor holds it
    bool chosen = true;   // sent in the content frame
    LineFormat format;    // digit count and places as a refresh leaves them
    std::string text;     // as stored ("TD1"..), what the board is to show
    bool flicker = false;
    bool point = false;   // the "9/10" point after the last digit
    std::string pattern;  // a regular expression of the values the line takes
    LineBounds bounds;    // the service's bounds of its values
    // The stale guard: whether it watches the line, whether the line is
    // stale now (shown blank or flickering), when its last value arrived
    // (through any door or a schedule; nothing when none has since the
    // guard began) and since when it is stale.
    bool guarded = false;
    bool stale = false;
    std::optional<std::chrono::sys_seconds> fresh_at;
    std::optional<std::chrono::sys_seconds> stale_since;
};

// What a board's Config.ini holds, from one reading of the file.
struct StoredView {
    std::string update; // "Update in": "Now" or "HH:00"
    std::string day;    // stored day and night brightness, 0..7
    std::string night;
    std::array<BoardLine, kLineCount> lines;
    // The lines' texts as stored ("TD1"..), which is what a content frame
    // built from the file carries.
    std::array<std::string, kLineCount> stored_texts;

    std::array<LineFormat, kLineCount> Formats() const;
    // What the board shows once it has taken these values.
    BoardShown AsShown() const;
};

// Reads what a board's Config.ini holds (within a SettingsFile::Snapshot
// of the caller, from that one reading).
StoredView ReadStoredView(const SettingsFile& settings);

// A board's whole state at one moment.
struct BoardSnapshot {
    std::string name;
    std::vector<std::string> groups;
    Availability availability = Availability::Unknown;
    std::string update;
    std::string day;
    std::string night;
    std::array<BoardLine, kLineCount> lines;
    BoardShown shown;
    std::optional<BoardStatus> last_status;
};

} // namespace lumidex
