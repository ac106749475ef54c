#include "boards/service.h"

#include "boards/boards_file_write.h"
#include "boards/worker.h"
#include "lines/line_format.h"
#include "settings/file_io.h"
#include "settings/profile.h"
#include "settings/text_codec.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <shared_mutex>
#include <thread>

namespace lumidex {
namespace {

// How long a door's thread waits for a board's settings lock before it
// leaves the values to the board's worker.
constexpr std::chrono::milliseconds kDoorLockWait{100};

// What a board owes after the change, of what the pending file remembers.
Commands Remembered(Commands sends) {
    Commands owed;
    for (const Command command : {Command::Content, Command::Brightness}) {
        if (sends.Has(command)) {
            owed.Add(command);
        }
    }
    return owed;
}

// The lines a change gives a value (its writes of a line's text).
std::array<bool, kLineCount> LinesGiven(const BoardChange& change) {
    std::array<bool, kLineCount> given{};
    for (const auto& [key, value] : change.writes) {
        for (std::size_t i = 0; i < kLineCount; ++i) {
            given[i] = given[i] || (key.section == keys::kLineText[i].section &&
                                    key.name == keys::kLineText[i].name);
        }
    }
    return given;
}

// How the record names a stale line's look.
std::string ShowName(StaleShow show) {
    return show == StaleShow::Blank ? "blank" : "flicker";
}

SysSeconds Seconds(std::chrono::system_clock::time_point t) {
    return std::chrono::floor<std::chrono::seconds>(t);
}

// How often the schedules' next moments are worked out again, the zone's
// setting read again: a changed system clock or zone is taken up within it.
constexpr std::chrono::seconds kScheduleRecheck{60};
// How often the record's months past the kept ones are looked for.
constexpr std::chrono::hours kRecordPruneEvery{1};
// How many threads store a schedule's change in its boards' files at once.
constexpr std::size_t kApplyThreads = 16;

// A schedule the service keeps, with what it works out from it: the moment
// after which its occurrences count, and when it is next due.
struct KeptSchedule {
    Schedule schedule;
    SysSeconds from{};
    std::optional<SysSeconds> next;
};

} // namespace

std::filesystem::path SchedulesFileOf(const std::filesystem::path& boards_file) {
    return boards_file.parent_path() / ("." + boards_file.filename().string() + ".schedules");
}

std::filesystem::path RanNoteOf(const std::filesystem::path& boards_file) {
    return boards_file.parent_path() / ("." + boards_file.filename().string() + ".ran");
}

std::optional<std::vector<Schedule>> ReadSchedulesFile(const std::filesystem::path& boards_file,
                                                       std::string& error) {
    const std::filesystem::path file = SchedulesFileOf(boards_file);
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) {
        return std::vector<Schedule>{};
    }
    std::string why;
    const auto bytes = ReadWholeFile(file, &why);
    if (!bytes) {
        error = file.string() + ": cannot read the schedules: " + why;
        return std::nullopt;
    }
    auto schedules = ParseSchedulesFile(std::string_view(
                                            reinterpret_cast<const char*>(bytes->data()), bytes->size()),
                                        why);
    if (!schedules) {
        error = file.string() + ": " + why;
    }
    return schedules;
}

struct BoardService::Impl {
    BridgeConfig config;
    ServiceShared shared;
    // One set-up change, start or stop at a time.
    std::mutex changes;
    // The boards and workers below, each board's worker and its config:
    // read under a shared lock, changed under an exclusive one, which is
    // never held while waiting for a worker or calling an observer.
    mutable std::shared_mutex structure;
    std::vector<std::shared_ptr<Board>> boards;
    std::vector<std::shared_ptr<Worker>> workers;
    std::atomic<bool> running{false};

    // The schedules, and the timekeeper that runs them and watches the
    // stale guards. The schedule mutex is never held while the service
    // stores, sends or tells observers.
    TimeZone& zone;
    mutable std::mutex schedule_mutex;
    std::condition_variable schedule_wake;
    std::vector<KeptSchedule> schedules;
    // False when the schedules file could not be read at the start: it is
    // then never overwritten.
    bool schedules_usable = true;
    bool keeping = false;
    // Something changed that the timekeeper's next moment may depend on (a
    // schedule made or cancelled, a fresh value for a guarded line).
    bool recheck = false;
    std::thread timekeeper;

    Impl(BridgeConfig c, ServiceWorld world)
        : config(std::move(c)), shared{world.clock != nullptr ? *world.clock : SystemServiceClock(),
                                       DeliveryOptions{
                                           std::move(world.make_link), std::move(world.timing), {}},
                                       world.lock_wait,
                                       world.record,
                                       {},
                                       {}},
          zone(world.zone != nullptr ? *world.zone : SystemTimeZone()) {}

    SysSeconds WallNow() const { return Seconds(shared.clock.WallNow()); }

    std::optional<LineRules> Rules(const std::string& name) const {
        const auto board = Find(name);
        if (board == nullptr) {
            return std::nullopt;
        }
        LineRules rules;
        rules.bounds = board->config.bounds;
        std::lock_guard lock(shared.state_mutex);
        rules.formats = board->stored.Formats();
        return rules;
    }

    // ---- Schedules ----

    // Has the timekeeper work out its next moment again.
    void Recheck() {
        {
            std::lock_guard lock(schedule_mutex);
            recheck = true;
        }
        schedule_wake.notify_all();
    }

    // Under the schedule mutex.
    bool StoreSchedulesLocked() {
        if (!schedules_usable) {
            return false;
        }
        std::vector<Schedule> all;
        for (const KeptSchedule& kept : schedules) {
            all.push_back(kept.schedule);
        }
        return ReplaceFileDurably(SchedulesFileOf(config.file), SchedulesFileText(all));
    }

