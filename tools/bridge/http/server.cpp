#include "tools/bridge/http/server.h"

#include "tools/bridge/http/api.h"
#include "tools/bridge/http/connection.h"
#include "tools/bridge/http/password_checks.h"
#include "tools/bridge/http/tls.h"

#include <algorithm>
#include <map>
#include <set>
#include <thread>

namespace lumidex {
namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

// How long a stop waits for the connections it closed to wind down.
constexpr std::chrono::seconds kStopWait{2};

// An answer written as it is to a connection the door will not serve.
std::string BusyAnswer(const std::string& why) {
    const std::string body = "{\"error\":\"" + why + "\"}";
    return "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\n"
           "X-Content-Type-Options: nosniff\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\nRetry-After: 1\r\n\r\n" + body;
}

} // namespace

struct HttpServer::Impl : ConnectionHost {
    // What the door knows of each open connection.
    struct Open {
        std::string client; // ClientOf its address
        Clock::time_point since;
        bool stream = false;
        std::optional<std::uint64_t> session; // of its event stream
        bool must_log_in = false; // taken in reserve: served only with credentials
    };

    BoardService& service;
    std::unique_ptr<HttpApi> api;
    std::unique_ptr<TlsServer> tls;
    // Keyed by the connection itself: a connection leaves when it ends.
    std::map<ServedConnection*, Open> open;
    std::set<std::shared_ptr<asio::steady_timer>> answer_timers;
    bool stopping = false;
    int observer = 0;
    int port = 0;
    std::thread thread;
    // Declared after what the connections tell when they end: the handlers
    // the context still holds at its end are destroyed with it, and with
    // them the last connections.
    asio::io_context io{1};
    tcp::acceptor acceptor{io};
    asio::steady_timer keep_alive{io};
    asio::steady_timer accept_pause{io};
    asio::steady_timer stop_deadline{io};
    // Last: their threads post onto `io` and are stopped before anything
    // else. Readings of the change record wait in a short queue of their
    // own, as password checks do.
    PasswordChecks passwords;
    PasswordChecks record_reads;

    explicit Impl(BoardService& s) : service(s) {}

    HttpApi& Api() override { return *api; }

    std::size_t CountOf(const std::string& client) const {
        return static_cast<std::size_t>(std::count_if(
            open.begin(), open.end(), [&](const auto& entry) { return entry.second.client == client; }));
    }

    bool Admit(ServedConnection& connection, const HttpRequest& headers) override {
        const auto found = open.find(&connection);
        if (found == open.end() || !found->second.must_log_in) {
            return true;
        }
        if (!api->CarriesCredentials(headers)) {
            return false;
        }
        // Once it has shown its credentials, it is served like any other.
        found->second.must_log_in = false;
        return true;
    }

    bool AddStream(ServedConnection& connection, std::optional<std::uint64_t> session) override {
        const auto found = open.find(&connection);
        if (found == open.end()) {
            return false;
        }
        const std::string& client = found->second.client;
        std::size_t all = 0;
        std::size_t mine = 0;
        for (const auto& [other, entry] : open) {
            all += entry.stream ? 1 : 0;
            mine += entry.stream && entry.client == client ? 1 : 0;
        }
        if (all >= kMaxEventStreams || mine >= kMaxEventStreamsPerClient) {
            return false;
        }
        found->second.stream = true;
        found->second.session = session;
        return true;
    }

    void RemoveStream(ServedConnection& connection) override {
        if (const auto found = open.find(&connection); found != open.end()) {
            found->second.stream = false;
        }
    }

    void EndSession(std::uint64_t session) override {
        CloseWhere([session](const Open& entry) { return entry.stream && entry.session == session; });
    }

    void Closed(ServedConnection& connection) override {
        open.erase(&connection);
        if (stopping && open.empty()) {
            stop_deadline.cancel();
        }
    }

    // Closes every connection that `which` picks. Close ends what a
    // connection waits for; it leaves `open` when its handlers have run.
    template <class Which>
    void CloseWhere(Which which) {
        std::vector<ServedConnection*> chosen;
        for (const auto& [connection, entry] : open) {
            if (which(entry)) {
                chosen.push_back(connection);
            }
        }
        for (ServedConnection* connection : chosen) {
            connection->Close();
        }
    }

    void Broadcast(const std::string& text) {
        const auto shared = std::make_shared<const std::string>(text);
        std::vector<ServedConnection*> streams;
        for (const auto& [connection, entry] : open) {
            if (entry.stream) {
                streams.push_back(connection);
            }
        }
        for (ServedConnection* connection : streams) {
            connection->Send(shared);
        }
    }

