// lumidex-bridge and its broker: outages, restarts, the persistent session,
// TLS failures told by their reason, Home Assistant's discovery, and the
// files refused at start. A mosquitto of the test's own, lumidex-sim boards
// on loopback addresses, mosquitto_pub/mosquitto_sub as the outside clients.
#include "boards/service.h"
#include "settings/profile.h"
#include "tests/bridge/mqtt/bridge_fixture.h"
#include "tools/bridge/mqtt/discovery.h"
#include "tests/support/addresses.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <thread>

namespace lumidex {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

const std::string kHall = test::kBridgeTestsBoardA;
const std::string kDock = test::kBridgeTestsBoardB;

constexpr auto kSoon = 5s;
// Longer than the pauses between broker attempts a test waits through.
constexpr auto kReconnect = 20s;

using test::LineText;

// lumidex-bridge with its log (standard error) read line by line.
class LoggedBridge {
public:
    explicit LoggedBridge(const std::vector<std::string>& args,
                          const std::string& environment = "") {
        std::vector<std::string> argv{"/bin/sh", "-c",
                                      "echo $$; " + environment + " exec \"$0\" \"$@\" 2>&1",
                                      LUMIDEX_BRIDGE_EXE};
        argv.insert(argv.end(), args.begin(), args.end());
        process_ = std::make_unique<test::ChildProcess>(argv);
        pid_ = std::stoi(process_->ReadLine(kSoon).value_or("0"));
    }

    // Waits for a log line holding `text` that no earlier wait took.
    std::optional<std::string> WaitFor(const std::string& text, std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            for (; taken_ < lines_.size(); ++taken_) {
                if (lines_[taken_].find(text) != std::string::npos) {
                    return lines_[taken_++];
                }
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            const auto line = left.count() > 0 ? process_->ReadLine(left) : std::nullopt;
            if (!line) {
                break;
            }
            lines_.push_back(*line);
        }
        std::string log;
        for (const std::string& line : lines_) {
            log += "\n  " + line;
        }
        ADD_FAILURE() << "the bridge logged no line with '" << text << "' within "
                      << timeout.count() << " ms; its log:" << log;
        return std::nullopt;
    }

    // How many of the lines logged so far hold `text`.
    long Count(const std::string& text) const {
        return std::count_if(lines_.begin(), lines_.end(), [&](const std::string& line) {
            return line.find(text) != std::string::npos;
        });
    }

    // The most memory the bridge has held, in kB.
    long PeakKb() const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.starts_with("VmHWM:")) {
                return std::stol(line.substr(6));
            }
        }
        return -1;
    }

    int Stop(int signal) { return process_->Stop(signal, kSoon); }

private:
    std::unique_ptr<test::ChildProcess> process_;
    int pid_ = 0;
    std::vector<std::string> lines_;
    std::size_t taken_ = 0;
};

// A site: hall and dock on their simulators, their Config.ini files and a
// boards file for a broker on `port`.
class Site : public testing::Test {
protected:
    void WriteBoards(int port, const std::string& refresh, bool with_dock = true) {
        test::WriteFileOrFail(dir_ / "hall.ini", test::BoardSettings(kHall));
        test::WriteFileOrFail(dir_ / "dock.ini", test::BoardSettings(kDock));
        test::WriteFileOrFail(dir_ / "boards.ini",
                              "[bridge]\nbroker=127.0.0.1:" + std::to_string(port) + "\n" +
                                  refresh + "[hall]\nsettings=hall.ini\n" +
                                  (with_dock ? "[dock]\nsettings=dock.ini\n" : ""));
    }
    void StartBoards() {
        hall_ = std::make_unique<test::Board>(kHall);
        dock_ = std::make_unique<test::Board>(kDock);
    }
    std::vector<std::string> Args(std::vector<std::string> more = {}) const {
        more.insert(more.begin(), {"--boards", (dir_ / "boards.ini").string()});
        return more;
    }

