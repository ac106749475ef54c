// The single-instance guard's per-desktop part on Windows: the session and
// the user's security identifier, the same on every call.
#include "gui/qt/desktop_user.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

TEST(DesktopUser, SessionAndSecurityIdentifier) {
    const std::string key = DesktopUserKey();
    DWORD session = 0;
    ASSERT_TRUE(::ProcessIdToSessionId(::GetCurrentProcessId(), &session));
    const std::string prefix = std::to_string(session) + "-S-1-";
    EXPECT_EQ(key.rfind(prefix, 0), 0u) << key;
    EXPECT_GT(key.size(), prefix.size()) << key;
    EXPECT_EQ(DesktopUserKey(), key);
}
