#pragma once

#include "boards/service.h"
#include "tools/bridge/mqtt_connection.h"

#include <memory>
#include <string>
#include <vector>

namespace lumidex {

// Payloads longer than this are refused.
inline constexpr std::size_t kMaxPayloadBytes = 256;

// The board service's MQTT door. Messages on the command topics are checked
// with the board rules and handed to the service; the service's events come
// back as retained topics: each board's lines and brightness as shown, its
// status and availability, and the bridge's own availability.
class MqttDoor {
public:
    MqttDoor(BoardService& service, Publisher& publisher);
    ~MqttDoor();
    MqttDoor(const MqttDoor&) = delete;
    MqttDoor& operator=(const MqttDoor&) = delete;

    // The topic patterns to subscribe to after every connection.
    std::vector<std::string> Subscriptions() const;

    // After every connection (a broker restarted without its store has
    // forgotten every retained message): each board's state as shown and
    // its availability as the service knows it, the discovery documents
    // when they are asked for, then "online" on the bridge's availability.
    // Sends nothing to a board.
    void OnConnected();

    // One message from the broker. Retained messages are not commands: a
    // command counts only when it is published, not when it is replayed.
    void OnMessage(const std::string& topic, const std::string& payload, bool retained);

    // Stops taking commands and publishes "offline" for the bridge.
    void Stop();

    // The bridge's availability topic, for the last will.
    std::string AvailabilityTopic() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace lumidex
