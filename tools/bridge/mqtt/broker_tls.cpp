#include "settings/file_io.h"
#include "tools/bridge/mqtt/broker_tls.h"


#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <fstream>
#include <iterator>
#include <mutex>
#include <system_error>

namespace lumidex {
namespace {

// Where a context keeps its BrokerTls state, for the callbacks.
int StateIndex() {
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

bool IsAddress(const std::string& host) {
    unsigned char bytes[16];
    return ::inet_pton(AF_INET, host.c_str(), bytes) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), bytes) == 1;
}

std::string TimeText(const ASN1_TIME* time) {
    BIO* out = BIO_new(BIO_s_mem());
    std::string text;
    if (out != nullptr && ASN1_TIME_print(out, time) == 1) {
        char* data = nullptr;
        const long size = BIO_get_mem_data(out, &data);
        text.assign(data, static_cast<std::size_t>(size));
    }
    BIO_free(out);
    return text;
}

// What identifies a version of the CA file on disk.
struct FileStamp {
    std::filesystem::file_time_type written{};
    std::uintmax_t size = 0;
    bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::filesystem::path& file) {
    std::error_code error;
    return {std::filesystem::last_write_time(file, error), std::filesystem::file_size(file, error)};
}

// The certificates of a PEM file as a store; nothing with a reason when the
// file cannot be read or holds none.
X509_STORE* ReadCaFile(const std::filesystem::path& file, std::string& error) {
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open()) {
        error = "cannot read the CA file " + file.string() + ": " +
                std::generic_category().message(errno);
        return nullptr;
    }
    const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    X509_STORE* store = X509_STORE_new();
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    int certificates = 0;
    while (X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
        if (X509_STORE_add_cert(store, certificate) == 1) {
            ++certificates;
        }
        X509_free(certificate);
    }
    BIO_free(bio);
    ERR_clear_error(); // the end of the file reads as an error
    if (certificates == 0) {
        X509_STORE_free(store);
        error = "the CA file " + file.string() + " holds no certificate (PEM, -----BEGIN " +
                "CERTIFICATE-----)";
        return nullptr;
    }
    return store;
}

} // namespace

std::string TlsFailureText(const TlsFailure& failure, const std::string& host,
                           const std::filesystem::path& ca_file) {
    switch (failure.verify_error) {
    case X509_V_OK:
        if (!failure.handshake_answered) {
            return "not TLS: no TLS answer from the broker (is this a port without TLS?)";
        }
        return "TLS handshake failed" +
               (failure.library_detail.empty() ? "" : ": " + failure.library_detail);
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_CERT_UNTRUSTED:
        return "unknown CA: the broker's certificate is not signed by the CA in " +
               ca_file.string();
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "host name mismatch: the broker's certificate does not name " + host;
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "expired: the broker's certificate expired on " + failure.expired_on;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "not yet valid: the broker's certificate is not valid yet (is this computer's "
               "clock right?)";
    default:
        break;
    }
    return std::string("TLS handshake failed: ") +
           X509_verify_cert_error_string(failure.verify_error);
}

struct BrokerTls::State {
    SSL_CTX* context = nullptr;
    std::filesystem::path ca_file;
    std::string host;
    FileStamp loaded;
    // Noted by the callbacks during one handshake.
    int verify_error = X509_V_OK;
    std::string expired_on;
    bool answered = false;
    bool completed = false;
};

BrokerTls::BrokerTls() : state_(std::make_unique<State>()) {}

BrokerTls::~BrokerTls() {
    SSL_CTX_free(state_->context);
}

std::unique_ptr<BrokerTls> BrokerTls::Load(const std::filesystem::path& ca_file,
                                           const std::string& host, std::string& error) {
    std::unique_ptr<BrokerTls> tls(new BrokerTls());
    State& s = *tls->state_;
    s.ca_file = ca_file;
    s.host = host;
    s.loaded = StampOf(ca_file);
    X509_STORE* store = ReadCaFile(ca_file, error);
    if (store == nullptr) {
        return nullptr;
    }
    s.context = SSL_CTX_new(TLS_client_method());
    if (s.context == nullptr) {
        X509_STORE_free(store);
        error = "cannot set TLS up";
        return nullptr;
    }
    SSL_CTX_set_cert_store(s.context, store);
    SSL_CTX_set_min_proto_version(s.context, TLS1_2_VERSION);
    SSL_CTX_set_ex_data(s.context, StateIndex(), &s);
    // The certificate must name the host or address connected to.
    X509_VERIFY_PARAM* check = SSL_CTX_get0_param(s.context);
    if (IsAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(check, host.c_str());
    } else {
        X509_VERIFY_PARAM_set1_host(check, host.c_str(), 0);
        X509_VERIFY_PARAM_set_hostflags(check, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    }
    SSL_CTX_set_verify(s.context, SSL_VERIFY_PEER, [](int passed, X509_STORE_CTX* store) {
        const auto* ssl = static_cast<const SSL*>(
            X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        auto* state =
            static_cast<State*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), StateIndex()));
        if (passed == 0 && state != nullptr && state->verify_error == X509_V_OK) {
            state->verify_error = X509_STORE_CTX_get_error(store);
            if (state->verify_error == X509_V_ERR_CERT_HAS_EXPIRED) {
                if (X509* certificate = X509_STORE_CTX_get_current_cert(store)) {
                    state->expired_on = TimeText(X509_get0_notAfter(certificate));
                }
            }
        }
        return passed;
    });
    // The broker answered in TLS once a handshake message or an alert of
    // its own came back.
    SSL_CTX_set_msg_callback(s.context, [](int sent, int, int type, const void*, std::size_t,
                                           SSL* ssl, void*) {
        auto* state =
            static_cast<State*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), StateIndex()));
        if (state != nullptr && sent == 0 && (type == SSL3_RT_HANDSHAKE || type == SSL3_RT_ALERT)) {
            state->answered = true;
        }
    });
    SSL_CTX_set_info_callback(s.context, [](const SSL* ssl, int where, int) {
        auto* state =
            static_cast<State*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), StateIndex()));
        if (state != nullptr && (where & SSL_CB_HANDSHAKE_DONE) != 0) {
            state->completed = true;
        }
    });
    return tls;
}

SSL_CTX* BrokerTls::context() const {
    return state_->context;
}

std::optional<std::string> BrokerTls::ReloadIfChanged() {
    State& s = *state_;
    const FileStamp now = StampOf(s.ca_file);
    if (now == s.loaded) {
        return std::nullopt;
    }
    s.loaded = now;
    if (auto why = WhyUntrusted(s.ca_file, FileUse::Configuration)) {
        return *why;
    }
    std::string error;
    X509_STORE* store = ReadCaFile(s.ca_file, error);
    if (store == nullptr) {
        return error;
    }
    SSL_CTX_set_cert_store(s.context, store);
    return std::nullopt;
}

void BrokerTls::StartHandshake() {
    state_->verify_error = X509_V_OK;
    state_->expired_on.clear();
    state_->answered = false;
    state_->completed = false;
}

bool BrokerTls::HandshakeCompleted() const {
    return state_->completed;
}

TlsFailure BrokerTls::Failure(const std::string& library_detail) const {
    return {state_->verify_error, state_->expired_on, state_->answered, library_detail};
}

const std::filesystem::path& BrokerTls::ca_file() const {
    return state_->ca_file;
}

const std::string& BrokerTls::host() const {
    return state_->host;
}

} // namespace lumidex
