#pragma once

// The HTTP door's API without the network: a request in, one answer out,
// over the board service. The server (http_server.h) reads requests and
// writes answers; everything this door decides (who may do what, which
// values are taken, what a board looks like in JSON) is decided here.
#include "boards/service.h"
#include "tools/bridge/http/auth.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lumidex {

// What the server read: the headers the door looks at, the body, and the
// peer's address.
struct HttpRequest {
    std::string method;
    std::string target;
    std::string host;
    std::string origin;
    std::string content_type;
    std::string authorization;
    std::string cookie;
    std::string body;
    std::string peer; // the client's IP address
};

struct HttpResponse {
    int status = 200;
    std::string content_type = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    // An event stream: the server keeps the connection and sends it every
    // event's text from here on, until the session it was opened with (if
    // any) ends.
    bool event_stream = false;
    std::optional<std::uint64_t> stream_session;
    // A logout: the server ends the event streams of this session.
    std::optional<std::uint64_t> ended_session;
};

// The largest request body and header block the door reads; how long a
// connection may take to send a request's headers (also how long an idle
// kept-alive connection stays open) and its body, or to take an answer.
inline constexpr std::size_t kMaxBodyBytes = 16 * 1024;
inline constexpr std::size_t kMaxHeaderBytes = 8 * 1024;
inline constexpr std::chrono::seconds kHeaderTimeout{5};
inline constexpr std::chrono::seconds kRequestTimeout{10};
// Connections: at most kMaxConnections at once and kMaxConnectionsPerClient
// from one client (ClientOf). The last kReservedConnections are kept for
// requests that carry a session or credentials that check; when every
// connection is taken, a new one closes the oldest connection still waiting
// for its request of the client that holds the most.
inline constexpr std::size_t kMaxConnections = 64;
inline constexpr std::size_t kMaxConnectionsPerClient = 16;
inline constexpr std::size_t kReservedConnections = 8;
// A refused login (a wrong password, an address that must wait, a full
// queue of checks) is answered after this pause, so a client that guesses
// gets its answers no faster, whatever it sends.
inline constexpr std::chrono::milliseconds kFailedLoginPause{500};
// Event streams: at most this many at once, and from one client.
inline constexpr std::size_t kMaxEventStreams = 32;
inline constexpr std::size_t kMaxEventStreamsPerClient = 8;
// An event stream gets a comment line this often, so proxies keep it open.
inline constexpr std::chrono::seconds kKeepAliveComment{15};

// A one-line JSON error: {"error": ..., "field": ...} (field when given).
HttpResponse ErrorResponse(int status, const std::string& error, const std::string& field = {});

class HttpApi {
public:
    struct Settings {
        int port = 0;
        bool tls = false;
        // Host names besides IP addresses and "localhost" that the Host
        // header may carry (the machine's name).
        std::vector<std::string> host_names;
        // The one other origin allowed to call the API (CORS); empty: none.
        std::string allow_origin;
        std::shared_ptr<Credentials> credentials;
        // The page's logins, taken up from an earlier run; none: in memory.
        std::shared_ptr<Sessions> sessions;
    };
    // Runs a function on the door's own thread, soon.
    using Post = std::function<void(std::function<void()>)>;
    // Runs a function on the door's own thread after a while.
    using After = std::function<void(std::chrono::milliseconds, std::function<void()>)>;
    // Runs a password check away from the door's thread, for a client: the
    // check is told whether it still runs in time (false: it waited too
    // long to be worth the client's wait). False when it cannot be taken
    // now (too many wait).
    using Offload = std::function<bool(const std::string& client, std::function<void(bool)>)>;
    using Reply = std::function<void(HttpResponse)>;

    // `offload` runs password checks; `read_record` runs readings of the
    // change record the same way, on a queue of its own (a long record
    // keeps neither the door nor a login waiting).
    HttpApi(BoardService& service, Settings settings, Post post, After after, Offload offload,
            Offload read_record);
    ~HttpApi();
    HttpApi(const HttpApi&) = delete;
    HttpApi& operator=(const HttpApi&) = delete;

    // Answers a request: `reply` is called once, on the door's thread (at
    // once, or when the exchanges a change waits for are over). Called on
    // the door's thread.
    void Handle(const HttpRequest& request, Reply reply);

    // True when a request carries a session, a token or Basic credentials
    // that check without a password's cost (HTTP Basic recognised from an
    // earlier request): it may take a connection kept in reserve.
    bool CarriesCredentials(const HttpRequest& request);

    // True while the session an event stream was opened with is open.
    bool SessionOpen(std::uint64_t session);

    // The Server-Sent Event an event of the service becomes ("event: state"
    // with the board, also when a guarded line went stale or fresh;
    // "status", "availability", "added", "removed", and "schedules" with
    // the whole list); nothing for an event no stream is told. Called on
    // the door's thread.
    std::optional<std::string> EventText(const BoardEvent& event);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace lumidex