    // Under the schedule mutex: the list ordered by when each is next due.
    nlohmann::ordered_json ListJsonLocked() const {
        std::vector<const KeptSchedule*> order;
        for (const KeptSchedule& kept : schedules) {
            order.push_back(&kept);
        }
        std::stable_sort(order.begin(), order.end(), [](const KeptSchedule* a, const KeptSchedule* b) {
            const auto never = SysSeconds::max();
            return a->next.value_or(never) < b->next.value_or(never);
        });
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const KeptSchedule* kept : order) {
            list.push_back(lumidex::ScheduleJson(kept->schedule, zone, kept->next));
        }
        return nlohmann::ordered_json{{"schedules", std::move(list)}};
    }

    void EmitSchedules() {
        std::string text;
        {
            std::lock_guard lock(schedule_mutex);
            text = ListJsonLocked().dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        }
        shared.observers.Emit(SchedulesEvent{std::move(text)});
    }

    // The change a schedule makes of one board, checked against its lines
    // now; the refusal's field names the board for a group ("hall.set.lines.1").
    std::variant<BoardChange, BodyRefusal> ChangeFor(const Schedule& schedule,
                                                     const std::string& board, Role role) const {
        BoardChange change;
        if (schedule.clock) {
            AddClock(change, std::nullopt);
            return change;
        }
        const auto rules = Rules(board);
        if (!rules) {
            return Unprocessable("no board " + board, schedule.board.empty() ? "group" : "board");
        }
        auto checked = ChangeFromBody(schedule.set, *rules, role);
        if (auto* refusal = std::get_if<BodyRefusal>(&checked)) {
            const std::string prefix = schedule.board.empty() ? board + ".set" : "set";
            refusal->field = refusal->field.empty() ? prefix : prefix + "." + refusal->field;
        }
        return checked;
    }

    std::vector<std::string> Targets(const Schedule& schedule) const {
        if (!schedule.board.empty()) {
            return HasBoardNamed(schedule.board) ? std::vector{schedule.board}
                                                 : std::vector<std::string>{};
        }
        return GroupMembers(schedule.group);
    }

    std::vector<std::string> GroupMembers(const std::string& group) const {
        std::shared_lock lock(structure);
        std::vector<std::string> names;
        for (const auto& board : boards) {
            const auto& groups = board->config.groups;
            if (std::find(groups.begin(), groups.end(), group) != groups.end()) {
                names.push_back(board->config.name);
            }
        }
        return names;
    }

    bool HasBoardNamed(const std::string& name) const { return Find(name) != nullptr; }

    std::variant<nlohmann::ordered_json, BodyRefusal> AddSchedule(const nlohmann::ordered_json& body,
                                                                  Role role, const std::string& who) {
        auto read = ScheduleFromBody(body, role);
        if (auto* refusal = std::get_if<BodyRefusal>(&read)) {
            return std::move(*refusal);
        }
        Schedule schedule = std::get<Schedule>(std::move(read));
        const std::vector<std::string> targets = Targets(schedule);
        if (targets.empty()) {
            return schedule.board.empty()
                       ? Unprocessable("no board is in group " + schedule.group, "group")
                       : Unprocessable("no board " + schedule.board, "board");
        }
        for (const std::string& board : targets) {
            auto change = ChangeFor(schedule, board, role);
            if (auto* refusal = std::get_if<BodyRefusal>(&change)) {
                return std::move(*refusal);
            }
        }
        const SysSeconds now = WallNow();
        if (schedule.at && FromLocal(zone, *schedule.at) <= now) {
            return Unprocessable("at " + LocalDateTimeText(*schedule.at) +
                                     " has passed (the service's local time is " +
                                     LocalDateTimeText(ToLocal(zone, now)) + ")",
                                 "at");
        }
        schedule.id = NewScheduleId();
        schedule.created_by = who;
        schedule.created_at = now;
        nlohmann::ordered_json made;
        {
            std::lock_guard lock(schedule_mutex);
            if (!schedules_usable) {
                return BodyRefusal{500, "the schedules file could not be read at the start; it is "
                                        "left as it is and takes no new schedule", ""};
            }
            if (schedules.size() >= kMaxSchedules) {
                return Unprocessable("the service keeps at most " + std::to_string(kMaxSchedules) +
                                         " schedules; cancel one first",
                                     "");
            }
            KeptSchedule kept{schedule, now, NextDue(schedule, zone, now)};
            schedules.push_back(kept);
            if (!StoreSchedulesLocked()) {
                schedules.pop_back();
                return BodyRefusal{500, "cannot store the schedules in " +
                                            SchedulesFileOf(config.file).string(), ""};
            }
            made = lumidex::ScheduleJson(kept.schedule, zone, kept.next);
        }
        Recheck();
        EmitSchedules();
        return made;
    }

    std::optional<BodyRefusal> CancelSchedule(const std::string& id, Role role) {
        {
            std::lock_guard lock(schedule_mutex);
            const auto found = std::find_if(schedules.begin(), schedules.end(),
                                            [&](const KeptSchedule& k) { return k.schedule.id == id; });
            if (found == schedules.end()) {
                return BodyRefusal{404, "no schedule " + id, ""};
            }
            if (found->schedule.role == Role::Admin && role != Role::Admin) {
                return BodyRefusal{403, "only an admin may cancel this schedule", ""};
            }
            const KeptSchedule removed = *found;
            schedules.erase(found);
            if (!StoreSchedulesLocked()) {
                schedules.push_back(removed);
                return BodyRefusal{500, "cannot store the schedules in " +
                                            SchedulesFileOf(config.file).string(), ""};
            }
        }
        Recheck();
        EmitSchedules();
        return std::nullopt;
    }

    // What a run of a schedule gathers: the statuses of every board, kept
    // as its last run once the last has reported.
    struct RunState {
        std::mutex mutex;
        std::string id;
        SysSeconds at{};
        nlohmann::ordered_json statuses = nlohmann::ordered_json::array();
        std::size_t waiting = 0;
    };

    void Finished(const std::shared_ptr<RunState>& run) {
        {
            std::lock_guard lock(schedule_mutex);
            const auto found = std::find_if(schedules.begin(), schedules.end(),
                                            [&](const KeptSchedule& k) { return k.schedule.id == run->id; });
            if (found == schedules.end()) {
                return; // a one-off, gone from the list; or cancelled meanwhile
            }
            found->schedule.last_run = ScheduleRun{run->at, run->statuses};
            StoreSchedulesLocked();
        }
        EmitSchedules();
    }

    void Report(const std::shared_ptr<RunState>& run, const std::vector<BoardStatus>& statuses) {
        bool last = false;
        {
            std::lock_guard lock(run->mutex);
            for (const BoardStatus& status : statuses) {
                run->statuses.push_back(StatusJson(status));
            }
            last = --run->waiting == 0;
        }
        if (last) {
            Finished(run);
        }
    }

    // Applies a schedule's change as if it were posted now: each board it
    // names now is checked again (a board whose lines no longer take it is
    // refused, the others go), its values stored and sent. Boards are
    // served by several threads at once: each value is stored with durable
    // writes before it is sent, and a hundred boards one after another
    // would start their exchanges up to seconds late.
    void Apply(const Schedule& schedule) {
        const std::vector<std::string> targets = Targets(schedule);
        auto run = std::make_shared<RunState>();
        run->id = schedule.id;
        run->at = WallNow();
        run->waiting = targets.size() + 1; // and this call, to the end
        std::atomic<std::size_t> next{0};
        const auto serve = [&] {
            for (std::size_t i = next++; i < targets.size(); i = next++) {
                ApplyTo(schedule, targets[i], run);
            }
        };
        std::vector<std::thread> helpers;
        const std::size_t threads = std::min<std::size_t>(targets.size(), kApplyThreads);
        for (std::size_t k = 1; k < threads; ++k) {
            helpers.emplace_back(serve);
        }
        serve();
        for (std::thread& helper : helpers) {
            helper.join();
        }
        Report(run, {});
    }

    void ApplyTo(const Schedule& schedule, const std::string& board,
                 const std::shared_ptr<RunState>& run) {
        auto change = ChangeFor(schedule, board, Role::Admin);
        if (auto* refusal = std::get_if<BodyRefusal>(&change)) {
            BoardStatus status;
            status.board = board;
            status.command = schedule.clock ? Command::Clock : Command::Content;
            status.detail = "schedule " + schedule.id + ": " + refusal->error;
            status.topic = refusal->field;
            Refuse(status);
            Report(run, {std::move(status)});
            return;
        }
        const ChangeOrigin origin{schedule.created_by, "schedule:" + schedule.id,
                                  "schedule " + schedule.id + " " +
                                      (schedule.clock ? std::string("clock") : schedule.set.dump())};
        if (!Submit(board, std::get<BoardChange>(std::move(change)),
                    [this, run](const std::vector<BoardStatus>& statuses) { Report(run, statuses); }, origin)) {
            Report(run, {});
        }
    }

    void Refuse(BoardStatus status) {
        status.topic = CutWithEllipsis(std::move(status.topic), kMaxEchoedBytes);
        status.result = StatusResult::Refused;
        status.at = shared.clock.WallNow();
        const auto board = Find(status.board);
        shared.Report(board.get(), std::move(status));
    }

    // Runs what is due at `now`, in the order of the moments they fell due
    // (of several for one field, the latest wins), and works out when each
    // is next due.
    void RunDue(SysSeconds now) {
        std::vector<std::pair<SysSeconds, Schedule>> due;
        bool changed = false;
        {
            std::lock_guard lock(schedule_mutex);
            for (auto it = schedules.begin(); it != schedules.end();) {
                it->next = NextDue(it->schedule, zone, it->from);
                if (!it->next || *it->next > now) {
                    ++it;
                    continue;
                }
                changed = true;
                if (it->schedule.at) {
                    due.emplace_back(*it->next, it->schedule);
                    it = schedules.erase(it);
                    continue;
                }
                // The latest occurrence since it last counted, once.
                const auto latest = LatestDaily(zone, *it->schedule.daily, it->from, now);
                const SysSeconds when = latest.value_or(*it->next);
                it->schedule.last_due = when;
                it->from = now;
                it->next = NextDue(it->schedule, zone, now);
                due.emplace_back(when, it->schedule);
                ++it;
            }
            if (changed) {
                StoreSchedulesLocked();
            }
        }
        if (!changed) {
            return;
        }
        std::stable_sort(due.begin(), due.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [when, schedule] : due) {
            Apply(schedule);
        }
        EmitSchedules();
    }

    // ---- The stale guard ----

    // Lines whose value is older than the guard allows go stale now (their
    // boards are sent their content again); the next moment one will.
    std::optional<SysSeconds> CheckStale(SysSeconds now) {
        std::vector<std::shared_ptr<Board>> all;
        {
            std::shared_lock lock(structure);
            all = boards;
        }
        std::optional<SysSeconds> soonest;
        for (const auto& board : all) {
            std::vector<RecordedChange> went;
            {
                std::lock_guard lock(shared.state_mutex);
                for (std::size_t i = 0; i < kLineCount; ++i) {
                    if (!board->Guarded(i) || board->stale[i] || !board->fresh_at[i]) {
                        continue;
                    }
                    const SysSeconds limit = *board->fresh_at[i] + board->config.stale.after;
                    if (limit <= now) {
                        board->stale[i] = true;
                        went.push_back({board->config.name, "stale." + std::to_string(i + 1), "fresh",
                                        ShowName(board->config.stale.show), "service", "stale",
                                        "no value for line " + std::to_string(i + 1) + " since " +
                                            IsoUtc(*board->fresh_at[i])});
                    } else if (!soonest || limit < *soonest) {
                        soonest = limit;
                    }
                }
            }
            if (went.empty()) {
                continue;
            }
            std::vector<OpenChange> opened;
            if (shared.record != nullptr) {
                // The board shows the line stale whether or not the record
                // takes it: the guard is what keeps a wrong value off it.
                if (const auto appended = shared.RecordChanges(went)) {
                    for (std::size_t i = 0; i < went.size(); ++i) {
                        opened.push_back({appended->first + i, went[i].field, Command::Content, 0});
                    }
                }
            }
            {
                std::shared_lock structure_lock(structure);
                if (board->worker != nullptr) {
                    std::lock_guard lock(board->worker->mutex);
                    Due(*board, Commands{Command::Content});
                    for (OpenChange& open : opened) {
                        open.generation = board->generation;
                        board->open.push_back(std::move(open));
                    }
                    board->worker->wake.notify_one();
                }
            }
            shared.observers.Emit(FreshnessEvent{shared.Snapshot(*board)});
        }
        return soonest;
    }

    // A guarded line with no known value time starts fresh now: the guard
    // counts from its first start.
    void StartGuards(Board& board, SysSeconds now) {
        BoardStore::FreshTimes begun;
        {
            std::lock_guard lock(shared.state_mutex);
            board.fresh_at = board.store.Fresh();
            for (std::size_t i = 0; i < kLineCount; ++i) {
                if (board.Guarded(i) && !board.fresh_at[i]) {
                    board.fresh_at[i] = now;
                    begun[i] = now;
                }
                board.stale[i] = board.Guarded(i) && board.fresh_at[i] &&
                                 *board.fresh_at[i] + board.config.stale.after <= now;
            }
        }
        board.store.NoteFresh(begun);
    }

    // ---- The timekeeper ----

    void WriteRanNote(SysSeconds now) {
        ReplaceFileDurably(RanNoteOf(config.file), IsoUtc(now) + "\n");
    }

    std::optional<SysSeconds> ReadRanNote() const {
        const auto bytes = ReadWholeFile(RanNoteOf(config.file), nullptr);
        if (!bytes) {
            return std::nullopt;
        }
        std::string text(bytes->begin(), bytes->end());
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        return ParseIsoUtc(text);
    }

    // Where each schedule's occurrences count from at a start: a daily
    // schedule's latest occurrence since the service last ran (on a first
    // start, in the last day) is still to be applied, never one it applied
    // already; a one-off that fell due meanwhile is simply due.
    void CountFromStart(SysSeconds now) {
        const auto ran = ReadRanNote();
        std::lock_guard lock(schedule_mutex);
        for (KeptSchedule& kept : schedules) {
            SysSeconds from = ran.value_or(now - std::chrono::hours{24});
            if (kept.schedule.last_due && *kept.schedule.last_due > from) {
                from = *kept.schedule.last_due;
            }
            kept.from = std::min(from, now);
        }
    }

    void Keep() {
        std::unique_lock lock(schedule_mutex);
        SysSeconds noted{};
        SysSeconds reloaded{};
        SysSeconds pruned{};
        while (keeping) {
            lock.unlock();
            SysSeconds now = WallNow();
            if (now - reloaded >= kScheduleRecheck || now < reloaded) {
                zone.Reload();
                reloaded = now;
            }
            if (shared.record != nullptr && (now - pruned >= kRecordPruneEvery || now < pruned)) {
                shared.record->Prune(now);
                pruned = now;
            }
            RunDue(now);
            const auto stale = CheckStale(now);
            if (now - noted >= kRanNoteEvery || now < noted) {
                WriteRanNote(now);
                noted = now;
            }
            lock.lock();
            if (!keeping) {
                break;
            }
            if (std::exchange(recheck, false)) {
                continue;
            }
            // Up to the next moment something is due, a note or a recheck.
            SysSeconds until = std::min({noted + kRanNoteEvery, reloaded + kScheduleRecheck});
            if (stale) {
                until = std::min(until, *stale);
            }
            for (const KeptSchedule& kept : schedules) {
                if (const auto next = NextDue(kept.schedule, zone, kept.from)) {
                    until = std::min(until, *next);
                }
            }
            const auto wait = std::max(until - Seconds(shared.clock.WallNow()), std::chrono::seconds{0});
            // The wall clock runs on whole seconds here: a moment is reached
            // once the second it names has begun.
            const auto fraction = shared.clock.WallNow() - Seconds(shared.clock.WallNow());
            shared.clock.WaitUntil(schedule_wake, lock,
                                   shared.clock.Now() + wait -
                                       std::chrono::duration_cast<std::chrono::steady_clock::duration>(fraction));
        }
    }

    // Under the structure lock.
    std::shared_ptr<Board> FindLocked(const std::string& name) const {
        for (const auto& board : boards) {
            if (board->config.name == name) {
                return board;
            }
        }
        return nullptr;
    }

    std::shared_ptr<Board> Find(const std::string& name) const {
        std::shared_lock lock(structure);
        return FindLocked(name);
    }

    // A new board's state as a start leaves it: what it showed (kept beside
    // its file; at its very first start, what its Config.ini holds).
    void Prepare(Board& board) {
        board.refresh = board.config.refresh.value_or(config.refresh);
        shared.Reread(board);
        if (const auto shown = board.store.Shown()) {
            board.shown = *shown;
        } else {
            board.shown = board.stored.AsShown();
            board.store.RememberShown(board.shown);
        }
        StartGuards(board, WallNow());
        std::lock_guard lock(shared.state_mutex);
        board.known = RecordedValues(board.stored);
    }

    // Puts the board on its worker: a UDP board on one of its own, a serial
    // board on its port's. Under the exclusive structure lock; the worker
    // made for it, if any.
    std::shared_ptr<Worker> Place(Board* board) {
        Worker* worker = nullptr;
        if (board->config.link == BoardLink::Serial) {
            for (const auto& w : workers) {
                if (std::any_of(w->boards.begin(), w->boards.end(), [&](const Board* b) {
                        return b != board && b->config.link == BoardLink::Serial &&
                               b->config.serial_port == board->config.serial_port;
                    })) {
                    worker = w.get();
                    break;
                }
            }
        }
        std::shared_ptr<Worker> made;
        if (worker == nullptr) {
            made = std::make_shared<Worker>();
            workers.push_back(made);
            worker = made.get();
        }
        std::lock_guard lock(worker->mutex);
        worker->boards.push_back(board);
        board->worker = worker;
        board->retiring = false;
        return made;
    }

    // The changes a crash left without an outcome, by board (with a
    // record): the last month's and this one's. Under the structure lock.
    std::map<std::string, std::vector<OpenChange>> UnendedAtStart() const {
        if (shared.record == nullptr) {
            return {};
        }
        std::map<std::string, FieldValues> values;
        for (const auto& board : boards) {
            values[board->config.name] = board->known;
        }
        const auto since = WallNow() - std::chrono::days{31};
        return UnendedChanges(ReadRecord(shared.record->folder(), since), values);
    }

    // What a board owes goes out at once and a board with a refresh
    // interval is re-asserted at once. Under the board's worker's mutex.
    void Starting(Board& board, ServiceClock::TimePoint now) {
        board.due |= board.store.Owed();
        {
            // A line that went stale while the service was down is blanked
            // at once.
            std::lock_guard lock(shared.state_mutex);
            if (std::any_of(board.stale.begin(), board.stale.end(), [](bool s) { return s; })) {
                board.due.Add(Command::Content);
            }
        }
        if (board.refresh.count() > 0) {
            board.refresh_at = now;
        }
    }

    void Run(Worker* worker) {
        worker->stopping = false;
        worker->thread = std::thread([this, worker] { worker->Run(shared); });
    }

    static void StopWorker(Worker& worker) {
        {
            std::lock_guard lock(worker.mutex);
            worker.stopping = true;
        }
        worker.wake.notify_one();
        if (worker.thread.joinable()) {
            worker.thread.join();
        }
    }

    // Waits until the board's worker has no exchange with it in flight and
    // no longer takes it up. Holds no structure lock: the exchange's events
    // reach observers that may read the service.
    static void Retire(Board& board) {
        Worker& worker = *board.worker;
        std::unique_lock lock(worker.mutex);
        board.retiring = true;
        worker.idle.wait(lock, [&] { return !board.in_flight; });
    }

    // Takes a retired board off its worker; the worker, when it serves no
    // board any more, for the caller to stop. Under the exclusive
    // structure lock.
    std::shared_ptr<Worker> Detach(Board& board) {
        Worker* worker = board.worker;
        {
            std::lock_guard lock(worker->mutex);
            std::erase(worker->boards, &board);
        }
        board.worker = nullptr;
        if (!worker->boards.empty()) {
            return nullptr;
        }
        const auto found = std::find_if(workers.begin(), workers.end(),
                                        [&](const auto& w) { return w.get() == worker; });
        std::shared_ptr<Worker> emptied = *found;
        workers.erase(found);
        return emptied;
    }

    // The board is to be sent what `sends` names right away: after the
    // exchange in flight, whatever pause a failure would have asked for.
    // Under the board's worker's mutex.
    static void Due(Board& board, Commands sends) {
        board.due |= sends;
        ++board.generation;
        if (board.in_flight) {
            board.newer_during_flight = true;
        } else {
            board.retry_at = {};
        }
    }

    bool Submit(const std::string& name, BoardChange change, Done done, const ChangeOrigin& origin) {
        const std::shared_ptr<Board> board = Find(name);
        if (board == nullptr) {
            return false;
        }
        const bool stores = !change.writes.empty();
        const std::array<bool, kLineCount> given = LinesGiven(change);
        // Recorded before anything is stored; one change of a board at a
        // time, so that each one's old values are the ones before it.
        std::unique_lock record_lock(board->record_mutex, std::defer_lock);
        std::vector<OpenChange> opened;
        if (shared.record != nullptr) {
            record_lock.lock();
            auto recorded = RecordChange(*board, change, origin, given);
            if (!recorded) {
                BoardStatus status = NotSent(*board, change.sends, "the change record cannot be written, "
                                                                   "so the change is not taken");
                status.result = StatusResult::Refused;
                if (done) {
                    done({status});
                } else {
                    shared.Report(board.get(), std::move(status));
                }
                return true;
            }
            if (!recorded->empty()) {
                const std::uint64_t last = recorded->back().seq;
                opened = std::move(*recorded);
                if (done) {
                    // Answered once the record of it is on the disk.
                    done = [record = shared.record, last, board, inner = std::move(done),
                            this](std::vector<BoardStatus> statuses) {
                        if (!record->WaitDurable(last)) {
                            BoardStatus status = NotSent(*board, {}, "the change record could not be "
                                                                     "brought to the disk");
                            status.result = StatusResult::Refused;
                            statuses.push_back(std::move(status));
                        }
                        inner(statuses);
                    };
                }
            }
        }
        // A door's thread waits only briefly; the worker waits out the whole
        // lock wait for what is left.
        board->store.Take(Remembered(change.sends), std::move(change.writes),
                          std::min(kDoorLockWait, shared.lock_wait));
        if (record_lock.owns_lock()) {
            record_lock.unlock();
        }
        if (stores) {
            shared.Reread(*board);
            if (shared.Freshen(*board, given)) {
                Recheck(); // its limit moved on
            }
            shared.observers.Emit(StoredEvent{shared.Snapshot(*board)});
        }
        auto waiter = std::make_shared<Waiter>();
        waiter->done = std::move(done);
        waiter->needs = change.sends;
        Worker* worker = nullptr;
        {
            std::shared_lock structure_lock(structure);
            worker = board->worker;
            if (worker != nullptr) {
                std::lock_guard lock(worker->mutex);
                Due(*board, change.sends);
                for (OpenChange& open : opened) {
                    open.generation = board->generation;
                    board->open.push_back(std::move(open));
                }
                if (change.sends.Has(Command::Clock)) {
                    board->clock_time = change.clock_time;
                }
                if (waiter->done && !change.sends.Empty()) {
                    board->waiters.push_back(waiter);
                }
                worker->wake.notify_one();
            }
        }
        if (worker == nullptr && waiter->done && !change.sends.Empty()) {
            // Removed meanwhile: its values are stored in its kept file.
            waiter->done({NotSent(*board, change.sends, "the board was removed")});
        } else if (waiter->done && change.sends.Empty()) {
            waiter->done({}); // the values are stored, which is all there is to do
        }
        return true;
    }

    // Records a change about to be taken, under the board's record mutex:
    // values changed under the service first (via "file"), then each field
    // the change sets to something new, then each stale line the change's
    // value makes fresh again. The changes appended, still open; nothing
    // when the record cannot take them.
    std::optional<std::vector<OpenChange>> RecordChange(Board& board, const BoardChange& change,
                                                        const ChangeOrigin& origin,
                                                        const std::array<bool, kLineCount>& given) {
        const SettingsFile settings(board.config.settings);
        StoredView stored;
        {
            const SettingsFile::Snapshot once(settings);
            stored = ReadStoredView(settings);
        }
        std::vector<OpenChange> opened;
        const FieldValues now = shared.NoteFileChanges(board, stored, opened);
        std::vector<RecordedChange> changes = FieldChanges(board.config.name, change, now);
        {
            std::lock_guard lock(shared.state_mutex);
            for (std::size_t i = 0; i < kLineCount; ++i) {
                if (given[i] && board.stale[i] && board.Guarded(i)) {
                    changes.push_back({board.config.name, "stale." + std::to_string(i + 1),
                                       ShowName(board.config.stale.show), "fresh", {}, "stale",
                                       {}});
                }
            }
        }
        for (RecordedChange& recorded : changes) {
            recorded.who = origin.who;
            if (recorded.via.empty()) {
                recorded.via = origin.via;
            }
            recorded.request = origin.request;
        }
        if (changes.empty()) {
            return opened;
        }
        const auto appended = shared.RecordChanges(changes);
        if (!appended) {
            return std::nullopt;
        }
        for (std::size_t i = 0; i < changes.size(); ++i) {
            opened.push_back({appended->first + i, changes[i].field, CommandOfField(changes[i].field), 0});
            if (!changes[i].field.starts_with("stale.")) {
                board.known[changes[i].field] = changes[i].new_value;
            }
        }
        return opened;
    }

    BoardStatus NotSent(const Board& board, Commands needs, std::string why) const {
        BoardStatus status;
        status.board = board.config.name;
        status.command = needs.First();
        status.result = StatusResult::NotSent;
        status.detail = std::move(why);
        status.at = shared.clock.WallNow();
        return status;
    }

    // Tells whoever waits for the board that nothing more goes out now.
    void TellWaiters(std::list<std::shared_ptr<Waiter>> waiting, const Board& board,
                     const std::string& why) {
        for (const auto& waiter : waiting) {
            waiter->statuses.push_back(NotSent(board, waiter->needs, why));
            waiter->done(waiter->statuses);
        }
    }

    // Whoever still waits hears that nothing more goes out now; what was
    // stored stays pending for the next start.
    void TellWaitersNotSent() {
        std::vector<std::pair<std::shared_ptr<Board>, std::list<std::shared_ptr<Waiter>>>> all;
        {
            std::shared_lock structure_lock(structure);
            for (const auto& board : boards) {
                std::lock_guard lock(board->worker->mutex);
                all.emplace_back(board, std::move(board->waiters));
                board->waiters.clear();
            }
        }
        for (auto& [board, waiting] : all) {
            TellWaiters(std::move(waiting), *board,
                        "the service is stopping; the values are stored and go out when it "
                        "starts again");
        }
    }

    // Moves a board to the worker of its new link (a UDP board's own, or
    // its serial port's), once the exchange in flight with it is over.
    void Relink(const std::shared_ptr<Board>& board, BoardLink link, const std::string& port) {
        Retire(*board);
        std::shared_ptr<Worker> emptied;
        Worker* worker = nullptr;
        {
            std::unique_lock lock(structure);
            emptied = Detach(*board);
            board->config.link = link;
            board->config.serial_port = link == BoardLink::Serial ? port : std::string();
            const std::shared_ptr<Worker> made = Place(board.get());
            worker = board->worker;
            if (made && running) {
                Run(made.get());
            }
        }
        if (emptied) {
            StopWorker(*emptied);
        }
        worker->wake.notify_one();
    }

    std::variant<BoardSetup, SetupRefusal> ChangeSetup(const std::string& name,
                                                       const SetupChange& change);
    std::variant<BoardSetup, SetupRefusal> AddBoard(const std::string& name,
                                                    const SetupChange& change);
    std::optional<SetupRefusal> RemoveBoard(const std::string& name);
};

