// lumidex-bridge on Windows: the HTTP door alone (the Windows build has no
// MQTT client), on the command line or as a Windows service.
#include "tools/bridge/bridge_cli.h"

#include "boards/service.h"
#include "settings/file_io.h"
#include "tools/bridge/mqtt/settings.h"
#include "tools/bridge/platform/stop_signal.h"
#include "tools/bridge/platform/windows_service.h"
#include "tools/common/cli.h"

#include <ostream>

namespace lumidex {
namespace {

constexpr int kExitBadInput = 2;
constexpr const char* kDefaultListen = "127.0.0.1:8080";

// Runs the HTTP door until a stop is asked for: the service and its door
// over the boards. 0 after a clean stop, 2 when the door cannot listen
// (one line on `err` says why).
int RunHttpDoorAlone(const BridgeConfig& config, const HttpServer::Options& options,
                     std::ostream& err) {
    StopSignal stop; // before any thread
    BoardService service(config);
    HttpServer server(service);
    service.Start();
    std::string error;
    if (!server.Start(options, error)) {
        err << "lumidex-bridge: " << error << "\n";
        service.Stop();
        return kExitBadInput;
    }
    err << "lumidex-bridge: " << config.boards.size() << " board(s), no MQTT broker named; "
        << DoorAddress(options, server.Port()) << "\n"
        << std::flush;
    stop.Wait();
    // The exchanges in flight finish and their answers go out; then the
    // door closes.
    service.Stop();
    server.Stop();
    return 0;
}

} // namespace

std::optional<BridgeOptions> ParseBridgeOptions(const std::vector<std::string>& args,
                                                std::string& error) {
    BridgeOptions options;
    CLI::App parser("lumidex-bridge");
    ConfigureToolParser(parser);
    AddFlag(parser, "-h,--help", options.help);
    AddFlag(parser, "--version", options.version);
    AddFlag(parser, "--install-service", options.install_service);
    AddFlag(parser, "--uninstall-service", options.uninstall_service);
    AddFlag(parser, "--service", options.service);
    AddSingle(parser, "--boards", options.boards);
    HttpOptionTexts http;
    AddHttpOptions(parser, http, options.http);
    if (auto refused = ParseArguments(parser, args)) {
        error = *refused;
        return std::nullopt;
    }
    if (!TakeHttpOptions(http, options.http, error)) {
        return std::nullopt;
    }
    const bool other_task = options.help || options.version || options.http.hash_password ||
                            options.install_service || options.uninstall_service || options.service;
    if (options.boards.empty() && !other_task) {
        error = "--boards FILE is required (see --help)";
        return std::nullopt;
    }
    return options;
}

int RunWindowsBridge(const std::filesystem::path& boards, const HttpOptions& options,
                     std::ostream& err) {
    std::string error;
    // The same rule as for settings: a file another user could change is
    // not taken.
    if (auto why = WhyUntrusted(boards)) {
        err << "lumidex-bridge: refusing the boards file: " << *why << "\n";
        return kExitBadInput;
    }
    auto config = ReadBoardsFile(boards, {kMqttDoorKeys, kHttpDoorKeys}, error);
    if (!config) {
        err << "lumidex-bridge: " << error << "\n";
        return kExitBadInput;
    }
    auto http_config = ReadHttpConfig(*config, error);
    if (!http_config) {
        err << "lumidex-bridge: " << error << "\n";
        return kExitBadInput;
    }
    if (!config->doors[std::string(kMqttDoorKeys.section)].Value("broker").empty()) {
        err << "lumidex-bridge: the Windows build has no MQTT client; [bridge] broker= is not "
               "used, the HTTP door serves the boards\n";
    }
    ApplyHttpOptions(options, *http_config);
    if (http_config->listen.empty()) {
        http_config->listen = kDefaultListen;
    }
    for (const HttpDoorFile& file : HttpDoorFiles(*http_config)) {
        if (auto why = WhyUntrusted(file.path, file.secret ? FileUse::Secret : FileUse::Configuration)) {
            err << "lumidex-bridge: refusing the " << file.what << " file: " << *why << "\n";
            return kExitBadInput;
        }
    }
    const auto http = PrepareHttpDoor(*http_config, error);
    if (!http) {
        err << "lumidex-bridge: " << error << "\n";
        return kExitBadInput;
    }
    return RunHttpDoorAlone(*config, *http, err);
}

int RunBridge(const BridgeOptions& options, std::ostream& err) {
    if (options.install_service) {
        return InstallBridgeService(err, err);
    }
    if (options.uninstall_service) {
        return UninstallBridgeService(err, err);
    }
    if (options.service) {
        return RunBridgeService();
    }
    return RunWindowsBridge(options.boards, options.http, err);
}

std::string BridgeUsage() {
    return R"(Usage: lumidex-bridge --boards FILE [--http ADDRESS:PORT]
       lumidex-bridge --install-service | --uninstall-service
       lumidex-bridge --hash-password

Serves Lumidex boards over HTTP: a JSON API and a web page for phones and
browsers (the Windows build has no MQTT). Each board is a Config.ini prepared
in the dialog plus a link, named in the boards file:

  [http]
  listen=127.0.0.1:8080
  [hall]
  settings=hall.ini
  link=udp
  groups=site1,prices

  --boards FILE        the boards file
  --install-service    register the Windows service "LumidexBridge" (needs an
                       administrator): it serves %ProgramData%\Lumidex\boards.ini
                       from Windows' start on
  --uninstall-service  stop and remove the service (its folder stays)
  --help               show this text
  --version            show the version and the licence

Without --http or [http] listen= the door listens on 127.0.0.1:8080.
Stops on Ctrl+C: exit 0. Exit 2 when the boards file or an option cannot be
used.

)" + HttpUsage();
}

} // namespace lumidex