    void KeepAlive() {
        keep_alive.expires_after(kKeepAliveComment);
        keep_alive.async_wait([this](boost::system::error_code error) {
            if (error) {
                return;
            }
            // A stream of a session that ended (it expired) ends too.
            CloseWhere([this](const Open& entry) {
                return entry.stream && entry.session && !api->SessionOpen(*entry.session);
            });
            Broadcast(": keep-alive\n\n");
            KeepAlive();
        });
    }

    void Accept() {
        acceptor.async_accept([this](boost::system::error_code error, tcp::socket socket) {
            if (!acceptor.is_open()) {
                return;
            }
            if (error) {
                // Out of descriptors, most likely: try again in a moment
                // rather than at once and for ever.
                accept_pause.expires_after(std::chrono::milliseconds{100});
                accept_pause.async_wait([this](boost::system::error_code e) {
                    if (!e) {
                        Accept();
                    }
                });
                return;
            }
            Serve(std::move(socket));
            Accept();
        });
    }

    void Refuse(tcp::socket socket, const std::string& why) {
        if (tls) {
            return; // a TLS client would not read a plain answer
        }
        auto answer = std::make_shared<std::string>(BusyAnswer(why));
        auto held = std::make_shared<tcp::socket>(std::move(socket));
        asio::async_write(*held, asio::buffer(*answer),
                          [answer, held](boost::system::error_code, std::size_t) {
                              boost::system::error_code ignored;
                              held->shutdown(tcp::socket::shutdown_both, ignored);
                          });
    }

    // When the door is nearly full, a newcomer takes the place of the
    // oldest connection still waiting for its request of the client that
    // holds the most, if that client holds more than the newcomer would;
    // true when one was closed.
    bool MakeRoom(const std::string& client) {
        std::map<std::string, std::size_t> held;
        for (const auto& [connection, entry] : open) {
            ++held[entry.client];
        }
        const std::size_t newcomer = held[client] + 1;
        ServedConnection* victim = nullptr;
        const Open* victim_entry = nullptr;
        for (const auto& [connection, entry] : open) {
            if (!connection->WaitingForRequest() || held[entry.client] <= newcomer) {
                continue;
            }
            if (victim == nullptr || held[entry.client] > held[victim_entry->client] ||
                (held[entry.client] == held[victim_entry->client] &&
                 entry.since < victim_entry->since)) {
                victim = connection;
                victim_entry = &entry;
            }
        }
        if (victim == nullptr) {
            return false;
        }
        open.erase(victim);
        victim->Close();
        return true;
    }

    void Serve(tcp::socket socket) {
        boost::system::error_code failure;
        socket.set_option(tcp::no_delay(true), failure);
        const tcp::endpoint peer = socket.remote_endpoint(failure);
        if (failure) {
            return;
        }
        asio::ip::address address = peer.address();
        if (address.is_v6() && address.to_v6().is_v4_mapped()) {
            address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
        }
        const std::string client = ClientOf(address.to_string());
        if (CountOf(client) >= kMaxConnectionsPerClient) {
            return Refuse(std::move(socket), "at most " + std::to_string(kMaxConnectionsPerClient) +
                                                 " connections from one address are served at once");
        }
        bool must_log_in = false;
        if (open.size() >= kMaxConnections - kReservedConnections && !MakeRoom(client)) {
            if (open.size() >= kMaxConnections) {
                return Refuse(std::move(socket), "at most " + std::to_string(kMaxConnections) +
                                                     " connections are served at once");
            }
            must_log_in = true;
        }
        std::shared_ptr<ServedConnection> connection;
        if (tls) {
            connection = tls->Connection(std::move(socket), *this, address.to_string());
        } else {
            connection = std::make_shared<HttpConnection<boost::beast::tcp_stream>>(
                *this, address.to_string(), std::move(socket));
        }
        open[connection.get()] = {client, Clock::now(), false, std::nullopt, must_log_in};
        connection->Begin();
    }

    // Runs a task on the door's thread after a while, unless the door
    // stops first.
    void After(std::chrono::milliseconds delay, std::function<void()> task) {
        auto timer = std::make_shared<asio::steady_timer>(io, delay);
        answer_timers.insert(timer);
        timer->async_wait([this, timer, task = std::move(task)](boost::system::error_code e) {
            answer_timers.erase(timer);
            if (!e) {
                task();
            }
        });
    }

