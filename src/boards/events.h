#pragma once

// The events the board service tells its observers (the doors) about.
#include "boards/board_view.h"

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace lumidex {

// A board's values were stored (by any door): its state now. What the dialog
// writes into a board's Config.ini is not seen until the service sends it.
struct StoredEvent {
    BoardSnapshot board;
};
// A board accepted what it was sent: what it shows now, and its state.
struct ShownEvent {
    BoardSnapshot board;
};
// What became of an exchange, or of a command a door refused.
struct StatusEvent {
    BoardStatus status;
};
// A board came or went.
struct AvailabilityEvent {
    std::string board;
    Availability availability = Availability::Unknown;
};
// A board was added to the service (`added`), or its set-up changed (its
// address, link, lines' captions, formats or groups): its state now.
struct SetUpEvent {
    BoardSnapshot board;
    bool added = false;
};
// A board left the service: no event names it after this one.
struct RemovedEvent {
    std::string board;
};
// A guarded line went stale, or fresh again: the board's state now.
struct FreshnessEvent {
    BoardSnapshot board;
};
// The schedules changed (made, cancelled, run): the whole list as the doors
// show it, {"schedules": [...]} as JSON text.
struct SchedulesEvent {
    std::string json;
};
// A line was appended to the change record for the board: a change, or
// what ended one; the line as written (JSON text).
struct RecordEvent {
    std::string board;
    std::string line;
};
using BoardEvent = std::variant<StoredEvent, ShownEvent, StatusEvent, AvailabilityEvent,
                                SetUpEvent, RemovedEvent, FreshnessEvent, SchedulesEvent,
                                RecordEvent>;

// Who is told of every event. Safe from any thread.
class Observers {
public:
    using Observer = std::function<void(const BoardEvent&)>;
    // Returns a number for Remove.
    int Add(Observer observer);
    void Remove(int id);
    // Calls every observer, outside the lock (an observer may add or remove
    // others).
    void Emit(const BoardEvent& event);

private:
    std::mutex mutex_;
    std::vector<std::pair<int, Observer>> observers_;
    int next_ = 1;
};

} // namespace lumidex