namespace {

SetupRefusal WriteRefusal(WriteOutcome outcome, const std::filesystem::path& file) {
    if (outcome == WriteOutcome::Locked) {
        return {SetupRefusal::Kind::Locked, LockedReason(file) + "; nothing was changed", ""};
    }
    return {SetupRefusal::Kind::Failed, "cannot write " + file.string() + "; nothing was changed",
            ""};
}

std::string JoinGroups(const std::vector<std::string>& groups) {
    std::string joined;
    for (const std::string& group : groups) {
        joined += (joined.empty() ? "" : ",") + group;
    }
    return joined;
}

std::vector<SettingWrite> AsWrites(const SettingWrites& writes) {
    std::vector<SettingWrite> all;
    for (const auto& [key, value] : writes) {
        all.push_back({key.section, key.name, value});
    }
    return all;
}

// What a set-up change makes of `before`, and the writes that store it in
// the board's Config.ini; the refusal when the change or its writes are
// refused.
struct PlannedSetup {
    BoardSetup after;
    SettingWrites writes;
};

std::variant<PlannedSetup, SetupRefusal> PlanSetup(const SettingsFile& settings,
                                                   const BoardSetup& before,
                                                   const SetupChange& change) {
    auto applied = ApplySetupChange(before, change);
    if (auto* refusal = std::get_if<SetupRefusal>(&applied)) {
        return std::move(*refusal);
    }
    PlannedSetup planned{std::get<BoardSetup>(std::move(applied)), {}};
    auto written = SetupWrites(settings, before, planned.after);
    if (auto* refusal = std::get_if<SetupRefusal>(&written)) {
        return std::move(*refusal);
    }
    planned.writes = std::get<SettingWrites>(std::move(written));
    return planned;
}

} // namespace

