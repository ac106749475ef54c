// The MQTT door's settings: its keys in [bridge] read and checked, the
// topic prefix rule, and the command line over the boards file.
#include "tools/bridge/mqtt/settings.h"

#include <gtest/gtest.h>

namespace lumidex {
namespace {

// The boards file as the reader leaves it: [bridge] holding `values`.
BridgeConfig BoardsWithBridge(std::map<std::string, std::string, std::less<>> values) {
    BridgeConfig boards;
    boards.doors["bridge"] = DoorSection{"/site/boards.ini", "Bridge", std::move(values)};
    return boards;
}

TEST(MqttSettings, ReadsAndChecksItsKeysInBridge) {
    struct Row {
        const char* key;
        const char* value;
        const char* refused; // what the refusal says after "[Bridge] KEY: "; nullptr: taken
    } rows[] = {
        {"broker", "mqtt.plant", nullptr},
        {"broker", "mqtt.plant:8883", nullptr},
        {"broker", "[::1]:1883", nullptr},
        {"broker", "mqtt.plant:0", "wants HOST[:PORT], got 'mqtt.plant:0'"},
        {"broker", "::1", "wants HOST[:PORT], got '::1'"},
        {"broker", ":1883", "wants HOST[:PORT], got ':1883'"},
        {"prefix", "site/displays", nullptr},
        {"prefix", "a/#", "'a/#' is no topic prefix (no wildcards, no empty level)"},
        {"prefix", "a//b", "'a//b' is no topic prefix (no wildcards, no empty level)"},
        {"discovery", "Yes", nullptr},
        {"discovery", "0", nullptr},
        {"discovery", "maybe", "wants yes or no, got 'maybe'"},
    };
    for (const Row& row : rows) {
        std::string error;
        const auto broker = ReadBrokerConfig(BoardsWithBridge({{row.key, row.value}}), error);
        ASSERT_EQ(broker.has_value(), row.refused == nullptr) << row.key << "=" << row.value;
        if (row.refused != nullptr) {
            EXPECT_EQ(error,
                      "/site/boards.ini: [Bridge] " + std::string(row.key) + ": " + row.refused);
        }
    }
}

TEST(MqttSettings, KeepsWhatTheKeysSay) {
    std::string error;
    const auto broker = ReadBrokerConfig(BoardsWithBridge({{"broker", "[::1]:1884"},
                                                           {"prefix", "site/displays"},
                                                           {"client-id", "hall-bridge"},
                                                           {"username", "lumidex"},
                                                           {"password-file", "secret"},
                                                           {"tls-ca", "/etc/ssl/ca.crt"},
                                                           {"discovery", "yes"}}),
                                         error);
    ASSERT_TRUE(broker) << error;
    EXPECT_TRUE(broker->named);
    EXPECT_EQ(broker->host, "::1");
    EXPECT_EQ(broker->port, 1884);
    EXPECT_EQ(broker->prefix, "site/displays");
    EXPECT_EQ(broker->client_id, "hall-bridge");
    EXPECT_EQ(broker->username, "lumidex");
    EXPECT_EQ(broker->password_file, std::filesystem::absolute("/site/secret"));
    EXPECT_EQ(broker->tls_ca, std::filesystem::absolute("/etc/ssl/ca.crt"));
    EXPECT_TRUE(broker->discovery);

    const auto defaults = ReadBrokerConfig(BridgeConfig{}, error);
    ASSERT_TRUE(defaults);
    EXPECT_FALSE(defaults->named);
    EXPECT_EQ(defaults->host, "127.0.0.1");
    EXPECT_EQ(defaults->port, std::nullopt);
    EXPECT_EQ(defaults->prefix, "lumidex");
}

TEST(MqttSettings, TopicPrefixes) {
    for (const char* taken : {"lumidex", "site/displays", "a-b_c/1", "$SYS-free"}) {
        EXPECT_TRUE(IsTopicPrefix(taken)) << taken;
    }
    for (const std::string& refused : std::vector<std::string>{
             "", "/lumidex", "lumidex/", "a//b", "a/+/b", "a/#", "+", "a#", {"a\0b", 3}}) {
        EXPECT_FALSE(IsTopicPrefix(refused)) << refused;
    }
}

TEST(MqttSettings, TheCommandLineOverridesTheBoardsFile) {
    BrokerConfig broker;
    broker.host = "mqtt.plant";
    broker.port = 8883;
    broker.discovery = true;
    MqttOptions options;
    options.broker = "[::1]";
    options.prefix = "other";
    std::string error;
    ASSERT_TRUE(ApplyMqttOptions(options, broker, error)) << error;
    EXPECT_EQ(broker.host, "::1");
    EXPECT_EQ(broker.port, 8883) << "a broker without a port keeps the file's";
    EXPECT_EQ(broker.prefix, "other");
    EXPECT_TRUE(broker.discovery) << "--discovery only turns it on";

    options.broker = "mqtt.plant:x";
    EXPECT_FALSE(ApplyMqttOptions(options, broker, error));
    EXPECT_EQ(error, "--broker wants HOST[:PORT], got 'mqtt.plant:x'");
    options.broker.reset();
    options.prefix = "a/+";
    EXPECT_FALSE(ApplyMqttOptions(options, broker, error));
    EXPECT_EQ(error, "--prefix 'a/+' is no topic prefix (no wildcards, no empty level)");
}

} // namespace
} // namespace lumidex
