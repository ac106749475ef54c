#include "link/exchange.h"
#include "link/udp_link.h"
#include "protocol/frame.h"
#include "tests/support/addresses.h"
#include "tests/support/exchange_with.h"
#include "tests/support/udp_peer.h"

#include <gtest/gtest.h>

namespace lumidex {
namespace {

using test::ExchangeWith;
using test::ReplyWithStatus;
using test::UdpPeer;
using namespace std::chrono_literals;

const char* const kController = test::ControllerAddress(test::kLinkTestsController);
const UdpTarget kControllerTarget{kController};

ReplyBlock Filled() {
    ReplyBlock block;
    block.fill(kReplyFill);
    return block;
}

// The stray-host cases need datagrams that come from a second loopback
// address.
#define SKIP_WITHOUT_LOOPBACK_ALIASES()                                                          \
    if (!test::LoopbackAliasesKeepTheirAddress()) {                                              \
        GTEST_SKIP() << "datagrams from every loopback address arrive from 127.0.0.1 here";      \
    }

struct ReplyCase {
    const char* name;
    std::optional<UdpPeer::Bytes> answer;
    ExchangeOutcome outcome;
    std::size_t bytes_kept; // how much of the answer is in the reply block
};

// The exchange over a real socket: the controller's answer lands in the
// reply block, and a datagram longer than the block leaves its first 23
// bytes there. The judgement of every kind of answer is tried over a
// scripted link in tst_exchange.
TEST(UdpExchange, ReplyBlockAndJudgement) {
    UdpPeer::Bytes tail_accepts = ReplyWithStatus(1, 40);
    tail_accepts[22] = 0x77;
    const ReplyCase cases[] = {
        {"accepted", ReplyWithStatus(1), ExchangeOutcome::Accepted, 23},
        {"long answer: first 23 bytes kept", tail_accepts, ExchangeOutcome::Accepted, 23},
    };
    for (const ReplyCase& c : cases) {
        UdpPeer peer(kController, kUdpPort, [&](const UdpPeer::Bytes&, int) { return c.answer; });
        ASSERT_TRUE(peer.bound());
        const Frame frame = BuildInitialiseFrame();
        const ExchangeResult result = ExchangeWith(kControllerTarget, frame);
        EXPECT_EQ(result.outcome, c.outcome) << c.name << ": " << result.reason;
        for (std::size_t i = 0; i < kReplySize; ++i) {
            const std::uint8_t expected = i < c.bytes_kept ? (*c.answer)[i] : kReplyFill;
            EXPECT_EQ(result.reply[i], expected) << c.name << " byte " << i;
        }
        ASSERT_EQ(peer.received().size(), 1u) << c.name;
        EXPECT_EQ(peer.received()[0].bytes, frame) << c.name;
    }
}

TEST(UdpExchange, SilentControllerTimesOutAfterOneSecond) {
    UdpPeer peer(kController, kUdpPort, [](const UdpPeer::Bytes&, int) { return std::nullopt; });
    const auto start = std::chrono::steady_clock::now();
    const ExchangeResult result = ExchangeWith(kControllerTarget, BuildInitialiseFrame());
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.outcome, ExchangeOutcome::NoAnswer) << result.reason;
    EXPECT_EQ(result.reason, "no answer within 1000 ms");
    EXPECT_GE(took, 950ms);
    EXPECT_LT(took, 1300ms);
    EXPECT_EQ(result.reply, Filled());
    EXPECT_EQ(peer.received().size(), 1u);
}

// A datagram from another host is no answer: the exchange keeps waiting for
// the controller within the same second.
TEST(UdpExchange, StrayDatagramFromAnotherHostIsIgnored) {
    SKIP_WITHOUT_LOOPBACK_ALIASES();
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
    const ExchangeResult result = ExchangeWith(kControllerTarget, BuildInitialiseFrame());
    meddler.join();
    EXPECT_EQ(result.outcome, ExchangeOutcome::NoAnswer) << result.reason;
    EXPECT_EQ(result.reply, Filled()) << "the stray answer is not in the reply block";
    ASSERT_EQ(silent.received().size(), 1u);
}

TEST(UdpExchange, AnswerAfterAStrayDatagramStillCounts) {
    SKIP_WITHOUT_LOOPBACK_ALIASES();
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
    const ExchangeResult result = ExchangeWith(kControllerTarget, BuildInitialiseFrame());
    answerer.join();
    EXPECT_EQ(result.outcome, ExchangeOutcome::Accepted) << result.reason;
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
        const auto start = std::chrono::steady_clock::now();
        const ExchangeResult result = ExchangeWith(UdpTarget{target}, BuildInitialiseFrame());
        EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms) << target;
        EXPECT_EQ(result.outcome, ExchangeOutcome::LinkFailed) << target;
        EXPECT_FALSE(result.reason.empty()) << target;
    }
    EXPECT_TRUE(any.received().empty());
}

} // namespace
} // namespace lumidex