std::variant<BoardSetup, SetupRefusal> BoardService::Impl::ChangeSetup(const std::string& name,
                                                                       const SetupChange& change) {
    std::lock_guard changing(changes);
    const std::shared_ptr<Board> board = Find(name);
    if (board == nullptr) {
        return SetupRefusal{SetupRefusal::Kind::NoBoard, "no board " + name, ""};
    }
    // Only set-up changes, which hold `changes`, write the config.
    const BoardConfig was = board->config;
    const SettingsFile settings(was.settings);
    // Values still waiting for the file's lock are stored first: the line
    // texts are brought into new formats from the file.
    if (!board->store.Flush(shared.lock_wait)) {
        return WriteRefusal(WriteOutcome::Locked, was.settings);
    }
    const BoardSetup before = ReadBoardSetup(settings, was.link, was.groups);
    auto planned = PlanSetup(settings, before, change);
    if (auto* refusal = std::get_if<SetupRefusal>(&planned)) {
        return std::move(*refusal);
    }
    const BoardSetup& after = std::get<PlannedSetup>(planned).after;
    std::vector<std::pair<std::string, std::string>> keys, old_keys;
    if (after.link != before.link) {
        keys.emplace_back("link", LinkName(after.link));
        old_keys.emplace_back("link", LinkName(before.link));
    }
    if (after.groups != before.groups) {
        keys.emplace_back("groups", JoinGroups(after.groups));
        old_keys.emplace_back("groups", JoinGroups(before.groups));
    }
    if (const WriteOutcome outcome = StoreBoardKeys(config.file, name, keys);
        outcome != WriteOutcome::Written) {
        return WriteRefusal(outcome, config.file);
    }
    // Owed before the new set-up is stored: a kill in between re-asserts
    // the board once too often, never leaves it on the old set-up unsent.
    board->store.Take(Remembered(Commands{Command::Content, Command::Brightness}), {},
                      shared.lock_wait);
    const auto writes = AsWrites(std::get<PlannedSetup>(planned).writes);
    if (const WriteOutcome outcome = StoreSettings(was.settings, writes, shared.lock_wait);
        outcome != WriteOutcome::Written) {
        StoreBoardKeys(config.file, name, old_keys);
        return WriteRefusal(outcome, was.settings);
    }
    {
        std::unique_lock lock(structure);
        std::lock_guard state(shared.state_mutex);
        board->config.groups = after.groups;
    }
    if (after.link != before.link ||
        (after.link == BoardLink::Serial && after.port != was.serial_port)) {
        Relink(board, after.link, after.port);
    }
    shared.Reread(*board);
    {
        std::shared_lock structure_lock(structure);
        std::lock_guard lock(board->worker->mutex);
        Due(*board, Commands{Command::Content, Command::Brightness});
        board->worker->wake.notify_one();
    }
    shared.observers.Emit(SetUpEvent{shared.Snapshot(*board), false});
    return ReadBoardSetup(settings, after.link, after.groups);
}

