#pragma once

// The board service: many boards kept right unattended. It owns each
// board's stored state (its Config.ini), what a board has not yet accepted
// (remembered across restarts and kills), one worker per link (a UDP board
// alone, the boards of one serial port together), the periodic re-assertion
// that is also the liveness probe behind availability, and the events every
// front door (MQTT, HTTP) turns into its own messages. It knows no MQTT and
// no HTTP: a door checks a command with the board rules, hands the change to
// Submit and listens to the events.
#include "boards/board_rules.h"
#include "boards/boards_file.h"
#include "settings/keys.h"

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace lumidex {

enum class Availability { Unknown, Online, Offline };

// "online", "offline" or "unknown".
std::string_view AvailabilityName(Availability availability);

// What became of one exchange with a board, or of a command refused before
// anything was stored or sent. Every door shows the same JSON (StatusJson).
struct BoardStatus {
    std::string board;   // empty: a refusal that names no board of the service
    std::string command; // "content", "brightness", "clock", "init" or "unknown"
    std::string result;  // a delivery outcome's name ("accepted" ...) or "refused"
    std::string frame;   // the frame sent, as hex; empty when none was built
    std::string detail;  // why it was not accepted, or what a broadcast means
    std::string topic;   // what was refused: an MQTT topic, an HTTP field
    std::string at;      // when, in UTC: "2026-12-08T10:00:00Z"
};

// The status as one JSON object, its fields in the order above, the empty
// ones left out; text that is not UTF-8 is replaced, never passed on.
std::string StatusJson(const BoardStatus& status);

// The longest topic or field name a status echoes; a longer one is cut.
inline constexpr std::size_t kMaxEchoedBytes = 256;

// What a board shows: its lines and brightness as it last accepted them
// (from its Config.ini until the first exchange).
struct BoardShown {
    std::array<std::string, kLineCount> lines;
    std::string day;
    std::string night;
};

// One line of a board as its settings describe it, for doors that draw it.
struct BoardLine {
    int number = 0;
    std::string caption;  // "TB1".. as the dialog's caption editor holds it
    bool chosen = true;   // sent in the content frame
    LineFormat format;    // digit count and places as a refresh leaves them
    std::string text;     // as stored ("TD1"..), what the board is to show
    bool flicker = false;
    bool point = false;   // the "9/10" point after the last digit
    std::string pattern;  // a regular expression of the values the line takes
};

// A board's whole state at one moment.
struct BoardSnapshot {
    std::string name;
    std::vector<std::string> groups;
    Availability availability = Availability::Unknown;
    std::string update; // "Update in": "Now" or "HH:00"
    std::string day;    // stored day and night brightness, 0..7
    std::string night;
    std::array<BoardLine, kLineCount> lines;
    BoardShown shown;
    std::optional<BoardStatus> last_status;
};

// The events the service tells its observers about: a board's values
// stored (by any door; read them with Snapshot), what it shows after it
// accepted them, a status, a change of availability. Changes the dialog
// makes to a board's Config.ini are not seen until the service sends them.
struct StoredEvent {
    std::string board;
};
struct ShownEvent {
    std::string board;
    BoardShown shown;
};
struct StatusEvent {
    BoardStatus status;
};
struct AvailabilityEvent {
    std::string board;
    Availability availability = Availability::Unknown;
};
using BoardEvent = std::variant<StoredEvent, ShownEvent, StatusEvent, AvailabilityEvent>;

// The pause before a failed board is tried again starts here and doubles up
// to kLongestRetryPause; a newer value for the board is sent right after the
// exchange in flight.
inline constexpr std::chrono::seconds kFirstRetryPause{1};
inline constexpr std::chrono::seconds kLongestRetryPause{30};
// A board is offline after this many failed exchanges in a row.
inline constexpr int kFailuresUntilOffline = 2;

class BoardService {
public:
    explicit BoardService(BridgeConfig config);
    ~BoardService();
    BoardService(const BoardService&) = delete;
    BoardService& operator=(const BoardService&) = delete;

    const BridgeConfig& config() const;

    // Called for every event, on the thread that caused it (a worker, or a
    // door's thread for a refusal); an observer must not block for long and
    // must not call Stop. Returns a number for Unsubscribe.
    using Observer = std::function<void(const BoardEvent&)>;
    int Subscribe(Observer observer);
    void Unsubscribe(int id);

    // Starts the workers: what a board had not accepted when the service
    // last stopped (or was killed) goes out at once, and every board with a
    // refresh interval is re-asserted at once, which also finds out whether
    // it is there.
    void Start();

    // Lets every worker finish the exchange in flight and stops them.
    // Values already stored stay stored and pending; a waiting Submit is
    // told "not sent". Safe to call twice.
    void Stop();

    // The boards in the order of the boards file, and a group's members
    // (empty for no such group).
    std::vector<std::string> BoardNames() const;
    std::vector<std::string> GroupMembers(const std::string& group) const;
    bool HasBoard(const std::string& board) const;

    // A board's line formats as a settings refresh leaves them, for
    // checking a command; nothing for no such board.
    std::optional<std::array<LineFormat, kLineCount>> Formats(const std::string& board) const;

    // A board's state now; nothing for no such board.
    std::optional<BoardSnapshot> Snapshot(const std::string& board) const;
    // Every board's availability, in the order of the boards file.
    std::vector<std::pair<std::string, Availability>> Availabilities() const;
    BoardShown Shown(const std::string& board) const;

    // A checked change for a board: its values are stored at once (in
    // order, durably, under the file's lock) and what it needs is sent by
    // the board's worker. `done` (may be empty) is called once, on a worker's
    // thread, with the status of every exchange that carried the change
    // (content, brightness, clock, init: the first try of each); a failed
    // one is then retried without it. False for no such board.
    using Done = std::function<void(const std::vector<BoardStatus>&)>;
    bool Submit(const std::string& board, BoardChange change, Done done = {});

    // A command a door refused before anything was stored or sent: reported
    // to every observer as that board's status (or the service's, for an
    // empty board name). The topic is cut to kMaxEchoedBytes.
    void Refuse(BoardStatus status);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace lumidex
