#pragma once

// The board service: many boards kept right unattended. It owns each
// board's stored state (its Config.ini), what a board has not yet accepted
// (remembered across restarts and kills), one worker per link (a UDP board
// alone, the boards of one serial port together), the periodic re-assertion
// that is also the liveness probe behind availability, and the events every
// front door (MQTT, HTTP) turns into its own messages. It knows no MQTT and
// no HTTP: a door checks a command with the board rules, hands the change to
// Submit and listens to the events. It takes its clock and the way a board's
// link is made from its caller, so a test drives it in-process.
#include "boards/board_rules.h"
#include "boards/board_setup.h"
#include "boards/board_view.h"
#include "boards/change_body.h"
#include "boards/change_record.h"
#include "boards/boards_file.h"
#include "boards/clock.h"
#include "boards/events.h"
#include "boards/schedule.h"
#include "boards/status.h"
#include "boards/time_zone.h"
#include "settings/file_io.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace lumidex {

// The pause before a failed board is tried again starts here and doubles up
// to kLongestRetryPause; a newer value for the board is sent right after the
// exchange in flight.
inline constexpr std::chrono::seconds kFirstRetryPause{1};
inline constexpr std::chrono::seconds kLongestRetryPause{30};
// A board is offline after this many failed exchanges in a row.
inline constexpr int kFailuresUntilOffline = 2;

// What the service takes from the world; empty members stand for the
// system's own.
struct ServiceWorld {
    ServiceClock* clock = nullptr;                          // SystemServiceClock()
    LinkMaker make_link;                                    // MakeLink
    std::function<ExchangeTiming(const LinkTarget&)> timing; // TimingOf
    // How long a worker waits for a board's settings lock held by another
    // program before it reports the board "locked" and tries again later.
    std::chrono::milliseconds lock_wait = kSettingsLockWait;
    TimeZone* zone = nullptr; // SystemTimeZone()
    // Where every change is recorded; none: nothing is.
    ChangeRecord* record = nullptr;
};

// Who asked for a change and how, for the change record: the person (a
// token's name, "operator"/"admin", "mqtt"), the door ("http", "mqtt",
// "schedule:ID") and what the door was asked.
struct ChangeOrigin {
    std::string who;
    std::string via;
    std::string request;
};

// The service's notes beside the boards file: its schedules, and when it
// last ran (kept at stop and every kRanNoteEvery).
std::filesystem::path SchedulesFileOf(const std::filesystem::path& boards_file);
std::filesystem::path RanNoteOf(const std::filesystem::path& boards_file);
inline constexpr std::chrono::seconds kRanNoteEvery{10};
// The schedules the service keeps beside the boards file (none when there is
// no such file); nothing, and why in `error`, when the file cannot be read
// or is no schedules file. The program refuses to start on it rather than
// lose them.
std::optional<std::vector<Schedule>> ReadSchedulesFile(const std::filesystem::path& boards_file,
                                                       std::string& error);

class BoardService {
public:
    explicit BoardService(BridgeConfig config, ServiceWorld world = {});
    ~BoardService();
    BoardService(const BoardService&) = delete;
    BoardService& operator=(const BoardService&) = delete;

    // The boards file as read at the start (BoardNames for the boards now).
    const BridgeConfig& config() const;

    // Called for every event, on the thread that caused it (a worker, or a
    // door's thread for a stored change or a refusal); an observer must not
    // block for long and must not call Stop. Returns a number for
    // Unsubscribe.
    using Observer = Observers::Observer;
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

    // What a board's lines take, for checking a command: their formats as
    // a settings refresh leaves them (as the service last read its
    // Config.ini) and their bounds; nothing for no such board.
    std::optional<LineRules> Rules(const std::string& board) const;

    // A board's state now; nothing for no such board.
    std::optional<BoardSnapshot> Snapshot(const std::string& board) const;
    // Every board's availability, in the order of the boards file.
    std::vector<std::pair<std::string, Availability>> Availabilities() const;

