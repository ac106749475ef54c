#include "link/address.h"
#include "link/exchange.h"
#include "link/udp_link.h"
#include "protocol/frame.h"
#include "tests/support/addresses.h"
#include "tests/support/child_process.h"
#include "tests/support/exchange_with.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"
#include "tests/support/udp_peer.h"
#include "tools/sim/frame_assembler.h"
#include "tools/sim/simulator.h"

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iostream>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace lumidex {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
const std::string kController = test::kToolTestsController;
const UdpTarget kControllerTarget{kController};

// Success when the card accepts the frame in one exchange over the
// target's link; otherwise the link and the reason.
::testing::AssertionResult AcceptedBy(const LinkTarget& target,
                                      std::span<const std::uint8_t> frame) {
    const ExchangeResult result = test::ExchangeWith(target, frame);
    if (result.accepted()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << DescribeTarget(target) << ": " << result.reason;
}

// lumidex-sim with --json on this suite's controller address, and the lines
// it prints.
class Sim {
public:
    explicit Sim(std::vector<std::string> extra = {}, bool pty = false) {
        std::vector<std::string> argv{LUMIDEX_SIM_EXE, "--json", "--udp", kController + ":10006"};
        if (pty) {
            argv.push_back("--pty");
        }
        argv.insert(argv.end(), extra.begin(), extra.end());
        process_ = std::make_unique<test::ChildProcess>(argv);
        if (pty) {
            const auto serial = process_->ReadLine(5s);
            EXPECT_TRUE(serial && serial->starts_with("serial: /dev/pts/")) << serial.value_or("");
            device_ = serial ? serial->substr(8) : "";
        }
        const auto udp = process_->ReadLine(5s);
        EXPECT_EQ(udp, "udp: " + kController + ":10006");
    }
    // The next JSON line about a frame, or "" when none came.
    std::string Next(std::chrono::milliseconds timeout = 5s) {
        return process_->ReadLine(timeout).value_or("");
    }
    test::ChildProcess& process() { return *process_; }
    const std::string& device() const { return device_; }

private:
    std::unique_ptr<test::ChildProcess> process_;
    std::string device_;
};

test::RunOutput SendExe(const std::vector<std::string>& args) {
    std::vector<std::string> argv{LUMIDEX_SEND_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::RunProgram(argv);
}

bool Has(const std::string& line, const std::string& part) {
    return line.find(part) != std::string::npos;
}

class SimAndSend : public testing::Test {
protected:
    void SetUp() override {
        config_ = (dir_ / "Config.ini").string();
        test::WriteFileOrFail(dir_ / "Config.ini",
                              "[Set]\r\nwsv1=4\r\nwsv6=1\r\nADD485=05\r\n[Text]\r\nText2=No\r\n"
                              "Text3=No\r\nText4=No\r\nText5=No\r\nText6=No\r\n");
    }
    void SetBusAddress(const std::string& address) {
        test::WriteFileOrFail(dir_ / "Config.ini", "[Set]\r\nADD485=" + address + "\r\n");
    }
    test::TempDir dir_;
    std::string config_;
};

TEST_F(SimAndSend, ContentOverUdpIsAcceptedOnTheFirstAttempt) {
    Sim sim;
    const auto sent = SendExe({"--config", config_, "--udp", kController, "--line", "1=12.34",
                               "--flicker", "1=1", "content"});
    EXPECT_EQ(sent.status, 0) << sent.err;
    EXPECT_TRUE(sent.out.ends_with("\nSent successfully!\n")) << sent.out;
    const std::string frame = sim.Next();
    EXPECT_TRUE(Has(frame, "\"link\":\"udp\"")) << frame;
    EXPECT_TRUE(Has(frame, "\"valid\":true,\"command\":\"content\",\"address\":5")) << frame;
    EXPECT_TRUE(Has(frame, "{\"line\":1,\"flicker\":true,\"digits\":4,\"text\":\" 12.3\"}"))
        << frame;
    EXPECT_TRUE(Has(frame, "\"answer\":\"accepted\"")) << frame;
    EXPECT_EQ(sim.Next(300ms), "") << "one datagram only";
}

TEST_F(SimAndSend, ContentOverThePseudoTerminal) {
    Sim sim({}, true);
    for (const char* baud : {"9600", "57600"}) {
        const auto sent = SendExe({"--config", config_, "--serial", sim.device(), "--baud", baud,
                                   "--line", "1=7", "content"});
        EXPECT_EQ(sent.status, 0) << sent.err;
        EXPECT_TRUE(sent.out.ends_with("\nSent successfully!\n")) << sent.out;
        const std::string frame = sim.Next();
        EXPECT_TRUE(Has(frame, "\"link\":\"serial\"")) << frame;
        EXPECT_TRUE(Has(frame, "\"text\":\"  7.0\"")) << frame;
    }
}

TEST_F(SimAndSend, SilentControllerGetsTwoAttemptsThenFailure) {
    Sim sim({"--reply", "silent"});
    const auto start = Clock::now();
    const auto sent = SendExe({"--config", config_, "--udp", kController, "content"});
    const auto took = Clock::now() - start;
    EXPECT_EQ(sent.status, 1);
    EXPECT_TRUE(sent.out.ends_with("\nSend failed!\n")) << sent.out;
    EXPECT_TRUE(Has(sent.err, "no answer within 1000 ms")) << sent.err;
    // Two attempts of 1000 ms each, and little more.
    EXPECT_GE(took, 1950ms);
    EXPECT_LT(took, 2400ms);
    EXPECT_TRUE(Has(sim.Next(), "\"answer\":\"none\""));
    EXPECT_TRUE(Has(sim.Next(), "\"answer\":\"none\""));
    EXPECT_EQ(sim.Next(300ms), "");

    // At bus address 0 no controller answers by design.
    SetBusAddress("00");
    const auto broadcast = SendExe({"--config", config_, "--udp", kController, "content"});
    EXPECT_EQ(broadcast.status, 0);
    EXPECT_TRUE(broadcast.out.ends_with("\nBroadcast Send.\n")) << broadcast.out;
}

TEST_F(SimAndSend, OneRetryForContentNoneForCommands) {
    {
        Sim sim({"--drop", "1"});
        const auto sent = SendExe({"--config", config_, "--udp", kController, "content"});
        EXPECT_EQ(sent.status, 0) << sent.err;
        EXPECT_TRUE(Has(sim.Next(), "\"answer\":\"none\""));
        EXPECT_TRUE(Has(sim.Next(), "\"answer\":\"accepted\""));
    }
    {
        Sim sim({"--drop", "1"});
        const auto sent = SendExe({"--config", config_, "--udp", kController, "brightness"});
        EXPECT_EQ(sent.status, 1);
        EXPECT_TRUE(sent.out.ends_with("\nSend failed!\n")) << sent.out;
        EXPECT_TRUE(Has(sim.Next(), "\"command\":\"brightness\""));
        EXPECT_EQ(sim.Next(1500ms), "");
    }
}

TEST_F(SimAndSend, RejectingControllerFailsTheSend) {
    Sim sim({"--reply", "nak"});
    const auto sent = SendExe({"--config", config_, "--udp", kController, "brightness"});
    EXPECT_EQ(sent.status, 1);
    EXPECT_TRUE(Has(sent.err, "answered 00 in byte 3")) << sent.err;
    EXPECT_TRUE(Has(sim.Next(), "\"answer\":\"rejected\""));
}

// A frame that never left is no broadcast: a port that does not exist or
// that another program holds, and a datagram the system cannot send (a
// network namespace whose loopback is down), fail with status 3 and "Send
// failed!" at bus address 0 as at any other.
TEST_F(SimAndSend, LinkThatNeverCarriedTheFrameFailsWithStatus3) {
    test::PtyPair held;
    const int holder = ::open(held.device().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    const bool may_unshare =
        ::geteuid() == 0 && test::RunProgram({"/usr/bin/unshare", "-n", "/bin/true"}).status == 0;
    struct Case {
        const char* name;
        std::vector<std::string> prefix;
        std::vector<std::string> link;
        const char* reason;
    };
    const Case cases[] = {
        {"missing port", {}, {"--serial", "/dev/lumidex-no-such-port"}, "No such file"},
        {"held port", {}, {"--serial", held.device()}, "in use by another program"},
        {"unsendable datagram", {"/usr/bin/unshare", "-n"}, {"--udp", "127.0.0.1"}, "sendto"},
    };
    for (const Case& c : cases) {
        if (!c.prefix.empty() && !may_unshare) {
            std::cout << "[  SKIPPED ] " << c.name << ": needs root to make a network namespace\n";
            continue;
        }
        for (const char* bus : {"00", "05"}) {
            SetBusAddress(bus);
            std::vector<std::string> argv = c.prefix;
            argv.push_back(LUMIDEX_SEND_EXE);
            argv.insert(argv.end(), {"--config", config_});
            argv.insert(argv.end(), c.link.begin(), c.link.end());
            argv.push_back("content");
            const auto sent = test::RunProgram(argv);
            EXPECT_EQ(sent.status, 3) << c.name << " at " << bus << ": " << sent.err;
            EXPECT_TRUE(sent.out.ends_with("\nSend failed!\n")) << c.name << ": " << sent.out;
            EXPECT_TRUE(Has(sent.err, c.reason)) << c.name << ": " << sent.err;
        }
    }
    EXPECT_TRUE(held.ReadFrame(100ms).empty()) << "nothing reached the held port";
    ::close(holder);
}

// Commands without a named link go over both links the settings hold.
TEST_F(SimAndSend, CommandsGoOverBothConfiguredLinks) {
    Sim sim({}, true);
    const auto address = ParseDottedAddress(kController);
    test::WriteFileOrFail(dir_ / "Config.ini",
                          "[Set]\r\nLEDIP=" + std::to_string(StoredAddressValue(*address)) +
                              "\r\n[Port]\r\nPort=" + sim.device() +
                              "\r\n[LD]\r\nLD=7\r\nLD2=1\r\n");
    const auto sent = SendExe({"--config", config_, "brightness"});
    EXPECT_EQ(sent.status, 0) << sent.err;
    EXPECT_EQ(sent.out, "FE 07 01 02 07 01 FF 3A 39\nSent successfully!\nSent successfully!\n");
    const std::string first = sim.Next();
    const std::string second = sim.Next();
    EXPECT_TRUE(Has(first, "\"link\":\"udp\"") && Has(first, "\"day\":7,\"night\":1")) << first;
    EXPECT_TRUE(Has(second, "\"link\":\"serial\"")) << second;

    test::WriteFileOrFail(dir_ / "Config.ini", "[Set]\r\nLEDIP=0\r\n");
    const auto nowhere = SendExe({"--config", config_, "init"});
    EXPECT_EQ(nowhere.status, 2);
    EXPECT_TRUE(Has(nowhere.err, "no link")) << nowhere.err;
}

// Whatever arrives, the card reports it and goes on answering.
TEST(Simulator, MalformedInputIsRejectedAndReported) {
    Sim sim({}, true);
    test::UdpPeer client("127.0.0.1", 0,
                         [](const test::UdpPeer::Bytes&, int) { return std::nullopt; });
    const Frame good = BuildInitialiseFrame();
    const Frame bright = BuildBrightnessFrame(1, 2, 3);
    struct Case {
        const char* name;
        test::UdpPeer::Bytes datagram;
        const char* reported;
    };
    const Case cases[] = {
        {"truncated datagram", {bright.begin(), bright.end() - 2}, "\"error\":\"length byte 7"},
        {"garbage",
         {'h', 'e', 'l', 'l', 'o', ' ', 'c', 'a', 'r', 'd'},
         "\"error\":\"start byte 68"},
        {"too short", {0xFE, 0x05}, "\"error\":\"2 bytes"},
        {"empty datagram", {}, "\"error\":\"0 bytes"},
        {"bad checksum", {0xFE, 0x05, 0x00, 0xCC, 0xFF, 0x01, 0x73}, "\"error\":\"checksum"},
    };
    for (const Case& c : cases) {
        client.SendTo(kController, kUdpPort, c.datagram);
        const std::string line = sim.Next();
        EXPECT_TRUE(Has(line, c.reported)) << c.name << ": " << line;
        EXPECT_TRUE(Has(line, "\"answer\":\"none\"")) << c.name << ": a card does not answer "
                                                      << "what it cannot decode: " << line;
    }
    // Garbage and a cut frame on the serial line, then a good frame.
    const int line_fd = ::open(sim.device().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(line_fd, 0);
    [[maybe_unused]] auto ignored = ::write(line_fd, "noise\n", 6);
    EXPECT_TRUE(Has(sim.Next(), "\"error\":\"garbage\""));
    ignored = ::write(line_fd, good.data(), 4);
    EXPECT_TRUE(Has(sim.Next(), "\"error\":\"truncated frame\""));
    ::close(line_fd);
    EXPECT_TRUE(AcceptedBy(SerialTarget{sim.device(), 9600}, good));
    EXPECT_TRUE(Has(sim.Next(), "\"command\":\"init\""));
    EXPECT_TRUE(AcceptedBy(kControllerTarget, good));
    EXPECT_EQ(sim.process().Stop(SIGTERM, 5s), 0);
    for (const auto& got : client.received()) {
        EXPECT_TRUE(false) << "the card answered undecodable input with " << FormatHex(got.bytes);
    }
}

// One datagram whose source is the card's own address and port (forged here
// with a raw socket) must not make the card answer itself for ever.
TEST(Simulator, NeverAnswersItsOwnAddress) {
    Sim sim;
    const int raw = ::socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
    if (raw < 0) {
        GTEST_SKIP() << "raw sockets need CAP_NET_RAW";
    }
    const Frame frame = BuildInitialiseFrame();
    std::vector<std::uint8_t> packet(sizeof(iphdr) + sizeof(udphdr) + frame.size());
    auto* ip = reinterpret_cast<iphdr*>(packet.data());
    auto* udp = reinterpret_cast<udphdr*>(packet.data() + sizeof(iphdr));
    ip->version = 4;
    ip->ihl = 5;
    ip->ttl = 64;
    ip->protocol = IPPROTO_UDP;
    ip->tot_len = htons(static_cast<std::uint16_t>(packet.size()));
    ::inet_pton(AF_INET, kController.c_str(), &ip->saddr);
    ip->daddr = ip->saddr;
    udp->source = htons(kUdpPort);
    udp->dest = htons(kUdpPort);
    udp->len = htons(static_cast<std::uint16_t>(sizeof(udphdr) + frame.size()));
    udp->check = 0; // no checksum, allowed for UDP over IPv4
    std::copy(frame.begin(), frame.end(), packet.begin() + sizeof(iphdr) + sizeof(udphdr));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = ip->daddr;
    ASSERT_EQ(
        ::sendto(raw, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
        static_cast<ssize_t>(packet.size()));
    ::close(raw);
    const std::string line = sim.Next();
    EXPECT_TRUE(Has(line, "own address") && Has(line, "\"answer\":\"none\"")) << line;
    EXPECT_EQ(sim.Next(500ms), "") << "the card answered itself";
    // It still answers everyone else.
    EXPECT_TRUE(AcceptedBy(kControllerTarget, frame));
}

// A rejected datagram is logged as its first 64 bytes and its length, so a
// flood of big ones cannot fill the log; short ones are shown whole.
TEST(Simulator, RejectedDatagramsShowTheirFirst64Bytes) {
    test::ChildProcess sim({LUMIDEX_SIM_EXE, "--udp", kController + ":10006"});
    ASSERT_EQ(sim.ReadLine(5s), "udp: " + kController + ":10006");
    test::UdpPeer client("127.0.0.1", 0,
                         [](const test::UdpPeer::Bytes&, int) { return std::nullopt; });
    const std::string head_hex = FormatHex(test::UdpPeer::Bytes(64, 0x41));
    struct Case {
        std::size_t size;
        std::string hex;
    };
    const Case cases[] = {
        {65000, head_hex + " ... (65000 bytes)"},
        {65, head_hex + " ... (65 bytes)"},
        {64, head_hex},
    };
    for (const Case& c : cases) {
        client.SendTo(kController, kUdpPort, test::UdpPeer::Bytes(c.size, 0x41));
        const auto report = sim.ReadLine(5s);
        EXPECT_TRUE(report && Has(*report, "invalid frame")) << report.value_or("");
        EXPECT_EQ(sim.ReadLine(5s), "  " + c.hex);
    }
}

// A flood of garbage is reported only up to the rate limit, and a later
// report says how many were held back.
TEST(Simulator, FloodOfRejectedInputIsRateLimited) {
    Sim sim;
    test::UdpPeer client("127.0.0.1", 0,
                         [](const test::UdpPeer::Bytes&, int) { return std::nullopt; });
    long reported = 0;
    long held_back = 0;
    auto read_until_quiet = [&] {
        for (std::string line = sim.Next(500ms); !line.empty(); line = sim.Next(500ms)) {
            if (Has(line, "\"valid\":false")) {
                ++reported;
            } else if (Has(line, "{\"held_back\":")) {
                held_back += std::stol(line.substr(line.find(':') + 1));
            } else {
                ADD_FAILURE() << line;
            }
        }
    };
    for (int i = 0; i < 200; ++i) {
        client.SendTo(kController, kUdpPort, {0x00, 0x01});
    }
    read_until_quiet();
    EXPECT_GE(reported, 5);
    EXPECT_LE(reported, 60) << "20 a second, and the flood takes well under 3 s";
    std::this_thread::sleep_for(1100ms);
    client.SendTo(kController, kUdpPort, {0x00});
    read_until_quiet();
    EXPECT_GE(held_back, 100);
    EXPECT_LE(reported + held_back, 201);
    EXPECT_TRUE(client.received().empty()) << "no answers to garbage";
}

// A flood of valid frames is reported only up to its own rate limit too,
// and a later report says how many were held back; every frame is still
// answered.
TEST(Simulator, FloodOfValidFramesIsRateLimited) {
    Sim sim;
    test::UdpPeer client("127.0.0.1", 0,
                         [](const test::UdpPeer::Bytes&, int) { return std::nullopt; });
    const test::UdpPeer::Bytes brightness{0xFE, 0x07, 0x01, 0x02, 0x07, 0x00, 0xFF, 0x09, 0x08};
    // Small enough that every answer fits the test's own receive buffer, so
    // a missing answer is the card's fault and not this machine's.
    constexpr int kFlood = 150;
    long reported = 0;
    long held_back = 0;
    auto read_until_quiet = [&] {
        for (std::string line = sim.Next(500ms); !line.empty(); line = sim.Next(500ms)) {
            if (Has(line, "\"held_back\":")) {
                EXPECT_TRUE(Has(line, "\"of\":\"frames\"")) << line;
                held_back += std::stol(line.substr(line.find(':') + 1));
            } else if (Has(line, "\"valid\":true")) {
                ++reported;
            } else {
                ADD_FAILURE() << line;
            }
        }
    };
    for (int i = 0; i < kFlood; ++i) {
        client.SendTo(kController, kUdpPort, brightness);
    }
    read_until_quiet();
    EXPECT_GE(reported, 10);
    EXPECT_LE(reported, 100) << "50 a second, and the flood takes well under 2 s";
    std::this_thread::sleep_for(1100ms);
    client.SendTo(kController, kUdpPort, brightness);
    read_until_quiet();
    // The system drops datagrams of a flood that the card cannot take in
    // time; every one it took was answered, and reported or counted.
    EXPECT_GT(held_back, 0);
    EXPECT_EQ(static_cast<std::size_t>(reported + held_back), client.received().size());
}

// Listening beyond this machine is said on stderr before anything else.
TEST(Simulator, WarnsWhenItListensBeyondLoopback) {
    struct Row {
        const char* address;
        bool warns;
    };
    for (const Row& row : {Row{"127.0.0.1", false}, Row{"127.200.3.4", false}, Row{"0.0.0.0", true},
                           Row{"192.168.1.20", true}, Row{"128.0.0.1", true}}) {
        SimOptions options;
        options.udp_address = row.address;
        const auto warning = ExposureWarning(options);
        EXPECT_EQ(warning.has_value(), row.warns) << row.address;
        if (warning) {
            EXPECT_TRUE(warning->starts_with("lumidex-sim: warning: listening on " +
                                             std::string(row.address) + ":10006, beyond"))
                << *warning;
        }
    }
    // An address of a documentation network, which no interface here has:
    // the warning comes, then the card cannot listen there.
    const auto run = test::RunProgram({LUMIDEX_SIM_EXE, "--udp", "192.0.2.1:10999"});
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(run.err.starts_with("lumidex-sim: warning: listening on 192.0.2.1:10999, beyond "
                                    "this machine"))
        << run.err;
}

TEST(ReportLimiter, LetsABurstThroughPerWindow) {
    using namespace std::chrono;
    ReportLimiter limiter(3, 1000ms);
    const auto t0 = ReportLimiter::Clock::time_point{} + 10s;
    struct Step {
        milliseconds at;
        bool allowed;
        long held_back; // checked when allowed
    };
    const Step steps[] = {
        {0ms, true, 0},    {10ms, true, 0},   {20ms, true, 0},   {30ms, false, 0},
        {999ms, false, 0}, {1000ms, true, 2}, {1001ms, true, 0}, {5000ms, true, 0},
    };
    for (const Step& step : steps) {
        long held_back = -1;
        EXPECT_EQ(limiter.Allow(t0 + step.at, held_back), step.allowed) << step.at.count();
        if (step.allowed) {
            EXPECT_EQ(held_back, step.held_back) << step.at.count();
        }
    }
}

// The last answer before --count ends the simulator still reaches a serial
// sender: the pseudo-terminal is not hung up while the answer waits.
TEST_F(SimAndSend, CountedSimulatorAnswersItsLastSerialFrame) {
    for (int round = 0; round < 3; ++round) {
        Sim sim({"--count", "1"}, true);
        const auto sent =
            SendExe({"--config", config_, "--serial", sim.device(), "--line", "1=7", "content"});
        EXPECT_EQ(sent.status, 0) << sent.err;
        EXPECT_TRUE(sent.out.ends_with("\nSent successfully!\n")) << sent.out;
        EXPECT_TRUE(Has(sim.Next(), "\"answer\":\"accepted\""));
        EXPECT_EQ(sim.process().Wait(5s), 0);
    }
}

// A fixed-point line with 0 places keeps N + 1 digits; the card takes it.
TEST_F(SimAndSend, LineWithMoreDigitsThanItsCountIsAccepted) {
    test::WriteFileOrFail(dir_ / "Config.ini",
                          "[Set]\r\nwsv1=3\r\nwsv6=0\r\n[Text]\r\nText2=No\r\nText3=No\r\n"
                          "Text4=No\r\nText5=No\r\nText6=No\r\n");
    Sim sim;
    const auto sent =
        SendExe({"--config", config_, "--udp", kController, "--line", "1=12345", "content"});
    EXPECT_EQ(sent.status, 0) << sent.err;
    EXPECT_TRUE(sent.out.ends_with("\nSent successfully!\n")) << sent.out;
    const std::string frame = sim.Next();
    EXPECT_TRUE(Has(frame, "{\"line\":1,\"flicker\":false,\"digits\":3,\"text\":\"2345\"}"))
        << frame;
}

// The picture draws every character sent and says how many stand beyond
// the line's digit count.
TEST(Display, ExtraDigitsAreDrawnAndCounted) {
    DisplayState state;
    DecodedFrame frame;
    frame.command = kContentNow;
    frame.lines.push_back({1, false, 3, "2345"});
    frame.lines.push_back({2, true, 4, " 12.5"});
    state.Apply(frame);
    const std::string picture = RenderDisplay(state);
    EXPECT_TRUE(Has(picture, "[2345] 3 digits, 1 beyond them\n")) << picture;
    EXPECT_TRUE(Has(picture, "[ 12.5] 4 digits, flickering\n")) << picture;
    const auto rows = RenderSegments("2345");
    EXPECT_EQ(rows[1], " _|  _| |_| |_  ");
}

TEST(Simulator, StopsAfterCountFramesAndOnSignals) {
    Sim counted({"--count", "2"});
    EXPECT_TRUE(AcceptedBy(kControllerTarget, BuildInitialiseFrame()));
    EXPECT_TRUE(AcceptedBy(kControllerTarget, BuildInitialiseFrame()));
    EXPECT_EQ(counted.process().Wait(5s), 0);

    for (int signal : {SIGINT, SIGTERM}) {
        Sim sim({}, true);
        EXPECT_EQ(sim.process().Stop(signal, 5s), 0) << signal;
    }
}

TEST(Simulator, BadUsageIsRefused) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--reply", "maybe"},
                                               {"--udp", "localhost"},
                                               {"--udp", "127.0.0.1:70000"},
                                               {"--pty", "--serial", "/dev/null"},
                                               {"--count"},
                                               {"--bogus"},
                                               {"--json=no"},
                                               {"--pty=1"},
                                               {"--udp", "127.0.0.1", "--udp", "127.0.0.2"},
                                               {"--count", "1", "--count", "2"},
                                               {"--udp", "127.000.000.001"},
                                               {"--reply", "ok\nudp: 127.0.0.1:10006"}}) {
        std::vector<std::string> argv{LUMIDEX_SIM_EXE};
        argv.insert(argv.end(), args.begin(), args.end());
        const auto run = test::RunProgram(argv);
        EXPECT_EQ(run.status, 2) << args[0];
        EXPECT_TRUE(run.err.starts_with("lumidex-sim: ")) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

TEST(ControlCard, AnswerBytes) {
    const ReplyBlock ok = MakeReply(5, kContentNow, true);
    EXPECT_EQ(FormatHex(std::span(ok).first(6)), "FE 15 05 01 AB 00");
    EXPECT_EQ(ok[20], 0xFF);
    EXPECT_EQ(Crc16Xmodem(std::span(ok).first(21)), (ok[21] << 8) | ok[22]);
    EXPECT_EQ(MakeReply(0, kInitialise, false)[3], 0);
}

// What the card answers: decodable frames by --reply, nothing else at all.
TEST(ControlCard, AnswersOnlyDecodableFrames) {
    const Frame init = BuildInitialiseFrame();
    Frame bad_checksum = init;
    bad_checksum.back() ^= 1;
    const Frame bad_payload = BuildBrightnessFrame(3, 9, 0); // level 9 is no level
    struct Case {
        const char* name;
        ReplyMode mode;
        Frame frame;
        std::optional<std::uint8_t> status; // byte 3 of the answer, none for silence
    };
    const Case cases[] = {
        {"frame, ok", ReplyMode::Ok, init, 1},
        {"frame, nak", ReplyMode::Nak, init, 0},
        {"frame, silent", ReplyMode::Silent, init, std::nullopt},
        {"bad checksum", ReplyMode::Ok, bad_checksum, std::nullopt},
        {"bad payload", ReplyMode::Ok, bad_payload, std::nullopt},
        {"garbage", ReplyMode::Nak, Frame{'h', 'i'}, std::nullopt},
        {"nothing", ReplyMode::Ok, Frame{}, std::nullopt},
    };
    for (const Case& c : cases) {
        SimOptions options;
        options.reply = c.mode;
        ControlCard card(options);
        const auto outcome = card.Receive(c.frame);
        ASSERT_EQ(outcome.reply.has_value(), c.status.has_value()) << c.name;
        if (c.status) {
            EXPECT_EQ((*outcome.reply)[kReplyStatusByte], *c.status) << c.name;
            EXPECT_EQ((*outcome.reply)[4], c.frame[3]) << c.name << ": the command echoed";
        }
    }
}

TEST(FrameAssembler, CutsTheSerialStreamIntoFrames) {
    using Piece = FrameAssembler::Piece;
    const Frame a = BuildInitialiseFrame();
    const Frame b = BuildBrightnessFrame(1, 2, 3);
    FrameAssembler assembler;
    auto kinds = [](const std::vector<Piece>& pieces) {
        std::string out;
        for (const Piece& p : pieces) {
            out += p.kind == Piece::Frame ? "F" : p.kind == Piece::Garbage ? "G" : "T";
            out += std::to_string(p.bytes.size());
        }
        return out;
    };
    Frame stream{'x', 'y'};
    stream.insert(stream.end(), a.begin(), a.end());
    stream.insert(stream.end(), b.begin(), b.begin() + 4);
    EXPECT_EQ(kinds(assembler.Feed(stream)), "G2F7");
    EXPECT_TRUE(assembler.pending());
    EXPECT_EQ(kinds(assembler.Feed(std::span(b).subspan(4))), "F9");
    // A start byte with an impossible length is noise.
    EXPECT_EQ(kinds(assembler.Feed(Frame{0xFE, 0x01, 0xFE, 0x05})), "G2");
    EXPECT_EQ(kinds(assembler.Flush()), "T2");
    EXPECT_FALSE(assembler.pending());
    EXPECT_EQ(kinds(assembler.Feed(Frame{0x00})), "G1");
}

// Noise just before a frame costs only the noise: on a length or checksum
// that does not hold, one byte is dropped and the search goes on.
TEST(FrameAssembler, FindsTheFrameAfterNoise) {
    using Piece = FrameAssembler::Piece;
    const Frame a = BuildInitialiseFrame();
    const Frame b = BuildBrightnessFrame(1, 2, 3);
    struct Case {
        const char* name;
        Frame noise;
    };
    const Case cases[] = {
        {"stray start byte", {0xFE}},
        {"start byte and FF", {0xFE, 0xFF}},
        {"start byte and 06", {0xFE, 0x06}},
        {"start byte and 05", {0xFE, 0x05}},
        {"two stray start bytes", {0xFE, 0xFE}},
        {"a frame with a bad checksum", {0xFE, 0x05, 0x00, 0xCC, 0xFF, 0x01, 0x73}},
        {"line noise", {0x00, 0xFE, 0x20, 0xFE}},
    };
    for (const Case& c : cases) {
        for (bool split : {false, true}) {
            FrameAssembler assembler;
            Frame stream = c.noise;
            stream.insert(stream.end(), a.begin(), a.end());
            std::vector<Piece> pieces = assembler.Feed(
                split ? std::span(stream).first(c.noise.size() + 2) : std::span(stream));
            if (split) {
                auto rest = assembler.Feed(std::span(stream).subspan(c.noise.size() + 2));
                pieces.insert(pieces.end(), rest.begin(), rest.end());
            }
            auto rest = assembler.Feed(b);
            pieces.insert(pieces.end(), rest.begin(), rest.end());
            std::vector<Frame> frames;
            std::size_t garbage = 0;
            for (const Piece& piece : pieces) {
                if (piece.kind == Piece::Frame) {
                    frames.push_back(piece.bytes);
                } else {
                    garbage += piece.bytes.size();
                }
            }
            EXPECT_EQ(frames, (std::vector<Frame>{a, b})) << c.name << (split ? ", split" : "");
            EXPECT_EQ(garbage, c.noise.size()) << c.name;
            EXPECT_FALSE(assembler.pending()) << c.name;
        }
    }
}

// Over a real pseudo-terminal: noise then a frame, and the sender is answered.
TEST(Simulator, SerialFrameAfterNoiseIsAnswered) {
    Sim sim({}, true);
    const int line_fd = ::open(sim.device().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(line_fd, 0);
    [[maybe_unused]] auto ignored = ::write(line_fd, "\xFE\xFF", 2);
    ::close(line_fd);
    EXPECT_TRUE(AcceptedBy(SerialTarget{sim.device(), 9600}, BuildInitialiseFrame()));
    std::string line;
    do {
        line = sim.Next();
    } while (Has(line, "\"valid\":false"));
    EXPECT_TRUE(Has(line, "\"command\":\"init\"") && Has(line, "\"answer\":\"accepted\"")) << line;
}

} // namespace
} // namespace lumidex
