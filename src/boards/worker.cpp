#include "boards/worker.h"

#include "settings/file_io.h"
#include "settings/profile.h"

#include <algorithm>

namespace lumidex {
namespace {

// The command with what it needs to build its frame; content shows the
// stale lines blank or flickering, the values in Config.ini untouched.
BoardCommand CommandFor(Command command, const std::optional<ClockTime>& clock_time,
                        const std::array<bool, kLineCount>& stale, StaleShow show) {
    switch (command) {
    case Command::Init:
        return InitialiseCommand{};
    case Command::Brightness:
        return BrightnessCommand{};
    case Command::Clock:
        return ClockCommand{clock_time};
    case Command::Content:
        break;
    }
    ContentEdits edits;
    for (std::size_t i = 0; i < kLineCount; ++i) {
        if (stale[i]) {
            const int line = static_cast<int>(i) + 1;
            if (show == StaleShow::Blank) {
                edits.typed[line] = "";
            } else {
                edits.flicker[line] = true;
            }
        }
    }
    return ContentCommand{edits};
}

// The board's link as its settings name it now.
LinkTarget TargetOf(const Board& board, const SettingsFile& settings) {
    if (board.config.link == BoardLink::Udp) {
        return ConfiguredUdpTarget(settings).value_or(UdpTarget{"0.0.0.0"});
    }
    return SerialTarget{board.config.serial_port, settings.ReadNumber(keys::kBaudRate)};
}

// Whether an exchange happened at all: values that cannot be stored yet
// hold it back, which says nothing of the board.
struct Served {
    BoardStatus status;
    bool exchanged = false;
    BoardShown shown; // what the board shows after it
};

// One exchange of one command with one board.
Served Serve(ServiceShared& shared, Board& board, Command command,
             const std::optional<ClockTime>& clock_time) {
    BoardStatus status;
    status.board = board.config.name;
    status.command = command;
    // With a record, no change of the board is taken while the frame's
    // values are read, so that a value changed under the service is told
    // apart from the service's own.
    std::unique_lock record_lock(board.record_mutex, std::defer_lock);
    if (shared.record != nullptr) {
        record_lock.lock();
    }
    // Values that could not be stored before are stored first: the frame
    // is built from the file.
    if (!board.store.Flush(shared.lock_wait)) {
        status.result = StatusResult::Locked;
        status.detail = LockedReason(board.config.settings) +
                        "; the change stays pending and is tried again";
        status.at = shared.clock.WallNow();
        return {status, false, {}};
    }
    // The frame, the link and what the doors see, from one reading of the
    // file.
    const SettingsFile settings(board.config.settings);
    const SettingsFile::Snapshot once(settings);
    StoredView stored = ReadStoredView(settings);
    if (record_lock.owns_lock()) {
        // Carried by this exchange, or the next of their command.
        std::vector<OpenChange> opened;
        shared.NoteFileChanges(board, stored, opened);
        record_lock.unlock();
        std::lock_guard lock(board.worker->mutex);
        board.open.insert(board.open.end(), opened.begin(), opened.end());
    }
    const LinkTarget target = TargetOf(board, settings);
    std::array<bool, kLineCount> stale{};
    {
        std::lock_guard lock(shared.state_mutex);
        stale = board.stale;
    }
    const Delivery delivery = Deliver(CommandFor(command, clock_time, stale, board.config.stale.show),
                                      settings, std::span(&target, 1), shared.delivery);
    status.result = ResultOf(delivery.outcome);
    status.frame = delivery.frame;
    if (delivery.outcome == DeliveryOutcome::BroadcastSent) {
        status.detail = "sent to bus address 0, where no controller answers";
    } else if (!delivery.delivered()) {
        status.detail = delivery.reason;
    }
    status.at = shared.clock.WallNow();

    bool shown_changed = false;
    {
        std::lock_guard lock(shared.state_mutex);
        if (delivery.delivered() && (command == Command::Content || command == Command::Brightness)) {
            BoardShown now = stored.AsShown();
            for (std::size_t i = 0; i < kLineCount; ++i) {
                if (stale[i] && board.config.stale.show == StaleShow::Blank) {
                    now.lines[i].clear();
                }
            }
            BoardShown& shown = board.shown;
            if (command == Command::Content) {
                shown_changed = shown.lines != now.lines;
                shown.lines = now.lines;
            } else {
                shown_changed = shown.day != now.day || shown.night != now.night;
                shown.day = now.day;
                shown.night = now.night;
            }
        }
        board.stored = std::move(stored);
    }
    if (shown_changed) {
        shared.observers.Emit(ShownEvent{shared.Snapshot(board)});
    }
    std::lock_guard lock(shared.state_mutex);
    return {status, true, board.shown};
}

// Availability, what the board owes and what it shows, after an exchange.
void Finish(ServiceShared& shared, Board& board, Command command, const Served& served,
            std::uint64_t generation) {
    if (Delivered(served.status.result)) {
        board.failures = 0;
        shared.SetAvailability(board, Availability::Online);
        if (command == Command::Content || command == Command::Brightness) {
            bool unchanged = false;
            {
                std::lock_guard lock(board.worker->mutex);
                unchanged = board.generation == generation;
            }
            board.store.Accepted(command, served.shown, unchanged);
        }
        return;
    }
    if (++board.failures >= kFailuresUntilOffline) {
        shared.SetAvailability(board, Availability::Offline);
    }
}

} // namespace

bool Board::Guarded(std::size_t i) const {
    if (config.stale.after.count() == 0) {
        return false;
    }
    if (config.stale.lines) {
        const auto& lines = *config.stale.lines;
        return std::find(lines.begin(), lines.end(), static_cast<int>(i) + 1) != lines.end();
    }
    return stored.lines[i].chosen;
}

std::optional<ChangeRecord::Appended> ServiceShared::RecordChanges(const std::vector<RecordedChange>& changes) {
    if (record == nullptr || changes.empty()) {
        return std::nullopt;
    }
    auto appended = record->AppendChanges(changes, std::chrono::floor<std::chrono::seconds>(clock.WallNow()));
    if (appended) {
        for (std::size_t i = 0; i < changes.size(); ++i) {
            observers.Emit(RecordEvent{changes[i].board, appended->lines[i]});
        }
    }
    return appended;
}

void ServiceShared::RecordOutcomes(const std::vector<RecordedOutcome>& outcomes, SysSeconds at) {
    if (record == nullptr || outcomes.empty()) {
        return;
    }
    // An outcome the record cannot take leaves its change without one: the
    // change itself is on record, and the board's status says what came of
    // the exchange.
    if (const auto appended = record->AppendOutcomes(outcomes, at)) {
        for (std::size_t i = 0; i < outcomes.size(); ++i) {
            observers.Emit(RecordEvent{outcomes[i].board, appended->lines[i]});
        }
    }
}

FieldValues ServiceShared::NoteFileChanges(Board& board, const StoredView& stored,
                                           std::vector<OpenChange>& opened) {
    FieldValues now = RecordedValues(stored);
    // What still waits for the file's lock is the service's own.
    for (const auto& [key, value] : board.store.Waiting()) {
        if (const auto field = RecordedField(key)) {
            now[*field] = value;
        }
    }
    std::vector<RecordedChange> changed = FileChanges(board.config.name, board.known, now);
    if (changed.empty()) {
        return now;
    }
    for (RecordedChange& change : changed) {
        change.who = "unknown";
        change.request = "the board's " + board.config.settings.filename().string() +
                         " was changed outside the service";
    }
    if (const auto appended = RecordChanges(changed)) {
        for (std::size_t i = 0; i < changed.size(); ++i) {
            opened.push_back({appended->first + i, changed[i].field, CommandOfField(changed[i].field), 0});
        }
    }
    board.known = now;
    return now;
}

bool ServiceShared::Freshen(Board& board, const std::array<bool, kLineCount>& lines) {
    // Rounded up to the second it is kept to: a line never goes stale early.
    const auto now = std::chrono::ceil<std::chrono::seconds>(clock.WallNow());
    BoardStore::FreshTimes times;
    bool was_stale = false;
    {
        std::lock_guard lock(state_mutex);
        for (std::size_t i = 0; i < kLineCount; ++i) {
            if (lines[i] && board.Guarded(i)) {
                times[i] = now;
                board.fresh_at[i] = now;
                was_stale = was_stale || board.stale[i];
                board.stale[i] = false;
            }
        }
    }
    board.store.NoteFresh(times);
    if (was_stale) {
        observers.Emit(FreshnessEvent{Snapshot(board)});
    }
    return was_stale;
}

BoardSnapshot ServiceShared::Snapshot(const Board& board) const {
    BoardSnapshot snap;
    snap.name = board.config.name;
    std::lock_guard lock(state_mutex);
    snap.groups = board.config.groups;
    snap.update = board.stored.update;
    snap.day = board.stored.day;
    snap.night = board.stored.night;
    snap.lines = board.stored.lines;
    for (std::size_t i = 0; i < kLineCount; ++i) {
        BoardLine& line = snap.lines[i];
        line.bounds = board.config.bounds[i];
        line.guarded = board.Guarded(i);
        line.stale = line.guarded && board.stale[i];
        line.fresh_at = line.guarded ? board.fresh_at[i] : std::nullopt;
        if (line.stale && line.fresh_at) {
            line.stale_since = *line.fresh_at + board.config.stale.after;
        }
    }
    snap.availability = board.availability;
    snap.shown = board.shown;
    snap.last_status = board.last_status;
    return snap;
}

void ServiceShared::Report(Board* board, BoardStatus status) {
    if (board != nullptr) {
        std::lock_guard lock(state_mutex);
        board->last_status = status;
    }
    observers.Emit(StatusEvent{std::move(status)});
}

void ServiceShared::SetAvailability(Board& board, Availability availability) {
    {
        std::lock_guard lock(state_mutex);
        if (board.availability == availability) {
            return;
        }
        board.availability = availability;
    }
    observers.Emit(AvailabilityEvent{board.config.name, availability});
}

void ServiceShared::Reread(Board& board) {
    const SettingsFile settings(board.config.settings);
    StoredView stored = ReadStoredView(settings);
    std::lock_guard lock(state_mutex);
    board.stored = std::move(stored);
}

void Worker::Run(ServiceShared& shared) {
    std::unique_lock lock(mutex);
    while (!stopping) {
        const ServiceClock::TimePoint now = shared.clock.Now();
        Board* due = nullptr;
        ServiceClock::TimePoint soonest = ServiceClock::TimePoint::max();
        for (std::size_t k = 0; k < boards.size(); ++k) {
            Board* b = boards[(next + k) % boards.size()];
            if (b->retiring) {
                continue;
            }
            if (b->refresh_at <= now) {
                // Re-asserted: its content and brightness, which the
                // controller takes again unchanged.
                b->due.Add(Command::Content);
                b->due.Add(Command::Brightness);
                b->refresh_at = now + b->refresh;
            }
            soonest = std::min(soonest, b->refresh_at);
            if (b->due.Empty()) {
                continue;
            }
            if (b->retry_at <= now) {
                due = b;
                next = (next + k + 1) % boards.size();
                break;
            }
            soonest = std::min(soonest, b->retry_at);
        }
        if (due == nullptr) {
            shared.clock.WaitUntil(wake, lock, soonest);
            continue;
        }
        const Command command = *due->due.First();
        due->due.Remove(command);
        const std::optional<ClockTime> clock_time = due->clock_time;
        std::vector<std::shared_ptr<Waiter>> carried;
        for (const auto& waiter : due->waiters) {
            if (waiter->needs.Has(command)) {
                carried.push_back(waiter);
            }
        }
        const std::uint64_t generation = due->generation;
        due->in_flight = true;
        lock.unlock();

        const Served served = Serve(shared, *due, command, clock_time);
        const bool delivered = Delivered(served.status.result);
        if (served.exchanged) {
            Finish(shared, *due, command, served, generation);
        }

        lock.lock();
        std::vector<RecordedOutcome> outcomes =
            Settle(due->open, due->config.name, command, served.status.result, generation);
        lock.unlock();
        // On record before anyone hears of the exchange.
        shared.RecordOutcomes(outcomes, std::chrono::floor<std::chrono::seconds>(served.status.at));
        shared.Report(due, served.status);

        lock.lock();
        due->in_flight = false;
        idle.notify_all();
        const bool newer = std::exchange(due->newer_during_flight, false);
        if (delivered) {
            due->pause = kFirstRetryPause;
            due->retry_at = {};
            if (due->refresh.count() > 0) {
                due->refresh_at = shared.clock.Now() + due->refresh;
            }
        } else {
            // The state stays due; the clock and the initialisation are
            // one-off commands and are not repeated once they went out.
            if (command == Command::Content || command == Command::Brightness || !served.exchanged) {
                due->due.Add(command);
            }
            if (newer) {
                due->retry_at = {};
            } else if (!served.exchanged) {
                // Held back by a lock, not by the board: tried again soon.
                due->retry_at = shared.clock.Now() + kFirstRetryPause;
            } else {
                due->retry_at = shared.clock.Now() + due->pause;
                due->pause = std::min(due->pause * 2, kLongestRetryPause);
            }
        }
        std::vector<std::shared_ptr<Waiter>> finished;
        for (const auto& waiter : carried) {
            waiter->needs.Remove(command);
            waiter->statuses.push_back(served.status);
            if (waiter->needs.Empty()) {
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

} // namespace lumidex