std::variant<BoardSetup, SetupRefusal> BoardService::Impl::AddBoard(const std::string& name,
                                                                    const SetupChange& change) {
    std::lock_guard changing(changes);
    if (const auto problem = BoardNameProblem(name)) {
        return SetupRefusal{SetupRefusal::Kind::Invalid, *problem, "name"};
    }
    const bool door = EqualIgnoringCase(name, "bridge") ||
                      std::any_of(config.doors.begin(), config.doors.end(),
                                  [&](const auto& d) { return EqualIgnoringCase(d.first, name); });
    if (door) {
        return SetupRefusal{SetupRefusal::Kind::Invalid,
                            "[" + name + "] is a section of the service's own; choose another name",
                            "name"};
    }
    std::filesystem::path folder;
    {
        std::shared_lock lock(structure);
        for (const auto& board : boards) {
            if (EqualIgnoringCase(board->config.name, name)) {
                return SetupRefusal{SetupRefusal::Kind::Conflict,
                                    "a board " + board->config.name + " exists", "name"};
            }
        }
        folder = boards.empty() ? config.file.parent_path()
                                : boards.front()->config.settings.parent_path();
    }
    const std::filesystem::path path = folder / (name + ".ini");
    const SettingsFile settings(path);
    // A removed board's file is taken up again as it was; a new one starts
    // as the dialog's first start leaves a missing file.
    std::error_code ec;
    const bool existed = std::filesystem::exists(path, ec);
    const BoardSetup before = ReadBoardSetup(settings, BoardLink::Udp, {});
    auto planned = PlanSetup(settings, before, change);
    if (auto* refusal = std::get_if<SetupRefusal>(&planned)) {
        return std::move(*refusal);
    }
    const BoardSetup& after = std::get<PlannedSetup>(planned).after;
    SettingWrites all = existed ? SettingWrites{} : SettingsRefreshWrites(settings);
    for (auto& write : std::get<PlannedSetup>(planned).writes) {
        all.push_back(std::move(write));
    }
    if (const WriteOutcome outcome = StoreSettings(path, AsWrites(all), shared.lock_wait);
        outcome != WriteOutcome::Written) {
        return WriteRefusal(outcome, path);
    }
    std::vector<std::pair<std::string, std::string>> keys{
        {"settings",
         folder == config.file.parent_path() ? path.filename().string() : path.string()},
        {"link", std::string(LinkName(after.link))}};
    if (!after.groups.empty()) {
        keys.emplace_back("groups", JoinGroups(after.groups));
    }
    if (const WriteOutcome outcome = StoreBoardKeys(config.file, name, keys);
        outcome != WriteOutcome::Written) {
        return WriteRefusal(outcome, config.file);
    }
    BoardConfig made;
    made.name = name;
    made.settings = path;
    made.link = after.link;
    made.groups = after.groups;
    made.serial_port = after.link == BoardLink::Serial ? after.port : std::string();
    auto board = std::make_shared<Board>(std::move(made));
    Prepare(*board);
    Worker* worker = nullptr;
    {
        std::unique_lock lock(structure);
        boards.push_back(board);
        const std::shared_ptr<Worker> fresh = Place(board.get());
        worker = board->worker;
        if (running) {
            {
                std::lock_guard worker_lock(worker->mutex);
                Starting(*board, shared.clock.Now());
            }
            if (fresh) {
                Run(fresh.get());
            }
        }
    }
    worker->wake.notify_one();
    Recheck(); // its guarded lines count from now
    shared.observers.Emit(SetUpEvent{shared.Snapshot(*board), true});
    return ReadBoardSetup(settings, after.link, after.groups);
}

