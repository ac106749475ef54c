#include "tools/bridge/bridge_cli.h"

#include "boards/service.h"
#include "settings/file_io.h"
#include "tools/bridge/mqtt_connection.h"
#include "tools/bridge/mqtt_door.h"
#include "tools/common/cli.h"

#include <csignal>
#include <cstdio>
#include <ostream>
#include <pthread.h>
#include <unistd.h>

namespace lumidex {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitBadInput = 2;
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
    options.boards = boards;
    if (options.boards.empty() && !options.help && !options.version) {
        error = "--boards FILE is required (see --help)";
        return std::nullopt;
    }
    return options;
}

int RunBridge(const BridgeOptions& options, std::ostream& err) {
    std::string error;
    auto config = ReadBoardsFile(options.boards, error);
    if (!config) {
        err << "lumidex-bridge: " << error << "\n";
        return kExitBadInput;
    }
    BrokerConfig& broker = config->broker;
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

    MqttConnection::Options connect;
    connect.host = broker.host;
    connect.port = broker.port.value_or(broker.tls_ca.empty() ? kDefaultPort : kDefaultTlsPort);
    connect.client_id = broker.client_id;
    connect.username = broker.username;
    connect.tls_ca = broker.tls_ca;
    if (!broker.password_file.empty()) {
        if (broker.username.empty()) {
            err << "lumidex-bridge: a password file needs a user name (--username)\n";
            return kExitBadInput;
        }
        std::string why;
        const auto text = ReadWholeFile(broker.password_file, &why);
        if (!text) {
            err << "lumidex-bridge: cannot read the password file "
                << Printable(broker.password_file.string()) << ": " << Printable(why) << "\n";
            return kExitBadInput;
        }
        // The first line is the password; its line break is not part of it.
        connect.password = text->substr(0, text->find_first_of("\r\n"));
    }
    if (std::string why; !broker.tls_ca.empty() && !ReadWholeFile(broker.tls_ca, &why)) {
        err << "lumidex-bridge: cannot read the CA file " << Printable(broker.tls_ca.string())
            << ": " << Printable(why) << "\n";
        return kExitBadInput;
    }

    // SIGTERM and SIGINT are taken by this thread alone, in sigwait below;
    // every thread started from here on inherits the mask.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    BoardService service(*config);
    MqttConnection connection;
    MqttDoor door(service, connection);
    connect.will_topic = door.AvailabilityTopic();
    connect.will_payload = "offline";
    service.Start();
    const bool started = connection.Start(
        connect,
        [&](const std::string& topic, const std::string& payload, bool retained) {
            door.OnMessage(topic, payload, retained);
        },
        [&] {
            for (const std::string& pattern : door.Subscriptions()) {
                connection.Subscribe(pattern);
            }
            door.OnConnected();
        },
        error);
    if (!started) {
        err << "lumidex-bridge: " << error << "\n";
        service.Stop();
        return kExitBadInput;
    }
    err << "lumidex-bridge: " << config->boards.size() << " board(s), broker " << connect.host
        << ":" << connect.port << (connect.tls_ca.empty() ? "" : " (TLS)") << ", prefix "
        << broker.prefix << ", client id " << broker.client_id << "\n"
        << std::flush;

    int signal = 0;
    sigwait(&stop_signals, &signal);
    // The exchanges in flight finish; what is stored and not yet sent stays
    // pending for the next start.
    service.Stop();
    door.Stop();
    connection.Flush(kFlushTimeout);
    connection.Stop();
    return kExitOk;
}

std::string BridgeUsage() {
    return R"(Usage: lumidex-bridge --boards FILE [--broker HOST[:PORT]] [--prefix TOPIC]
                      [--client-id ID] [--username NAME --password-file FILE]
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
Published (retained): P/B/line/N, P/B/brightness/day|night, P/B/status (JSON),
P/B/availability, P/bridge/availability (offline through the last will).

  --boards FILE        the boards file (required)
  --broker HOST[:PORT] the broker (default 127.0.0.1, port 1883, 8883 with TLS)
  --prefix TOPIC       the topic prefix (default lumidex)
  --client-id ID       the MQTT client id (default: lumidex-bridge-HOST-HASH,
                       made from the host and the boards file)
  --username NAME      log in as NAME ...
  --password-file FILE ... with the password on the first line of FILE
  --tls-ca FILE        connect with TLS; the broker's certificate must be
                       signed by this CA and name the broker's host
  --discovery          publish Home Assistant discovery documents
  --help               show this text
  --version            show the version and the licence

Stops on SIGTERM or SIGINT after the exchanges in flight: exit 0. Exit 2
when the boards file or an option cannot be used.
)";
}

} // namespace lumidex
