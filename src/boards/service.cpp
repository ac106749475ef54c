#include "boards/service.h"

#include "delivery/delivery.h"
#include "lines/line_format.h"
#include "protocol/local_time.h"
#include "settings/file_io.h"
#include "settings/profile.h"
#include "settings/text_codec.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <list>
#include <map>
#include <mutex>
#include <thread>

namespace lumidex {
namespace {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::ordered_json;

// The exchanges a board's worker makes, in the order it takes them when
// several wait.
enum class Job { Init, Content, Brightness, Clock };
constexpr std::array<Job, 4> kJobs{Job::Init, Job::Content, Job::Brightness, Job::Clock};

std::size_t Slot(Job job) {
    return static_cast<std::size_t>(job);
}

// The command a job sends.
BoardCommand CommandOf(Job job, const std::optional<ClockTime>& clock_time = std::nullopt) {
    switch (job) {
    case Job::Init:
        return InitialiseCommand{};
    case Job::Brightness:
        return BrightnessCommand{};
    case Job::Clock:
        return ClockCommand{clock_time};
    case Job::Content:
        break;
    }
    return ContentCommand{};
}

// The moment as a status gives it: UTC, to the second.
std::string UtcNow() {
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss time{now - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

// A text cut to at most `bytes` bytes, never inside a UTF-8 character.
std::string CutText(std::string text, std::size_t bytes) {
    if (text.size() <= bytes) {
        return text;
    }
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    text.resize(end);
    return text + "...";
}

// What a board has not yet accepted, remembered beside its Config.ini
// (".NAME.pending", written durably like the settings): the content and the
// brightness, whose values the Config.ini holds. A restart sends them.
std::filesystem::path PendingFile(const std::filesystem::path& settings) {
    return settings.parent_path() / ("." + settings.filename().string() + ".pending");
}
constexpr SettingKey kPendingContent{"Pending", "content", "0", 1};
constexpr SettingKey kPendingBrightness{"Pending", "brightness", "0", 1};

// How long a door's thread waits for a board's settings lock before it
// leaves the values to the board's worker.
constexpr std::chrono::milliseconds kDoorLockWait{100};

} // namespace

std::string_view AvailabilityName(Availability availability) {
    switch (availability) {
    case Availability::Online:
        return "online";
    case Availability::Offline:
        return "offline";
    case Availability::Unknown:
        break;
    }
    return "unknown";
}

std::string StatusJson(const BoardStatus& status) {
    Json json;
    json["board"] = status.board;
    json["command"] = status.command;
    json["result"] = status.result;
    for (const auto& [name, value] : {std::pair{"frame", &status.frame},
                                      {"detail", &status.detail},
                                      {"topic", &status.topic}}) {
        if (!value->empty()) {
            json[name] = *value;
        }
    }
    json["at"] = status.at;
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// Someone waiting for the exchanges that carry a change.
struct Waiter {
    std::array<bool, 4> needs{};
    std::vector<BoardStatus> statuses;
    BoardService::Done done;
    bool Finished() const { return std::none_of(needs.begin(), needs.end(), [](bool n) { return n; }); }
};

struct Worker;

struct Board {
    BoardConfig config;
    std::chrono::seconds refresh{0};
    Worker* worker = nullptr;

    // Guarded by store_mutex: the order of stores, and the writes that could
    // not be stored yet (another program held the file), kept in order.
    std::mutex store_mutex;
    std::vector<std::pair<SettingKey, std::string>> unstored;
    std::array<bool, 2> marked{}; // content, brightness as the pending file says

    // Guarded by the worker's mutex.
    std::array<bool, 4> due{};
    std::optional<ClockTime> clock_time; // nothing: the local time when sent
    std::list<std::shared_ptr<Waiter>> waiters;
    Clock::time_point retry_at{};
    std::chrono::seconds pause = kFirstRetryPause;
    Clock::time_point refresh_at = Clock::time_point::max();
    std::uint64_t generation = 0; // counts Submits
    bool in_flight = false;
    bool newer_during_flight = false;

    // The worker's own.
    int failures = 0;

    // Guarded by the service's state mutex.
    Availability availability = Availability::Unknown;
    BoardShown shown;
    std::optional<BoardStatus> last_status;

    explicit Board(BoardConfig c) : config(std::move(c)) {}

    bool HasWork() const {
        return std::any_of(due.begin(), due.end(), [](bool d) { return d; });
    }
};

struct Worker {
    std::vector<Board*> boards;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::size_t next = 0; // where the round of boards goes on
    std::thread thread;
};

struct BoardService::Impl {
    BridgeConfig config;
    std::vector<std::unique_ptr<Board>> boards;
    std::vector<std::unique_ptr<Worker>> workers;
    std::map<std::string, Board*> by_name;
    std::map<std::string, std::vector<Board*>> by_group;

    mutable std::mutex state_mutex;
    std::mutex observers_mutex;
    std::vector<std::pair<int, Observer>> observers;
    int next_observer = 1;
    std::atomic<bool> running{false};

    explicit Impl(BridgeConfig c) : config(std::move(c)) {}

    Board* Find(const std::string& name) const {
        const auto found = by_name.find(name);
        return found == by_name.end() ? nullptr : found->second;
    }

    void Emit(const BoardEvent& event) {
        std::vector<Observer> copy;
        {
            std::lock_guard lock(observers_mutex);
            for (const auto& [id, observer] : observers) {
                copy.push_back(observer);
            }
        }
        for (const Observer& observer : copy) {
            observer(event);
        }
    }

    void Report(Board* board, BoardStatus status) {
        if (board != nullptr) {
            std::lock_guard lock(state_mutex);
            board->last_status = status;
        }
        Emit(StatusEvent{std::move(status)});
    }

    void SetAvailability(Board& board, Availability availability) {
        {
            std::lock_guard lock(state_mutex);
            if (board.availability == availability) {
                return;
            }
            board.availability = availability;
        }
        Emit(AvailabilityEvent{board.config.name, availability});
    }

    // Marks what the board has not accepted, durably, before its values are
    // stored; clears a mark once they went out. Called under store_mutex.
    void Mark(Board& board, std::size_t which, bool pending) {
        if (board.marked[which] == pending) {
            return;
        }
        const SettingsFile file(PendingFile(board.config.settings));
        if (file.Write(which == 0 ? kPendingContent : kPendingBrightness, pending ? "1" : "0")) {
            board.marked[which] = pending;
        }
    }

    // Stores writes in order after any that are still waiting, all of them
    // with one durable replacement of the file, within `lock_wait` of its
    // lock; false when they still wait because another program of this
    // user holds the lock; a later value of a waiting key replaces it, so
    // what waits stays one write per key however long the lock is held.
    // Writes the file refuses for good (a read-only file) are dropped: they
    // would hold back every later one. Called under store_mutex.
    static bool Store(Board& board, std::vector<std::pair<SettingKey, std::string>> writes,
                      std::chrono::milliseconds lock_wait) {
        for (auto& write : writes) {
            std::erase_if(board.unstored, [&](const auto& waiting) {
                return waiting.first.section == write.first.section &&
                       waiting.first.name == write.first.name;
            });
            board.unstored.push_back(std::move(write));
        }
        std::vector<SettingWrite> all;
        all.reserve(board.unstored.size());
        for (const auto& [key, value] : board.unstored) {
            all.push_back({key.section, key.name, value});
        }
        if (StoreSettings(board.config.settings, all, lock_wait) == WriteOutcome::Locked) {
            return false;
        }
        board.unstored.clear();
        return true;
    }

    bool Submit(const std::string& name, BoardChange change, Done done) {
        Board* board = Find(name);
        if (board == nullptr) {
            return false;
        }
        const bool stores = !change.writes.empty();
        {
            std::lock_guard store(board->store_mutex);
            if (change.content) {
                Mark(*board, 0, true);
            }
            if (change.brightness) {
                Mark(*board, 1, true);
            }
            // A door's thread waits only briefly; the worker waits out the
            // whole lock wait for what is left.
            Store(*board, std::move(change.writes), kDoorLockWait);
        }
        if (stores) {
            Emit(StoredEvent{name});
        }
        Worker& worker = *board->worker;
        auto waiter = std::make_shared<Waiter>();
        waiter->done = std::move(done);
        bool nothing_to_send = false;
        {
            std::lock_guard lock(worker.mutex);
            const std::array<bool, 4> wanted{change.init, change.content, change.brightness,
                                             change.clock.has_value()};
            for (Job job : kJobs) {
                if (wanted[Slot(job)]) {
                    board->due[Slot(job)] = true;
                    waiter->needs[Slot(job)] = true;
                }
            }
            if (change.clock) {
                board->clock_time = *change.clock;
            }
            ++board->generation;
            if (board->in_flight) {
                // Sent right after the exchange in flight, whatever pause a
                // failure would have asked for.
                board->newer_during_flight = true;
            } else {
                board->retry_at = Clock::time_point{};
            }
            nothing_to_send = waiter->Finished();
            if (waiter->done && !nothing_to_send) {
                board->waiters.push_back(waiter);
            }
        }
        worker.wake.notify_one();
        if (waiter->done && nothing_to_send) {
            waiter->done({}); // the values are stored, which is all there is to do
        }
        return true;
    }

    BoardStatus StatusOf(const Board& board, std::string_view command, const Delivery& delivery) {
        BoardStatus status;
        status.board = board.config.name;
        status.command = std::string(command);
        status.result = std::string(OutcomeName(delivery.outcome));
        if (!delivery.frame.empty()) {
            status.frame = FormatHex(delivery.frame);
        }
        if (delivery.outcome == DeliveryOutcome::BroadcastSent) {
            status.detail = "sent to bus address 0, where no controller answers";
        } else if (!delivery.delivered()) {
            status.detail = delivery.reason;
        }
        status.at = UtcNow();
        return status;
    }

    // One exchange of one job with one board: its status, whether the board
    // has what was sent, and whether there was an exchange at all (values
    // that cannot be stored yet hold it back, which says nothing of the
    // board).
    struct Served {
        BoardStatus status;
        bool delivered = false;
        bool exchanged = false;
    };
    Served Serve(Board& board, Job job, const std::optional<ClockTime>& clock_time) {
        const BoardCommand boardcommand = CommandOf(job, clock_time);
        const std::string_view command = CommandName(boardcommand);
        {
            // Values that could not be stored before are stored first: the
            // frame is built from the file.
            std::lock_guard store(board.store_mutex);
            if (!Store(board, {}, kSettingsLockWait)) {
                BoardStatus status;
                status.board = board.config.name;
                status.command = std::string(command);
                status.result = "locked";
                status.detail = LockedReason(board.config.settings) +
                                "; the change stays pending and is tried again";
                status.at = UtcNow();
                return {status, false, false};
            }
        }
        // A SettingsFile of the worker's own: the frame's reads come from one
        // reading of the file.
        const SettingsFile settings(board.config.settings);
        BoardShown shown;
        for (std::size_t i = 0; i < kLineCount; ++i) {
            shown.lines[i] = settings.Read(keys::kLineText[i]);
        }
        shown.day = settings.Read(keys::kDayBrightness);
        shown.night = settings.Read(keys::kNightBrightness);
        std::vector<LinkTarget> targets;
        if (board.config.link == BoardLink::Udp) {
            targets.push_back(ConfiguredUdpTarget(settings).value_or(UdpTarget{"0.0.0.0"}));
        } else {
            targets.push_back(
                SerialTarget{board.config.serial_port, settings.ReadNumber(keys::kBaudRate)});
        }
        const Delivery delivery = Deliver(boardcommand, settings, targets);
        const bool delivered = delivery.delivered();
        if (delivered && (job == Job::Content || job == Job::Brightness)) {
            bool changed = false;
            BoardShown now;
            {
                std::lock_guard lock(state_mutex);
                if (job == Job::Content) {
                    changed = board.shown.lines != shown.lines;
                    board.shown.lines = shown.lines;
                } else {
                    changed = board.shown.day != shown.day || board.shown.night != shown.night;
                    board.shown.day = shown.day;
                    board.shown.night = shown.night;
                }
                now = board.shown;
            }
            if (changed) {
                Emit(ShownEvent{board.config.name, now});
            }
        }
        return {StatusOf(board, command, delivery), delivered, true};
    }

    void Run(Worker& worker) {
        std::unique_lock lock(worker.mutex);
        while (!worker.stopping) {
            const Clock::time_point now = Clock::now();
            Board* due = nullptr;
            Clock::time_point soonest = Clock::time_point::max();
            for (std::size_t k = 0; k < worker.boards.size(); ++k) {
                Board* b = worker.boards[(worker.next + k) % worker.boards.size()];
                if (b->refresh_at <= now) {
                    // Re-asserted: its content and brightness, which the
                    // controller takes again unchanged.
                    b->due[Slot(Job::Content)] = true;
                    b->due[Slot(Job::Brightness)] = true;
                    b->refresh_at = now + b->refresh;
                }
                soonest = std::min(soonest, b->refresh_at);
                if (!b->HasWork()) {
                    continue;
                }
                if (b->retry_at <= now) {
                    due = b;
                    worker.next = (worker.next + k + 1) % worker.boards.size();
                    break;
                }
                soonest = std::min(soonest, b->retry_at);
            }
            if (due == nullptr) {
                if (soonest == Clock::time_point::max()) {
                    worker.wake.wait(lock);
                } else {
                    worker.wake.wait_until(lock, soonest);
                }
                continue;
            }
            Job job = Job::Content;
            for (Job candidate : kJobs) {
                if (due->due[Slot(candidate)]) {
                    job = candidate;
                    break;
                }
            }
            due->due[Slot(job)] = false;
            const std::optional<ClockTime> clock_time = due->clock_time;
            std::vector<std::shared_ptr<Waiter>> carried;
            for (const auto& waiter : due->waiters) {
                if (waiter->needs[Slot(job)]) {
                    carried.push_back(waiter);
                }
            }
            const std::uint64_t generation = due->generation;
            due->in_flight = true;
            lock.unlock();

            const Served served = Serve(*due, job, clock_time);
            const bool delivered = served.delivered;
            const BoardStatus& status = served.status;
            if (served.exchanged) {
                Finish(*due, job, delivered, generation);
            }
            Report(due, status);

            lock.lock();
            due->in_flight = false;
            const bool newer = std::exchange(due->newer_during_flight, false);
            if (delivered) {
                due->pause = kFirstRetryPause;
                due->retry_at = Clock::time_point{};
                if (due->refresh.count() > 0) {
                    due->refresh_at = Clock::now() + due->refresh;
                }
            } else {
                // The state stays due; the clock and the initialisation are
                // one-off commands and are not repeated once they went out.
                if (job == Job::Content || job == Job::Brightness || !served.exchanged) {
                    due->due[Slot(job)] = true;
                }
                if (newer) {
                    due->retry_at = Clock::time_point{};
                } else if (!served.exchanged) {
                    // Held back by a lock, not by the board: tried again soon.
                    due->retry_at = Clock::now() + kFirstRetryPause;
                } else {
                    due->retry_at = Clock::now() + due->pause;
                    due->pause = std::min(due->pause * 2, kLongestRetryPause);
                }
            }
            std::vector<std::shared_ptr<Waiter>> finished;
            for (const auto& waiter : carried) {
                waiter->needs[Slot(job)] = false;
                waiter->statuses.push_back(status);
                if (waiter->Finished()) {
                    finished.push_back(waiter);
                    due->waiters.remove(waiter);
                }
            }
            lock.unlock();
            for (const auto& waiter : finished) {
                waiter->done(waiter->statuses);
            }
            lock.lock();
        }
    }

    // Availability and the pending marks after an exchange.
    void Finish(Board& board, Job job, bool delivered, std::uint64_t generation) {
        if (delivered) {
            board.failures = 0;
            SetAvailability(board, Availability::Online);
            if (job == Job::Content || job == Job::Brightness) {
                bool unchanged = false;
                {
                    std::lock_guard lock(board.worker->mutex);
                    unchanged = board.generation == generation;
                }
                if (unchanged) {
                    std::lock_guard store(board.store_mutex);
                    Mark(board, job == Job::Content ? 0 : 1, false);
                }
            }
            return;
        }
        if (++board.failures >= kFailuresUntilOffline) {
            SetAvailability(board, Availability::Offline);
        }
    }

    BoardSnapshot Snap(const Board& board) const {
        BoardSnapshot snap;
        snap.name = board.config.name;
        snap.groups = board.config.groups;
        const SettingsFile settings(board.config.settings);
        const SettingsFile::Snapshot once(settings);
        const DialogLines lines = LinesAfterRefresh(settings);
        const auto formats = LineFormatsAfterRefresh(settings);
        snap.update = lines.update_index >= 0
                          ? std::string(kUpdateTimeItems[static_cast<std::size_t>(lines.update_index)])
                          : settings.Read(keys::kUpdateTime);
        snap.day = settings.Read(keys::kDayBrightness);
        snap.night = settings.Read(keys::kNightBrightness);
        for (std::size_t i = 0; i < kLineCount; ++i) {
            BoardLine& line = snap.lines[i];
            line.number = static_cast<int>(i) + 1;
            line.caption = settings.Read(keys::kCaption[i]);
            line.chosen = keys::IsChosenForFrame(settings.Read(keys::kLineChosen[i]));
            line.format = formats[i];
            line.text = lines.texts[i];
            line.flicker = lines.flicker[i];
            line.point = lines.point[i];
            line.pattern = LineValuePattern(formats[i]);
        }
        std::lock_guard lock(state_mutex);
        snap.availability = board.availability;
        snap.shown = board.shown;
        snap.last_status = board.last_status;
        return snap;
    }
};

BoardService::BoardService(BridgeConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {
    std::map<std::string, Worker*> serial_workers;
    for (const BoardConfig& c : impl_->config.boards) {
        auto board = std::make_unique<Board>(c);
        board->refresh = c.refresh.value_or(impl_->config.refresh);
        Worker* worker = nullptr;
        if (c.link == BoardLink::Serial) {
            if (auto found = serial_workers.find(c.serial_port); found != serial_workers.end()) {
                worker = found->second;
            }
        }
        if (worker == nullptr) {
            impl_->workers.push_back(std::make_unique<Worker>());
            worker = impl_->workers.back().get();
            if (c.link == BoardLink::Serial) {
                serial_workers[c.serial_port] = worker;
            }
        }
        worker->boards.push_back(board.get());
        board->worker = worker;
        // What the board shows until it accepts something new: its file.
        const SettingsFile settings(c.settings);
        for (std::size_t i = 0; i < kLineCount; ++i) {
            board->shown.lines[i] = settings.Read(keys::kLineText[i]);
        }
        board->shown.day = settings.Read(keys::kDayBrightness);
        board->shown.night = settings.Read(keys::kNightBrightness);
        const SettingsFile pending(PendingFile(c.settings));
        board->marked = {pending.ReadNumber(kPendingContent) != 0,
                         pending.ReadNumber(kPendingBrightness) != 0};
        impl_->by_name[c.name] = board.get();
        for (const std::string& group : c.groups) {
            impl_->by_group[group].push_back(board.get());
        }
        impl_->boards.push_back(std::move(board));
    }
}

BoardService::~BoardService() {
    Stop();
}

const BridgeConfig& BoardService::config() const {
    return impl_->config;
}

int BoardService::Subscribe(Observer observer) {
    std::lock_guard lock(impl_->observers_mutex);
    const int id = impl_->next_observer++;
    impl_->observers.emplace_back(id, std::move(observer));
    return id;
}

void BoardService::Unsubscribe(int id) {
    std::lock_guard lock(impl_->observers_mutex);
    std::erase_if(impl_->observers, [id](const auto& entry) { return entry.first == id; });
}

void BoardService::Start() {
    if (impl_->running.exchange(true)) {
        return;
    }
    const Clock::time_point now = Clock::now();
    for (const auto& board : impl_->boards) {
        std::lock_guard lock(board->worker->mutex);
        board->due[Slot(Job::Content)] = board->marked[0];
        board->due[Slot(Job::Brightness)] = board->marked[1];
        if (board->refresh.count() > 0) {
            board->refresh_at = now;
        }
    }
    for (const auto& worker : impl_->workers) {
        Worker* w = worker.get();
        w->stopping = false;
        w->thread = std::thread([this, w] { impl_->Run(*w); });
    }
}

void BoardService::Stop() {
    if (!impl_->running.exchange(false)) {
        return;
    }
    for (const auto& worker : impl_->workers) {
        {
            std::lock_guard lock(worker->mutex);
            worker->stopping = true;
        }
        worker->wake.notify_one();
        worker->thread.join();
    }
    // Whoever still waits hears that nothing more goes out now; what was
    // stored stays pending for the next start.
    for (const auto& board : impl_->boards) {
        std::list<std::shared_ptr<Waiter>> waiting;
        {
            std::lock_guard lock(board->worker->mutex);
            waiting.swap(board->waiters);
        }
        for (const auto& waiter : waiting) {
            BoardStatus status;
            status.board = board->config.name;
            const auto first = std::find(waiter->needs.begin(), waiter->needs.end(), true);
            status.command = std::string(
                CommandName(CommandOf(kJobs[static_cast<std::size_t>(first - waiter->needs.begin())])));
            status.result = "not sent";
            status.detail = "the service is stopping; the values are stored and go out when it "
                            "starts again";
            status.at = UtcNow();
            waiter->statuses.push_back(status);
            waiter->done(waiter->statuses);
        }
    }
}

std::vector<std::string> BoardService::BoardNames() const {
    std::vector<std::string> names;
    for (const auto& board : impl_->boards) {
        names.push_back(board->config.name);
    }
    return names;
}

std::vector<std::string> BoardService::GroupMembers(const std::string& group) const {
    std::vector<std::string> names;
    if (auto found = impl_->by_group.find(group); found != impl_->by_group.end()) {
        for (const Board* board : found->second) {
            names.push_back(board->config.name);
        }
    }
    return names;
}

bool BoardService::HasBoard(const std::string& board) const {
    return impl_->Find(board) != nullptr;
}

std::optional<std::array<LineFormat, kLineCount>>
BoardService::Formats(const std::string& board) const {
    const Board* found = impl_->Find(board);
    if (found == nullptr) {
        return std::nullopt;
    }
    return LineFormatsAfterRefresh(SettingsFile(found->config.settings));
}

std::optional<BoardSnapshot> BoardService::Snapshot(const std::string& board) const {
    const Board* found = impl_->Find(board);
    if (found == nullptr) {
        return std::nullopt;
    }
    return impl_->Snap(*found);
}

std::vector<std::pair<std::string, Availability>> BoardService::Availabilities() const {
    std::vector<std::pair<std::string, Availability>> all;
    std::lock_guard lock(impl_->state_mutex);
    for (const auto& board : impl_->boards) {
        all.emplace_back(board->config.name, board->availability);
    }
    return all;
}

BoardShown BoardService::Shown(const std::string& board) const {
    const Board* found = impl_->Find(board);
    if (found == nullptr) {
        return {};
    }
    std::lock_guard lock(impl_->state_mutex);
    return found->shown;
}

bool BoardService::Submit(const std::string& board, BoardChange change, Done done) {
    return impl_->Submit(board, std::move(change), std::move(done));
}

void BoardService::Refuse(BoardStatus status) {
    status.topic = CutText(std::move(status.topic), kMaxEchoedBytes);
    if (status.result.empty()) {
        status.result = "refused";
    }
    status.at = UtcNow();
    Board* board = impl_->Find(status.board);
    impl_->Report(board, std::move(status));
}

} // namespace lumidex
