// lumidex-bridge end to end: a mosquitto of the test's own, lumidex-sim
// boards on loopback addresses, and mosquitto_pub/mosquitto_sub as the
// outside clients.
#include "boards/status.h"
#include "settings/profile.h"
#include "tests/bridge/mqtt/bridge_fixture.h"
#include "tests/support/addresses.h"

#include <csignal>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <unistd.h>

namespace lumidex {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const std::string kHall = test::kBridgeTestsBoardA;
const std::string kDock = test::kBridgeTestsBoardB;

// An exchange that is answered takes milliseconds; one that is not, the
// link's 1000 ms. Waits are far longer, so a slow machine does not fail
// them; the order of messages shows what ran side by side.
constexpr auto kSoon = 5s;

using test::LineText;

// Two boards, hall and dock, both in group "prices", on their own
// simulators, with a bridge between them and a broker.
struct Refusal;

class Bridge : public testing::Test {
    friend struct Refusal;

protected:
    void SetUp() override {
        broker_ = std::make_unique<test::Broker>(dir_.path(), BrokerOptions());
        test::WriteFileOrFail(dir_ / "hall.ini", test::BoardSettings(kHall));
        test::WriteFileOrFail(dir_ / "dock.ini", test::BoardSettings(kDock));
        test::WriteFileOrFail(dir_ / "boards.ini",
                              "; the test's broker\r\n[bridge]\r\nbroker=127.0.0.1:" +
                                  std::to_string(broker_->port()) + "\r\n" + Refresh() +
                                  "[hall]\r\nsettings=hall.ini\r\nlink=udp\r\n"
                                  "groups=prices, site1\r\n" +
                                  HallKeys() + "[dock]\r\nsettings=dock.ini\r\ngroups=prices\r\n" +
                                  DockKeys());
        hall_ = std::make_unique<test::Board>(kHall);
        dock_ = std::make_unique<test::Board>(kDock, DockOptions());
        watch_ = std::make_unique<test::Watch>(*broker_, std::vector<std::string>{"lumidex/#"});
        StartBridge();
    }

    virtual test::Broker::Options BrokerOptions() const { return {}; }
    virtual std::vector<std::string> DockOptions() const { return {}; }
    virtual std::vector<std::string> BridgeOptions() const { return {}; }
    // No re-assertion unless a test asks for it, so every frame a board
    // gets is one the test caused.
    virtual std::string Refresh() const { return "refresh=0\r\n"; }
    // Further keys of each board's section.
    virtual std::string HallKeys() const { return ""; }
    virtual std::string DockKeys() const { return ""; }

    void StartBridge() {
        std::vector<std::string> argv{LUMIDEX_BRIDGE_EXE, "--boards",
                                      (dir_ / "boards.ini").string()};
        const auto extra = BridgeOptions();
        argv.insert(argv.end(), extra.begin(), extra.end());
        bridge_ = std::make_unique<test::ChildProcess>(argv);
        watch_->WaitFor("lumidex/bridge/availability", "online", kSoon);
    }

    void Publish(const std::string& topic, const std::string& payload) {
        test::Publish(*broker_, topic, payload);
    }

    std::string Stored(const std::string& board, const char* section, const char* key) {
        return ReadSetting(dir_ / (board + ".ini"), section, key, "(missing)", 64);
    }

