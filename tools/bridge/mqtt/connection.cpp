#include "tools/bridge/mqtt/connection.h"

#include "tools/bridge/mqtt/broker_tls.h"

#include <mosquitto.h>
#include <netdb.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <set>
#include <thread>

namespace lumidex {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kQos = 1;
constexpr int kKeepAliveSeconds = 30;
// How long one turn of the loop waits for the network.
constexpr int kLoopWaitMs = 500;

std::once_flag library_started;

// What a broker that closes a plain connection at once most likely wants.
constexpr const char* kTlsPortHint = " (is this port one with TLS? then give --tls-ca)";

std::string Seconds(std::chrono::seconds s) {
    return std::to_string(s.count()) + " s";
}

} // namespace

struct MqttConnection::State {
    Options options;
    Handlers handlers;
    std::unique_ptr<BrokerTls> tls;
    std::thread thread;

    // The client of the connection in progress, replaced for every attempt
    // so nothing of an earlier connection is sent again after a new one;
    // guarded by client_mutex for the threads that publish.
    std::mutex client_mutex;
    mosquitto* client = nullptr;
    bool connected = false;

    std::mutex ack_mutex;
    std::condition_variable acknowledged;
    std::set<int> outstanding; // ids of QoS 1 publishes not yet acknowledged

    std::mutex stop_mutex;
    std::condition_variable stop_wake;
    std::atomic<bool> stopping{false};
    std::atomic<Clock::rep> last_turn{Clock::now().time_since_epoch().count()};

    // The connection's thread's own.
    std::string refusal;       // the broker's CONNACK refusal of this attempt
    std::string library_error; // the last error libmosquitto logged in this attempt
    bool session_present = false;
    std::string last_logged;   // the state last logged, to log each change once
    bool was_up = false;

    void Beat() { last_turn = Clock::now().time_since_epoch().count(); }

    std::string Broker() const {
        return options.host + ":" + std::to_string(options.port) + (tls ? " (TLS)" : "");
    }

    void Log(const std::string& line) {
        if (handlers.log) {
            handlers.log(line);
        }
    }

    // Logs a change of state once: up, or down for a reason.
    void Report(bool up, const std::string& reason) {
        const std::string key = up ? "up" : reason;
        if (key == last_logged) {
            return;
        }
        last_logged = key;
        if (up) {
            Log("connected to the broker " + Broker() + " as " + options.client_id +
                (session_present ? ", session resumed"
                                 : ", new session (nothing was kept for this client id)"));
        } else if (was_up) {
            Log("lost the connection to the broker " + Broker() + ": " + reason +
                "; trying again after " + Seconds(kFirstBrokerPause) + ", growing to " +
                Seconds(kLongestBrokerPause));
        } else {
            Log("cannot connect to the broker " + Broker() + ": " + reason +
                "; trying again after " + Seconds(kFirstBrokerPause) + ", growing to " +
                Seconds(kLongestBrokerPause));
        }
        was_up = up;
    }

    // Why an attempt or a connection ended, from libmosquitto's result and
    // errno as it left them.
    std::string Reason(int rc, int error, bool had_connected) const {
        const bool network = rc == MOSQ_ERR_ERRNO &&
                             (error == ECONNREFUSED || error == ETIMEDOUT ||
                              error == EHOSTUNREACH || error == ENETUNREACH ||
                              error == EADDRNOTAVAIL);
        if (network) {
            return std::strerror(error);
        }
        if (tls && !had_connected && !tls->HandshakeCompleted() &&
            (rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_TLS_HANDSHAKE || rc == MOSQ_ERR_ERRNO ||
             rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_PROTOCOL)) {
            return TlsFailureText(tls->Failure(library_error), options.host, tls->ca_file());
        }
        switch (rc) {
        case MOSQ_ERR_EAI:
            return "cannot look up " + options.host + ": " + ::gai_strerror(error);
        case MOSQ_ERR_CONN_REFUSED:
        case MOSQ_ERR_AUTH:
            return "the broker refused the log-in: " +
                   (refusal.empty() ? std::string(mosquitto_strerror(rc)) : refusal);
        case MOSQ_ERR_CONN_LOST:
            return had_connected
                       ? "the broker closed the connection (it stopped, or another client "
                         "connected with the client id " +
                             options.client_id + ")"
                       : std::string("the broker closed the connection before answering") +
                             (tls ? "" : kTlsPortHint);
        case MOSQ_ERR_KEEPALIVE:
            return "the broker stopped answering";
        case MOSQ_ERR_PROTOCOL:
            return std::string("the broker answered with something that is not MQTT") +
                   (tls ? "" : kTlsPortHint);
        case MOSQ_ERR_ERRNO:
            return std::strerror(error);
        default:
            break;
        }
        return mosquitto_strerror(rc);
    }

