#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace lumidex {

// What the bridge needs of a broker connection: publishing, and being told
// of connections and messages. The bridge's own tests of its rules could
// stand a recorder in its place; the program uses MqttConnection.
class Publisher {
public:
    virtual ~Publisher() = default;
    // Publishes at QoS 1; safe from any thread. While the connection is down
    // nothing is kept: whoever publishes state publishes all of it again
    // after the next connection.
    virtual void Publish(const std::string& topic, const std::string& payload, bool retain) = 0;
};

// The pause before the broker is tried again starts here and doubles up to
// kLongestBrokerPause, after a failed attempt as after a lost connection.
inline constexpr std::chrono::seconds kFirstBrokerPause{1};
inline constexpr std::chrono::seconds kLongestBrokerPause{30};
// An attempt that has not been answered (CONNACK) within this time is given
// up: a broker that takes the connection and says nothing, a dropped SYN.
inline constexpr std::chrono::seconds kConnectTimeout{10};

// One connection to an MQTT broker (3.1.1) through libmosquitto, run by a
// thread of its own that never gives up: the first connection and every
// reconnection are tried for ever, whatever failed (refused, name lookup,
// TLS, log-in), 1 s apart growing to 30 s, and each change of the
// connection's state is logged once with its reason. The session is
// persistent (clean session off), so the broker keeps the subscriptions and
// the QoS 1 messages for them while the bridge is away. Leaves a retained
// last will.
class MqttConnection : public Publisher {
public:
    struct Options {
        std::string host;
        int port = 1883;
        std::string client_id;
        std::string username;
        std::string password;
        std::filesystem::path tls_ca; // empty: no TLS
        std::string will_topic;
        std::string will_payload;
    };
    // Everything is called on the connection's thread.
    struct Handlers {
        // Every message, with its retain flag.
        std::function<void(const std::string& topic, const std::string& payload, bool retained)>
            message;
        // After every connection: subscribe and publish the state here.
        std::function<void()> connected;
        // About twice a second while connected, for work that waits.
        std::function<void()> tick;
        // One line for each change of the connection's state.
        std::function<void(const std::string& line)> log;
    };

    MqttConnection();
    ~MqttConnection() override;
    MqttConnection(const MqttConnection&) = delete;
    MqttConnection& operator=(const MqttConnection&) = delete;

    // Reads the CA file (when TLS is asked for) and starts the connection's
    // thread. Returns false with a reason when the options cannot be used
    // (a CA file that cannot be read or holds no certificate); a broker that
    // is not there yet is no error: the connection keeps trying.
    bool Start(const Options& options, Handlers handlers, std::string& error);

    // Subscribes at QoS 1; meant for the connected handler.
    void Subscribe(const std::string& pattern);

    void Publish(const std::string& topic, const std::string& payload, bool retain) override;

    // Waits up to `timeout` until every QoS 1 message published so far has
    // been acknowledged; true when none is left outstanding.
    bool Flush(std::chrono::milliseconds timeout);

    // How long ago the thread last went round its loop; a thread that has
    // not for long is stuck. Stays growing once the thread has failed.
    std::chrono::steady_clock::duration SinceLastTurn() const;

    // Disconnects cleanly (the last will is not sent) and stops the thread.
    void Stop();

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace lumidex