    test::TempDir dir_;
    std::unique_ptr<test::Broker> broker_;
    std::unique_ptr<test::Board> hall_;
    std::unique_ptr<test::Board> dock_;
    std::unique_ptr<test::Watch> watch_;
    std::unique_ptr<test::ChildProcess> bridge_;
};

TEST_F(Bridge, ValueReachesTheBoardIsStoredAndComesBackRetained) {
    Publish("lumidex/hall/line/1/set", "12.5");
    const auto frame = hall_->NextFrame(kSoon);
    ASSERT_TRUE(frame) << "hall's board got no frame for lumidex/hall/line/1/set 12.5";
    EXPECT_EQ(frame->value("command", ""), "content");
    EXPECT_EQ(LineText(*frame, 1), "12.50");
    const auto status = watch_->WaitForStatus("lumidex/hall/status", "accepted", kSoon);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->value("frame", ""), frame->value("hex", "?"));
    EXPECT_EQ(status->value("command", ""), "content");
    watch_->WaitFor("lumidex/hall/line/1", "12.50", kSoon);
    watch_->WaitFor("lumidex/hall/availability", "online", kSoon);
    EXPECT_EQ(test::Retained(*broker_, "lumidex/hall/line/1"), "12.50");
    EXPECT_EQ(Stored("hall", "TextData", "TD1"), "12.50");

    // The record: the change as "mqtt"'s, then the card's acceptance, each
    // published once on hall's record topic as the line written.
    const auto change = watch_->WaitFor(
        "lumidex/hall/record",
        [](const std::string& line) { return json::parse(line, nullptr, false).contains("field"); },
        "a change line", kSoon);
    ASSERT_TRUE(change);
    const json changed = json::parse(*change);
    EXPECT_EQ(changed.value("who", ""), "mqtt");
    EXPECT_EQ(changed.value("via", ""), "mqtt");
    EXPECT_EQ(changed.value("field", ""), "lines.1");
    EXPECT_EQ(changed.value("old", "?"), "");
    EXPECT_EQ(changed.value("new", ""), "12.50");
    EXPECT_EQ(changed.value("request", ""), "lumidex/hall/line/1/set 12.5");
    const auto outcome = watch_->WaitFor(
        "lumidex/hall/record",
        [&](const std::string& line) {
            return json::parse(line, nullptr, false).value("applied", json()) == changed["seq"];
        },
        "the outcome of change " + changed["seq"].dump(), kSoon);
    ASSERT_TRUE(outcome);
    EXPECT_EQ(json::parse(*outcome).value("result", ""), "accepted");
    EXPECT_EQ(test::Retained(*broker_, "lumidex/hall/record"), std::nullopt);
    // The bridge takes its own record lines for no command.
    EXPECT_EQ(watch_->Count("lumidex/bridge/status", 200ms), 0);
    std::vector<std::string> written;
    for (const auto& month : std::filesystem::directory_iterator(dir_ / "boards-record")) {
        std::ifstream file(month.path());
        for (std::string line; std::getline(file, line);) {
            written.push_back(line);
        }
    }
    EXPECT_EQ(written, (std::vector{*change, *outcome}));

    // Flags and the update time go into the same content frame.
    Publish("lumidex/hall/line/2/flicker/set", "1");
    ASSERT_TRUE(hall_->NextFrame(kSoon));
    Publish("lumidex/hall/update/set", "07:00");
    const auto timed = hall_->NextFrame(kSoon);
    ASSERT_TRUE(timed);
    EXPECT_EQ(timed->value("hour_code", 0), 7);
    EXPECT_TRUE(timed->at("lines").at(1).value("flicker", false));
    EXPECT_EQ(Stored("hall", "Set", "FCC2"), "1");
    EXPECT_EQ(Stored("hall", "Set", "UIN"), "07:00");
}

TEST_F(Bridge, GroupUpdateReachesEveryBoardOfTheGroup) {
    Publish("lumidex/group/prices/brightness/night/set", "3");
    for (test::Board* board : {hall_.get(), dock_.get()}) {
        const auto frame = board->NextFrame(kSoon);
        ASSERT_TRUE(frame) << "a board of group prices got no frame";
        EXPECT_EQ(frame->value("command", ""), "brightness");
        EXPECT_EQ(frame->value("night", -1), 3);
    }
    watch_->WaitFor("lumidex/hall/brightness/night", "3", kSoon);
    watch_->WaitFor("lumidex/dock/brightness/night", "3", kSoon);
    EXPECT_EQ(Stored("dock", "LD", "LD2"), "3");

    // A group only one board is in.
    Publish("lumidex/group/site1/line/2/set", "42");
    const auto frame = hall_->NextFrame(kSoon);
    ASSERT_TRUE(frame);
    EXPECT_EQ(LineText(*frame, 2), " 42");
    EXPECT_FALSE(dock_->NextFrame(300ms)) << "dock is not in group site1";
}

