#include "tools/bridge/run.h"

#include "boards/service.h"
#include "settings/file_io.h"
#include "tools/bridge/http/server.h"
#include "tools/bridge/mqtt/startup.h"
#include "tools/bridge/platform/stop_signal.h"
#include "cli/cli.h"

#include <cstdlib>
#include <optional>
#include <ostream>

namespace lumidex {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitLoopStuck = 1;
constexpr int kExitBadInput = 2;
// How often the run wakes to tell the service manager the bridge is alive
// and to see whether the MQTT connection's loop still turns.
constexpr std::chrono::seconds kTurn{1};

// Serves the boards of `boards_file` through the doors until a stop is
// asked for; RunBridge's statuses.
int ServeBoards(const std::filesystem::path& boards_file, const MqttOptions& mqtt_options,
                const HttpOptions& http_options, std::ostream& err) {
    if (auto why = WhyUntrusted(boards_file, FileUse::Configuration)) {
        err << "lumidex-bridge: refusing the boards file: " << Printable(*why) << "\n";
        return kExitBadInput;
    }
    std::string error;
    const auto boards = ReadBoardsFile(boards_file, {kMqttDoorKeys, kHttpDoorKeys}, error);
    if (!boards) {
        err << "lumidex-bridge: " << error << "\n";
        return kExitBadInput;
    }
    // Made before the doors, which hold them until they are gone; the
    // service itself only once every check has passed.
    ServiceManager manager;
    std::unique_ptr<ChangeRecord> record; // outlives the service, which appends to it
    std::optional<BoardService> service;
    MqttStartup mqtt;
    if (!mqtt.Configure(*boards, mqtt_options, err)) {
        return kExitBadInput;
    }
    auto http_config = ReadHttpConfig(*boards, error);
    if (!http_config) {
        err << "lumidex-bridge: " << error << "\n";
        return kExitBadInput;
    }
    ApplyHttpOptions(http_options, *http_config);
    if (http_config->listen.empty() && !HasMqttClient()) {
        http_config->listen = kDefaultListen;
    }
    std::optional<HttpServer::Options> http;
    if (!http_config->listen.empty()) {
        for (const HttpDoorFile& file : HttpDoorFiles(*http_config)) {
            if (auto why = WhyUntrusted(file.path, file.use)) {
                err << "lumidex-bridge: refusing the " << file.what << " file: " << Printable(*why)
                    << "\n";
                return kExitBadInput;
            }
        }
        http = PrepareHttpDoor(*http_config, error);
        if (!http) {
            err << "lumidex-bridge: " << error << "\n";
            return kExitBadInput;
        }
        if (http->sessions && http->sessions->KeepFailure()) {
            err << "lumidex-bridge: " << Printable(*http->sessions->KeepFailure()) << "\n";
        }
    }
    if (!mqtt.Prepare(http.has_value(), err)) {
        return kExitBadInput;
    }

    // Schedules the service cannot read are never dropped in silence.
    if (!ReadSchedulesFile(boards->file, error)) {
        err << "lumidex-bridge: " << Printable(error) << "\n";
        return kExitBadInput;
    }
    // Before any thread (the record's is the first), which inherits what
    // it sets: a stop asked for never lands on a thread that dies of it.
    StopSignal stop;
    // Every change is recorded: a record that cannot be opened stops the
    // start rather than leave changes unrecorded.
    record = ChangeRecord::Open(boards->record, boards->record_months, error);
    if (!record) {
        err << "lumidex-bridge: the change record: " << Printable(error) << "\n";
        return kExitBadInput;
    }
    ServiceWorld world;
    world.record = record.get();
    service.emplace(*boards, std::move(world));
    HttpServer http_door(*service);
    const auto log = [&](const std::string& line) {
        // Each line is written whole: the connection's thread logs too.
        err << "lumidex-bridge: " + Printable(line) + "\n" << std::flush;
        manager.Status(line);
    };
    if (!mqtt.Start(*service, log, err)) {
        return kExitBadInput;
    }
    if (http && !http_door.Start(*http, error)) {
        err << "lumidex-bridge: " << Printable(error) << "\n";
        return kExitBadInput;
    }
    if (http) {
        err << "lumidex-bridge: " << DoorAddress(*http, http_door.Port()) << "\n";
    }
    service->Start();
    err << "lumidex-bridge: " + std::to_string(boards->boards.size()) + " board(s), " +
               mqtt.Summary() + "\n"
        << std::flush;
    manager.Ready();

    auto next_alive = std::chrono::steady_clock::now();
    while (!stop.WaitFor(kTurn)) {
        if (mqtt.LoopStuck()) {
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
    // The exchanges in flight finish and their answers go out; what is
    // stored and not yet sent stays pending for the next start.
    service->Stop();
    http_door.Stop();
    mqtt.Stop(err);
    return kExitOk;
}

} // namespace

int RunBridge(const BridgeOptions& options, std::ostream& err) {
    if (options.service != ServiceVerb::None) {
        // The service serves its own boards file with the defaults: its
        // command line is the one the installation registered.
        const auto serve = [](const std::filesystem::path& boards, std::ostream& log) {
            return ServeBoards(boards, MqttOptions{}, HttpOptions{}, log);
        };
        return RunServiceVerb(options.service, serve, err, err);
    }
    return ServeBoards(options.boards, options.mqtt, options.http, err);
}

} // namespace lumidex
