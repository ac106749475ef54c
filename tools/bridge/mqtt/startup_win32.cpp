// The MQTT door on Windows: the build has no MQTT client, so no door runs.
// A boards file written for Linux serves here too: ReadBoardsFile takes the
// MQTT keys of [bridge], and a broker it names is noted and not used.
#include "tools/bridge/mqtt/startup.h"

#include <ostream>

namespace lumidex {

struct MqttStartup::Impl {};

bool HasMqttClient() {
    return false;
}

std::optional<std::string> RefuseMqttArguments(const std::vector<std::string>&) {
    return std::nullopt;
}

void AddMqttOptions(CLI::App&, MqttOptionTexts&, MqttOptions&) {}

bool TakeMqttOptions(const MqttOptionTexts&, MqttOptions&, std::string&) {
    return true;
}

std::string MqttUsage() {
    return R"(No MQTT door: the Windows build has no MQTT client, so a broker= in the
boards file's [bridge] is not used; the HTTP door serves the boards.
)";
}

MqttStartup::MqttStartup() : impl_(std::make_unique<Impl>()) {}

MqttStartup::~MqttStartup() = default;

bool MqttStartup::Configure(const BridgeConfig& boards, const MqttOptions&, std::ostream& err) {
    const auto bridge = boards.doors.find(kMqttDoorKeys.section);
    if (bridge != boards.doors.end() && !bridge->second.Value("broker").empty()) {
        err << "lumidex-bridge: the Windows build has no MQTT client; [bridge] broker= is not "
               "used, the HTTP door serves the boards\n";
    }
    return true;
}

bool MqttStartup::Prepare(bool, std::ostream&) {
    return true;
}

bool MqttStartup::Start(BoardService&, std::function<void(const std::string&)>, std::ostream&) {
    return true;
}

std::string MqttStartup::Summary() const {
    return "no MQTT broker named";
}

bool MqttStartup::LoopStuck() const {
    return false;
}

void MqttStartup::Stop(std::ostream&) {}

} // namespace lumidex