    // A checked change for a board: what it changes is recorded (with a
    // record), its values are stored at once (in order, durably, under the
    // file's lock, and read back once for what the doors see) and what it
    // sends goes out from the board's worker. `done` (may be empty) is
    // called once, on a worker's thread, with the status of every exchange
    // that carried the change (the first try of each), once the record of it
    // is on the disk; a failed one is then retried without it. A change the
    // record cannot take is refused (nothing stored). False for no such
    // board.
    using Done = ChangeDone;
    bool Submit(const std::string& board, BoardChange change, Done done = {},
                ChangeOrigin origin = {});

    // The recorded changes a reader asks for, each joined with what ended
    // it (JoinRecord); nothing when the service keeps no record.
    std::optional<std::vector<nlohmann::ordered_json>> Record(const RecordQuery& query) const;

    // A command a door refused before anything was stored or sent: reported
    // to every observer as that board's status (or the service's, for an
    // empty board name), dated now. The topic is cut to kMaxEchoedBytes.
    void Refuse(BoardStatus status);

    // The longest the exchanges of a change to this board may take, retries
    // of content included, and a second for the queue before them.
    std::chrono::milliseconds WaitLimit(const std::string& board, const BoardChange& change) const;

    // Changes on time. A schedule is checked when it is made as its change
    // would be checked now (the role, each board's lines; a group's against
    // each member), a one-off in the past is refused (field "at"); it is
    // stored durably beside the boards file and observers get a
    // SchedulesEvent. The schedule as the doors show it, or why not.
    std::variant<nlohmann::ordered_json, BodyRefusal>
    AddSchedule(const nlohmann::ordered_json& body, Role role, const std::string& who);
    // {"schedules": [...]} ordered by when each is next due.
    nlohmann::ordered_json SchedulesJson() const;
    // One schedule; nothing for no such id.
    std::optional<nlohmann::ordered_json> ScheduleJson(const std::string& id) const;
    // Cancels a schedule: 404 for no such id, 403 when the role is not the
    // one its change takes. Nothing, or why not.
    std::optional<BodyRefusal> CancelSchedule(const std::string& id, Role role);

    // Setting boards up without the dialog. One change at a time; each
    // waits for an exchange in flight with the board it moves or removes.
    //
    // A board's set-up as its Config.ini and the boards file hold it now;
    // nothing for no such board.
    std::optional<BoardSetup> Setup(const std::string& board) const;
    // Changes a board's set-up: checked whole first (ApplySetupChange,
    // SetupWrites; nothing is stored on a refusal), its link and groups
    // stored in the boards file, the rest in its Config.ini under the
    // dialog's keys, then the board is re-asserted (content and brightness,
    // owed durably first) over its new link and formats. What it showed and
    // what it still owes stay. Observers get a SetUpEvent. The set-up now,
    // or why not.
    std::variant<BoardSetup, SetupRefusal> ChangeSetup(const std::string& board,
                                                       const SetupChange& change);
    // Adds a board: its name as the boards file takes one (BoardNameProblem,
    // no door's section, none taken without regard to case), its Config.ini
    // NAME.ini in the folder of the first board's (a file already there, a
    // removed board's, is taken up again), made with the dialog's defaults
    // (SettingsRefreshWrites) and the set-up given, and its section added to
    // the boards file. It starts as every board does at a start. Observers
    // get a SetUpEvent (added). The set-up, or why not.
    std::variant<BoardSetup, SetupRefusal> AddBoard(const std::string& name,
                                                    const SetupChange& setup);
    // Removes a board: its section leaves the boards file (its Config.ini
    // and what it owes stay on disk), its worker stops serving it, whoever
    // waits for it is told "not sent", and observers get a RemovedEvent.
    // The last board stays (a boards file needs one). Nothing, or why not.
    std::optional<SetupRefusal> RemoveBoard(const std::string& name);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace lumidex