struct Refusal {
    std::string name;
    std::string topic;
    std::string payload;
    std::string status_topic;
    std::string command;
    std::string detail; // a part of the reason given

    // Publishes the command and checks the refusal it earns; the status.
    std::optional<json> Check(Bridge& bridge) const;
};

std::optional<json> Refusal::Check(Bridge& bridge) const {
    bridge.Publish(topic, payload);
    auto status = bridge.watch_->WaitForStatus(status_topic, "refused", kSoon);
    EXPECT_TRUE(status);
    if (status) {
        EXPECT_EQ(status->value("command", ""), command);
        EXPECT_EQ(status->value("topic", ""), topic);
        EXPECT_NE(status->value("detail", "").find(detail), std::string::npos) << status->dump();
    }
    return status;
}

TEST_F(Bridge, RefusedCommandsSendNothingAndStoreNothing) {
    const std::vector<Refusal> rows{
        {"whole digits beyond the line", "lumidex/hall/line/1/set", "123", "lumidex/hall/status",
         "content", "does not take '123'"},
        {"letters", "lumidex/hall/line/1/set", "1a", "lumidex/hall/status", "content",
         "does not take"},
        {"rounding carries past the line", "lumidex/hall/line/1/set", "99.999",
         "lumidex/hall/status", "content", "does not take"},
        {"point first", "lumidex/hall/line/2/set", ".5", "lumidex/hall/status", "content",
         "does not take"},
        {"flag other than 0 or 1", "lumidex/hall/line/1/flicker/set", "2", "lumidex/hall/status",
         "content", "1 or 0"},
        {"update time not a whole hour", "lumidex/hall/update/set", "07:30", "lumidex/hall/status",
         "content", "HH:00"},
        {"brightness beyond 7", "lumidex/hall/brightness/day/set", "8", "lumidex/hall/status",
         "brightness", "0 to 7"},
        {"a date that does not exist", "lumidex/hall/clock/set", "2024-02-30 10:00:00",
         "lumidex/hall/status", "clock", "YYYY-MM-DD"},
        {"init without INITIALIZE", "lumidex/hall/init/set", "yes", "lumidex/hall/status", "init",
         "INITIALIZE"},
        {"init in lower case", "lumidex/group/prices/init/set", "initialize", "lumidex/hall/status",
         "init", "INITIALIZE"},
        {"payload over 256 bytes", "lumidex/hall/line/1/set", std::string(300, '1'),
         "lumidex/hall/status", "content", "300 bytes"},
        {"payload not UTF-8", "lumidex/hall/line/1/set", "1\xff\xfe", "lumidex/hall/status",
         "content", "not UTF-8"},
        // Junk never overwrites what a board last reported.
        {"unknown ending", "lumidex/hall/lines/1/set", "1", "lumidex/bridge/status", "unknown",
         "no board or group of this bridge has this topic"},
        {"unknown board", "lumidex/gate/line/1/set", "1", "lumidex/bridge/status", "content",
         "no board gate"},
        {"unknown group", "lumidex/group/nowhere/line/1/set", "1", "lumidex/bridge/status",
         "content", "group nowhere"},
    };
    for (const Refusal& row : rows) {
        SCOPED_TRACE(row.name + ": " + row.topic + " '" + row.payload + "'");
        const auto status = row.Check(*this);
        ASSERT_TRUE(status);
        EXPECT_FALSE(status->contains("frame"));
    }
    // Nothing went out: the first frame either board takes is the next good one.
    EXPECT_EQ(Stored("hall", "TextData", "TD1"), "(missing)");
    EXPECT_EQ(Stored("hall", "LD", "LD"), "(missing)");
    Publish("lumidex/hall/line/1/set", "1.5");
    const auto frame = hall_->NextFrame(kSoon);
    ASSERT_TRUE(frame);
    EXPECT_EQ(LineText(*frame, 1), " 1.50");
    EXPECT_FALSE(dock_->NextFrame(300ms)) << "dock got a frame though every command was refused";
}

