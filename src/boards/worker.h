#pragma once

// The board service's inside: each board's state, and the workers that
// serve them, one per link (a UDP board alone, the boards of one serial
// port together). A worker takes each board's owed exchanges in turn,
// retries a failed one after a pause that doubles, re-asserts a board every
// refresh interval (which is also how it finds out whether the board is
// there) and tells the service what came of each exchange. Used by
// service.cpp only.
#include "boards/board_store.h"
#include "boards/boards_file.h"
#include "boards/clock.h"
#include "boards/events.h"
#include "boards/record_entries.h"
#include "boards/service.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace lumidex {

// Someone waiting for the exchanges that carry a change.
struct Waiter {
    Commands needs;
    std::vector<BoardStatus> statuses;
    ChangeDone done;
};

struct Worker;

struct Board {
    BoardConfig config;
    std::chrono::seconds refresh{0};
    Worker* worker = nullptr;
    BoardStore store;

    // Guarded by the worker's mutex.
    Commands due;
    std::optional<ClockTime> clock_time; // nothing: the local time when sent
    std::list<std::shared_ptr<Waiter>> waiters;
    ServiceClock::TimePoint retry_at{};
    std::chrono::seconds pause = kFirstRetryPause;
    ServiceClock::TimePoint refresh_at = ServiceClock::TimePoint::max();
    std::uint64_t generation = 0; // counts changes taken
    bool in_flight = false;
    bool newer_during_flight = false;
    // Being moved to another worker or removed: its worker no longer takes
    // it up.
    bool retiring = false;

    // The worker's own.
    int failures = 0;

    // The recorded changes not yet ended, under the worker's mutex.
    std::vector<OpenChange> open;
    // One recorded change at a time: what the record last knew the file to
    // hold (with a record), so that a value changed under the service shows.
    std::mutex record_mutex;
    FieldValues known;

    // Guarded by the service's state mutex (config.groups too, which a
    // set-up change may change).
    Availability availability = Availability::Unknown;
    StoredView stored;
    BoardShown shown;
    std::optional<BoardStatus> last_status;
    // The stale guard's view: when each line's last value arrived, and
    // which guarded lines are stale now (shown blank or flickering).
    BoardStore::FreshTimes fresh_at;
    std::array<bool, kLineCount> stale{};

    // Whether the guard watches line i (0..5): it is on, and the line is
    // one it names (by default one the content frame sends). Under the
    // state mutex.
    bool Guarded(std::size_t i) const;

    explicit Board(BoardConfig c) : config(std::move(c)), store(config.settings) {}
};

// What the workers share with the service: time, links, events, and the
// mutex of the boards' state that doors read.
struct ServiceShared {
    ServiceClock& clock;
    DeliveryOptions delivery;
    std::chrono::milliseconds lock_wait;
    ChangeRecord* record = nullptr;
    Observers observers;
    mutable std::mutex state_mutex;

    // The board's whole state; takes the state mutex.
    BoardSnapshot Snapshot(const Board& board) const;
    // Keeps the status as the board's last and tells every observer.
    void Report(Board* board, BoardStatus status);
    void SetAvailability(Board& board, Availability availability);
    // Reads the board's Config.ini once into what the doors see.
    void Reread(Board& board);
    // A value for the lines given arrived now: their times are kept
    // durably, and a stale one is fresh again (observers are told). True
    // when one was stale.
    bool Freshen(Board& board, const std::array<bool, kLineCount>& lines);
    // Appends to the record and tells observers of each line; nothing when
    // the record cannot take them (or there are none to append).
    std::optional<ChangeRecord::Appended> RecordChanges(const std::vector<RecordedChange>& changes);
    void RecordOutcomes(const std::vector<RecordedOutcome>& outcomes, SysSeconds at);
    // Under the board's record mutex, with what the file holds now (and
    // what still waits for its lock): records the values that changed under
    // the service since it last knew them (via "file"), added to `opened`;
    // the record's values now.
    FieldValues NoteFileChanges(Board& board, const StoredView& stored,
                                std::vector<OpenChange>& opened);
};

struct Worker {
    std::vector<Board*> boards;
    std::mutex mutex;
    std::condition_variable wake;
    // Told whenever an exchange is over (a board's in_flight cleared).
    std::condition_variable idle;
    bool stopping = false;
    std::size_t next = 0; // where the round of boards goes on
    std::thread thread;

    // Serves the boards until `stopping`.
    void Run(ServiceShared& shared);
};

} // namespace lumidex
