#include "tools/bridge/mqtt/startup.h"

#include "settings/file_io.h"
#include "tools/bridge/mqtt/connection.h"
#include "tools/bridge/mqtt/door.h"
#include "cli/cli.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <unistd.h>

namespace lumidex {
namespace {

// The password as systemd hands it over (LoadCredential=mqtt-password:FILE).
constexpr const char* kPasswordCredential = "mqtt-password";
constexpr int kDefaultPort = 1883;
constexpr int kDefaultTlsPort = 8883;
// How long a stop waits for the broker to take the last messages.
constexpr std::chrono::seconds kFlushTimeout{3};

// The options with one value, in the order of MqttOptionTexts.
constexpr std::pair<const char*, std::optional<std::string> MqttOptions::*> kTextOptions[] = {
    {"--broker", &MqttOptions::broker},
    {"--prefix", &MqttOptions::prefix},
    {"--client-id", &MqttOptions::client_id},
    {"--username", &MqttOptions::username},
    {"--password-file", &MqttOptions::password_file},
    {"--tls-ca", &MqttOptions::tls_ca}};
static_assert(std::size(kTextOptions) == std::tuple_size_v<decltype(MqttOptionTexts::values)>);

// A client id of this bridge alone, the same at every start: made from the
// host's name and the boards file's path, so a second bridge (another
// boards file, another host) never takes over this one's session.
std::string DefaultClientId(const std::filesystem::path& boards_file) {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
        std::snprintf(host, sizeof host, "host");
    }
    // FNV-1a over the path: short, stable, and no more than a name.
    std::uint32_t hash = 2166136261u;
    for (const unsigned char c : boards_file.string()) {
        hash = (hash ^ c) * 16777619u;
    }
    char id[32];
    std::snprintf(id, sizeof id, "-%08x", hash);
    std::string name = host;
    // MQTT 3.1.1 brokers must take ids of up to 23 characters; longer ones
    // are taken by Mosquitto and most others.
    for (char& ch : name) {
        if (std::isalnum(static_cast<unsigned char>(ch)) == 0 && ch != '-') {
            ch = '-';
        }
    }
    return "lumidex-bridge-" + name.substr(0, 32) + id;
}

// The password file systemd made for the service, when it made one.
std::filesystem::path CredentialPasswordFile() {
    const char* directory = std::getenv("CREDENTIALS_DIRECTORY");
    if (directory == nullptr || directory[0] == '\0') {
        return {};
    }
    std::filesystem::path file = std::filesystem::path(directory) / kPasswordCredential;
    std::error_code error;
    return std::filesystem::exists(file, error) ? file : std::filesystem::path();
}

} // namespace

struct MqttStartup::Impl {
    BrokerConfig broker;
    // A broker named in the boards file or on the command line.
    bool broker_named = false;
    MqttConnection::Options connect;
    bool runs = false;
    // The connection's thread calls into the door: it is stopped before the
    // door goes, and the door's worker publishes through the connection
    // until it stops (hence this order).
    std::optional<MqttConnection> connection;
    std::optional<MqttDoor> door;

    ~Impl() {
        if (connection) {
            connection->Stop();
        }
    }
};

bool HasMqttClient() {
    return true;
}

std::optional<std::string> RefuseMqttArguments(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "--password" || arg == "-P" || arg.starts_with("--password=")) {
            return "a password is never taken on the command line (others can read it there); "
                   "use --password-file FILE";
        }
    }
    return std::nullopt;
}

void AddMqttOptions(CLI::App& parser, MqttOptionTexts& texts, MqttOptions& options) {
    for (std::size_t i = 0; i < std::size(kTextOptions); ++i) {
        texts.given[i] = AddSingle(parser, kTextOptions[i].first, texts.values[i]);
    }
    AddFlag(parser, "--discovery", options.discovery);
}

bool TakeMqttOptions(const MqttOptionTexts& texts, MqttOptions& options, std::string& error) {
    for (std::size_t i = 0; i < std::size(kTextOptions); ++i) {
        if (!Given(texts.given[i])) {
            continue;
        }
        if (texts.values[i].empty()) {
            error = std::string(kTextOptions[i].first) + " needs a value";
            return false;
        }
        options.*kTextOptions[i].second = texts.values[i];
    }
    return true;
}

std::string MqttUsage() {
    return R"(MQTT door (a broker's topics; [bridge] in the boards file):
  [bridge]
  broker=127.0.0.1:1883
  prefix=lumidex

Topics (P the prefix, B a board, G a group, N a line 1..6):
  P/B/line/N/set            the value as typed into line N's editor
  P/B/line/N/flicker/set    1 or 0      P/B/line/N/point/set  1 or 0
  P/B/update/set            Now or HH:00
  P/B/brightness/day/set    0..7        P/B/brightness/night/set  0..7
  P/B/clock/set             empty or now (local time), or YYYY-MM-DD HH:MM:SS
  P/B/init/set              INITIALIZE (anything else is refused)
  P/group/G/...             the same endings, for every board of group G
Published (retained, again after every connection): P/B/line/N (an empty
line as one blank), P/B/brightness/day|night, P/B/status (JSON),
P/B/availability, P/bridge/status, P/bridge/availability (offline through the
last will), P/bridge/discovery (the discovery topics, with --discovery).

  --broker HOST[:PORT] the broker (default 127.0.0.1, port 1883, 8883 with TLS)
  --prefix TOPIC       the topic prefix (default lumidex)
  --client-id ID       the MQTT client id (default: lumidex-bridge-HOST-HASH,
                       made from the host and the boards file); the broker
                       keeps this id's session while the bridge is away
  --username NAME      log in as NAME ...
  --password-file FILE ... with the password on the first line of FILE (no
                       other user may read it); under systemd the credential
                       mqtt-password (LoadCredential=) is read when no file
                       is named
  --tls-ca FILE        connect with TLS; the broker's certificate must be
                       signed by a CA of this file and name the broker's host
  --discovery          publish Home Assistant discovery documents

With no broker named but an HTTP address (--http or [http] listen=), the HTTP
door runs alone. The broker is tried until it answers, 1 s apart growing to
30 s, and each change of the connection is logged once with its reason. Exit
1 when the connection's loop is stuck.
)";
}