std::optional<SetupRefusal> BoardService::Impl::RemoveBoard(const std::string& name) {
    std::lock_guard changing(changes);
    const std::shared_ptr<Board> board = Find(name);
    if (board == nullptr) {
        return SetupRefusal{SetupRefusal::Kind::NoBoard, "no board " + name, ""};
    }
    {
        std::shared_lock lock(structure);
        if (boards.size() == 1) {
            return SetupRefusal{SetupRefusal::Kind::Conflict,
                                "the last board stays: a boards file needs one; add another first",
                                ""};
        }
    }
    if (const WriteOutcome outcome = RemoveBoardSection(config.file, name);
        outcome != WriteOutcome::Written) {
        return WriteRefusal(outcome, config.file);
    }
    Retire(*board);
    std::shared_ptr<Worker> emptied;
    std::list<std::shared_ptr<Waiter>> waiting;
    {
        std::unique_lock lock(structure);
        std::erase(boards, board);
        {
            std::lock_guard worker_lock(board->worker->mutex);
            waiting.swap(board->waiters);
        }
        emptied = Detach(*board);
    }
    if (emptied) {
        StopWorker(*emptied);
    }
    TellWaiters(std::move(waiting), *board, "the board was removed");
    shared.observers.Emit(RemovedEvent{name});
    return std::nullopt;
}

