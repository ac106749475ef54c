#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

typedef struct ssl_ctx_st SSL_CTX;

namespace lumidex {

// Why a TLS handshake with the broker failed, as the log says it: the
// certificate check's verdict (an X509_V_ERR_* code, 0 when the check
// passed or never ran), the date a certificate expired, and whether the
// broker answered the handshake at all.
struct TlsFailure {
    int verify_error = 0;
    std::string expired_on; // "Dec  8 21:41:13 2026 GMT" for an expired certificate
    bool handshake_answered = false;
    std::string library_detail; // what OpenSSL said, when it said anything
};

// The reason in words, starting with its kind: "unknown CA", "host name
// mismatch", "expired", "not yet valid", "not TLS" or "TLS handshake failed".
std::string TlsFailureText(const TlsFailure& failure, const std::string& host,
                           const std::filesystem::path& ca_file);

// The TLS side of the broker connection: a context that trusts only the
// certificates of one CA file and checks that the broker's certificate
// names the host (or address) connected to, and that notes why a handshake
// failed. Used from the connection's thread only.
class BrokerTls {
public:
    // Reads the CA file. Returns nothing with a reason in `error` when it
    // cannot be read or holds no certificate.
    static std::unique_ptr<BrokerTls> Load(const std::filesystem::path& ca_file,
                                           const std::string& host, std::string& error);
    ~BrokerTls();
    BrokerTls(const BrokerTls&) = delete;
    BrokerTls& operator=(const BrokerTls&) = delete;

    SSL_CTX* context() const;

    // Reads the CA file again when it changed since it was last read, so a
    // corrected CA takes effect at the next connection without a restart.
    // Returns a reason when the changed file cannot be used; the CA read
    // before stays in use then.
    std::optional<std::string> ReloadIfChanged();

    // Forgets what the last handshake noted; called before each connection.
    void StartHandshake();
    // What went wrong in the handshake since StartHandshake, with the text
    // OpenSSL gave; `library_detail` is kept as it is given.
    TlsFailure Failure(const std::string& library_detail) const;
    // True once the handshake since StartHandshake completed: what fails
    // after it is no TLS failure.
    bool HandshakeCompleted() const;

    const std::filesystem::path& ca_file() const;
    const std::string& host() const;

private:
    BrokerTls();
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace lumidex