    // On the door's thread: no new connection, every open one closed, the
    // thread ends once they have wound down (or at kStopWait).
    void BeginStop() {
        stopping = true;
        boost::system::error_code ignored;
        acceptor.close(ignored);
        keep_alive.cancel();
        accept_pause.cancel();
        for (const auto& timer : answer_timers) {
            timer->cancel();
        }
        CloseWhere([](const Open&) { return true; });
        stop_deadline.expires_after(kStopWait);
        stop_deadline.async_wait([this](boost::system::error_code error) {
            if (!error) {
                io.stop();
            }
        });
        if (open.empty()) {
            stop_deadline.cancel();
        }
    }
};

HttpServer::HttpServer(BoardService& service) : impl_(std::make_unique<Impl>(service)) {}

HttpServer::~HttpServer() {
    Stop();
}

bool HttpServer::Start(const Options& options, std::string& error) {
    Impl& impl = *impl_;
    const bool tls = !options.tls_cert.empty() || !options.tls_key.empty();
    if (tls) {
        if (options.tls_cert.empty() || options.tls_key.empty()) {
            error = "HTTPS needs both a certificate (tls-cert) and its key (tls-key)";
            return false;
        }
        impl.tls = MakeTlsServer(options.tls_cert, options.tls_key, error);
        if (!impl.tls) {
            return false;
        }
    }
    boost::system::error_code failure;
    const auto address = asio::ip::make_address(options.listen.host, failure);
    if (failure) {
        error = "cannot listen on " + options.listen.host + ": " + failure.message();
        return false;
    }
    const tcp::endpoint endpoint(address, static_cast<unsigned short>(options.listen.port));
    impl.acceptor.open(endpoint.protocol(), failure);
    if (!failure) {
        impl.acceptor.set_option(asio::socket_base::reuse_address(true), failure);
        impl.acceptor.bind(endpoint, failure);
    }
    if (!failure) {
        impl.acceptor.listen(asio::socket_base::max_listen_connections, failure);
    }
    if (failure) {
        error = "cannot listen on " + options.listen.host + ":" + std::to_string(options.listen.port) +
                ": " + failure.message();
        boost::system::error_code ignored;
        impl.acceptor.close(ignored);
        return false;
    }
    impl.port = impl.acceptor.local_endpoint().port();

    HttpApi::Settings settings;
    settings.port = impl.port;
    settings.tls = tls;
    settings.allow_origin = options.allow_origin;
    settings.credentials = options.credentials;
    settings.sessions = options.sessions;
    const std::string machine = asio::ip::host_name(failure);
    if (!failure && !machine.empty()) {
        settings.host_names = {machine, machine + ".local"};
    }
    impl.api = std::make_unique<HttpApi>(
        impl.service, std::move(settings),
        [&impl](std::function<void()> task) { asio::post(impl.io, std::move(task)); },
        [&impl](std::chrono::milliseconds delay, std::function<void()> task) {
            impl.After(delay, std::move(task));
        },
        [&impl](const std::string& client, std::function<void(bool)> check) {
            return impl.passwords.Run(client, std::move(check));
        },
        [&impl](const std::string& client, std::function<void(bool)> read) {
            return impl.record_reads.Run(client, std::move(read));
        });
    impl.observer = impl.service.Subscribe([&impl](const BoardEvent& event) {
        asio::post(impl.io, [&impl, event] {
            if (std::none_of(impl.open.begin(), impl.open.end(),
                             [](const auto& entry) { return entry.second.stream; })) {
                return;
            }
            if (const auto text = impl.api->EventText(event)) {
                impl.Broadcast(*text);
            }
        });
    });
    impl.Accept();
    impl.KeepAlive();
    impl.thread = std::thread([&impl] { impl.io.run(); });
    return true;
}

void HttpServer::Stop() {
    Impl& impl = *impl_;
    if (!impl.thread.joinable()) {
        return;
    }
    impl.service.Unsubscribe(impl.observer);
    asio::post(impl.io, [&impl] { impl.BeginStop(); });
    impl.thread.join();
    // What the context still holds ends with it, without a deadline to cut.
    impl.stopping = false;
    // No check answers now: a check still running posts onto a context
    // that no longer runs, and is dropped with it.
    impl.passwords.Stop();
    impl.record_reads.Stop();
}

int HttpServer::Port() const {
    return impl_->port;
}

} // namespace lumidex