TEST_F(Bridge, InitialiseTakesOnlyItsConfirmation) {
    Publish("lumidex/hall/init/set", "INITIALIZE");
    const auto frame = hall_->NextFrame(kSoon);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->value("command", ""), "init");
    EXPECT_EQ(frame->value("hex", ""), "FE 05 00 CC FF 01 72");
    Publish("lumidex/hall/clock/set", "2024-06-15 14:30:00");
    const auto clock = hall_->NextFrame(kSoon);
    ASSERT_TRUE(clock);
    EXPECT_EQ(clock->value("clock", ""), "2024-06-15 14:30:00");
}

// A moment as the bridge's local time gives it: "YYYY-MM-DD HH:MM:SS".
std::string LocalText(std::chrono::system_clock::time_point at) {
    const std::time_t t = std::chrono::system_clock::to_time_t(at);
    std::tm local{};
    ::localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// A one-off made over MQTT runs on time and leaves the list; a daily one is
// cancelled by its id; what the service refuses is said on the bridge's
// status.
TEST_F(Bridge, SchedulesAreMadeListedCancelledAndRunOverMqtt) {
    // The list with `count` schedules; lists published before it are not
    // looked at again.
    const auto schedules = [&](std::size_t count) {
        const auto payload = watch_->WaitFor(
            "lumidex/schedules",
            [&](const std::string& got) {
                const auto list = json::parse(got, nullptr, false);
                return list.is_object() && list["schedules"].size() == count;
            },
            std::to_string(count) + " schedule(s)", kSoon);
        watch_->Count("lumidex/schedules", 0ms);
        return payload ? json::parse(*payload)["schedules"] : json::array();
    };
    schedules(0);
    const auto now = std::chrono::system_clock::now();
    const auto at = std::chrono::floor<std::chrono::seconds>(now) + 3s;
    Publish("lumidex/schedules/add",
            json{{"board", "hall"}, {"at", LocalText(at)}, {"set", {{"lines", {{"1", "3.5"}}}}}}
                .dump());
    Publish("lumidex/schedules/add",
            json{{"group", "prices"}, {"daily", "03:00"}, {"set", {{"brightness", {{"day", 2}}}}}}
                .dump());
    json listed = schedules(2);
    ASSERT_EQ(listed.size(), 2u);
    const bool once_first = listed[0].contains("board");
    const json once = listed[once_first ? 0 : 1];
    const json daily = listed[once_first ? 1 : 0];
    EXPECT_EQ(once.value("board", ""), "hall");
    EXPECT_EQ(once.value("created_by", ""), "mqtt");
    std::string next_local = LocalText(at);
    next_local[10] = 'T';
    EXPECT_TRUE(once.value("next", "").starts_with(next_local)) << once.dump();
    EXPECT_EQ(daily.value("group", ""), "prices");

    Publish("lumidex/schedules/" + daily.value("id", "?") + "/delete", "");
    listed = schedules(1);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].value("id", ""), once.value("id", "?"));

    const std::vector<Refusal> refusals{
        {"cancelled already", "lumidex/schedules/" + daily.value("id", "?") + "/delete", "",
         "lumidex/bridge/status", "unknown", daily.value("id", "?")},
        {"no JSON", "lumidex/schedules/add", "{\"board\":", "lumidex/bridge/status", "unknown",
         "no JSON"},
        {"a one-off in the past", "lumidex/schedules/add",
         json{{"board", "hall"}, {"at", LocalText(now - 1h)}, {"clock", true}}.dump(),
         "lumidex/bridge/status", "unknown", "at: "},
    };
    for (const Refusal& row : refusals) {
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(row.Check(*this));
    }

    const auto frame = hall_->NextFrame(kSoon);
    ASSERT_TRUE(frame) << "the schedule never reached hall";
    EXPECT_EQ(LineText(*frame, 1), " 3.50");
    // On time: the exchange's status is dated (to the second) when it was
    // answered, however slowly this test got here.
    const auto ran = watch_->WaitForStatus("lumidex/hall/status", "accepted", kSoon);
    ASSERT_TRUE(ran);
    EXPECT_GE(ran->value("at", ""), UtcText(at)) << "the schedule ran early";
    EXPECT_LE(ran->value("at", ""), UtcText(at + 1s)) << "the schedule ran late";
    EXPECT_TRUE(schedules(0).empty());
    EXPECT_FALSE(dock_->NextFrame(10ms)) << "the cancelled daily schedule reached dock";
}

