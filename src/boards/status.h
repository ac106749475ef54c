#pragma once

// What became of a change: one status per exchange with a board, or per
// command a door refused. Both doors show the same JSON (StatusJson).
#include "delivery/delivery.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <functional>
#include <vector>
#include <optional>
#include <string>
#include <string_view>

namespace lumidex {

// A status's result: a delivery's outcome, or what the service itself
// decided.
enum class StatusResult {
    Accepted,      // the controller took it
    BroadcastSent, // sent to bus address 0, where no controller answers
    Rejected,      // the controller refused it
    NoAnswer,      // no controller answered
    LinkFailed,    // the link could not carry the frame
    Refused,       // no frame: the command could not be built, or a door refused it
    Locked,        // the board's Config.ini was held by another program: tried again
    NotSent,       // the service stopped first: the values are stored and go out later
};

// "accepted", "broadcast sent", "rejected", "no answer", "link failed",
// "refused", "locked" or "not sent".
std::string_view ResultName(StatusResult result);

// The result a delivery's outcome is.
StatusResult ResultOf(DeliveryOutcome outcome);

// True when the board has what was sent: accepted, or a broadcast sent.
inline bool Delivered(StatusResult result) {
    return result == StatusResult::Accepted || result == StatusResult::BroadcastSent;
}

struct BoardStatus {
    std::string board;              // empty: a refusal that names no board of the service
    std::optional<Command> command; // nothing: a refusal of something that is no command
    StatusResult result = StatusResult::Refused;
    Frame frame;                    // the frame sent; empty when none was built
    std::string detail;             // why it was not accepted, or what a broadcast means
    std::string topic;              // what was refused: an MQTT topic, an HTTP field
    std::chrono::system_clock::time_point at;
};

// The longest topic or field name a status echoes; a longer one is cut.
inline constexpr std::size_t kMaxEchoedBytes = 256;

// The status as the doors show it: {"board", "command" ("unknown" when it
// names none), "result", "frame" (hex), "detail", "topic", "at" (UTC,
// "2026-12-08T10:00:00Z")}, in that order, the empty ones of frame, detail
// and topic left out. Text that is not UTF-8 is replaced when it is dumped.
nlohmann::ordered_json StatusJson(const BoardStatus& status);

// Called once with the status of every exchange that carried a change.
using ChangeDone = std::function<void(const std::vector<BoardStatus>&)>;

// A moment as statuses give it: UTC, to the second.
std::string UtcText(std::chrono::system_clock::time_point at);

} // namespace lumidex
