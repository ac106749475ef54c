#pragma once

// One client connection of the HTTP door, over a plain or a TLS stream:
// requests read within the door's limits, answers written, and an event
// stream kept open once asked for. Everything runs on the door's one
// thread. Included by http_server.cpp (plain) and http_tls_posix.cpp (TLS).
#include "tools/bridge/http/api.h"
#include "tools/bridge/http/rules.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <deque>
#include <memory>
#include <optional>
#include <string>

namespace lumidex {

// One connection as the server that accepted it sees it.
class ServedConnection {
public:
    virtual ~ServedConnection() = default;
    // Reads the first request (after any TLS handshake).
    virtual void Begin() = 0;
    // An event stream's next event; ignored by a connection that streams
    // nothing.
    virtual void Send(std::shared_ptr<const std::string> text) = 0;
    // Closes the connection now; what it waits for ends at once.
    virtual void Close() = 0;
    // True while the connection waits for a request's headers, with no
    // request in hand and no event stream open.
    virtual bool WaitingForRequest() const = 0;
};

// What a connection needs from the server that accepted it. Everything is
// called on the door's thread.
class ConnectionHost {
public:
    virtual ~ConnectionHost() = default;
    virtual HttpApi& Api() = 0;
    // A request's headers were read: true when the door serves it, false
    // when the door is too busy for it (it is answered 503).
    virtual bool Admit(ServedConnection& connection, const HttpRequest& headers) = 0;
    // An event stream starts, of that session (if any); false when the
    // door serves kMaxEventStreams already, or this client
    // kMaxEventStreamsPerClient.
    virtual bool AddStream(ServedConnection& connection, std::optional<std::uint64_t> session) = 0;
    virtual void RemoveStream(ServedConnection& connection) = 0;
    // A logout: the event streams of that session end.
    virtual void EndSession(std::uint64_t session) = 0;
    // A connection ended.
    virtual void Closed(ServedConnection& connection) = 0;
};

// How many events an event stream may have waiting to be written before
// the client counts as stuck and is cut off.
inline constexpr std::size_t kMaxQueuedEvents = 256;
// How long, and for how many bytes, a connection that is being closed still
// reads what its client sends.
inline constexpr std::chrono::seconds kLingerTime{2};
inline constexpr std::size_t kMaxLingerBytes = 64 * 1024;

using HttpMessage = boost::beast::http::request<boost::beast::http::string_body>;
using HttpParser = boost::beast::http::request_parser<boost::beast::http::string_body>;

// A parser held to the door's limits on headers and body.
inline void LimitParser(HttpParser& parser) {
    parser.header_limit(static_cast<std::uint32_t>(kMaxHeaderBytes));
    parser.body_limit(kMaxBodyBytes);
}

// The answer to a request that could not be read (too large, no HTTP);
// nothing when reading ended for another reason (the client went, it was
// too slow) or did not fail.
inline std::optional<HttpResponse> RefusalOfUnreadable(boost::beast::error_code error) {
    namespace http = boost::beast::http;
    if (error == http::error::body_limit) {
        return ErrorResponse(413, "the body is larger than " + std::to_string(kMaxBodyBytes / 1024) +
                                      " KB");
    }
    if (error == http::error::header_limit || error == http::error::buffer_overflow) {
        return ErrorResponse(431, "the headers are larger than " +
                                      std::to_string(kMaxHeaderBytes / 1024) + " KB");
    }
    if (error && error.category() == http::make_error_code(http::error::body_limit).category() &&
        error != http::error::end_of_stream && error != http::error::partial_message) {
        return ErrorResponse(400, "this is no HTTP/1 request: " + error.message());
    }
    return std::nullopt;
}

// What the door looks at in a request that was read.
inline HttpRequest RequestOf(const HttpMessage& message, const std::string& peer) {
    namespace http = boost::beast::http;
    HttpRequest request;
    request.method = std::string(message.method_string());
    request.target = std::string(message.target());
    const auto field = [&](http::field name) { return std::string(message[name]); };
    request.host = field(http::field::host);
    request.origin = field(http::field::origin);
    request.content_type = field(http::field::content_type);
    request.authorization = field(http::field::authorization);
    request.cookie = field(http::field::cookie);
    request.body = message.body();
    request.peer = peer;
    return request;
}

template <class Stream>
class HttpConnection : public ServedConnection,
                       public std::enable_shared_from_this<HttpConnection<Stream>> {
public:
    template <class... Args>
    HttpConnection(ConnectionHost& host, std::string peer, Args&&... stream_args)
        : host_(host), peer_(std::move(peer)), stream_(std::forward<Args>(stream_args)...) {}

    ~HttpConnection() override {
        if (streaming_) {
            host_.RemoveStream(*this);
        }
        host_.Closed(*this);
    }

    Stream& stream() { return stream_; }

    void Begin() override { ReadRequest(); }

    void Send(std::shared_ptr<const std::string> text) override {
        if (closed_ || !streaming_) {
            return;
        }
        Queue(std::move(text));
    }

    void Close() override {
        if (closed_) {
            return;
        }
        closed_ = true;
        waiting_ = false;
        if (streaming_) {
            streaming_ = false;
            host_.RemoveStream(*this);
        }
        write_deadline_.cancel();
        boost::beast::error_code ignored;
        Lowest().socket().shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
        Lowest().close();
    }

    bool WaitingForRequest() const override { return waiting_; }

private:
    using Self = HttpConnection<Stream>;

    auto& Lowest() { return boost::beast::get_lowest_layer(stream_); }

    // The headers first, within the shorter time: a connection that opens
    // and says nothing holds its place only briefly.
    void ReadRequest() {
        parser_.emplace();
        LimitParser(*parser_);
        waiting_ = true;
        Lowest().expires_after(kHeaderTimeout);
        boost::beast::http::async_read_header(
            stream_, buffer_, *parser_,
            [self = this->shared_from_this()](boost::beast::error_code error, std::size_t) {
                self->OnHeader(error);
            });
    }

    void OnHeader(boost::beast::error_code error) {
        namespace http = boost::beast::http;
        waiting_ = false;
        if (closed_) {
            return;
        }
        if (auto refusal = RefusalOfUnreadable(error)) {
            return Refuse(std::move(*refusal));
        }
        if (error) {
            return Close(); // the client went, or took longer than the door waits
        }
        const auto& message = parser_->get();
        if (message.count(http::field::host) != 1) {
            return Refuse(ErrorResponse(400, "a request names its Host once"));
        }
        // Only "chunked" tells this door and every proxy before it the same
        // length of the body; anything else could hide a second request.
        const auto codings = message.count(http::field::transfer_encoding);
        const auto coding = message[http::field::transfer_encoding];
        if (codings > 1 ||
            (codings == 1 && !IsOnlyChunked(std::string_view(coding.data(), coding.size())))) {
            return Refuse(ErrorResponse(400, "a Transfer-Encoding other than chunked is refused"));
        }
        if (!host_.Admit(*this, RequestOf(message, peer_))) {
            HttpResponse busy = ErrorResponse(503, "the service is busy; only logged-in requests are "
                                                   "served now");
            busy.headers.emplace_back("Retry-After", "2");
            return Refuse(std::move(busy));
        }
        Lowest().expires_after(kRequestTimeout);
        http::async_read(stream_, buffer_, *parser_,
                         [self = this->shared_from_this()](boost::beast::error_code e, std::size_t) {
                             self->OnRead(e);
                         });
    }

    void OnRead(boost::beast::error_code error) {
        if (closed_) {
            return;
        }
        if (auto refusal = RefusalOfUnreadable(error)) {
            return Refuse(std::move(*refusal));
        }
        if (error) {
            return Close();
        }
        const auto& message = parser_->get();
        keep_alive_ = message.keep_alive();
        version_ = message.version();
        host_.Api().Handle(RequestOf(message, peer_), [self = this->shared_from_this()](HttpResponse response) {
            self->Answer(std::move(response));
        });
    }

    // Answers a request the door could not read or will not serve, and
    // closes.
    void Refuse(HttpResponse response) {
        keep_alive_ = false;
        version_ = 11;
        Answer(std::move(response));
    }

    void Answer(HttpResponse answer) {
        namespace http = boost::beast::http;
        if (closed_) {
            return;
        }
        if (answer.ended_session) {
            host_.EndSession(*answer.ended_session);
        }
        if (answer.event_stream) {
            return StartStream(answer);
        }
        response_ = {};
        response_.version(version_);
        response_.result(static_cast<unsigned>(answer.status));
        if (!answer.content_type.empty()) {
            response_.set(http::field::content_type, answer.content_type);
        }
        for (const auto& [name, value] : answer.headers) {
            response_.insert(name, value);
        }
        response_.body() = std::move(answer.body);
        response_.keep_alive(keep_alive_);
        response_.prepare_payload();
        Lowest().expires_after(kRequestTimeout);
        http::async_write(stream_, response_,
                          [self = this->shared_from_this()](boost::beast::error_code error,
                                                            std::size_t) {
                              if (error) {
                                  return self->Close();
                              }
                              if (!self->keep_alive_) {
                                  return self->Linger();
                              }
                              self->ReadRequest();
                          });
    }

    // Ends a connection after its last answer: the sending side first, then
    // what the client still sends is read and dropped for a moment, so a
    // refused request's rest does not reset the connection before the
    // client has read the answer.
    void Linger() {
        boost::beast::error_code ignored;
        Lowest().socket().shutdown(boost::asio::ip::tcp::socket::shutdown_send, ignored);
        Lowest().expires_after(kLingerTime);
        DropInput();
    }

    void DropInput() {
        Lowest().async_read_some(boost::asio::buffer(scratch_),
                                 [self = this->shared_from_this()](boost::beast::error_code error,
                                                                   std::size_t bytes) {
                                     self->dropped_ += bytes;
                                     if (error || self->dropped_ > kMaxLingerBytes) {
                                         return self->Close();
                                     }
                                     self->DropInput();
                                 });
    }

    void StartStream(const HttpResponse& answer) {
        if (!host_.AddStream(*this, answer.stream_session)) {
            keep_alive_ = false;
            return Answer(ErrorResponse(503, "at most " + std::to_string(kMaxEventStreams) +
                                                 " event streams are served at once, " +
                                                 std::to_string(kMaxEventStreamsPerClient) +
                                                 " for one address"));
        }
        streaming_ = true;
        std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n"
                           "Connection: close\r\n";
        for (const auto& [name, value] : answer.headers) {
            head += name + ": " + value + "\r\n";
        }
        // The answer ends when the connection does; a client that loses it
        // connects again after two seconds.
        head += "\r\nretry: 2000\n\n";
        Lowest().expires_never();
        Queue(std::make_shared<const std::string>(std::move(head)));
        WatchForClose();
    }

    void Queue(std::shared_ptr<const std::string> text) {
        if (queue_.size() >= kMaxQueuedEvents) {
            Close();
            return;
        }
        queue_.push_back(std::move(text));
        if (!writing_) {
            WriteQueued();
        }
    }

    // An event stream's client says nothing more; a read ends when it goes.
    void WatchForClose() {
        stream_.async_read_some(boost::asio::buffer(scratch_),
                                [self = this->shared_from_this()](boost::beast::error_code error,
                                                                  std::size_t) {
                                    if (error) {
                                        return self->Close();
                                    }
                                    self->WatchForClose();
                                });
    }

    void WriteQueued() {
        if (queue_.empty() || closed_) {
            writing_ = false;
            return;
        }
        writing_ = true;
        // A client that takes no more for this long is cut off. A timer of
        // its own: the stream's own time-out would also end the read that
        // watches for the client going, which waits for as long as the
        // stream lasts.
        write_deadline_.expires_after(kRequestTimeout);
        write_deadline_.async_wait([self = this->shared_from_this()](boost::beast::error_code error) {
            if (!error && self->writing_) {
                self->Close();
            }
        });
        boost::asio::async_write(stream_, boost::asio::buffer(*queue_.front()),
                                 [self = this->shared_from_this()](boost::beast::error_code error,
                                                                   std::size_t) {
                                     self->write_deadline_.cancel();
                                     if (error) {
                                         return self->Close();
                                     }
                                     self->queue_.pop_front();
                                     self->WriteQueued();
                                 });
    }

    ConnectionHost& host_;
    std::string peer_;
    Stream stream_;
    boost::beast::flat_buffer buffer_{kMaxHeaderBytes + kMaxBodyBytes + 1024};
    std::optional<HttpParser> parser_;
    boost::beast::http::response<boost::beast::http::string_body> response_;
    unsigned version_ = 11;
    bool keep_alive_ = true;
    bool waiting_ = true;
    bool streaming_ = false;
    bool writing_ = false;
    bool closed_ = false;
    std::size_t dropped_ = 0;
    std::deque<std::shared_ptr<const std::string>> queue_;
    boost::asio::steady_timer write_deadline_{stream_.get_executor()};
    char scratch_[512];
};

} // namespace lumidex