BoardService::BoardService(BridgeConfig config, ServiceWorld world)
    : impl_(std::make_unique<Impl>(std::move(config), std::move(world))) {
    for (const BoardConfig& c : impl_->config.boards) {
        auto board = std::make_shared<Board>(c);
        impl_->Place(board.get());
        impl_->Prepare(*board);
        impl_->boards.push_back(std::move(board));
    }
    std::string error;
    if (auto schedules = ReadSchedulesFile(impl_->config.file, error)) {
        const SysSeconds now = impl_->WallNow();
        for (Schedule& schedule : *schedules) {
            const SysSeconds from = schedule.created_at;
            impl_->schedules.push_back({std::move(schedule), from, std::nullopt});
        }
        for (KeptSchedule& kept : impl_->schedules) {
            kept.next = NextDue(kept.schedule, impl_->zone, std::max(kept.from, now));
        }
    } else {
        impl_->schedules_usable = false;
    }
}

BoardService::~BoardService() {
    Stop();
}

const BridgeConfig& BoardService::config() const {
    return impl_->config;
}

int BoardService::Subscribe(Observer observer) {
    return impl_->shared.observers.Add(std::move(observer));
}

void BoardService::Unsubscribe(int id) {
    impl_->shared.observers.Remove(id);
}

void BoardService::Start() {
    std::lock_guard changing(impl_->changes);
    if (impl_->running.exchange(true)) {
        return;
    }
    std::shared_lock lock(impl_->structure);
    const ServiceClock::TimePoint now = impl_->shared.clock.Now();
    const auto unended = impl_->UnendedAtStart();
    for (const auto& board : impl_->boards) {
        std::lock_guard worker_lock(board->worker->mutex);
        impl_->Starting(*board, now);
        if (const auto found = unended.find(board->config.name); found != unended.end()) {
            board->open = found->second;
        }
    }
    for (const auto& worker : impl_->workers) {
        impl_->Run(worker.get());
    }
    impl_->CountFromStart(impl_->WallNow());
    {
        std::lock_guard schedule_lock(impl_->schedule_mutex);
        impl_->keeping = true;
    }
    impl_->timekeeper = std::thread([this] { impl_->Keep(); });
}