    test::TempDir dir_;
    std::unique_ptr<test::Board> hall_;
    std::unique_ptr<test::Board> dock_;
};

// The broker comes up after the bridge, then restarts without its store:
// the bridge keeps trying, says why once, and publishes every availability
// and every line again, an empty line as one blank.
TEST_F(Site, BrokerLateThenRestartedFindsEveryAvailabilityAgain) {
    const int port = test::FreePort();
    WriteBoards(port, ""); // boards re-asserted at start: their availability is known
    StartBoards();
    LoggedBridge bridge(Args());
    ASSERT_TRUE(bridge.WaitFor("cannot connect to the broker 127.0.0.1:" + std::to_string(port) +
                                   ": Connection refused; trying again",
                               kSoon));
    std::this_thread::sleep_for(3s); // several attempts fail meanwhile
    test::Broker::Options late;
    late.port = port;
    test::Broker broker(dir_.path(), late);
    ASSERT_TRUE(bridge.WaitFor("connected to the broker", kReconnect));
    EXPECT_EQ(bridge.Count("cannot connect"), 1) << "each failed attempt was logged";

    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round == 1 ? "after the first connection" : "after the broker restarted");
        test::Watch watch(broker, {"lumidex/#"});
        for (const char* topic : {"lumidex/bridge/availability", "lumidex/hall/availability",
                                  "lumidex/dock/availability"}) {
            watch.WaitFor(topic, "online", kSoon);
        }
        EXPECT_EQ(test::Retained(broker, "lumidex/hall/line/1"), " ") << "an empty line";
        EXPECT_EQ(test::Retained(broker, "lumidex/dock/brightness/day"), "5");
        if (round == 1) {
            broker.Stop();
            ASSERT_TRUE(bridge.WaitFor("lost the connection to the broker", kSoon));
            broker.Start();
            ASSERT_TRUE(bridge.WaitFor("connected to the broker", kReconnect));
        }
    }
    EXPECT_EQ(bridge.Count("lost the connection"), 1);
    EXPECT_EQ(bridge.Stop(SIGTERM), 0);
}

// A command published with QoS 1 while the bridge is down waits in its
// session on the broker and is applied when the bridge is back.
TEST_F(Site, QosOneCommandWhileTheBridgeIsDownIsAppliedWhenItIsBack) {
    test::Broker broker(dir_.path(), {});
    WriteBoards(broker.port(), "refresh=0\n");
    StartBoards();
    // A user name without TLS is allowed, with a warning.
    const auto args = Args({"--username", "site"});
    {
        LoggedBridge bridge(args);
        ASSERT_TRUE(bridge.WaitFor("connected to the broker", kSoon));
        EXPECT_EQ(bridge.Count("warning: without --tls-ca the user name goes"), 1);
        ASSERT_EQ(bridge.Stop(SIGTERM), 0);
    }
    test::Publish(broker, "lumidex/hall/line/1/set", "21.5");
    LoggedBridge bridge(args);
    ASSERT_TRUE(bridge.WaitFor("session resumed", kSoon));
    const auto frame = hall_->NextFrame(kSoon);
    ASSERT_TRUE(frame) << "the command published while the bridge was down did not arrive";
    EXPECT_EQ(LineText(*frame, 1), "21.50");
    EXPECT_EQ(ReadSetting(dir_ / "hall.ini", "TextData", "TD1", "(missing)", 64), "21.50");

    // A junk topic of 60 KB is echoed cut short, once, on the bridge's status.
    test::Watch watch(broker, {"lumidex/bridge/status"});
    test::Publish(broker, "lumidex/" + std::string(60000, 'x') + "/line/1/set", "1");
    const auto status = watch.WaitForStatus("lumidex/bridge/status", "refused", kSoon);
    ASSERT_TRUE(status);
    EXPECT_LE(status->value("topic", "").size(), kMaxEchoedBytes + 3);
    EXPECT_LT(status->dump().size(), 1024u) << status->dump();
    EXPECT_EQ(bridge.Stop(SIGTERM), 0);
}

