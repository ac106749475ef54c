#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

struct mosquitto;

namespace lumidex {

// What the bridge needs of a broker connection: publishing, and being told
// of connections and messages. The bridge's own tests of its rules could
// stand a recorder in its place; the program uses MqttConnection.
class Publisher {
public:
    virtual ~Publisher() = default;
    // Publishes at QoS 1; safe from any thread. A message published while
    // the connection is down is kept and sent once it is up again.
    virtual void Publish(const std::string& topic, const std::string& payload, bool retain) = 0;
};

// One connection to an MQTT broker (3.1.1) through libmosquitto, with its
// network loop on a thread of its own: reconnects by itself (1 s growing to
// 30 s), leaves a retained last will, and hands every message and every
// (re)connection to the handlers on that thread.
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
    using MessageHandler =
        std::function<void(const std::string& topic, const std::string& payload, bool retained)>;
    using ConnectHandler = std::function<void()>;

    MqttConnection();
    ~MqttConnection() override;
    MqttConnection(const MqttConnection&) = delete;
    MqttConnection& operator=(const MqttConnection&) = delete;

    // Sets up the connection and starts its thread. Returns false with a
    // reason when the options cannot be used (a CA file that cannot be
    // loaded, no memory); a broker that is not there yet is no error: the
    // connection keeps trying.
    bool Start(const Options& options, MessageHandler on_message, ConnectHandler on_connect,
               std::string& error);

    // Subscribes at QoS 1; meant for the connect handler, since a new
    // session starts without subscriptions.
    void Subscribe(const std::string& pattern);

    void Publish(const std::string& topic, const std::string& payload, bool retain) override;

    // Waits up to `timeout` until every QoS 1 message published so far has
    // been acknowledged; true when none is left outstanding.
    bool Flush(std::chrono::milliseconds timeout);

    // Disconnects cleanly (the last will is not sent) and stops the thread.
    void Stop();

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace lumidex
