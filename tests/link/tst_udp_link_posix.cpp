// Receives interrupted by signals, which only POSIX systems have.
#include "link/exchange.h"
#include "link/udp_link.h"
#include "protocol/frame.h"
#include "tests/support/addresses.h"
#include "tests/support/alarm.h"
#include "tests/support/exchange_with.h"
#include "tests/support/udp_peer.h"

#include <gtest/gtest.h>

namespace lumidex {
namespace {

using test::UdpPeer;
using namespace std::chrono_literals;

const char* const kController = test::kLinkTestsController;

// A signal interrupting the receive does not start the second afresh: the
// exchange waits only for what is left of it, and the interruption is no
// failure of the link.
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
        const auto start = std::chrono::steady_clock::now();
        int alarms = 0;
        ExchangeResult result;
        {
            test::AlarmDuring alarm(c.first, c.every);
            result = test::ExchangeWith(UdpTarget{kController}, BuildInitialiseFrame());
            alarms = test::AlarmDuring::count();
        }
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(result.outcome, ExchangeOutcome::NoAnswer) << c.name;
        EXPECT_EQ(result.reason, "no answer within 1000 ms") << c.name;
        EXPECT_GE(alarms, 1) << c.name;
        EXPECT_GE(took, 950ms) << c.name;
        EXPECT_LT(took, 1300ms) << c.name;
    }
}

} // namespace
} // namespace lumidex