struct TlsFailureRow {
    std::string name;
    std::string listener; // the certificate the broker shows, or "plain"
    std::string ca;       // the CA the bridge trusts
    std::string logged;
};

// Every TLS failure is logged by its reason and tried again; a CA file put
// right while the bridge runs is read at the next attempt.
TEST_F(Site, TlsFailuresAreToldByTheirReasonAndAGoodCaConnects) {
    const std::filesystem::path dir = dir_.path();
    test::MakeCa(dir, "other");
    std::string listeners;
    std::map<std::string, int> ports;
    const std::string ca = (dir / "ca.crt").string();
    for (const std::string name : {"elsewhere", "expired"}) {
        ports[name] = test::FreePort();
        listeners += "listener " + std::to_string(ports[name]) + " 127.0.0.1\ncafile " + ca +
                     "\ncertfile " + (dir / (name + ".crt")).string() + "\nkeyfile " +
                     (dir / (name + ".key")).string() + "\n";
    }
    ports["plain"] = test::FreePort();
    listeners += "listener " + std::to_string(ports["plain"]) + " 127.0.0.1\n";
    // The broker makes the CA and its own certificate; the others are made
    // from that CA before it starts.
    test::Broker::Options options;
    options.tls = true;
    options.user = "plant";
    options.password = "s3cret pw";
    options.extra = listeners;
    options.start = false;
    test::Broker broker(dir, options);
    test::MakeServerCertificate(dir, "ca", "elsewhere", "DNS:elsewhere.invalid", 1);
    test::MakeServerCertificate(dir, "ca", "expired", "IP:127.0.0.1", 0);
    broker.Start();
    ports["good"] = broker.port();
    WriteBoards(broker.port(), "refresh=0\n");
    StartBoards();
    test::WriteFileOrFail(dir / "password", "s3cret pw\n");
    std::filesystem::permissions(dir / "password", std::filesystem::perms::owner_read |
                                                       std::filesystem::perms::owner_write);
    auto args = [&](const std::string& listener, const std::string& ca_file) {
        return Args({"--broker", "127.0.0.1:" + std::to_string(ports[listener]), "--tls-ca",
                     (dir / ca_file).string(), "--username", "plant", "--password-file",
                     (dir / "password").string()});
    };

    const std::vector<TlsFailureRow> rows{
        {"another CA signed the broker's certificate", "good", "other.crt", "unknown CA"},
        {"the certificate names another host", "elsewhere", "ca.crt",
         "host name mismatch: the broker's certificate does not name 127.0.0.1"},
        {"the certificate expired", "expired", "ca.crt",
         "expired: the broker's certificate expired on"},
        {"the port has no TLS", "plain", "ca.crt", "not TLS"},
    };
    for (const TlsFailureRow& row : rows) {
        SCOPED_TRACE(row.name);
        LoggedBridge bridge(args(row.listener, row.ca));
        EXPECT_TRUE(bridge.WaitFor("cannot connect to the broker 127.0.0.1:" +
                                       std::to_string(ports[row.listener]) + " (TLS): " +
                                       row.logged,
                                   kSoon));
        EXPECT_EQ(bridge.Stop(SIGTERM), 0);
    }

    // The site's CA file held the wrong CA; put right, it is read again.
    // The password comes as systemd hands it over (LoadCredential=).
    std::filesystem::copy_file(dir / "other.crt", dir / "site-ca.crt");
    std::filesystem::create_directory(dir / "credentials");
    std::filesystem::rename(dir / "password", dir / "credentials/mqtt-password");
    auto site = args("good", "site-ca.crt");
    site.resize(site.size() - 2); // no --password-file
    LoggedBridge bridge(site, "CREDENTIALS_DIRECTORY=" + (dir / "credentials").string());
    ASSERT_TRUE(bridge.WaitFor("unknown CA", kSoon));
    std::filesystem::copy_file(dir / "ca.crt", dir / "site-ca.crt",
                               std::filesystem::copy_options::overwrite_existing);
    ASSERT_TRUE(bridge.WaitFor("connected to the broker 127.0.0.1:" +
                                   std::to_string(broker.port()) + " (TLS)",
                               kReconnect));
    test::Watch watch(broker, {"lumidex/#"});
    test::Publish(broker, "lumidex/dock/line/2/set", "5");
    const auto frame = dock_->NextFrame(kSoon);
    ASSERT_TRUE(frame);
    EXPECT_EQ(LineText(*frame, 2), "  5");
    watch.WaitForStatus("lumidex/dock/status", "accepted", kSoon);
    EXPECT_EQ(bridge.Stop(SIGTERM), 0);
}

