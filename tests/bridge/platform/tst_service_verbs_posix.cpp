// The Windows service's verbs on Linux, where systemd runs the bridge from
// its unit: each is refused with one line naming it, exit 2, and nothing is
// served; --help has no part for them.
#include "tools/bridge/platform/service_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace lumidex {
namespace {

TEST(ServiceVerbs, AreRefusedOnLinuxWithOneLine) {
    const std::pair<ServiceVerb, const char*> verbs[] = {
        {ServiceVerb::Install, "--install-service"},
        {ServiceVerb::Uninstall, "--uninstall-service"},
        {ServiceVerb::Run, "--service"}};
    for (const auto& [verb, option] : verbs) {
        std::ostringstream out;
        std::ostringstream err;
        bool served = false;
        const auto serve = [&](const std::filesystem::path&, std::ostream&) {
            served = true;
            return 0;
        };
        EXPECT_EQ(RunServiceVerb(verb, serve, out, err), 2) << option;
        EXPECT_FALSE(served) << option;
        EXPECT_EQ(out.str(), "") << option;
        const std::string said = err.str();
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_EQ(said.rfind(std::string("lumidex-bridge: ") + option + " ", 0), 0u) << said;
    }
    EXPECT_EQ(ServiceUsage(), "");
}

} // namespace
} // namespace lumidex