    mosquitto* NewClient() {
        // Clean session off: the broker keeps the subscriptions and what
        // arrives for them while the bridge is away.
        mosquitto* made = mosquitto_new(options.client_id.c_str(), false, this);
        if (made == nullptr) {
            throw std::runtime_error("cannot create the MQTT client");
        }
        // Other threads publish; this one runs the network.
        mosquitto_threaded_set(made, true);
        mosquitto_connect_with_flags_callback_set(
            made, [](mosquitto*, void* self, int rc, int flags) {
                static_cast<State*>(self)->OnConnack(rc, flags);
            });
        mosquitto_message_callback_set(
            made, [](mosquitto*, void* self, const mosquitto_message* message) {
                auto* state = static_cast<State*>(self);
                if (state->handlers.message && message->topic != nullptr) {
                    const char* bytes = static_cast<const char*>(message->payload);
                    state->handlers.message(
                        message->topic,
                        std::string(bytes, bytes == nullptr ? 0 : message->payloadlen),
                        message->retain);
                }
            });
        mosquitto_publish_callback_set(made, [](mosquitto*, void* self, int mid) {
            auto* state = static_cast<State*>(self);
            std::lock_guard lock(state->ack_mutex);
            state->outstanding.erase(mid);
            state->acknowledged.notify_all();
        });
        mosquitto_log_callback_set(made, [](mosquitto*, void* self, int level, const char* text) {
            if (level == MOSQ_LOG_ERR && text != nullptr) {
                std::string& kept = static_cast<State*>(self)->library_error;
                // OpenSSL's own words, without its error number.
                std::string line = text;
                if (const auto colon = line.rfind(':'); colon != std::string::npos) {
                    line = line.substr(colon + 1);
                }
                kept = line;
            }
        });
        if (!options.username.empty()) {
            mosquitto_username_pw_set(made, options.username.c_str(),
                                      options.password.empty() ? nullptr
                                                               : options.password.c_str());
        }
        if (!options.will_topic.empty()) {
            mosquitto_will_set(made, options.will_topic.c_str(),
                               static_cast<int>(options.will_payload.size()),
                               options.will_payload.data(), kQos, true);
        }
        // Commands and statuses are small messages that must not wait for
        // the acknowledgement of earlier ones (Nagle's algorithm).
        mosquitto_int_option(made, MOSQ_OPT_TCP_NODELAY, 1);
        if (tls) {
            // This context alone: its CA, its name check, nothing added.
            mosquitto_int_option(made, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
            mosquitto_void_option(made, MOSQ_OPT_SSL_CTX, tls->context());
        }
        return made;
    }

    void OnConnack(int rc, int flags) {
        if (rc != 0) {
            refusal = mosquitto_connack_string(rc);
            return;
        }
        session_present = (flags & 1) != 0;
        {
            std::lock_guard lock(client_mutex);
            connected = true;
        }
        Report(true, "");
        if (handlers.connected) {
            handlers.connected();
        }
    }

    // One connection, from the attempt to its end; true when it was up.
    bool Connect(std::string& reason) {
        if (tls) {
            if (auto why = tls->ReloadIfChanged()) {
                Log("the CA file changed and cannot be used, the one read before stays: " + *why);
            }
            tls->StartHandshake();
        }
        refusal.clear();
        library_error.clear();
        mosquitto* session = NewClient();
        {
            std::lock_guard lock(client_mutex);
            client = session;
        }
        const auto deadline = Clock::now() + kConnectTimeout;
        bool up = false;
        int rc = mosquitto_connect_async(session, options.host.c_str(), options.port,
                                         kKeepAliveSeconds);
        int error = errno;
        while (rc == MOSQ_ERR_SUCCESS && !stopping) {
            rc = mosquitto_loop(session, kLoopWaitMs, 1);
            error = errno;
            Beat();
            {
                std::lock_guard lock(client_mutex);
                up = connected;
            }
            if (rc != MOSQ_ERR_SUCCESS) {
                break;
            }
            if (!up && Clock::now() > deadline) {
                reason = "no answer from the broker within " + Seconds(kConnectTimeout);
                break;
            }
            if (up && handlers.tick) {
                handlers.tick();
            }
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            reason = Reason(rc, error, up);
        }
        if (stopping && up) {
            // A clean end: the broker drops the last will.
            mosquitto_disconnect(session);
            for (int turn = 0; turn < 4 && mosquitto_loop(session, 100, 1) == MOSQ_ERR_SUCCESS;
                 ++turn) {
            }
        }
        {
            std::lock_guard lock(client_mutex);
            client = nullptr;
            connected = false;
        }
        mosquitto_destroy(session);
        {
            // What was not acknowledged went with the client.
            std::lock_guard lock(ack_mutex);
            outstanding.clear();
            acknowledged.notify_all();
        }
        return up;
    }

    void Run() {
        try {
            std::chrono::seconds pause = kFirstBrokerPause;
            while (!stopping) {
                Beat();
                std::string reason;
                if (Connect(reason)) {
                    pause = kFirstBrokerPause;
                }
                if (stopping) {
                    break;
                }
                Report(false, reason);
                std::unique_lock lock(stop_mutex);
                const auto until = Clock::now() + pause;
                while (!stopping && Clock::now() < until) {
                    stop_wake.wait_for(lock, std::chrono::seconds(1));
                    Beat();
                }
                pause = std::min(pause * 2, kLongestBrokerPause);
            }
        } catch (const std::exception& failure) {
            Log(std::string("the MQTT connection's thread failed: ") + failure.what());
            // Seen as a loop that stopped turning long ago.
            last_turn = Clock::time_point{}.time_since_epoch().count();
        }
    }
};

MqttConnection::MqttConnection() : state_(std::make_unique<State>()) {
    std::call_once(library_started, [] { mosquitto_lib_init(); });
}

MqttConnection::~MqttConnection() {
    Stop();
}

bool MqttConnection::Start(const Options& options, Handlers handlers, std::string& error) {
    State& s = *state_;
    s.options = options;
    s.handlers = std::move(handlers);
    if (!options.tls_ca.empty()) {
        s.tls = BrokerTls::Load(options.tls_ca, options.host, error);
        if (!s.tls) {
            return false;
        }
    }
    s.Beat();
    s.thread = std::thread([&s] { s.Run(); });
    return true;
}

void MqttConnection::Subscribe(const std::string& pattern) {
    std::lock_guard lock(state_->client_mutex);
    if (state_->client != nullptr) {
        mosquitto_subscribe(state_->client, nullptr, pattern.c_str(), kQos);
    }
}

void MqttConnection::Publish(const std::string& topic, const std::string& payload, bool retain) {
    State& s = *state_;
    std::lock_guard lock(s.client_mutex);
    if (s.client == nullptr || !s.connected) {
        return;
    }
    // The id is noted before the acknowledgement can come.
    std::lock_guard ack(s.ack_mutex);
    int mid = 0;
    if (mosquitto_publish(s.client, &mid, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), kQos, retain) == MOSQ_ERR_SUCCESS) {
        s.outstanding.insert(mid);
    }
}

bool MqttConnection::Flush(std::chrono::milliseconds timeout) {
    std::unique_lock lock(state_->ack_mutex);
    return state_->acknowledged.wait_for(lock, timeout,
                                         [&] { return state_->outstanding.empty(); });
}

std::chrono::steady_clock::duration MqttConnection::SinceLastTurn() const {
    return Clock::now() - Clock::time_point(Clock::duration(state_->last_turn.load()));
}

void MqttConnection::Stop() {
    State& s = *state_;
    if (!s.thread.joinable()) {
        return;
    }
    {
        std::lock_guard lock(s.stop_mutex);
        s.stopping = true;
    }
    s.stop_wake.notify_all();
    s.thread.join();
}

} // namespace lumidex
