#pragma once

#include "tools/bridge/boards_file.h"
#include "tools/bridge/mqtt_connection.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace lumidex {

// Payloads longer than this are refused.
inline constexpr std::size_t kMaxPayloadBytes = 256;
// The pause before a failed board is tried again starts here and doubles up
// to kLongestRetryPause.
inline constexpr std::chrono::seconds kFirstRetryPause{1};
inline constexpr std::chrono::seconds kLongestRetryPause{60};
// A board is reported offline after this many failed exchanges in a row.
inline constexpr int kFailuresUntilOffline = 2;

// The bridge between the broker and the boards. Messages on the command
// topics are checked, formatted with the line rules, and stored in the
// board's settings file; each link has a worker of its own (a UDP board
// alone, the boards of one serial port together) that writes the changes,
// builds the frame from the file and exchanges it, so a board that does not
// answer delays no other. Results go back as retained state, status and
// availability.
class Bridge {
public:
    Bridge(BridgeConfig config, Publisher& publisher);
    ~Bridge();
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    // The topic patterns to subscribe to after every connection.
    std::vector<std::string> Subscriptions() const;

    // After every connection: "online" on the bridge's availability, each
    // board's retained state from its settings file, and the discovery
    // documents when they are asked for. Sends nothing to a board.
    void OnConnected();

    // One message from the broker. Replayed retained messages are ignored:
    // a command counts only when it is published while the bridge listens.
    void OnMessage(const std::string& topic, const std::string& payload, bool retained);

    // Starts the workers.
    void Start();

    // Lets every worker finish the exchange in flight, writes the changes
    // still waiting into the settings files, and publishes "offline".
    void Stop();

    // The bridge's availability topic, for the last will.
    std::string AvailabilityTopic() const;

private:
    struct Board;
    struct Worker;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace lumidex