std::optional<json> Document(const test::Broker& broker, const std::string& topic) {
    const auto text = test::Retained(broker, topic);
    if (!text) {
        return std::nullopt;
    }
    return json::parse(*text, nullptr, false);
}

// Home Assistant's discovery: the documents as Home Assistant reads them
// today, the initialisation behind a typed confirmation, documents removed
// when their board or line leaves, and at most one resend every 10 s
// however often Home Assistant asks.
TEST_F(Site, DiscoveryFollowsTheBoardsFileAndIsResentAtMostEveryTenSeconds) {
    test::Broker broker(dir_.path(), {});
    WriteBoards(broker.port(), "refresh=0\n");
    StartBoards();
    auto bridge = std::make_unique<LoggedBridge>(Args({"--discovery"}));
    ASSERT_TRUE(bridge->WaitFor("connected to the broker", kSoon));
    test::Watch watch(broker, {"homeassistant/#", "lumidex/bridge/#"});
    watch.WaitFor("lumidex/bridge/availability", "online", kSoon);

    const auto line = Document(broker, "homeassistant/text/lumidex_hall/line1/config");
    ASSERT_TRUE(line && line->is_object()) << "no discovery document for hall's line 1";
    EXPECT_EQ(line->value("command_topic", ""), "lumidex/hall/line/1/set");
    EXPECT_EQ(line->value("state_topic", ""), "lumidex/hall/line/1");
    // Four digits with two decimal places: two whole digits.
    EXPECT_EQ(line->value("pattern", ""), "^([0-9]{1,2}|[0-9]{1,2}\\.[0-9]*)?$");
    EXPECT_EQ(line->value("value_template", ""), "{{ value | trim }}");
    EXPECT_EQ(line->value("default_entity_id", ""), "text.lumidex_hall_line1");
    EXPECT_FALSE(line->contains("object_id"));
    EXPECT_EQ(line->value("qos", 0), 1);
    EXPECT_EQ(line->at("origin").value("name", ""), "lumidex-bridge");
    EXPECT_FALSE(line->at("origin").value("sw_version", "").empty());
    EXPECT_TRUE(line->at("origin").value("support_url", "").starts_with("https://"));
    EXPECT_EQ(line->value("availability_mode", ""), "all");
    EXPECT_FALSE(Document(broker, "homeassistant/text/lumidex_hall/line3/config"))
        << "line 3 is not selected for sending";
    const auto day = Document(broker, "homeassistant/number/lumidex_dock/brightness_day/config");
    ASSERT_TRUE(day);
    EXPECT_EQ(day->value("max", 0), 7);
    const auto init = Document(broker, "homeassistant/text/lumidex_dock/init/config");
    ASSERT_TRUE(init) << "the initialisation is a text entity that takes the confirmation";
    EXPECT_EQ(init->value("pattern", ""), "^INITIALIZE$");
    EXPECT_EQ(init->value("command_topic", ""), "lumidex/dock/init/set");
    EXPECT_FALSE(Document(broker, "homeassistant/button/lumidex_dock/init/config"));
    EXPECT_TRUE(Document(broker, "homeassistant/sensor/lumidex_hall/status/config"));

    // dock leaves the boards file and hall's line 2 is no longer sent.
    test::Watch offers(broker, {"homeassistant/button/#"});
    const std::string clock = "homeassistant/button/lumidex_hall/clock/config";
    auto any = [](const std::string&) { return true; };
    ASSERT_TRUE(offers.WaitFor(clock, any, "the retained clock button", kSoon));
    ASSERT_EQ(bridge->Stop(SIGTERM), 0);
    WriteBoards(broker.port(), "refresh=0\n", false);
    ASSERT_TRUE(WriteSetting(dir_ / "hall.ini", "Text", "Text2", "No"));
    bridge = std::make_unique<LoggedBridge>(Args({"--discovery"}));
    ASSERT_TRUE(bridge->WaitFor("connected to the broker", kSoon));

    // Home Assistant asks 1000 times right after the documents went out:
    // they go out once more, at the end of the 10 s, and no more.
    std::string client;
    for (const std::string& arg : broker.ClientArgs()) {
        client += " '" + arg + "'";
    }
    const auto burst = test::RunProgram(
        {"/bin/sh", "-c",
         "yes online | head -n 1000 | " LUMIDEX_MOSQUITTO_PUB_EXE + client +
             " -q 1 -l -t homeassistant/status"});
    ASSERT_EQ(burst.status, 0) << burst.err;

    for (const char* topic : {"homeassistant/text/lumidex_hall/line2/config",
                              "homeassistant/text/lumidex_dock/line1/config",
                              "homeassistant/number/lumidex_dock/brightness_night/config",
                              "homeassistant/sensor/lumidex_dock/status/config"}) {
        watch.WaitFor(topic, "(null)", kSoon);
        EXPECT_FALSE(test::Retained(broker, topic)) << topic << " is still offered";
    }
    EXPECT_TRUE(Document(broker, "homeassistant/text/lumidex_hall/line1/config"));

    ASSERT_TRUE(offers.WaitFor(clock, any, "the documents sent at the connection", kSoon));
    ASSERT_TRUE(offers.WaitFor(clock, any, "the documents sent again once asked", 15s));
    EXPECT_EQ(offers.Count(clock, 11s), 0) << "sent again though nobody asked after the last time";
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(bridge->PeakKb(), 30 * 1024) << "kB at most, after 1000 requests";
#endif
    EXPECT_EQ(bridge->Stop(SIGTERM), 0);
}

