// The bridge's stop signal as the run uses it on both systems: a wait that
// ends after its time without a request, and at once after one.
#include "tools/bridge/platform/stop_signal.h"

#include <gtest/gtest.h>

namespace lumidex {
namespace {

using namespace std::chrono_literals;

TEST(StopSignal, WaitsUntilAStopIsAskedFor) {
    StopSignal stop;
    EXPECT_FALSE(stop.WaitFor(50ms)) << "no stop was asked for";
    StopSignal::Raise();
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_TRUE(stop.WaitFor(10s));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 5s) << "the wait ends at the request";
}

} // namespace
} // namespace lumidex
