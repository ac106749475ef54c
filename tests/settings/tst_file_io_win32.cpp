// The settings file on Windows: wide-character paths, a durable replace that
// a kill cannot tear, the executable's own directory, and the lock and the
// trust rule through the real security calls.
#include "settings/file_io.h"
#include "settings/profile.h"
#include "tests/support/access_list_win32.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

namespace lumidex {
namespace {

using namespace std::chrono_literals;

constexpr const wchar_t* kWriterVariable = L"LUMIDEX_TEST_WRITER_FILE";
const std::string kSmall(100, 'a');
const std::string kLarge(64 * 1024, 'b');

// The names in a folder, sorted.
std::vector<std::string> Names(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

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
    // Beside the file only its lock file stays: no temporary file.
    EXPECT_EQ(Names(folder), (std::vector<std::string>{".Config.ini.lock", "Config.ini"}));
}

TEST(SettingsFileOnWindows, FailedReplaceKeepsTheOldFile) {
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    test::WriteFileOrFail(file, "[Set]\r\nSet=1\r\n");
    ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(WriteSetting(file, "Set", "Set", "2"));
    EXPECT_EQ(ReadSetting(file, "Set", "Set", "0", 2), "1");
    ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"Config.ini"}));

    // A directory standing where the file should be is neither read nor replaced.
    const auto occupied = dir / "Occupied.ini";
    std::filesystem::create_directory(occupied);
    EXPECT_FALSE(ReadWholeFile(occupied).has_value());
    EXPECT_FALSE(WriteSetting(occupied, "Set", "Set", "2"));
    EXPECT_TRUE(std::filesystem::is_directory(occupied));
}

TEST(SettingsFileOnWindows, ExecutablePathAndWritability) {
    EXPECT_EQ(ExecutablePath(), OwnExecutable());
    EXPECT_EQ(ExecutableDirectory(), OwnExecutable().parent_path());
    EXPECT_TRUE(std::filesystem::exists(ExecutablePath()));
    test::TempDir dir;
    EXPECT_TRUE(DirectoryIsWritable(dir.path()));
    EXPECT_FALSE(DirectoryIsWritable(dir / "missing"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 0);
}

// A temporary file a killed writer left beside the settings file goes with
// the next write; other files that only look alike stay.
TEST(SettingsFileOnWindows, LeftoversOfKilledWritersAreRemoved) {
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    test::WriteFileOrFail(dir / ".Config.ini.4242.7.tmp", "half a file");
    test::WriteFileOrFail(dir / ".Other.ini.4242.7.tmp", "not ours");
    test::WriteFileOrFail(dir / ".Config.ini.notes", "not a temporary file");
    ASSERT_TRUE(WriteSetting(file, "Set", "Set", "2"));
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{".Config.ini.lock", ".Config.ini.notes",
                                                           ".Other.ini.4242.7.tmp", "Config.ini"}));
}

// Work under the lock excludes a second writer until it is done; the lock
// leaves the settings file itself readable and replaceable.
TEST(SettingsFileOnWindows, LockExcludesASecondWriter) {
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    ASSERT_TRUE(WriteSetting(file, "Set", "Set", "1"));
    std::atomic<bool> first_inside{false};
    std::atomic<bool> first_done{false};
    std::thread first([&] {
        EXPECT_TRUE(RunWithFileLock(file, [&] {
            first_inside = true;
            std::this_thread::sleep_for(200ms);
            // The file stays readable and replaceable while it is locked.
            EXPECT_EQ(ReadSetting(file, "Set", "Set", "-", 2), "1");
            const bool replaced = ReplaceFileDurably(file, "[Set]\r\nSet=2\r\n");
            first_done = true;
            return replaced;
        }));
    });
    while (!first_inside) {
        std::this_thread::sleep_for(1ms);
    }
    bool second_saw_first_done = false;
    EXPECT_TRUE(RunWithFileLock(file, [&] {
        second_saw_first_done = first_done;
        return true;
    }));
    first.join();
    EXPECT_TRUE(second_saw_first_done);
    EXPECT_EQ(ReadSetting(file, "Set", "Set", "-", 2), "2");
    // A folder standing where the file should be takes no lock.
    std::filesystem::create_directory(dir / "Folder.ini");
    bool ran = false;
    EXPECT_FALSE(RunWithFileLock(dir / "Folder.ini", [&] { return ran = true; }));
    EXPECT_FALSE(ran);
}

// Another program reading the file keeps it from being replaced while its
// handle is open, sharing or not: a write waits for it rather than failing
// and losing its value.
TEST(SettingsFileOnWindows, AWriteWaitsForAReaderToCloseTheFile) {
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    ASSERT_TRUE(WriteSetting(file, "Set", "Set", "1"));
    HANDLE reader = ::CreateFileW(file.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    std::thread closer([reader] {
        std::this_thread::sleep_for(100ms);
        ::CloseHandle(reader);
    });
    EXPECT_EQ(StoreSetting(file, "Set", "Set", "2"), WriteOutcome::Written);
    closer.join();
    EXPECT_EQ(ReadSetting(file, "Set", "Set", "-", 2), "2");
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{".Config.ini.lock", "Config.ini"}));
}

