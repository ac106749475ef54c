#include "tools/bridge/bridge_cli.h"

#include "boards/service.h"
#include "settings/file_io.h"
#include "tools/bridge/mqtt/connection.h"
#include "tools/bridge/mqtt/door.h"
#include "tools/bridge/platform/service_manager.h"
#include "tools/common/cli.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <pthread.h>
#include <unistd.h>

namespace lumidex {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitLoopStuck = 1;
constexpr int kExitBadInput = 2;
// A loop that has not turned for this long is stuck: longer than the
// slowest name lookup (a few resolvers times their time-outs).
constexpr std::chrono::seconds kLoopStuckAfter{90};
// The password as systemd hands it over (LoadCredential=mqtt-password:FILE).
constexpr const char* kPasswordCredential = "mqtt-password";
constexpr int kDefaultPort = 1883;
constexpr int kDefaultTlsPort = 8883;
// How long a stop waits for the broker to take the last messages.
constexpr std::chrono::seconds kFlushTimeout{3};

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

std::optional<BridgeOptions> ParseBridgeOptions(const std::vector<std::string>& args,
                                                std::string& error) {
    // Refused before parsing, whether or not a value follows: a password on
    // the command line is there for every local user to read.
    for (const std::string& arg : args) {
        if (arg == "--password" || arg == "-P" || arg.starts_with("--password=")) {
            error = "a password is never taken on the command line (others can read it there); "
                    "use --password-file FILE";
            return std::nullopt;
        }
    }
    BridgeOptions options;
    CLI::App parser("lumidex-bridge");
    ConfigureToolParser(parser);
    AddFlag(parser, "-h,--help", options.help);
    AddFlag(parser, "--version", options.version);
    AddFlag(parser, "--discovery", options.discovery);
    std::string boards;
    AddSingle(parser, "--boards", boards);
    HttpOptionTexts http;
    AddHttpOptions(parser, http, options.http);
    struct Text {
        const char* name;
        std::optional<std::string>& target;
        std::string value;
        const CLI::Option* given = nullptr;
    };
    Text texts[] = {{"--broker", options.broker, {}},
                    {"--prefix", options.prefix, {}},
                    {"--client-id", options.client_id, {}},
                    {"--username", options.username, {}},
                    {"--password-file", options.password_file, {}},
                    {"--tls-ca", options.tls_ca, {}}};
    for (Text& text : texts) {
        text.given = AddSingle(parser, text.name, text.value);
    }
    if (auto refused = ParseArguments(parser, args)) {
        error = *refused;
        return std::nullopt;
    }
    for (Text& text : texts) {
        if (!Given(text.given)) {
            continue;
        }
        if (text.value.empty()) {
            error = std::string(text.name) + " needs a value";
            return std::nullopt;
        }
        text.target = text.value;
    }
    if (!TakeHttpOptions(http, options.http, error)) {
        return std::nullopt;
    }
    options.boards = boards;
    if (options.boards.empty() && !options.help && !options.version && !options.http.hash_password) {
        error = "--boards FILE is required (see --help)";
        return std::nullopt;
    }
    return options;
}

int RunBridge(const BridgeOptions& options, std::ostream& err) {
    std::string error;
    if (auto why = WhyUntrusted(options.boards, FileUse::Configuration)) {
        err << "lumidex-bridge: refusing the boards file: " << Printable(*why) << "\n";
        return kExitBadInput;
    }
    auto config = ReadBoardsFile(options.boards, {kMqttDoorKeys, kHttpDoorKeys}, error);
    if (!config) {
        err << "lumidex-bridge: " << error << "\n";
        return kExitBadInput;
    }
    auto broker_file = ReadBrokerConfig(*config, error);
    if (!broker_file) {
        err << "lumidex-bridge: " << error << "\n";
        return kExitBadInput;
    }
    auto http_config = ReadHttpConfig(*config, error);
    if (!http_config) {
        err << "lumidex-bridge: " << error << "\n";
        return kExitBadInput;
    }
    BrokerConfig& broker = *broker_file;
    if (options.broker && !ParseBrokerAddress(*options.broker, broker)) {
        err << "lumidex-bridge: --broker wants HOST[:PORT], got '" << Printable(*options.broker)
            << "'\n";
        return kExitBadInput;
    }
    if (options.prefix) {
        if (!IsTopicPrefix(*options.prefix)) {
            err << "lumidex-bridge: --prefix '" << Printable(*options.prefix)
                << "' is no topic prefix (no wildcards, no empty level)\n";
            return kExitBadInput;
        }
        broker.prefix = *options.prefix;
    }
    broker.client_id = options.client_id.value_or(broker.client_id);
    if (broker.client_id.empty()) {
        broker.client_id = DefaultClientId(config->file);
    }
    broker.username = options.username.value_or(broker.username);
    if (options.password_file) {
        broker.password_file = *options.password_file;
    }
    if (options.tls_ca) {
        broker.tls_ca = *options.tls_ca;
    }
    broker.discovery = broker.discovery || options.discovery;

    // The HTTP door beside MQTT, or alone when no broker is named.
    ApplyHttpOptions(options.http, *http_config);
    std::optional<HttpServer::Options> http;
    if (!http_config->listen.empty()) {
        for (const HttpDoorFile& file : HttpDoorFiles(*http_config)) {
            if (auto why = WhyUntrusted(
                    file.path, file.secret ? FileUse::Secret : FileUse::Configuration)) {
                err << "lumidex-bridge: refusing the " << file.what
                    << " file: " << Printable(*why) << "\n";
                return kExitBadInput;
            }
        }
        http = PrepareHttpDoor(*http_config, error);
        if (!http) {
            err << "lumidex-bridge: " << error << "\n";
            return kExitBadInput;
        }
    }
    // A boards file that names no broker but an HTTP address runs the HTTP
    // door alone.
    const bool with_mqtt = !http || broker.named || options.broker;

    MqttConnection::Options connect;
    connect.host = broker.host;
    connect.port = broker.port.value_or(broker.tls_ca.empty() ? kDefaultPort : kDefaultTlsPort);
    connect.client_id = broker.client_id;
    connect.username = broker.username;
    connect.tls_ca = broker.tls_ca;
    bool from_systemd = false;
    if (with_mqtt && broker.password_file.empty() && !broker.username.empty()) {
        broker.password_file = CredentialPasswordFile();
        from_systemd = !broker.password_file.empty();
    }
    if (with_mqtt && !broker.password_file.empty()) {
        if (broker.username.empty()) {
            err << "lumidex-bridge: a password file needs a user name (--username)\n";
            return kExitBadInput;
        }
        if (auto why = WhyUntrusted(broker.password_file,
                                           from_systemd ? FileUse::Credential : FileUse::Secret)) {
            err << "lumidex-bridge: refusing the password file: " << Printable(*why) << "\n";
            return kExitBadInput;
        }
        const auto text = ReadWholeFile(broker.password_file, &error);
        if (!text) {
            err << "lumidex-bridge: cannot read the password file "
                << Printable(broker.password_file.string()) << ": " << Printable(error) << "\n";
            return kExitBadInput;
        }
        // The first line is the password; its line break is not part of it.
        connect.password = text->substr(0, text->find_first_of("\r\n"));
    }
    if (with_mqtt && !broker.tls_ca.empty()) {
        if (auto why = WhyUntrusted(broker.tls_ca, FileUse::Configuration)) {
            err << "lumidex-bridge: refusing the CA file: " << Printable(*why) << "\n";
            return kExitBadInput;
        }
    } else if (with_mqtt && !broker.username.empty()) {
        err << "lumidex-bridge: warning: without --tls-ca the user name"
            << (connect.password.empty() ? " goes" : " and the password go")
            << " to the broker unencrypted, readable on the way\n";
    }

    // SIGTERM and SIGINT are taken by this thread alone, in sigtimedwait
    // below; every thread started from here on inherits the mask.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    ServiceManager manager;
    BoardService service(*config);
    HttpServer http_door(service);
    std::optional<MqttConnection> connection;
    std::optional<MqttDoor> door;
    if (with_mqtt) {
        connection.emplace();
        door.emplace(service, *connection, broker);
        connect.will_topic = door->AvailabilityTopic();
        connect.will_payload = "offline";
        MqttConnection::Handlers handlers;
        handlers.message = [&](const std::string& topic, const std::string& payload,
                               bool retained) { door->OnMessage(topic, payload, retained); };
        handlers.connected = [&] {
            for (const std::string& pattern : door->Subscriptions()) {
                connection->Subscribe(pattern);
            }
            door->OnConnected();
        };
        handlers.tick = [&] { door->OnTick(); };
        // Each line is written whole: the connection's thread logs too.
        handlers.log = [&](const std::string& line) {
            err << "lumidex-bridge: " + Printable(line) + "\n" << std::flush;
            manager.Status(line);
        };
        if (!connection->Start(connect, std::move(handlers), error)) {
            err << "lumidex-bridge: " << Printable(error) << "\n";
            return kExitBadInput;
        }
    }
    if (http && !http_door.Start(*http, error)) {
        err << "lumidex-bridge: " << Printable(error) << "\n";
        if (connection) {
            connection->Stop();
        }
        return kExitBadInput;
    }
    if (http) {
        err << "lumidex-bridge: " << DoorAddress(*http, http_door.Port()) << "\n";
    }
    service.Start();
    err << "lumidex-bridge: " + std::to_string(config->boards.size()) + " board(s), " +
               (with_mqtt ? "broker " + Printable(connect.host) + ":" +
                                std::to_string(connect.port) +
                                (connect.tls_ca.empty() ? "" : " (TLS)") + ", prefix " +
                                broker.prefix + ", client id " + Printable(broker.client_id)
                          : std::string("no MQTT broker named")) +
               "\n"
        << std::flush;
    manager.Ready();

    // Wakes once a second: to tell the service manager the bridge is alive
    // while the connection's loop turns, and to stop when it no longer does.
    const timespec turn{1, 0};
    auto next_alive = std::chrono::steady_clock::now();
    int signal = 0;
    while (signal != SIGTERM && signal != SIGINT) {
        signal = sigtimedwait(&stop_signals, nullptr, &turn);
        if (connection && connection->SinceLastTurn() > kLoopStuckAfter) {
            err << "lumidex-bridge: the MQTT connection's loop has not turned for " +
                       std::to_string(kLoopStuckAfter.count()) +
                       " s; stopping, so that the service manager starts the bridge again\n"
                << std::flush;
            // Whatever holds the loop may hold what a clean stop waits for;
            // stored values are on disk and go out at the next start.
            std::_Exit(kExitLoopStuck);
        }
        if (const auto period = manager.AlivePeriod();
            period && std::chrono::steady_clock::now() >= next_alive) {
            manager.Alive();
            next_alive = std::chrono::steady_clock::now() + *period;
        }
    }
    manager.Stopping();
    // The exchanges in flight finish; what is stored and not yet sent stays
    // pending for the next start.
    service.Stop();
    http_door.Stop();
    if (connection) {
        // What the door's worker had not taken yet is not stored: the
        // senders see the bridge go offline right after.
        if (const std::size_t dropped = door->Stop(); dropped > 0) {
            err << "lumidex-bridge: stopping: " + std::to_string(dropped) +
                       " command(s) that had just arrived were dropped, not stored\n"
                << std::flush;
        }
        connection->Flush(kFlushTimeout);
        connection->Stop();
    }
    return kExitOk;
}

std::string BridgeUsage() {
    return R"(Usage: lumidex-bridge --boards FILE [--broker HOST[:PORT]] [--prefix TOPIC]
                      [--client-id ID] [--username NAME [--password-file FILE]]
                      [--tls-ca FILE] [--discovery]

Feeds Lumidex boards from an MQTT broker. Each board is a Config.ini prepared
in the dialog plus a link, named in the boards file:

  [bridge]
  broker=127.0.0.1:1883
  prefix=lumidex
  [hall]
  settings=hall.ini
  link=udp
  groups=site1,prices

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

  --boards FILE        the boards file (required)
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
  --http ADDRESS:PORT  also serve the HTTP API and the web page (see below);
                       with no broker named, the HTTP door runs alone
  --tls-cert FILE, --tls-key FILE   HTTPS for the HTTP door
  --hash-password      print a password file's line for a password read from
                       standard input
  --help               show this text
  --version            show the version and the licence

The broker is tried until it answers, 1 s apart growing to 30 s, and each
change of the connection is logged once with its reason. Stops on SIGTERM or
SIGINT after the exchanges in flight: exit 0. Exit 2 when the boards file, an
option, the password file or the CA file cannot be used, or when another user
could change one of these files; exit 1 when the connection's loop is stuck.
)" + HttpUsage();
}

} // namespace lumidex
