#include "tools/bridge/http_tls.h"

#include <boost/asio/ssl.hpp>
#include <boost/beast/ssl.hpp>

namespace lumidex {
namespace {

namespace ssl = boost::asio::ssl;
using TlsStream = boost::beast::ssl_stream<boost::beast::tcp_stream>;

class OpenSslServer : public TlsServer {
public:
    explicit OpenSslServer(ssl::context context) : context_(std::move(context)) {}

    void Serve(boost::asio::ip::tcp::socket socket, ConnectionHost& host, std::string peer) override {
        auto connection = std::make_shared<HttpConnection<TlsStream>>(
            host, std::move(peer), boost::beast::tcp_stream(std::move(socket)), context_);
        boost::beast::get_lowest_layer(connection->stream()).expires_after(kRequestTimeout);
        connection->stream().async_handshake(ssl::stream_base::server,
                                             [connection](boost::beast::error_code error) {
                                                 if (!error) {
                                                     connection->Begin();
                                                 }
                                             });
    }

private:
    ssl::context context_;
};

} // namespace

std::unique_ptr<TlsServer> MakeTlsServer(const std::filesystem::path& cert,
                                         const std::filesystem::path& key, std::string& error) {
    ssl::context context(ssl::context::tls_server);
    context.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                        ssl::context::no_sslv3 | ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1);
    boost::system::error_code failure;
    context.use_certificate_chain_file(cert.string(), failure);
    if (failure) {
        error = "cannot use the certificate " + cert.string() + ": " + failure.message();
        return nullptr;
    }
    context.use_private_key_file(key.string(), ssl::context::pem, failure);
    if (failure) {
        error = "cannot use the key " + key.string() + ": " + failure.message();
        return nullptr;
    }
    return std::make_unique<OpenSslServer>(std::move(context));
}

} // namespace lumidex
