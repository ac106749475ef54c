#pragma once

#include "boards/service.h"
#include "tools/bridge/mqtt/connection.h"
#include "tools/bridge/mqtt/settings.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace lumidex {

// Payloads longer than this are refused; a schedule's (a JSON body with a
// change and a note) may be longer.
inline constexpr std::size_t kMaxPayloadBytes = 256;
inline constexpr std::size_t kMaxSchedulePayloadBytes = 2048;
// The discovery documents go out at most this often, whatever arrives on
// Home Assistant's status topic.
inline constexpr std::chrono::seconds kDiscoveryInterval{10};

// The board service's MQTT door. Messages on the command topics wait in a
// CommandQueue (a later value for the same topic replacing the waiting one)
// for the door's worker thread, which checks them with the board rules in
// batches and hands the service one change per board per batch, so the
// connection's thread stays free for the broker however fast commands come.
// Schedules are added and cancelled on their own topics (each schedule
// published is one more, never replaced by the next while it waits), with
// admin's rights: the broker's access list says who may publish there.
// The service's events come back as retained topics: each board's lines and
// brightness as shown, whether each guarded line is stale, its status and
// availability, the list of schedules, and the bridge's own availability.
// Each line of the change record goes out once, not retained, on the
// board's record topic. MQTT does not say who published: a change made
// here is recorded as "mqtt"'s, via "mqtt", with its topics and payloads.
class MqttDoor {
public:
    // The door keeps `broker` (its prefix, discovery) by reference.
    MqttDoor(BoardService& service, Publisher& publisher, const BrokerConfig& broker);
    ~MqttDoor();
    MqttDoor(const MqttDoor&) = delete;
    MqttDoor& operator=(const MqttDoor&) = delete;

    // The topic patterns to subscribe to after every connection.
    std::vector<std::string> Subscriptions() const;

    // After every connection (a broker restarted without its store has
    // forgotten every retained message): each board's state as shown and
    // its guarded lines' staleness, its last status and its availability
    // as the service knows them, the list of schedules, the
    // discovery documents when they are asked for (with the list of their
    // topics, so the next start can remove those that left the boards
    // file), then "online" on the bridge's availability. Sends nothing to a
    // board.
    void OnConnected();

    // One message from the broker. Retained messages are not commands: a
    // command counts only when it is published, not when it is replayed.
    // What can be refused without reading a board's settings (an unknown
    // topic, board or group, a payload too long or not UTF-8) is refused
    // here; a command is queued for the worker, or, with kMaxQueuedCommands
    // other topics waiting, refused on the bridge's status (one status for
    // all refused before the worker's next batch).
    // The retained list of discovery topics a start finds removes the
    // documents of boards and lines no longer offered; a retained stale
    // topic of a line no longer guarded is cleared. Home Assistant's
    // "online" has the documents sent again, at most once every
    // kDiscoveryInterval: a request within that time is kept for its end.
    void OnMessage(const std::string& topic, const std::string& payload, bool retained);

    // Called about twice a second on the connection's thread: sends the
    // discovery documents a request kept waiting, and renews them after
    // boards were added, removed or set up anew (a removed board's retained
    // topics are cleared when it goes).
    void OnTick();

    // Stops taking commands, lets the worker finish the batch in hand and
    // publishes "offline" for the bridge. Returns how many commands were
    // still waiting: they are dropped, for the caller to log (a status
    // published now would stay retained as the bridge's last one).
    std::size_t Stop();

    // The bridge's availability topic, for the last will.
    std::string AvailabilityTopic() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace lumidex
