#include "tools/bridge/options.h"

#include "tools/bridge/mqtt/startup.h"
#include "tools/bridge/platform/stop_signal.h"
#include "cli/cli.h"

namespace lumidex {

std::optional<BridgeOptions> ParseBridgeOptions(const std::vector<std::string>& args,
                                                std::string& error) {
    if (auto refused = RefuseMqttArguments(args)) {
        error = *refused;
        return std::nullopt;
    }
    BridgeOptions options;
    CLI::App parser("lumidex-bridge");
    ConfigureToolParser(parser);
    AddFlag(parser, "-h,--help", options.help);
    AddFlag(parser, "--version", options.version);
    AddSingle(parser, "--boards", options.boards);
    AddSingle(parser, "--check-record", options.check_record);
    MqttOptionTexts mqtt;
    AddMqttOptions(parser, mqtt, options.mqtt);
    HttpOptionTexts http;
    AddHttpOptions(parser, http, options.http);
    // The first of them given wins.
    constexpr std::pair<const char*, ServiceVerb> kVerbs[] = {
        {"--install-service", ServiceVerb::Install},
        {"--uninstall-service", ServiceVerb::Uninstall},
        {"--service", ServiceVerb::Run}};
    bool verbs_given[std::size(kVerbs)] = {};
    for (std::size_t i = 0; i < std::size(kVerbs); ++i) {
        AddFlag(parser, kVerbs[i].first, verbs_given[i]);
    }
    if (auto refused = ParseArguments(parser, args)) {
        error = *refused;
        return std::nullopt;
    }
    if (!TakeMqttOptions(mqtt, options.mqtt, error) ||
        !TakeHttpOptions(http, options.http, error)) {
        return std::nullopt;
    }
    for (std::size_t i = std::size(kVerbs); i-- > 0;) {
        if (verbs_given[i]) {
            options.service = kVerbs[i].second;
        }
    }
    const bool other_task = options.help || options.version || options.http.hash_password ||
                            !options.check_record.empty() || options.service != ServiceVerb::None;
    if (options.boards.empty() && !other_task) {
        error = "--boards FILE is required (see --help)";
        return std::nullopt;
    }
    return options;
}

std::string BridgeUsage() {
    std::string usage = R"(Usage: lumidex-bridge --boards FILE [OPTION]...
       lumidex-bridge --hash-password
       lumidex-bridge --check-record FILE

Serves Lumidex boards unattended through its doors (below). Each board is a
Config.ini prepared in the dialog plus a link, named in the boards file:

  [hall]
  settings=hall.ini
  link=udp
  groups=site1,prices

  --boards FILE        the boards file (required)
  --check-record FILE  walk a change record file's chain: exit 0 when it
                       holds, 1 with the line where it breaks
  --help               show this text
  --version            show the version and the licence

)";
    usage += "Stops on " + std::string(StopRequestName()) +
             " after the exchanges in flight: exit 0.\n"
             "Exit 2 when the boards file, an option or a file they name cannot be used, or\n"
             "when another user could change one of these files.\n\n";
    usage += MqttUsage();
    if (!HasMqttClient()) {
        usage += "Without --http or [http] listen= the HTTP door listens on " +
                 std::string(kDefaultListen) + ".\n";
    }
    for (const std::string& part : {ServiceUsage(), HttpUsage()}) {
        if (!part.empty()) {
            usage += "\n" + part;
        }
    }
    return usage;
}

} // namespace lumidex
