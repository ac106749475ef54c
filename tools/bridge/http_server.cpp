#include "tools/bridge/http_server.h"

#include "tools/bridge/http_api.h"
#include "tools/bridge/http_connection.h"
#include "tools/bridge/http_tls.h"

#include <set>
#include <thread>

namespace lumidex {
namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

// The answer to a connection beyond kMaxConnections, written as it is.
std::string BusyAnswer() {
    const std::string body = "{\"error\":\"at most " + std::to_string(kMaxConnections) +
                             " connections are served at once\"}";
    return "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\nRetry-After: 1\r\n\r\n" + body;
}

} // namespace

struct HttpServer::Impl : ConnectionHost {
    BoardService& service;
    std::unique_ptr<HttpApi> api;
    std::unique_ptr<TlsServer> tls;
    std::size_t connections = 0;
    std::set<std::shared_ptr<EventSink>> streams;
    int observer = 0;
    int port = 0;
    std::thread thread;
    // Declared last so it goes first: the connections its handlers hold
    // tell this server when they end.
    asio::io_context io{1};
    tcp::acceptor acceptor{io};
    asio::steady_timer keep_alive{io};
    asio::steady_timer accept_pause{io};

    explicit Impl(BoardService& s) : service(s) {}

    HttpApi& Api() override { return *api; }

    bool AddStream(const std::shared_ptr<EventSink>& sink) override {
        if (streams.size() >= kMaxEventStreams) {
            return false;
        }
        streams.insert(sink);
        return true;
    }

    void RemoveStream(EventSink* sink) override {
        std::erase_if(streams, [sink](const auto& s) { return s.get() == sink; });
    }

    void Closed() override { --connections; }

    void Broadcast(const std::string& text) {
        const auto shared = std::make_shared<const std::string>(text);
        // A copy: a stream that fails while it is told leaves the set.
        const auto all = streams;
        for (const auto& sink : all) {
            sink->Send(shared);
        }
    }

    void KeepAlive() {
        keep_alive.expires_after(kKeepAliveComment);
        keep_alive.async_wait([this](boost::system::error_code error) {
            if (!error) {
                Broadcast(": keep-alive\n\n");
                KeepAlive();
            }
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
        if (connections >= kMaxConnections) {
            if (tls) {
                return; // a TLS client would not read a plain answer
            }
            auto answer = std::make_shared<std::string>(BusyAnswer());
            auto held = std::make_shared<tcp::socket>(std::move(socket));
            asio::async_write(*held, asio::buffer(*answer),
                              [answer, held](boost::system::error_code, std::size_t) {
                                  boost::system::error_code ignored;
                                  held->shutdown(tcp::socket::shutdown_both, ignored);
                              });
            return;
        }
        ++connections;
        if (tls) {
            tls->Serve(std::move(socket), *this, address.to_string());
            return;
        }
        auto connection = std::make_shared<HttpConnection<boost::beast::tcp_stream>>(
            *this, address.to_string(), std::move(socket));
        connection->Begin();
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
    const std::string machine = asio::ip::host_name(failure);
    if (!failure && !machine.empty()) {
        settings.host_names = {machine, machine + ".local"};
    }
    impl.api = std::make_unique<HttpApi>(
        impl.service, std::move(settings),
        [&impl](std::function<void()> task) { asio::post(impl.io, std::move(task)); },
        [&impl](std::chrono::milliseconds delay, std::function<void()> task) {
            auto timer = std::make_shared<asio::steady_timer>(impl.io, delay);
            timer->async_wait([timer, task = std::move(task)](boost::system::error_code e) {
                if (!e) {
                    task();
                }
            });
        });
    impl.observer = impl.service.Subscribe([&impl](const BoardEvent& event) {
        asio::post(impl.io, [&impl, event] {
            if (impl.streams.empty()) {
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
    asio::post(impl.io, [&impl] {
        boost::system::error_code ignored;
        impl.acceptor.close(ignored);
        impl.keep_alive.cancel();
        impl.streams.clear();
    });
    impl.io.stop();
    impl.thread.join();
}

int HttpServer::Port() const {
    return impl_->port;
}

} // namespace lumidex