// hall's line 1 takes 1 to 2.5; dock's line 1 is guarded: stale after 2 s
// without a value.
class BridgeWithLineRules : public Bridge {
protected:
    std::string HallKeys() const override { return "line-1-min=1\r\nline-1-max=2.5\r\n"; }
    std::string DockKeys() const override { return "stale-after=2\r\nstale-lines=1\r\n"; }

    // The next frame of dock that carries `text` on line 1, past the frames
    // its guard sends.
    std::optional<json> DockFrameWith(const std::string& text) {
        for (auto frame = dock_->NextFrame(kSoon); frame; frame = dock_->NextFrame(kSoon)) {
            if (frame->contains("lines") && LineText(*frame, 1) == text) {
                return frame;
            }
        }
        return std::nullopt;
    }
};

TEST_F(BridgeWithLineRules, ValueOutsideALinesBoundsIsRefusedAndNotSent) {
    Publish("lumidex/group/prices/line/1/set", "3");
    const auto status = watch_->WaitForStatus("lumidex/hall/status", "refused", kSoon);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->value("command", ""), "content");
    EXPECT_EQ(status->value("topic", ""), "lumidex/group/prices/line/1/set");
    EXPECT_NE(status->value("detail", "").find("line 1 takes 1 to 2.5, not 3"),
              std::string::npos)
        << status->dump();
    // dock has no bounds and takes it; hall gets nothing and stores nothing.
    EXPECT_TRUE(DockFrameWith(" 3.00"));
    EXPECT_FALSE(hall_->NextFrame(300ms)) << "hall got a frame for a value beyond its bounds";
    EXPECT_EQ(Stored("hall", "TextData", "TD1"), "(missing)");
    Publish("lumidex/hall/line/1/set", "2.5");
    const auto frame = hall_->NextFrame(kSoon);
    ASSERT_TRUE(frame);
    EXPECT_EQ(LineText(*frame, 1), " 2.50");
}

TEST_F(BridgeWithLineRules, GuardedLineTurnsStaleWhenItsTimePassesAndFreshWithAValue) {
    const std::string topic = "lumidex/dock/line/1/stale";
    watch_->WaitFor(topic, "false", kSoon);
    watch_->WaitFor(topic, "true", kSoon);
    Publish("lumidex/dock/line/1/set", "7");
    const auto fresh = std::chrono::steady_clock::now();
    EXPECT_TRUE(DockFrameWith(" 7.00"));
    watch_->WaitFor(topic, "false", kSoon);
    watch_->WaitFor(topic, "true", kSoon);
    // The guard counts in whole seconds: 2 s after the second the value
    // came in.
    EXPECT_GE(std::chrono::steady_clock::now() - fresh, 1s)
        << "the line turned stale long before its 2 s had passed";
    EXPECT_EQ(test::Retained(*broker_, topic), "true");
    // Lines no guard watches have no stale topic.
    EXPECT_EQ(watch_->Count("lumidex/dock/line/2/stale", 0ms), 0);
    EXPECT_EQ(watch_->Count("lumidex/hall/line/1/stale", 0ms), 0);
}