// A child copy of this program running one test, with one environment
// variable set for it; killed when the object goes away.
class ChildTest {
public:
    ChildTest(const char* test, const wchar_t* variable, const std::filesystem::path& value) {
        ::SetEnvironmentVariableW(variable, value.c_str());
        std::wstring command = L"\"" + OwnExecutable().wstring() + L"\" --gtest_filter=" +
                               std::filesystem::path(test).wstring();
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        started_ = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                                    DETACHED_PROCESS, nullptr, nullptr, &startup, &child_);
        ::SetEnvironmentVariableW(variable, nullptr);
    }
    ChildTest(const ChildTest&) = delete;
    ChildTest& operator=(const ChildTest&) = delete;
    ~ChildTest() { Kill(); }
    bool started() const { return started_ != FALSE; }
    void Kill() {
        if (started_) {
            ::TerminateProcess(child_.hProcess, 9);
            ::WaitForSingleObject(child_.hProcess, INFINITE);
            ::CloseHandle(child_.hThread);
            ::CloseHandle(child_.hProcess);
            started_ = FALSE;
        }
    }

private:
    PROCESS_INFORMATION child_{};
    BOOL started_ = FALSE;
};

constexpr const wchar_t* kHolderVariable = L"LUMIDEX_TEST_LOCK_HOLDER_FILE";

// The holder for the lock test, run in a child copy of this program: it
// takes the lock, says so with a file beside the settings file, and keeps
// it until it is killed.
TEST(SettingsFileOnWindows, HolderForTheLockTest) {
    const char* target = std::getenv("LUMIDEX_TEST_LOCK_HOLDER_FILE");
    if (target == nullptr) {
        GTEST_SKIP() << "runs only as the lock test's child";
    }
    const std::filesystem::path file(target);
    RunWithFileLock(file, [&] {
        test::WriteFileOrFail(file.parent_path() / "holding", "");
        ::Sleep(INFINITE);
        return true;
    });
}

// Another process keeping the lock past the wait makes a write Locked, with
// nothing written; once it is gone the write goes through.
TEST(SettingsFileOnWindows, ALockHeldByAnotherProcessMakesTheWriteLocked) {
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    ASSERT_TRUE(WriteSetting(file, "Set", "Set", "1"));
    ChildTest holder("SettingsFileOnWindows.HolderForTheLockTest", kHolderVariable, file);
    ASSERT_TRUE(holder.started());
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!std::filesystem::exists(dir / "holding") &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(std::filesystem::exists(dir / "holding"));
    EXPECT_EQ(StoreSetting(file, "Set", "Set", "2", 20ms), WriteOutcome::Locked);
    EXPECT_EQ(test::ReadFileOrFail(file), "[Set]\r\nSet=1\r\n");
    holder.Kill();
    EXPECT_EQ(StoreSetting(file, "Set", "Set", "2", 20ms), WriteOutcome::Written);
    EXPECT_EQ(test::ReadFileOrFail(file), "[Set]\r\nSet=2\r\n");
}

std::string SidOf(PSID sid) {
    LPWSTR text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text)) {
        return "?";
    }
    std::string narrow;
    for (const wchar_t* c = text; *c != 0; ++c) {
        narrow += static_cast<char>(*c);
    }
    ::LocalFree(text);
    return narrow;
}

std::string CurrentUserSid() {
    HANDLE token = nullptr;
    EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
    BYTE buffer[512];
    DWORD size = 0;
    EXPECT_TRUE(::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size));
    ::CloseHandle(token);
    return SidOf(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

// The lock file lets in the user alone (and SYSTEM and the Administrators,
// who can take any file anyway): no other user can hold it.
TEST(SettingsFileOnWindows, TheLockFileIsTheUsersAlone) {
    test::TempDir dir;
    ASSERT_TRUE(WriteSetting(dir / "Config.ini", "Set", "Set", "2"));
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(::GetNamedSecurityInfoW((dir / ".Config.ini.lock").c_str(), SE_FILE_OBJECT,
                                      DACL_SECURITY_INFORMATION, nullptr, nullptr, &list, nullptr,
                                      &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NE(list, nullptr);
    const std::string user = CurrentUserSid();
    for (DWORD i = 0; i < list->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* entry = nullptr;
        ASSERT_TRUE(::GetAce(list, i, reinterpret_cast<void**>(&entry)));
        const std::string sid = SidOf(&entry->SidStart);
        EXPECT_TRUE(sid == user || sid == "S-1-5-18" || sid == "S-1-5-32-544") << sid;
    }
    ::LocalFree(descriptor);
}

// A folder that every user may change (as Windows sets up folders made at
// the top of a second drive) holds a file that is read but never written by
// an ordinary user, and not used at all by an elevated process; the reason
// names who else may change it.
TEST(SettingsFileOnWindows, AFolderOthersMayChangeIsNotTrusted) {
    test::TempDir dir;
    const auto folder = dir / "shared";
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    const auto file = folder / "Config.ini";
    ASSERT_TRUE(WriteSetting(file, "Set", "Set", "7"));
    ASSERT_TRUE(test::OpenToEveryone(folder));

    const SettingsFileCheck check = CheckSettingsFile(file);
    const bool elevated = test::RunsElevated();
    EXPECT_EQ(check.access, elevated ? SettingsAccess::NotTrusted : SettingsAccess::ReadOnly);
    EXPECT_NE(check.reason.find("the folder " + folder.string() + " can be changed by "),
              std::string::npos)
        << check.reason;
    EXPECT_FALSE(WriteSetting(file, "Set", "Set", "2"));
    EXPECT_EQ(ReadSetting(file, "Set", "Set", "d", 2), elevated ? "d" : "7");
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
