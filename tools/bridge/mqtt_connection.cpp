#include "tools/bridge/mqtt_connection.h"

#include <mosquitto.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <set>

namespace lumidex {
namespace {

constexpr int kQos = 1;
constexpr int kKeepAliveSeconds = 30;

std::once_flag library_started;

} // namespace

struct MqttConnection::State {
    mosquitto* client = nullptr;
    MessageHandler on_message;
    ConnectHandler on_connect;
    bool loop_running = false;
    std::mutex mutex;
    std::condition_variable acknowledged;
    std::set<int> outstanding; // message ids of QoS 1 publishes not yet acknowledged
};

MqttConnection::MqttConnection() : state_(std::make_unique<State>()) {
    std::call_once(library_started, [] { mosquitto_lib_init(); });
}

MqttConnection::~MqttConnection() {
    Stop();
    if (state_->client != nullptr) {
        mosquitto_destroy(state_->client);
    }
}

bool MqttConnection::Start(const Options& options, MessageHandler on_message,
                           ConnectHandler on_connect, std::string& error) {
    State& s = *state_;
    s.on_message = std::move(on_message);
    s.on_connect = std::move(on_connect);
    s.client = mosquitto_new(options.client_id.c_str(), true, &s);
    if (s.client == nullptr) {
        error = "cannot create the MQTT client";
        return false;
    }
    mosquitto_connect_callback_set(s.client, [](mosquitto*, void* obj, int rc) {
        auto* state = static_cast<State*>(obj);
        if (rc == 0 && state->on_connect) {
            state->on_connect();
        } else if (rc != 0) {
            std::fprintf(stderr, "lumidex-bridge: the broker refused the connection: %s\n",
                         mosquitto_connack_string(rc));
        }
    });
    mosquitto_message_callback_set(
        s.client, [](mosquitto*, void* obj, const mosquitto_message* message) {
            auto* state = static_cast<State*>(obj);
            if (state->on_message && message->topic != nullptr) {
                const char* bytes = static_cast<const char*>(message->payload);
                state->on_message(message->topic,
                                  std::string(bytes, bytes == nullptr ? 0 : message->payloadlen),
                                  message->retain);
            }
        });
    mosquitto_publish_callback_set(s.client, [](mosquitto*, void* obj, int mid) {
        auto* state = static_cast<State*>(obj);
        std::lock_guard lock(state->mutex);
        state->outstanding.erase(mid);
        state->acknowledged.notify_all();
    });
    if (!options.username.empty() &&
        mosquitto_username_pw_set(s.client, options.username.c_str(),
                                  options.password.empty() ? nullptr : options.password.c_str()) !=
            MOSQ_ERR_SUCCESS) {
        error = "cannot set the user name";
        return false;
    }
    if (!options.tls_ca.empty()) {
        // The broker's certificate is checked against the CA, its name
        // against the host connected to.
        const int rc =
            mosquitto_tls_set(s.client, options.tls_ca.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            error = "cannot use " + options.tls_ca.string() + " as CA: " + mosquitto_strerror(rc);
            return false;
        }
    }
    if (!options.will_topic.empty() &&
        mosquitto_will_set(s.client, options.will_topic.c_str(),
                           static_cast<int>(options.will_payload.size()),
                           options.will_payload.data(), kQos, true) != MOSQ_ERR_SUCCESS) {
        error = "cannot set the last will on " + options.will_topic;
        return false;
    }
    mosquitto_reconnect_delay_set(s.client, 1, 30, true);
    const int rc =
        mosquitto_connect_async(s.client, options.host.c_str(), options.port, kKeepAliveSeconds);
    if (rc == MOSQ_ERR_INVAL) {
        error = "cannot connect to " + options.host + ":" + std::to_string(options.port);
        return false;
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        std::fprintf(stderr, "lumidex-bridge: %s:%d: %s; trying again\n", options.host.c_str(),
                     options.port, mosquitto_strerror(rc));
    }
    if (mosquitto_loop_start(s.client) != MOSQ_ERR_SUCCESS) {
        error = "cannot start the MQTT thread";
        return false;
    }
    s.loop_running = true;
    return true;
}

void MqttConnection::Subscribe(const std::string& pattern) {
    mosquitto_subscribe(state_->client, nullptr, pattern.c_str(), kQos);
}

void MqttConnection::Publish(const std::string& topic, const std::string& payload, bool retain) {
    State& s = *state_;
    // The id is noted under the lock before the acknowledgement can come.
    std::lock_guard lock(s.mutex);
    int mid = 0;
    if (mosquitto_publish(s.client, &mid, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), kQos, retain) == MOSQ_ERR_SUCCESS) {
        s.outstanding.insert(mid);
    }
}

bool MqttConnection::Flush(std::chrono::milliseconds timeout) {
    std::unique_lock lock(state_->mutex);
    return state_->acknowledged.wait_for(lock, timeout,
                                         [&] { return state_->outstanding.empty(); });
}

void MqttConnection::Stop() {
    State& s = *state_;
    if (!s.loop_running) {
        return;
    }
    mosquitto_disconnect(s.client);
    mosquitto_loop_stop(s.client, false);
    s.loop_running = false;
}

} // namespace lumidex