struct StaleRow {
    std::string name;
    std::string list; // as kept retained on P/bridge/discovery
    std::vector<std::string> removed;
};

// Only this bridge's documents that are no longer offered are removed,
// whatever the retained list says.
TEST(DiscoveryList, RemovesOnlyOwnDocumentsNoLongerOffered) {
    const std::set<std::string> current{"homeassistant/text/lumidex_hall/line1/config"};
    const std::string gone = "homeassistant/text/lumidex_dock/line1/config";
    const std::vector<StaleRow> rows{
        {"what the bridge kept", DiscoveryList({gone, *current.begin()}), {gone}},
        {"nothing left", DiscoveryList(current), {}},
        {"another program's document", R"(["homeassistant/light/zigbee_lamp/light/config"])", {}},
        {"another prefix's node", R"(["homeassistant/text/plant_hall/line1/config"])", {}},
        {"not a discovery topic", R"(["lumidex/hall/line/1", "homeassistant/status"])", {}},
        {"too many levels", R"(["homeassistant/text/lumidex_x/a/b/config"])", {}},
        {"not a list of texts", R"({"a": 1})", {}},
        {"not JSON", "homeassistant/text/lumidex_dock/line1/config", {}},
    };
    for (const StaleRow& row : rows) {
        EXPECT_EQ(StaleDiscoveryTopics(row.list, "lumidex", current), row.removed) << row.name;
    }
}

