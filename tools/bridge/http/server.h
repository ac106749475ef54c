#pragma once

// The board service's HTTP door: the API (http_api.h) and the page served
// over HTTP, or HTTPS where the build has OpenSSL, on one thread of its own.
#include "boards/service.h"
#include "tools/bridge/http/auth.h"
#include "tools/bridge/http/rules.h"

#include <filesystem>
#include <memory>
#include <string>

namespace lumidex {

class HttpServer {
public:
    struct Options {
        ListenAddress listen;
        std::filesystem::path tls_cert; // both or neither: HTTPS
        std::filesystem::path tls_key;
        std::string allow_origin;
        std::shared_ptr<Credentials> credentials;
        std::shared_ptr<Sessions> sessions; // the page's logins; none: in memory
    };

    explicit HttpServer(BoardService& service);
    // Stops the door. Stop the service first: its last answers come here.
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Listens and serves; false, with one line in `error`, when the address
    // cannot be bound or the certificate and key cannot be used.
    bool Start(const Options& options, std::string& error);
    // Closes every connection and ends the door's thread. Safe to call twice.
    void Stop();
    // The port listened on (the one asked for, or the system's pick for 0).
    int Port() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace lumidex