MqttStartup::MqttStartup() : impl_(std::make_unique<Impl>()) {}

MqttStartup::~MqttStartup() = default;

bool MqttStartup::Configure(const BridgeConfig& boards, const MqttOptions& options,
                            std::ostream& err) {
    std::string error;
    auto broker = ReadBrokerConfig(boards, error);
    if (!broker) {
        err << "lumidex-bridge: " << error << "\n";
        return false;
    }
    if (!ApplyMqttOptions(options, *broker, error)) {
        err << "lumidex-bridge: " << error << "\n";
        return false;
    }
    if (broker->client_id.empty()) {
        broker->client_id = DefaultClientId(boards.file);
    }
    impl_->broker_named = broker->named || options.broker.has_value();
    impl_->broker = std::move(*broker);
    return true;
}

bool MqttStartup::Prepare(bool http_door, std::ostream& err) {
    BrokerConfig& broker = impl_->broker;
    impl_->runs = !http_door || impl_->broker_named;
    if (!impl_->runs) {
        return true;
    }
    MqttConnection::Options& connect = impl_->connect;
    connect.host = broker.host;
    connect.port = broker.port.value_or(broker.tls_ca.empty() ? kDefaultPort : kDefaultTlsPort);
    connect.client_id = broker.client_id;
    connect.username = broker.username;
    connect.tls_ca = broker.tls_ca;
    bool from_systemd = broker.password_handed_over;
    if (broker.password_file.empty() && !broker.username.empty()) {
        broker.password_file = CredentialPasswordFile();
        from_systemd = !broker.password_file.empty();
    }
    if (!broker.password_file.empty()) {
        if (broker.username.empty()) {
            err << "lumidex-bridge: a password file needs a user name (--username)\n";
            return false;
        }
        if (auto why = WhyUntrusted(broker.password_file,
                                    from_systemd ? FileUse::Credential : FileUse::Secret)) {
            err << "lumidex-bridge: refusing the password file: " << Printable(*why) << "\n";
            return false;
        }
        std::string error;
        const auto text = ReadWholeFile(broker.password_file, &error);
        if (!text) {
            err << "lumidex-bridge: cannot read the password file "
                << Printable(broker.password_file.string()) << ": " << Printable(error) << "\n";
            return false;
        }
        // The first line is the password; its line break is not part of it.
        connect.password = text->substr(0, text->find_first_of("\r\n"));
    }
    if (!broker.tls_ca.empty()) {
        if (auto why = WhyUntrusted(broker.tls_ca, FileUse::Configuration)) {
            err << "lumidex-bridge: refusing the CA file: " << Printable(*why) << "\n";
            return false;
        }
    } else if (!broker.username.empty()) {
        err << "lumidex-bridge: warning: without --tls-ca the user name"
            << (connect.password.empty() ? " goes" : " and the password go")
            << " to the broker unencrypted, readable on the way\n";
    }
    return true;
}

bool MqttStartup::Start(BoardService& service, std::function<void(const std::string&)> log,
                        std::ostream& err) {
    Impl& s = *impl_;
    if (!s.runs) {
        return true;
    }
    s.connection.emplace();
    s.door.emplace(service, *s.connection, s.broker);
    MqttConnection::Options connect = s.connect;
    connect.will_topic = s.door->AvailabilityTopic();
    connect.will_payload = "offline";
    MqttConnection::Handlers handlers;
    handlers.message = [&s](const std::string& topic, const std::string& payload, bool retained) {
        s.door->OnMessage(topic, payload, retained);
    };
    handlers.connected = [&s] {
        for (const std::string& pattern : s.door->Subscriptions()) {
            s.connection->Subscribe(pattern);
        }
        s.door->OnConnected();
    };
    handlers.tick = [&s] { s.door->OnTick(); };
    handlers.log = std::move(log);
    std::string error;
    if (!s.connection->Start(connect, std::move(handlers), error)) {
        err << "lumidex-bridge: " << Printable(error) << "\n";
        return false;
    }
    return true;
}

std::string MqttStartup::Summary() const {
    const Impl& s = *impl_;
    if (!s.runs) {
        return "no MQTT broker named";
    }
    return "broker " + Printable(s.connect.host) + ":" + std::to_string(s.connect.port) +
           (s.connect.tls_ca.empty() ? "" : " (TLS)") + ", prefix " + s.broker.prefix +
           ", client id " + Printable(s.broker.client_id);
}

bool MqttStartup::LoopStuck() const {
    return impl_->connection && impl_->connection->SinceLastTurn() > kLoopStuckAfter;
}

void MqttStartup::Stop(std::ostream& err) {
    Impl& s = *impl_;
    if (!s.connection) {
        return;
    }
    // What the door's worker had not taken yet is not stored: the senders
    // see the bridge go offline right after.
    if (const std::size_t dropped = s.door->Stop(); dropped > 0) {
        err << "lumidex-bridge: stopping: " + std::to_string(dropped) +
                   " command(s) that had just arrived were dropped, not stored\n"
            << std::flush;
    }
    s.connection->Flush(kFlushTimeout);
    s.connection->Stop();
}

} // namespace lumidex