struct StartRefusal {
    std::string name;
    // Makes the files of the row in the folder; returns the arguments.
    std::function<std::vector<std::string>(const std::filesystem::path& dir)> prepare;
    std::string says;
    std::string environment = ""; // set for the bridge
};

void Chmod(const std::filesystem::path& file, mode_t mode) {
    ASSERT_EQ(::chmod(file.c_str(), mode), 0) << file;
}

// The arguments for the boards file DIR/BOARDS and further options.
std::vector<std::string> Boards(const std::filesystem::path& dir, std::vector<std::string> more = {},
                                const std::string& boards = "boards.ini") {
    more.insert(more.begin(), {"--boards", (dir / boards).string()});
    return more;
}

// A password file of the given mode.
std::vector<std::string> WithPasswordFile(const std::filesystem::path& dir, mode_t mode) {
    Chmod(dir / "secret", mode);
    return Boards(dir, {"--username", "u", "--password-file", (dir / "secret").string()});
}

class BridgeStart : public testing::TestWithParam<StartRefusal> {};

TEST_P(BridgeStart, RefusesAFileOthersCouldChangeOrRead) {
    test::TempDir dir;
    test::WriteFileOrFail(dir / "hall.ini", test::BoardSettings(kHall));
    test::WriteFileOrFail(dir / "boards.ini", "[hall]\nsettings=" + (dir / "hall.ini").string() +
                                                  "\n");
    test::WriteFileOrFail(dir / "secret", "pw\n");
    Chmod(dir / "secret", 0600);
    auto args = GetParam().prepare(dir.path());
    args.insert(args.end(), {"--broker", "127.0.0.1:1"});
    LoggedBridge bridge(args, GetParam().environment.empty()
                                  ? ""
                                  : GetParam().environment + "=" + (dir / "creds").string());
    ASSERT_TRUE(bridge.WaitFor(GetParam().says, kSoon));
    EXPECT_EQ(bridge.Stop(0), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BridgeStart,
    testing::Values(
        StartRefusal{"boards file every user may write",
                     [](const std::filesystem::path& dir) {
                         Chmod(dir / "boards.ini", 0666);
                         return Boards(dir);
                     },
                     "boards.ini can be written by every user"},
        StartRefusal{"password file every user may read",
                     [](const std::filesystem::path& dir) { return WithPasswordFile(dir, 0644); },
                     "refusing the password file: "},
        StartRefusal{"password handed over by systemd, readable by every user",
                     [](const std::filesystem::path& dir) {
                         std::filesystem::create_directory(dir / "creds");
                         test::WriteFileOrFail(dir / "creds/mqtt-password", "pw\n");
                         Chmod(dir / "creds/mqtt-password", 0644);
                         return Boards(dir, {"--username", "u"});
                     },
                     "mqtt-password can be read by every user", "CREDENTIALS_DIRECTORY"},
        StartRefusal{"password named as a credential, run without systemd",
                     [](const std::filesystem::path& dir) {
                         test::WriteFileOrFail(dir / "boards.ini",
                                               "[bridge]\nusername=u\npassword-file=credential:"
                                               "mqtt-password\n[hall]\nsettings=" +
                                                   (dir / "hall.ini").string() + "\n");
                         return Boards(dir);
                     },
                     "[bridge] password-file: the credential mqtt-password is handed over by "
                     "systemd (LoadCredential=mqtt-password:FILE), but CREDENTIALS_DIRECTORY is "
                     "not set"},
        StartRefusal{"CA file without a certificate",
                     [](const std::filesystem::path& dir) {
                         test::WriteFileOrFail(dir / "ca.crt", "no certificate here\n");
                         return Boards(dir, {"--tls-ca", (dir / "ca.crt").string()});
                     },
                     "ca.crt holds no certificate"}),
    test::RowName{});

} // namespace
} // namespace lumidex
