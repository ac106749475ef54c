#pragma once

// HTTPS for the HTTP door, where the build has OpenSSL (Linux).
#include "tools/bridge/http/connection.h"

#include <filesystem>
#include <memory>
#include <string>

namespace lumidex {

class TlsServer {
public:
    virtual ~TlsServer() = default;
    // A connection over TLS on an accepted socket; Begin makes the
    // handshake, then reads the first request.
    virtual std::shared_ptr<ServedConnection> Connection(boost::asio::ip::tcp::socket socket,
                                                         ConnectionHost& host, std::string peer) = 0;
};

// A TLS server side with this certificate chain and key (PEM files): TLS 1.2
// with forward secrecy and authenticated encryption only (ECDHE with
// AES-GCM or ChaCha20-Poly1305), and TLS 1.3. Nothing, with one line in
// `error`, when they cannot be used, the key is encrypted (the service
// could only ask for its pass phrase on a terminal), or this build has no
// TLS.
std::unique_ptr<TlsServer> MakeTlsServer(const std::filesystem::path& cert,
                                         const std::filesystem::path& key, std::string& error);

} // namespace lumidex
