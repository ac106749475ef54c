#include "tools/bridge/mqtt/settings.h"

#include "settings/text_codec.h"
#include "cli/cli.h"
#include "tools/common/host_port.h"

#include <mosquitto.h>

namespace lumidex {

std::optional<BrokerConfig> ReadBrokerConfig(const BridgeConfig& boards, std::string& error) {
    BrokerConfig broker;
    const auto found = boards.doors.find(kMqttDoorKeys.section);
    if (found == boards.doors.end()) {
        return broker;
    }
    const DoorSection& section = found->second;
    if (const std::string v = section.Value("broker"); !v.empty()) {
        if (!ParseBrokerAddress(v, broker)) {
            error = section.Refusal("broker", "wants HOST[:PORT], got '" + v + "'");
            return std::nullopt;
        }
        broker.named = true;
    }
    if (const std::string v = section.Value("prefix"); !v.empty()) {
        if (!IsTopicPrefix(v)) {
            error = section.Refusal(
                "prefix", "'" + v + "' is no topic prefix (no wildcards, no empty level)");
            return std::nullopt;
        }
        broker.prefix = v;
    }
    broker.client_id = section.Value("client-id");
    broker.username = section.Value("username");
    const auto password = section.File("password-file", error);
    const auto ca = section.File("tls-ca", error);
    if (!password || !ca) {
        return std::nullopt;
    }
    broker.password_file = password->path;
    broker.password_handed_over = password->handed_over;
    broker.tls_ca = ca->path;
    if (const std::string v = section.Value("discovery"); !v.empty()) {
        const bool yes = EqualIgnoringCase(v, "yes") || v == "1";
        if (!yes && !EqualIgnoringCase(v, "no") && v != "0") {
            error = section.Refusal("discovery", "wants yes or no, got '" + v + "'");
            return std::nullopt;
        }
        broker.discovery = yes;
    }
    return broker;
}

bool ApplyMqttOptions(const MqttOptions& options, BrokerConfig& broker, std::string& error) {
    if (options.broker && !ParseBrokerAddress(*options.broker, broker)) {
        error = "--broker wants HOST[:PORT], got '" + Printable(*options.broker) + "'";
        return false;
    }
    if (options.prefix) {
        if (!IsTopicPrefix(*options.prefix)) {
            error = "--prefix '" + Printable(*options.prefix) +
                    "' is no topic prefix (no wildcards, no empty level)";
            return false;
        }
        broker.prefix = *options.prefix;
    }
    broker.client_id = options.client_id.value_or(broker.client_id);
    broker.username = options.username.value_or(broker.username);
    if (options.password_file) {
        broker.password_file = *options.password_file;
        broker.password_handed_over = false;
    }
    if (options.tls_ca) {
        broker.tls_ca = *options.tls_ca;
    }
    broker.discovery = broker.discovery || options.discovery;
    return true;
}

bool ParseBrokerAddress(const std::string& text, BrokerConfig& broker) {
    const auto parsed = ParseHostPort(text);
    if (!parsed) {
        return false;
    }
    broker.host = parsed->host;
    if (parsed->port) {
        broker.port = parsed->port;
    }
    return true;
}

bool IsTopicPrefix(const std::string& prefix) {
    // The door publishes and subscribes below the prefix, so the prefix must
    // be a topic one may publish to (libmosquitto's check: no wildcard). An
    // empty level would give topics that differ from the intended ones by a
    // '/', and a NUL would end the topic early in the library.
    if (prefix.empty() || prefix.front() == '/' || prefix.back() == '/' ||
        prefix.find("//") != std::string::npos || prefix.find('\0') != std::string::npos) {
        return false;
    }
    return mosquitto_pub_topic_check(prefix.c_str()) == MOSQ_ERR_SUCCESS;
}

} // namespace lumidex