void BoardService::Stop() {
    std::lock_guard changing(impl_->changes);
    if (!impl_->running.exchange(false)) {
        return;
    }
    {
        std::lock_guard schedule_lock(impl_->schedule_mutex);
        impl_->keeping = false;
    }
    impl_->schedule_wake.notify_all();
    if (impl_->timekeeper.joinable()) {
        impl_->timekeeper.join();
    }
    impl_->WriteRanNote(impl_->WallNow());
    std::vector<std::shared_ptr<Worker>> workers;
    {
        std::shared_lock lock(impl_->structure);
        workers = impl_->workers;
    }
    for (const auto& worker : workers) {
        Impl::StopWorker(*worker);
    }
    impl_->TellWaitersNotSent();
}

std::vector<std::string> BoardService::BoardNames() const {
    std::shared_lock lock(impl_->structure);
    std::vector<std::string> names;
    for (const auto& board : impl_->boards) {
        names.push_back(board->config.name);
    }
    return names;
}

std::vector<std::string> BoardService::GroupMembers(const std::string& group) const {
    return impl_->GroupMembers(group);
}

bool BoardService::HasBoard(const std::string& board) const {
    return impl_->Find(board) != nullptr;
}

std::optional<LineRules> BoardService::Rules(const std::string& board) const {
    return impl_->Rules(board);
}

std::variant<nlohmann::ordered_json, BodyRefusal>
BoardService::AddSchedule(const nlohmann::ordered_json& body, Role role, const std::string& who) {
    return impl_->AddSchedule(body, role, who);
}

nlohmann::ordered_json BoardService::SchedulesJson() const {
    std::lock_guard lock(impl_->schedule_mutex);
    return impl_->ListJsonLocked();
}

std::optional<nlohmann::ordered_json> BoardService::ScheduleJson(const std::string& id) const {
    std::lock_guard lock(impl_->schedule_mutex);
    for (const KeptSchedule& kept : impl_->schedules) {
        if (kept.schedule.id == id) {
            return lumidex::ScheduleJson(kept.schedule, impl_->zone, kept.next);
        }
    }
    return std::nullopt;
}

std::optional<BodyRefusal> BoardService::CancelSchedule(const std::string& id, Role role) {
    return impl_->CancelSchedule(id, role);
}

std::optional<BoardSnapshot> BoardService::Snapshot(const std::string& board) const {
    const auto found = impl_->Find(board);
    if (found == nullptr) {
        return std::nullopt;
    }
    return impl_->shared.Snapshot(*found);
}

std::vector<std::pair<std::string, Availability>> BoardService::Availabilities() const {
    std::vector<std::pair<std::string, Availability>> all;
    std::shared_lock structure_lock(impl_->structure);
    std::lock_guard lock(impl_->shared.state_mutex);
    for (const auto& board : impl_->boards) {
        all.emplace_back(board->config.name, board->availability);
    }
    return all;
}

std::optional<std::vector<nlohmann::ordered_json>> BoardService::Record(const RecordQuery& query) const {
    if (impl_->shared.record == nullptr) {
        return std::nullopt;
    }
    const auto& folder = impl_->shared.record->folder();
    if (!query.since) {
        // The latest changes are most often all a reader wants: this month
        // and the one before first, every month only when they hold too few.
        auto recent = JoinRecord(ReadRecord(folder, impl_->WallNow() - std::chrono::days{31}), query);
        if (recent.size() >= query.limit) {
            return recent;
        }
    }
    return JoinRecord(ReadRecord(folder, query.since), query);
}

bool BoardService::Submit(const std::string& board, BoardChange change, Done done,
                          ChangeOrigin origin) {
    return impl_->Submit(board, std::move(change), std::move(done), origin);
}

void BoardService::Refuse(BoardStatus status) {
    impl_->Refuse(std::move(status));
}

std::optional<BoardSetup> BoardService::Setup(const std::string& board) const {
    const auto found = impl_->Find(board);
    if (found == nullptr) {
        return std::nullopt;
    }
    BoardConfig config;
    {
        std::shared_lock lock(impl_->structure);
        config = found->config;
    }
    return ReadBoardSetup(SettingsFile(config.settings), config.link, config.groups);
}

std::variant<BoardSetup, SetupRefusal> BoardService::ChangeSetup(const std::string& board,
                                                                 const SetupChange& change) {
    return impl_->ChangeSetup(board, change);
}

std::variant<BoardSetup, SetupRefusal> BoardService::AddBoard(const std::string& name,
                                                              const SetupChange& setup) {
    return impl_->AddBoard(name, setup);
}

std::optional<SetupRefusal> BoardService::RemoveBoard(const std::string& name) {
    return impl_->RemoveBoard(name);
}

std::chrono::milliseconds BoardService::WaitLimit(const std::string& board,
                                                  const BoardChange& change) const {
    const auto found = impl_->Find(board);
    if (found == nullptr) {
        return std::chrono::seconds{1};
    }
    std::shared_lock lock(impl_->structure);
    const LinkTarget target = found->config.link == BoardLink::Udp
                                  ? LinkTarget{UdpTarget{}}
                                  : LinkTarget{SerialTarget{found->config.serial_port}};
    const ExchangeTiming timing =
        impl_->shared.delivery.timing ? impl_->shared.delivery.timing(target) : TimingOf(target);
    const auto one = timing.reply_delay + timing.read_timeout;
    int exchanges = 0;
    for (const Command command : kCommands) {
        if (change.sends.Has(command)) {
            // Content is tried twice, as the dialog's send retries it.
            exchanges += command == Command::Content ? 2 : 1;
        }
    }
    return one * exchanges + std::chrono::seconds{1};
}

} // namespace lumidex