TEST_F(Bridge, KilledBridgeTurnsOfflineThroughItsLastWill) {
    ASSERT_EQ(bridge_->Stop(SIGKILL, kSoon), 128 + SIGKILL);
    watch_->WaitFor("lumidex/bridge/availability", "offline", kSoon);
}

TEST_F(Bridge, RestartPublishesTheStoredStateAndSendsNothing) {
    Publish("lumidex/hall/line/1/set", "4.2");
    ASSERT_TRUE(hall_->NextFrame(kSoon));
    watch_->WaitFor("lumidex/hall/line/1", "4.20", kSoon);
    EXPECT_EQ(bridge_->Stop(SIGTERM, kSoon), 0) << "SIGTERM ends the bridge with exit 0";
    watch_->WaitFor("lumidex/bridge/availability", "offline", kSoon);

    // A broker that never saw the first run: what it gets comes from the
    // files, and what the boards show from what they last took, which the
    // dialog's change to line 2 of dock meanwhile is not: dock still shows
    // its empty line 2.
    ASSERT_TRUE(WriteSetting(dir_ / "dock.ini", "TextData", "TD2", "7.5"));
    watch_.reset();
    std::filesystem::create_directory(dir_ / "second");
    broker_ = std::make_unique<test::Broker>(dir_ / "second", test::Broker::Options{});
    test::WriteFileOrFail(dir_ / "boards.ini",
                          "[bridge]\r\nbroker=127.0.0.1:" + std::to_string(broker_->port()) +
                              "\r\nrefresh=0\r\n[hall]\r\nsettings=hall.ini\r\n[dock]\r\n"
                              "settings=dock.ini\r\n");
    watch_ = std::make_unique<test::Watch>(*broker_, std::vector<std::string>{"lumidex/#"});
    StartBridge();
    EXPECT_EQ(test::Retained(*broker_, "lumidex/hall/line/1"), "4.20");
    EXPECT_EQ(test::Retained(*broker_, "lumidex/dock/line/2"), " ");
    EXPECT_EQ(test::Retained(*broker_, "lumidex/dock/brightness/day"), "5");
    EXPECT_FALSE(hall_->NextFrame(500ms)) << "the restarted bridge sent to hall unasked";
    EXPECT_FALSE(dock_->NextFrame(10ms)) << "the restarted bridge sent to dock unasked";
}

// Another user can hold nothing the bridge waits for: with a lock on the
// board's Config.ini itself (all it can take) the value goes out at once.
TEST_F(Bridge, AnotherUserCannotDelayAStore) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to play another user with setpriv";
    }
    test::ChildProcess other(
        {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "/bin/sh", "-c",
         "cd '" + dir_.path().string() +
             "' && { flock -xn .hall.ini.lock true 2>/dev/null && echo took the lock; "
             "exec 9<hall.ini && flock -x 9 && echo holding && exec sleep 600; }"});
    ASSERT_EQ(other.ReadLine(kSoon), "holding");
    Publish("lumidex/hall/line/1/set", "7.5");
    const auto frame = hall_->NextFrame(kSoon);
    ASSERT_TRUE(frame);
    EXPECT_EQ(LineText(*frame, 1), " 7.50");
    EXPECT_EQ(Stored("hall", "TextData", "TD1"), "7.50");
}

// The most memory a process has held, in kB.
[[maybe_unused]] long PeakKb(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:")) {
            return std::stol(line.substr(6));
        }
    }
    ADD_FAILURE() << "no VmHWM in /proc/" << pid << "/status";
    return 0;
}

// The broker's log names the bridge's client by this id.
const std::string kBurstClientId = "bridge-under-burst";

class BridgeUnderBurst : public Bridge {
protected:
    std::vector<std::string> BridgeOptions() const override {
        return {"--client-id", kBurstClientId};
    }
};

