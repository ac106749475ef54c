#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumidex {

// How the bridge reaches a board: UDP to the controller address its
// settings hold, or its serial port at its baud rate.
enum class BoardLink { Udp, Serial };

// The least and the most value a line takes (line-N-min and line-N-max, as
// the line shows values); nothing: no bound.
struct LineBounds {
    std::optional<std::string> min;
    std::optional<std::string> max;
    bool operator==(const LineBounds&) const = default;
};

// True for a bound as the boards file takes one: digits with at most one
// point, not at the start or the end ("1.729", "0", "12").
bool IsBoundText(std::string_view text);

// How a stale line is shown: blank, or flickering with its last value.
enum class StaleShow { Blank, Flicker };

// The guard against values whose source stopped (stale-after, stale-lines,
// stale-show): a guarded line with no value for `after` is shown as stale.
struct StaleGuard {
    std::chrono::seconds after{0}; // 0: off
    // The guarded lines 1..6; nothing: every line the content frame sends.
    std::optional<std::vector<int>> lines;
    StaleShow show = StaleShow::Blank;
    bool operator==(const StaleGuard&) const = default;
};

// One board of the boards file.
struct BoardConfig {
    std::string name;               // used in topics: letters, digits, '-' and '_'
    std::filesystem::path settings; // its Config.ini, made absolute
    BoardLink link = BoardLink::Udp;
    std::vector<std::string> groups;
    // The serial port named in its settings at start, for serial boards:
    // boards on one port share it one exchange at a time.
    std::string serial_port;
    // How often the board is re-asserted, when its section says (0: never).
    std::optional<std::chrono::seconds> refresh;
    // Its stale guard ([bridge]'s, each key its section gives replacing
    // that one's) and its lines' bounds.
    StaleGuard stale;
    std::array<LineBounds, 6> bounds;
};

// The keys a door takes in the boards file: in a section of its own
// ("http"), or in the service's [bridge] section beside refresh.
struct DoorKeys {
    std::string_view section;
    std::span<const std::string_view> keys;
};

// A file a door reads, as the boards file names it.
struct DoorFile {
    std::filesystem::path path; // absolute; empty when the file names none
    // Named "credential:NAME": a file the service manager handed over
    // (systemd's LoadCredential=NAME:FILE). It belongs to the service's user
    // and the manager keeps it from everyone else, by an access list that
    // shows as the group's permission (FileUse::Credential).
    bool handed_over = false;
};

// What a door's file key starts with to name a credential.
inline constexpr std::string_view kCredentialPrefix = "credential:";

// A door's keys as the boards file gives them, for the door to read and
// check: each of them the section holds, with its value as written.
struct DoorSection {
    std::filesystem::path file; // the boards file, as it was named
    std::string name;           // the section's name as the file writes it
    std::map<std::string, std::string, std::less<>> values; // by the door's name for the key

    // The key's value; empty when the file does not give it.
    std::string Value(std::string_view key) const;
    // The key's value as a path relative to the boards file's folder, made
    // absolute; empty when the file does not give it.
    std::filesystem::path Path(std::string_view key) const;
    // The key's value as a file: a path as Path() makes it, or, written
    // "credential:NAME", the file NAME in the folder where the service
    // manager hands over credentials ($CREDENTIALS_DIRECTORY). Nothing, with
    // the refusal in `error`, for a credential when the program was given no
    // such folder (it was not started by systemd with LoadCredential=) or
    // NAME is no file name.
    std::optional<DoorFile> File(std::string_view key, std::string& error) const;
    // "FILE: [SECTION] KEY: WHY", the form every refusal of the boards file
    // takes.
    std::string Refusal(std::string_view key, std::string_view why) const;
};

// How often a board is re-asserted unless the boards file says otherwise.
inline constexpr std::chrono::seconds kDefaultRefresh{300};

// The boards file read and checked.
// How many months of change record the service keeps unless told.
inline constexpr int kDefaultRecordMonths = 24;

struct BridgeConfig {
    std::filesystem::path file; // the boards file itself, made absolute
    // [bridge] refresh: every board's re-assertion interval (0: never).
    std::chrono::seconds refresh = kDefaultRefresh;
    // [bridge] stale-after, stale-lines, stale-show: every board's guard
    // unless its section says otherwise.
    StaleGuard stale;
    // [bridge] record, record-months: the change record's folder (a
    // relative one from the boards file's; by default RecordFolderBeside)
    // and how many months of it are kept (1..1200).
    std::filesystem::path record;
    int record_months = kDefaultRecordMonths;
    std::vector<BoardConfig> boards;
    // The doors' keys, unchecked, by the section each door names ("bridge",
    // "http"); a section the file lacks is there without values.
    std::map<std::string, DoorSection, std::less<>> doors;
};

// The change record's folder unless [bridge] names one: "boards-record"
// beside "boards.ini".
std::filesystem::path RecordFolderBeside(const std::filesystem::path& boards_file);

// True for a name usable as one topic level: 1..64 letters, digits, '-'
// and '_'.
bool IsTopicName(const std::string& name);

// Why a name cannot name a board's section: not a topic name (IsTopicName),
// or "group", a topic level of its own; nothing for a name that can.
std::optional<std::string> BoardNameProblem(const std::string& name);

// Reads the boards file with the settings reader. `doors` names the keys
// each door takes; their values are kept for the doors, which read and
// check them. A section a door names is no board, nor is [bridge]. Refuses
// (nothing, and one line in `error` naming the file, the section and the
// key) a file that cannot be read, a key its section may not hold ([bridge]:
// refresh, the stale keys, record, record-months and the doors' keys there; a door's own section:
// that door's keys; a board: settings, link, groups, refresh, the stale keys,
// line-N-min and line-N-max), a section given twice, a refresh
// that is no whole number of seconds 0..86400, a stale-after of no whole
// seconds 0..2592000, stale-lines other than lines 1..6 joined by commas, a
// stale-show other than blank or flicker, a bound that is no value a line
// shows (digits, at most one point inside) or a min above its max, a board section without
// "settings", a bad board or group name, a board named "group" (a topic
// level of its own), a link other than udp or serial, a settings file that
// cannot be read, a UDP board without a controller address and a serial
// board without a port.
std::optional<BridgeConfig> ReadBoardsFile(const std::filesystem::path& file,
                                           const std::vector<DoorKeys>& doors, std::string& error);

} // namespace lumidex
