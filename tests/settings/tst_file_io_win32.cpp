// The settings file on Windows: wide-character paths, a durable replace that
// a kill cannot tear, and the executable's own directory.
#include "settings/file_io.h"
#include "settings/profile.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace lumidex {
namespace {

using namespace std::chrono_literals;

constexpr const wchar_t* kWriterVariable = L"LUMIDEX_TEST_WRITER_FILE";
const std::string kSmall(100, 'a');
const std::string kLarge(64 * 1024, 'b');

std::filesystem::path OwnExecutable() {
    wchar_t name[4096];
    const DWORD length = ::GetModuleFileNameW(nullptr, name, 4096);
    return std::filesystem::path(std::wstring(name, length));
}

TEST(SettingsFileOnWindows, NonAsciiPathIsReadAndWritten) {
    test::TempDir dir;
    const auto folder = dir.path() / std::filesystem::path(u8"設定 Zürich");
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    const auto file = folder / "Config.ini";
    ASSERT_TRUE(WriteSetting(file, "Set", "Set", "2"));
    EXPECT_EQ(ReadSetting(file, "Set", "Set", "1", 2), "2");
    EXPECT_EQ(test::ReadFileOrFail(file), "[Set]\r\nSet=2\r\n");
    // Only the file itself is left in the folder: no temporary file.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()), {}), 1);
}

TEST(SettingsFileOnWindows, FailedReplaceKeepsTheOldFile) {
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    test::WriteFileOrFail(file, "[Set]\r\nSet=1\r\n");
    ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(WriteSetting(file, "Set", "Set", "2"));
    EXPECT_EQ(ReadSetting(file, "Set", "Set", "0", 2), "1");
    ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    // A directory standing where the file should be is neither read nor replaced.
    const auto occupied = dir / "Occupied.ini";
    std::filesystem::create_directory(occupied);
    EXPECT_FALSE(ReadWholeFile(occupied).has_value());
    EXPECT_FALSE(WriteSetting(occupied, "Set", "Set", "2"));
    EXPECT_TRUE(std::filesystem::is_directory(occupied));
}

TEST(SettingsFileOnWindows, ExecutableDirectoryAndWritability) {
    const auto directory = ExecutableDirectory();
    EXPECT_EQ(directory, OwnExecutable().parent_path());
    EXPECT_TRUE(std::filesystem::exists(directory / OwnExecutable().filename()));
    test::TempDir dir;
    EXPECT_TRUE(DirectoryIsWritable(dir.path()));
    EXPECT_FALSE(DirectoryIsWritable(dir / "missing"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 0);
}

// The writer for the kill test, run in a child copy of this program: it
// rewrites one key over and over with a small and a large value.
TEST(SettingsFileOnWindows, WriterForTheKillTest) {
    const char* target = std::getenv("LUMIDEX_TEST_WRITER_FILE");
    if (target == nullptr) {
        GTEST_SKIP() << "runs only as the kill test's child";
    }
    for (int i = 0; i < 100000; ++i) {
        WriteSetting(target, "TextBT", "TB1", (i % 2) ? kSmall : kLarge);
    }
}

// A writer killed at any moment leaves either the old file or the new one,
// never a mixture or an empty file.
TEST(SettingsFileOnWindows, KillDuringWritesLeavesAWholeFile) {
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    ASSERT_TRUE(WriteSetting(file, "TextBT", "TB1", kSmall));
    ::SetEnvironmentVariableW(kWriterVariable, file.c_str());
    std::wstring command = L"\"" + OwnExecutable().wstring() +
                           L"\" --gtest_filter=SettingsFileOnWindows.WriterForTheKillTest";
    for (int round = 0; round < 6; ++round) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        // No console for the child: it writes nothing, and a console host
        // started for it would outlive it.
        ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                                     DETACHED_PROCESS, nullptr, nullptr, &startup, &child));
        // Kill only once the child is writing: the large value has appeared.
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (ReadSetting(file, "TextBT", "TB1", "", 1 << 20) != kLarge &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(3 + round * 7));
        ::TerminateProcess(child.hProcess, 9);
        ::WaitForSingleObject(child.hProcess, INFINITE);
        ::CloseHandle(child.hThread);
        ::CloseHandle(child.hProcess);
        const std::string value = ReadSetting(file, "TextBT", "TB1", "missing", 1 << 20);
        EXPECT_TRUE(value == kSmall || value == kLarge)
            << "round " << round << ": " << value.size();
        EXPECT_EQ(test::ReadFileOrFail(file), "[TextBT]\r\nTB1=" + value + "\r\n");
    }
    ::SetEnvironmentVariableW(kWriterVariable, nullptr);
}

} // namespace
} // namespace lumidex
