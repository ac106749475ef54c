// The settings file on POSIX: symbolic links, file modes, and a writer
// killed by a signal.
#include "settings/profile.h"
#include "tests/support/temp_dir.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lumidex {
namespace {

TEST(SettingsFileOnDisk, WriteFollowsASymbolicLinkAndKeepsTheFileMode) {
    test::TempDir dir;
    const auto real = dir / "real.ini";
    test::WriteFileOrFail(real, "[Set]\r\nSet=1\r\n");
    std::filesystem::permissions(real, std::filesystem::perms(0640));
    std::filesystem::create_symlink("real.ini", dir / "Config.ini");
    ASSERT_TRUE(WriteSetting(dir / "Config.ini", "Set", "Set", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "Config.ini"));
    EXPECT_EQ(test::ReadFileOrFail(real), "[Set]\r\nSet=2\r\n");
    EXPECT_EQ(std::filesystem::status(real).permissions(), std::filesystem::perms(0640));
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

// A writer killed at any moment leaves either the old file or the new one,
// never a mixture or an empty file.
TEST(SettingsFileOnDisk, KillDuringWritesLeavesAWholeFile) {
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    const std::string small(100, 'a');
    const std::string large(64 * 1024, 'b');
    ASSERT_TRUE(WriteSetting(file, "TextBT", "TB1", small));
    for (int round = 0; round < 12; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0; i < 1000; ++i) {
                WriteSetting(file, "TextBT", "TB1", (i % 2) ? small : large);
            }
            ::_exit(0);
        }
        ::usleep(static_cast<useconds_t>(2000 + round * 1500));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        const std::string value = ReadSetting(file, "TextBT", "TB1", "missing", 1 << 20);
        EXPECT_TRUE(value == small || value == large) << "round " << round << ": " << value.size();
        EXPECT_EQ(test::ReadFileOrFail(file), "[TextBT]\r\nTB1=" + value + "\r\n");
    }
}

} // namespace
} // namespace lumidex