// Commands far faster than a board takes them, from one mosquitto_pub: the
// bridge keeps answering the broker, later values replace the ones still
// waiting, and the board ends with the last one sent.
TEST_F(BridgeUnderBurst, StaysConnectedAndTheBoardEndsWithTheLastValue) {
    constexpr int kMessages = 20000;
    const std::string last = "42.42"; // no earlier message carries it
    std::string lines;
    for (int i = 1; i < kMessages; ++i) {
        lines += std::to_string(i % 100) + "\n";
    }
    test::WriteFileOrFail(dir_ / "burst.txt", lines + last + "\n");
    test::Watch state(*broker_, {"lumidex/bridge/availability", "lumidex/hall/line/1"});
    state.WaitFor("lumidex/bridge/availability", "online", kSoon);

    const auto sent = test::RunProgram(
        {"/bin/sh", "-c",
         "exec '" LUMIDEX_MOSQUITTO_PUB_EXE "' -h 127.0.0.1 -p " + std::to_string(broker_->port()) +
             " -q 0 -l -t lumidex/hall/line/1/set < '" + (dir_ / "burst.txt").string() + "'"});
    ASSERT_EQ(sent.status, 0) << sent.err;
    // Published once the board accepted a frame with it.
    ASSERT_TRUE(state.WaitFor("lumidex/hall/line/1", last, 20s));
    EXPECT_EQ(Stored("hall", "TextData", "TD1"), last);
    // The simulator reports at most 50 frames a second: once they stopped
    // for longer, the board's next frame is reported and shows what the
    // board holds.
    while (hall_->NextFrame(1500ms)) {
    }
    Publish("lumidex/hall/line/2/set", "1");
    auto frame = hall_->NextFrame(kSoon);
    while (frame && !frame->contains("lines")) { // a note of reports held back
        frame = hall_->NextFrame(kSoon);
    }
    ASSERT_TRUE(frame);
    EXPECT_EQ(LineText(*frame, 1), last);

    EXPECT_EQ(state.Count("lumidex/bridge/availability", 300ms), 0)
        << "the bridge's availability changed during the burst";
    std::istringstream log(test::ReadFileOrFail(dir_ / "mosquitto.log"));
    std::vector<std::string> naming_bridge;
    for (std::string line; std::getline(log, line);) {
        if (line.find(kBurstClientId) != std::string::npos) {
            naming_bridge.push_back(line);
        }
    }
    ASSERT_EQ(naming_bridge.size(), 1u)
        << "the broker's log: " << testing::PrintToString(naming_bridge);
    EXPECT_NE(naming_bridge[0].find("New client connected"), std::string::npos) << naming_bridge[0];

    // The waiting commands are one per topic, not one per message. (The
    // sanitizers' allocator keeps what was freed for a while.)
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(PeakKb(bridge_->pid()), 30 * 1024) << "kB at most, after the burst";
#endif
}

// Two boards on one RS-485 bus: one serial port, bus addresses 1 and 2.
TEST(BridgeSerial, BoardsOnOnePortTakeTurns) {
    test::TempDir dir;
    test::Broker broker(dir.path(), {});
    test::Board bus(test::kBridgeTestsBoardC, {"--pty"});
    for (const char* address : {"01", "02"}) {
        test::WriteFileOrFail(dir / ("bus" + std::string(address) + ".ini"),
                              "[Set]\r\nADD485=" + std::string(address) +
                                  "\r\n[Port]\r\nPort=" + bus.serial() + "\r\nBoud=9600\r\n");
    }
    test::WriteFileOrFail(dir / "boards.ini",
                          "[bridge]\nbroker=127.0.0.1:" + std::to_string(broker.port()) +
                              "\nrefresh=0\n[first]\nsettings=bus01.ini\nlink=serial\ngroups=bus\n"
                              "[second]\nsettings=bus02.ini\nlink=serial\ngroups=bus\n");
    test::Watch watch(broker, {"lumidex/#"});
    test::ChildProcess bridge({LUMIDEX_BRIDGE_EXE, "--boards", (dir / "boards.ini").string()});
    watch.WaitFor("lumidex/bridge/availability", "online", kSoon);

    test::Publish(broker, "lumidex/group/bus/brightness/day/set", "6");
    std::set<int> addresses;
    for (int i = 0; i < 2; ++i) {
        const auto frame = bus.NextFrame(kSoon);
        ASSERT_TRUE(frame) << "the bus got " << i << " of 2 frames";
        EXPECT_EQ(frame->value("link", ""), "serial");
        EXPECT_EQ(frame->value("day", -1), 6);
        addresses.insert(frame->value("address", -1));
    }
    EXPECT_EQ(addresses, (std::set<int>{1, 2}));
    watch.WaitForStatus("lumidex/first/status", "accepted", kSoon);
    watch.WaitForStatus("lumidex/second/status", "accepted", kSoon);
    EXPECT_EQ(bridge.Stop(SIGTERM, kSoon), 0);
}

