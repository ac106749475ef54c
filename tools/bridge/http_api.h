#pragma once

// The HTTP door's API without the network: a request in, one answer out,
// over the board service. The server (http_server.h) reads requests and
// writes answers; everything this door decides (who may do what, which
// values are taken, what a board looks like in JSON) is decided here.
#include "boards/service.h"
#include "tools/bridge/http_auth.h"

#include <chrono>
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
    // event's text from here on.
    bool event_stream = false;
};

// The largest request body and header block the door reads, how long a
// client may take to send a request, and how many connections and event
// streams it serves at once.
inline constexpr std::size_t kMaxBodyBytes = 16 * 1024;
inline constexpr std::size_t kMaxHeaderBytes = 8 * 1024;
inline constexpr std::chrono::seconds kRequestTimeout{10};
inline constexpr std::size_t kMaxConnections = 64;
inline constexpr std::size_t kMaxEventStreams = 32;
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
    };
    // Runs a function on the door's own thread, soon.
    using Post = std::function<void(std::function<void()>)>;
    // Runs a function on the door's own thread after a while.
    using After = std::function<void(std::chrono::milliseconds, std::function<void()>)>;
    using Reply = std::function<void(HttpResponse)>;

    HttpApi(BoardService& service, Settings settings, Post post, After after);
    ~HttpApi();
    HttpApi(const HttpApi&) = delete;
    HttpApi& operator=(const HttpApi&) = delete;

    // Answers a request: `reply` is called once, on the door's thread (at
    // once, or when the exchanges a change waits for are over). Called on
    // the door's thread.
    void Handle(const HttpRequest& request, Reply reply);

    // The Server-Sent Event an event of the service becomes ("event: state"
    // with the board, "status", "availability"); nothing for an event no
    // stream is told. Called on the door's thread.
    std::optional<std::string> EventText(const BoardEvent& event);

    // The longest an answer to a change waits for the exchanges that carry
    // it before it says "pending".
    static std::chrono::milliseconds WaitLimit(const BoardChange& change);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace lumidex
