#pragma once

#include <cstddef>
#include <list>
#include <string>
#include <unordered_map>
#include <vector>

namespace lumidex {

// The most commands the MQTT door keeps waiting to be checked and stored.
// Each waiting command is a different topic: a later message on a topic
// replaces the waiting one, so a burst on a few topics never fills it.
inline constexpr std::size_t kMaxQueuedCommands = 4096;

// One command waiting: its topic below the prefix ("hall/line/1/set",
// "group/prices/brightness/day/set"), which is also what it changes, and
// its payload.
struct QueuedCommand {
    std::string key;
    std::string payload;

    bool operator==(const QueuedCommand&) const = default;
};

// What became of a command put in the queue.
enum class QueuePut {
    Added,    // a new key, at the end
    Replaced, // the key was waiting: its payload replaced, moved to the end
    Refused,  // a new key while `bound` keys wait: not kept
};

// The commands that wait, in the order of their last arrival, at most one
// per key. Taking them all and applying them in that order leaves every
// board as applying every command put in would: what a replaced command
// changed, its replacement changes again after everything that came
// between. Not thread-safe: its owner guards it.
class CommandQueue {
public:
    explicit CommandQueue(std::size_t bound = kMaxQueuedCommands) : bound_(bound) {}

    // Puts a command at the end, replacing the one of the same key that
    // waits; Refused (nothing changes) for a new key when the queue is full.
    QueuePut Put(std::string key, std::string payload);

    // Puts a command at the end that is its own, whatever waits: it
    // replaces nothing and nothing replaces it (each schedule published is
    // one more schedule). Refused (nothing changes) when the queue is full.
    QueuePut Append(std::string key, std::string payload);

    // Every waiting command in order; the queue is empty afterwards.
    std::vector<QueuedCommand> TakeAll();

    std::size_t size() const { return order_.size(); }
    bool empty() const { return order_.empty(); }

private:
    std::size_t bound_;
    std::list<QueuedCommand> order_;
    // The commands Put keeps, one per key; appended ones are not here.
    std::unordered_map<std::string, std::list<QueuedCommand>::iterator> by_key_;
};

} // namespace lumidex
