#pragma once

// HTTPS for the HTTP door, where the build has OpenSSL (Linux).
#include "tools/bridge/http_connection.h"

#include <filesystem>
#include <memory>
#include <string>

namespace lumidex {

class TlsServer {
public:
    virtual ~TlsServer() = default;
    // Makes the handshake on an accepted connection, then serves it.
    virtual void Serve(boost::asio::ip::tcp::socket socket, ConnectionHost& host,
                       std::string peer) = 0;
};

// A TLS server side with this certificate chain and key (PEM files);
// nothing, with one line in `error`, when they cannot be used or this build
// has no TLS.
std::unique_ptr<TlsServer> MakeTlsServer(const std::filesystem::path& cert,
                                         const std::filesystem::path& key, std::string& error);

} // namespace lumidex