struct BadBoardsFile {
    std::string name;
    std::string text;
    std::string says; // what the one line on stderr names
};

class BridgeBoardsFile : public testing::TestWithParam<BadBoardsFile> {};

TEST_P(BridgeBoardsFile, IsRefusedAtStartNamingFileSectionAndKey) {
    test::TempDir dir;
    test::WriteFileOrFail(dir / "hall.ini", test::BoardSettings(kHall));
    test::WriteFileOrFail(dir / "serial.ini", "[Set]\r\n");
    test::WriteFileOrFail(dir / "dotted.ini", "[Set]\r\nLEDIP=127.0.0.2\r\n");
    test::WriteFileOrFail(dir / "boards.ini", GetParam().text);
    const auto run = test::RunProgram(
        {LUMIDEX_BRIDGE_EXE, "--boards", (dir / "boards.ini").string(), "--broker", "127.0.0.1:1"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find((dir / "boards.ini").string() + ": "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(GetParam().says), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BridgeBoardsFile,
    testing::Values(
        BadBoardsFile{"unknown key", "[hall]\nsettings=hall.ini\nlnk=udp\n",
                      "[hall] lnk: unknown key"},
        BadBoardsFile{"unknown bridge key", "[bridge]\nport=1883\n[hall]\nsettings=hall.ini\n",
                      "[bridge] port: unknown key"},
        BadBoardsFile{"no settings", "[hall]\nlink=udp\n", "[hall] settings: missing"},
        BadBoardsFile{"bad name", "[hall 2]\nsettings=hall.ini\n", "[hall 2]: a board's name"},
        BadBoardsFile{"unreadable settings", "[hall]\nsettings=nothere.ini\n",
                      "[hall] settings: cannot read"},
        BadBoardsFile{"comment after a value", "[hall]\nsettings=hall.ini ; the hall\n",
                      "[hall] settings: cannot read"},
        BadBoardsFile{"bad link", "[hall]\nsettings=hall.ini\nlink=tcp\n",
                      "[hall] link: wants udp"},
        BadBoardsFile{"serial without port", "[s]\nsettings=serial.ini\nlink=serial\n",
                      "[s] link: serial, but"},
        BadBoardsFile{"udp without address", "[s]\nsettings=serial.ini\n", "[s] link: udp, but"},
        BadBoardsFile{"dotted address", "[d]\nsettings=dotted.ini\n", "LEDIP=2130706434"},
        BadBoardsFile{"bad group", "[hall]\nsettings=hall.ini\ngroups=a,b/c\n", "[hall] groups"},
        BadBoardsFile{"board named group", "[group]\nsettings=hall.ini\n", "[group]"},
        BadBoardsFile{"wildcard prefix", "[bridge]\nprefix=a/#\n[hall]\nsettings=hall.ini\n",
                      "[bridge] prefix"},
        BadBoardsFile{"twice", "[hall]\nsettings=hall.ini\n[Hall]\nsettings=hall.ini\n",
                      "[Hall]: the section appears twice"}),
    test::RowName{});

} // namespace
} // namespace lumidex
