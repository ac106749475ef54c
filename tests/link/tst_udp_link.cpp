#include "link/send.h"
#include "link/udp_link.h"
#include "protocol/frame.h"
#include "tests/support/addresses.h"
#include "tests/support/alarm.h"
#include "tests/support/udp_peer.h"

#include <gtest/gtest.h>

namespace lumidex {
namespace {

using test::ReplyWithStatus;
using test::UdpPeer;
using namespace std::chrono_literals;

const char* kController = test::kLinkTestsController;

struct ReplyCase {
    const char* name;
    std::optional<UdpPeer::Bytes> answer;
    bool accepted;
    std::size_t bytes_kept; // how much of the answer is in the reply block
};

// One exchange per case: the answer decides, the block keeps its 'F' fill
// where no answer byte came, and only the first 23 bytes of a long answer
// count.
TEST(UdpExchange, ReplyBlockAndJudgement) {
    UdpPeer::Bytes long_answer = ReplyWithStatus(1, 40);
    long_answer[3] = 0; // refuses in byte 3 ...
    long_answer[30] = 1;
    UdpPeer::Bytes tail_accepts = ReplyWithStatus(1, 40);
    tail_accepts[22] = 0x77;
    const ReplyCase cases[] = {
        {"accepted", ReplyWithStatus(1), true, 23},
        {"refused", ReplyWithStatus(0), false, 23},
        {"status 2 is no acceptance", ReplyWithStatus(2), false, 23},
        {"three bytes keep the fill in byte 3", UdpPeer::Bytes{0, 1, 1}, false, 3},
        {"four bytes are enough", UdpPeer::Bytes{0, 0, 0, 1}, true, 4},
        {"long answer refusing in byte 3", long_answer, false, 23},
        {"long answer: first 23 bytes kept", tail_accepts, true, 23},
    };
    for (const ReplyCase& c : cases) {
        UdpPeer peer(kController, kUdpPort, [&](const UdpPeer::Bytes&, int) { return c.answer; });
        ASSERT_TRUE(peer.bound());
        Send send;
        const Frame frame = BuildInitialiseFrame();
        EXPECT_EQ(send.TransmitFrame(frame, kController, kModeUdp, 9600), c.accepted) << c.name;
        const ReplyBlock& reply = send.reply();
        for (std::size_t i = 0; i < kReplySize; ++i) {
            const std::uint8_t expected = i < c.bytes_kept ? (*c.answer)[i] : kReplyFill;
            EXPECT_EQ(reply[i], expected) << c.name << " byte " << i;
        }
        ASSERT_EQ(peer.received().size(), 1u) << c.name;
        EXPECT_EQ(peer.received()[0].bytes, frame) << c.name;
    }
}

TEST(UdpExchange, SilentControllerTimesOutAfterOneSecond) {
    UdpPeer peer(kController, kUdpPort, [](const UdpPeer::Bytes&, int) { return std::nullopt; });
    Send send;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(send.TransmitFrame(BuildInitialiseFrame(), kController, kModeUdp, 9600));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 950ms);
    EXPECT_LT(took, 1300ms);
    ReplyBlock fill;
    fill.fill(kReplyFill);
    EXPECT_EQ(send.reply(), fill);
    EXPECT_EQ(peer.received().size(), 1u);
}

// A signal interrupting the receive does not start the second afresh: the
// exchange waits only for what is left of it.
TEST(UdpExchange, InterruptedReceiveKeepsTheDeadline) {
    struct Case {
        const char* name;
        std::chrono::milliseconds first;
        std::chrono::milliseconds every;
    };
    const Case cases[] = {
        {"one signal late in the wait", 900ms, 0ms},
        {"a signal every 100 ms", 100ms, 100ms},
    };
    for (const Case& c : cases) {
        std::optional<UdpPeer> peer;
        {
            test::BlockAlarm keep_off_the_peer;
            peer.emplace(kController, kUdpPort,
                         [](const UdpPeer::Bytes&, int) { return std::nullopt; });
        }
        Send send;
        const auto start = std::chrono::steady_clock::now();
        int alarms = 0;
        {
            test::AlarmDuring alarm(c.first, c.every);
            EXPECT_FALSE(send.TransmitFrame(BuildInitialiseFrame(), kController, kModeUdp, 9600));
            alarms = test::AlarmDuring::count();
        }
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_GE(alarms, 1) << c.name;
        EXPECT_GE(took, 950ms) << c.name;
        EXPECT_LT(took, 1300ms) << c.name;
    }
}

// A datagram from another host is no answer: the exchange keeps waiting for
// the controller within the same second.
TEST(UdpExchange, StrayDatagramFromAnotherHostIsIgnored) {
    UdpPeer stray(test::kStrayHost, 0, [](const UdpPeer::Bytes&, int) { return std::nullopt; });
    UdpPeer silent(kController, kUdpPort, [](const UdpPeer::Bytes&, int) { return std::nullopt; });
    // The stray host answers "accepted" to whoever sent to the controller.
    std::thread meddler([&] {
        for (int i = 0; i < 100 && silent.received().empty(); ++i) {
            std::this_thread::sleep_for(5ms);
        }
        if (!silent.received().empty()) {
            stray.SendTo("127.0.0.1", silent.received()[0].sender_port, ReplyWithStatus(1));
        }
    });
    Send send;
    EXPECT_FALSE(send.TransmitFrame(BuildInitialiseFrame(), kController, kModeUdp, 9600));
    meddler.join();
    ASSERT_EQ(silent.received().size(), 1u);
}

TEST(UdpExchange, AnswerAfterAStrayDatagramStillCounts) {
    UdpPeer stray(test::kStrayHost, 0, [](const UdpPeer::Bytes&, int) { return std::nullopt; });
    UdpPeer controller(kController, kUdpPort,
                       [](const UdpPeer::Bytes&, int) { return std::nullopt; });
    std::thread answerer([&] {
        for (int i = 0; i < 100 && controller.received().empty(); ++i) {
            std::this_thread::sleep_for(5ms);
        }
        const auto port = controller.received().at(0).sender_port;
        stray.SendTo("127.0.0.1", port, ReplyWithStatus(0));
        std::this_thread::sleep_for(100ms);
        controller.SendTo("127.0.0.1", port, ReplyWithStatus(1));
    });
    Send send;
    EXPECT_TRUE(send.TransmitFrame(BuildInitialiseFrame(), kController, kModeUdp, 9600));
    answerer.join();
}

TEST(UdpExchange, NoControllerAddressSendsNothing) {
    // On Linux 0.0.0.0 would reach a listener on the local host.
    UdpPeer any("127.0.0.1", kUdpPort,
                [](const UdpPeer::Bytes&, int) { return ReplyWithStatus(1); });
    if (!any.bound()) {
        GTEST_SKIP() << "127.0.0.1:10006 is taken (is lumidex-sim running?)";
    }
    const char* targets[] = {"0.0.0.0", "", "not an address", "300.1.1.1"};
    for (const char* target : targets) {
        Send send;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(send.TransmitFrame(BuildInitialiseFrame(), target, kModeUdp, 9600)) << target;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms) << target;
        EXPECT_FALSE(send.last_error().empty()) << target;
    }
    EXPECT_TRUE(any.received().empty());
}

TEST(TransmitFrame, UnknownModeTouchesNoLink) {
    UdpPeer peer(kController, kUdpPort,
                 [](const UdpPeer::Bytes&, int) { return ReplyWithStatus(1); });
    Send send;
    for (int mode : {0, 232 + 1, 10007, -1}) {
        EXPECT_FALSE(send.TransmitFrame(BuildInitialiseFrame(), kController, mode, 9600)) << mode;
    }
    EXPECT_TRUE(peer.received().empty());
}

} // namespace
} // namespace lumidex
