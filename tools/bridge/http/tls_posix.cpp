#include "tools/bridge/http/tls.h"

#include <boost/asio/ssl.hpp>
#include <boost/beast/ssl.hpp>

namespace lumidex {
namespace {

namespace ssl = boost::asio::ssl;
using TlsStream = boost::beast::ssl_stream<boost::beast::tcp_stream>;

// TLS 1.2's suites with forward secrecy (ECDHE) and authenticated
// encryption (GCM, ChaCha20-Poly1305), strongest first; TLS 1.3 has only
// such suites and keeps OpenSSL's own list.
constexpr const char* kTls12Suites =
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:"
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256";

// A TLS connection: the handshake, within the time a request's headers
// get, then HTTP as on a plain connection.
class TlsConnection : public HttpConnection<TlsStream> {
public:
    using HttpConnection<TlsStream>::HttpConnection;

    void Begin() override {
        boost::beast::get_lowest_layer(stream()).expires_after(kHeaderTimeout);
        auto self = std::static_pointer_cast<TlsConnection>(shared_from_this());
        stream().async_handshake(ssl::stream_base::server, [self](boost::beast::error_code error) {
            if (!error) {
                self->HttpConnection<TlsStream>::Begin();
            }
        });
    }
};

class OpenSslServer : public TlsServer {
public:
    explicit OpenSslServer(ssl::context context) : context_(std::move(context)) {}

    std::shared_ptr<ServedConnection> Connection(boost::asio::ip::tcp::socket socket,
                                                 ConnectionHost& host, std::string peer) override {
        return std::make_shared<TlsConnection>(host, std::move(peer),
                                               boost::beast::tcp_stream(std::move(socket)), context_);
    }

private:
    ssl::context context_;
};

} // namespace

std::unique_ptr<TlsServer> MakeTlsServer(const std::filesystem::path& cert,
                                         const std::filesystem::path& key, std::string& error) {
    ssl::context context(ssl::context::tls_server);
    context.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                        ssl::context::no_sslv3 | ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 |
                        ssl::context::single_dh_use | SSL_OP_CIPHER_SERVER_PREFERENCE |
                        SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_min_proto_version(context.native_handle(), TLS1_2_VERSION);
    if (SSL_CTX_set_cipher_list(context.native_handle(), kTls12Suites) != 1) {
        error = "OpenSSL offers none of the TLS 1.2 suites the door uses";
        return nullptr;
    }
    boost::system::error_code failure;
    context.use_certificate_chain_file(cert.string(), failure);
    if (failure) {
        error = "cannot use the certificate " + cert.string() + ": " + failure.message();
        return nullptr;
    }
    // A key with a pass phrase is refused, never asked for on a terminal: a
    // service has no one to type it.
    bool asked = false;
    context.set_password_callback(
        [&asked](std::size_t, ssl::context::password_purpose) {
            asked = true;
            return std::string();
        },
        failure);
    context.use_private_key_file(key.string(), ssl::context::pem, failure);
    boost::system::error_code ignored;
    context.set_password_callback(
        [](std::size_t, ssl::context::password_purpose) { return std::string(); }, ignored);
    if (failure) {
        error = asked ? "the key " + key.string() +
                            " is encrypted with a pass phrase, which a service cannot type; "
                            "store it without one (openssl pkey -in KEY -out KEY.plain) and "
                            "let only the service's user read it"
                      : "cannot use the key " + key.string() + ": " + failure.message();
        return nullptr;
    }
    return std::make_unique<OpenSslServer>(std::move(context));
}

} // namespace lumidex
