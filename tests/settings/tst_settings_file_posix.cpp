// The settings file on disk, as POSIX systems have it: modes and owners,
// links, FIFOs, leftovers of killed writers, and writers side by side.
#include "settings/file_io.h"
#include "settings/keys.h"
#include "settings/profile.h"
#include "tests/settings/forked_posix.h"
#include "tests/support/temp_dir.h"

#include <atomic>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {
std::atomic<int> umask_calls = 0;
} // namespace

// Stands in for the C library's umask in this test program, counting calls.
extern "C" mode_t umask(mode_t mask) noexcept {
    ++umask_calls;
    return static_cast<mode_t>(::syscall(SYS_umask, mask));
}

namespace lumidex {
namespace {

int UmaskCalls() {
    return umask_calls.load();
}

using namespace std::chrono_literals;
namespace fs = std::filesystem;

mode_t ModeOf(const fs::path& file) {
    struct stat info {};
    EXPECT_EQ(::stat(file.c_str(), &info), 0) << file;
    return info.st_mode & 07777;
}

// Sets the process's umask for the life of the object.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;
    ~ScopedUmask() { ::umask(old_); }

private:
    mode_t old_;
};

// Names in a directory, sorted.
std::vector<std::string> Listing(const fs::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct UmaskCase {
    const char* name;
    mode_t umask;
    mode_t mode;
};

const UmaskCase kUmaskCases[] = {
    {"umask 022", 022, 0644},
    {"umask 077", 077, 0600},
    {"umask 007", 007, 0660},
    {"umask 002", 002, 0664},
};

class NewFileMode : public testing::TestWithParam<UmaskCase> {};

TEST_P(NewFileMode, FollowsTheUmask) {
    const UmaskCase& c = GetParam();
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    {
        ScopedUmask mask(c.umask);
        ASSERT_TRUE(WriteSetting(file, "Set", "Set", "1"));
        ASSERT_TRUE(WriteSetting(file, "Set", "wsv1", "4"));
    }
    EXPECT_EQ(ModeOf(file), c.mode);
    EXPECT_EQ(ReadSetting(file, "Set", "wsv1", "3", 7), "4");
}

INSTANTIATE_TEST_SUITE_P(Cases, NewFileMode, testing::ValuesIn(kUmaskCases), test::RowName());

// The umask is process-wide: a writer that changed it even for a moment
// would give files that other threads create meanwhile the wrong mode. Every
// call in this test program comes through the umask below, which counts them.
TEST(SettingsFileModes, WritingNeverTouchesTheUmask) {
    test::TempDir dir;
    const int before = UmaskCalls();
    ASSERT_TRUE(WriteSetting(dir / "Config.ini", "Set", "Set", "1"));  // a new file
    ASSERT_TRUE(WriteSetting(dir / "Config.ini", "Set", "wsv1", "4")); // an existing one
    EXPECT_EQ(UmaskCalls(), before);
    // The count itself works.
    ScopedUmask mask(022);
    EXPECT_EQ(UmaskCalls(), before + 1);
}

struct KeptModeCase {
    const char* name;
    mode_t mode;
};

const KeptModeCase kKeptModes[] = {
    {"owner only", 0600},   {"group reads", 0640},     {"others read", 0604},
    {"group writes", 0664}, {"owner writes only", 0200},
};

class ExistingFileMode : public testing::TestWithParam<KeptModeCase> {};

TEST_P(ExistingFileMode, SurvivesARewrite) {
    const KeptModeCase& c = GetParam();
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    test::WriteFileOrFail(file, "[Set]\r\nSet=1\r\n");
    ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
    ScopedUmask mask(077);
    ASSERT_TRUE(WriteSetting(file, "Set", "Set", "2"));
    EXPECT_EQ(ModeOf(file), c.mode);
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    EXPECT_EQ(test::ReadFileOrFail(file), "[Set]\r\nSet=2\r\n");
}

INSTANTIATE_TEST_SUITE_P(Cases, ExistingFileMode, testing::ValuesIn(kKeptModes), test::RowName());

const KeptModeCase kReadOnlyModes[] = {
    {"read for all", 0444},
    {"read for owner", 0400},
    {"read and run", 0555},
    {"no rights at all", 0000},
};

class ReadOnlyFile : public testing::TestWithParam<KeptModeCase> {};

// A file made read-only is left alone, as a folder that cannot be written
// is, even by root.
TEST_P(ReadOnlyFile, IsNotWritten) {
    const KeptModeCase& c = GetParam();
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    test::WriteFileOrFail(file, "[Set]\r\nSet=1\r\n");
    ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
    EXPECT_FALSE(WriteSetting(file, "Set", "Set", "2"));
    EXPECT_FALSE(WriteSetting(file, "LD", "LD", "3"));
    EXPECT_EQ(ModeOf(file), c.mode);
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    EXPECT_EQ(test::ReadFileOrFail(file), "[Set]\r\nSet=1\r\n");
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"Config.ini"});
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadOnlyFile, testing::ValuesIn(kReadOnlyModes), test::RowName());

// Where the settings location looks for the program's own folder.
TEST(SettingsFileOnDisk, ExecutablePathNamesThisProgram) {
    const auto program = ExecutablePath();
    EXPECT_EQ(program.filename(), "tst_settings");
    EXPECT_TRUE(std::filesystem::is_regular_file(program)) << program;
}

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
    // No temporary file is left behind; the lock stays beside the real file.
    EXPECT_EQ(Listing(dir.path()),
              (std::vector<std::string>{".real.ini.lock", "Config.ini", "real.ini"}));
}

TEST(SettingsFileLinks, TwoLinksAcrossFoldersLeadToTheFileThatIsUpdated) {
    test::TempDir dir;
    for (const char* sub : {"app", "shared", "real"}) {
        fs::create_directory(dir / sub);
    }
    const auto real = dir / "real" / "settings.ini";
    test::WriteFileOrFail(real, "[Set]\r\nSet=1\r\n");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    // Each link is relative to its own folder.
    fs::create_symlink("../real/settings.ini", dir / "shared" / "mid.ini");
    fs::create_symlink("../shared/mid.ini", dir / "app" / "Config.ini");
    const auto file = dir / "app" / "Config.ini";

    ASSERT_TRUE(WriteSetting(file, "Set", "Set", "2"));
    ASSERT_TRUE(WriteSetting(file, "LD", "LD", "3"));
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_TRUE(fs::is_symlink(dir / "shared" / "mid.ini"));
    EXPECT_EQ(test::ReadFileOrFail(real), "[Set]\r\nSet=2\r\n[LD]\r\nLD=3\r\n");
    EXPECT_EQ(ModeOf(real), 0640u);
    EXPECT_EQ(ReadSetting(file, "LD", "LD", "5", 2), "3");
    EXPECT_EQ(Listing(dir / "app"), std::vector<std::string>{"Config.ini"});
    EXPECT_EQ(Listing(dir / "shared"), std::vector<std::string>{"mid.ini"});
    EXPECT_EQ(Listing(dir / "real"),
              (std::vector<std::string>{".settings.ini.lock", "settings.ini"}));
}

// No file is ever created through a link: one that leads nowhere is read as
// a missing file and not written.
TEST(SettingsFileLinks, ADanglingLinkCreatesNothing) {
    test::TempDir dir;
    fs::create_symlink("stored.ini", dir / "Config.ini");
    EXPECT_FALSE(WriteSetting(dir / "Config.ini", "Set", "Set", "2"));
    EXPECT_EQ(ReadSetting(dir / "Config.ini", "Set", "Set", "1", 2), "1");
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"Config.ini"});
}

TEST(SettingsFileLinks, ALoopOfLinksIsUnreadableAndNotWritten) {
    test::TempDir dir;
    fs::create_symlink("b.ini", dir / "Config.ini");
    fs::create_symlink("Config.ini", dir / "b.ini");
    EXPECT_EQ(ReadSetting(dir / "Config.ini", "Set", "Set", "1", 2), "1");
    EXPECT_FALSE(WriteSetting(dir / "Config.ini", "Set", "Set", "2"));
    EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"Config.ini", "b.ini"}));
}

// A FIFO named Config.ini must neither hang a reader nor a writer (a
// blocking open waits for the other end for ever).
TEST(SettingsFileSpecial, AFifoIsNeitherWaitedOnNorReplaced) {
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
    test::Forked child([&] {
        const bool read_default = ReadSetting(file, "Set", "Set", "1", 2) == "1";
        const bool write_refused = !WriteSetting(file, "Set", "Set", "2");
        return read_default && write_refused ? 0 : 1;
    });
    ASSERT_TRUE(child.started());
    EXPECT_EQ(child.Wait(10s), 0) << "-1: the child hung on the FIFO";
    EXPECT_TRUE(fs::is_fifo(file));
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"Config.ini"});
}

enum class Entry { File, Folder, Link };

struct LeftoverCase {
    const char* name;
    const char* leaf;
    Entry entry;
    bool removed;
};

const LeftoverCase kLeftovers[] = {
    {"own temporary file", ".Config.ini.Ab12Cd", Entry::File, true},
    {"own temporary file, letters only", ".Config.ini.zzzzzz", Entry::File, true},
    {"suffix too short", ".Config.ini.abc", Entry::File, false},
    {"suffix too long", ".Config.ini.abcdefg", Entry::File, false},
    {"suffix not letters and digits", ".Config.ini.ab-12c", Entry::File, false},
    {"no leading dot", "Config.ini.Ab12Cd", Entry::File, false},
    {"another file's temporary file", ".Other.ini.Ab12Cd", Entry::File, false},
    {"a folder of that name", ".Config.ini.Dir123", Entry::Folder, false},
    {"a link of that name", ".Config.ini.Lnk123", Entry::Link, false},
};

// A writer killed between creating its temporary file and the rename leaves
// that file behind; the next write clears such leftovers, nothing else.
TEST(SettingsFileLeftovers, TheNextWriteRemovesOnlyOwnTemporaryFiles) {
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    test::WriteFileOrFail(file, "[Set]\r\nSet=1\r\n");
    test::WriteFileOrFail(dir / "precious.txt", "keep");
    for (const LeftoverCase& c : kLeftovers) {
        switch (c.entry) {
        case Entry::File:
            test::WriteFileOrFail(dir / c.leaf, "[Set]\r\nSet=9\r\n");
            break;
        case Entry::Folder:
            fs::create_directory(dir / c.leaf);
            break;
        case Entry::Link:
            fs::create_symlink("precious.txt", dir / c.leaf);
            break;
        }
    }
    ASSERT_TRUE(WriteSetting(file, "Set", "Set", "2"));
    for (const LeftoverCase& c : kLeftovers) {
        EXPECT_EQ(fs::exists(fs::symlink_status(dir / c.leaf)), !c.removed) << c.name;
    }
    EXPECT_EQ(test::ReadFileOrFail(dir / "precious.txt"), "keep");
    EXPECT_EQ(ReadSetting(file, "Set", "Set", "1", 2), "2");
}

// The lock's contract: while one process holds it, another process asking
// for it (through the same path or through a link to the file) waits until
// it is released, and a holder that is killed releases it.
TEST(SettingsFileLock, ExcludesOtherProcessesUntilReleased) {
    for (const char* via : {"Config.ini", "link.ini"}) {
        test::TempDir dir;
        const auto file = dir / "Config.ini";
        const auto marker = dir / "holder-done";
        test::WriteFileOrFail(file, "[Set]\r\nSet=1\r\n");
        fs::create_symlink("Config.ini", dir / "link.ini");
        test::ChildSignal locked;
        test::Forked holder([&] {
            const bool ran = RunWithFileLock(file, [&] {
                locked.Send();
                std::this_thread::sleep_for(300ms);
                std::ofstream(marker) << "done";
                return true;
            });
            return ran ? 0 : 1;
        });
        ASSERT_TRUE(holder.started());
        ASSERT_TRUE(locked.Await(10s));
        bool holder_was_done = false;
        EXPECT_TRUE(RunWithFileLock(dir / via, [&] {
            holder_was_done = fs::exists(marker);
            return true;
        }));
        EXPECT_TRUE(holder_was_done) << via;
        EXPECT_EQ(holder.Wait(10s), 0);
    }
}

TEST(SettingsFileLock, AKilledHolderReleasesIt) {
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    test::ChildSignal locked;
    test::Forked holder([&] {
        RunWithFileLock(file, [&] {
            locked.Send();
            ::pause();
            return true;
        });
        return 1;
    });
    ASSERT_TRUE(holder.started());
    ASSERT_TRUE(locked.Await(10s));
    holder.Kill();
    test::Forked waiter([&] { return WriteSetting(file, "Set", "Set", "2") ? 0 : 1; });
    EXPECT_EQ(waiter.Wait(10s), 0);
    EXPECT_EQ(ReadSetting(file, "Set", "Set", "1", 2), "2");
}

// A lock another process of the user keeps past the wait makes a write
// Locked: nothing is written, and the same write goes through once the lock
// is free. After one Locked write a SettingsFile says so until a write gets
// through.
TEST(SettingsFileLock, AHolderPastTheWaitMakesTheWriteLocked) {
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    test::WriteFileOrFail(file, "[Set]\r\nSet=1\r\n");
    test::ChildSignal locked;
    test::Forked holder([&] {
        RunWithFileLock(file, [&] {
            locked.Send();
            ::pause();
            return true;
        });
        return 1;
    });
    ASSERT_TRUE(holder.started());
    ASSERT_TRUE(locked.Await(10s));
    EXPECT_EQ(StoreSetting(file, "Set", "Set", "2", 20ms), WriteOutcome::Locked);
    const SettingsFile settings(file);
    EXPECT_EQ(settings.Store(keys::kDayBrightness, "3"), WriteOutcome::Locked);
    EXPECT_TRUE(settings.lock_held());
    EXPECT_EQ(settings.Store(keys::kDayBrightness, "3"), WriteOutcome::Locked);
    EXPECT_EQ(test::ReadFileOrFail(file), "[Set]\r\nSet=1\r\n");
    holder.Kill();
    EXPECT_EQ(settings.Store(keys::kDayBrightness, "3"), WriteOutcome::Written);
    EXPECT_FALSE(settings.lock_held());
    EXPECT_EQ(StoreSetting(file, "Set", "Set", "2", 20ms), WriteOutcome::Written);
    EXPECT_EQ(test::ReadFileOrFail(file), "[Set]\r\nSet=2\r\n[LD]\r\nLD=3\r\n");
}

struct LockFileCase {
    const char* name;
    // Puts something where the lock file goes (dir holds Config.ini).
    std::function<void(const fs::path& dir)> lay_out;
    bool written;
};

const LockFileCase kLockFileCases[] = {
    {"none yet", [](const fs::path&) {}, true},
    {"one of ours that others may read",
     [](const fs::path& dir) {
         test::WriteFileOrFail(dir / ".Config.ini.lock", "");
         ::chmod((dir / ".Config.ini.lock").c_str(), 0644);
     },
     true},
    {"a link to another file",
     [](const fs::path& dir) {
         test::WriteFileOrFail(dir / "other", "");
         fs::create_symlink("other", dir / ".Config.ini.lock");
     },
     false},
    {"a second name of another file",
     [](const fs::path& dir) {
         test::WriteFileOrFail(dir / "other", "");
         ::chmod((dir / "other").c_str(), 0644);
         fs::create_hard_link(dir / "other", dir / ".Config.ini.lock");
     },
     false},
    {"a folder", [](const fs::path& dir) { fs::create_directory(dir / ".Config.ini.lock"); },
     false},
};

class LockFileAsFound : public testing::TestWithParam<LockFileCase> {};

// The lock file is one only the running user may open: made so, or closed
// to others when an older copy left it open to them. Anything else in its
// place is left alone, and the write does not happen.
TEST_P(LockFileAsFound, IsTakenOnlyWhenItIsTheUsersAlone) {
    const LockFileCase& c = GetParam();
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    test::WriteFileOrFail(file, "[Set]\r\nSet=1\r\n");
    c.lay_out(dir.path());
    EXPECT_EQ(StoreSetting(file, "Set", "Set", "2"),
              c.written ? WriteOutcome::Written : WriteOutcome::Failed);
    EXPECT_EQ(test::ReadFileOrFail(file), c.written ? "[Set]\r\nSet=2\r\n" : "[Set]\r\nSet=1\r\n");
    if (c.written) {
        EXPECT_EQ(ModeOf(dir / ".Config.ini.lock"), 0600u);
    } else if (fs::exists(dir / "other")) {
        EXPECT_EQ(ModeOf(dir / "other"), 0644u) << "the file behind it kept its mode";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, LockFileAsFound, testing::ValuesIn(kLockFileCases),
                         test::RowName());

// Two processes (two copies of the program, or the program and a script)
// write different keys at the same time. No key may ever go back to an older
// value, and every key ends at the last value written.
TEST(SettingsFileWriters, TwoProcessesLoseNoneOfEachOthersKeys) {
    constexpr int kWriters = 2;
    constexpr int kKeysPerWriter = 6;
    constexpr int kRounds = 25;
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    const auto key_name = [](int writer, int key) {
        return "w" + std::to_string(writer) + "k" + std::to_string(key);
    };
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    std::vector<std::unique_ptr<test::Forked>> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.push_back(std::make_unique<test::Forked>([&, w] {
            ::close(start[1]);
            char byte = 0;
            (void)!::read(start[0], &byte, 1); // returns when the parent closes its end
            for (int round = 1; round <= kRounds; ++round) {
                for (int k = 0; k < kKeysPerWriter; ++k) {
                    if (!WriteSetting(file, "Set", key_name(w, k), std::to_string(round))) {
                        return 2;
                    }
                }
            }
            return 0;
        }));
        ASSERT_TRUE(writers.back()->started());
    }
    ::close(start[0]);
    ::close(start[1]); // both writers start now

    std::map<std::string, int> seen;
    int went_back = 0;
    const auto check_all = [&] {
        for (int w = 0; w < kWriters; ++w) {
            for (int k = 0; k < kKeysPerWriter; ++k) {
                const std::string name = key_name(w, k);
                const int value = std::stoi(ReadSetting(file, "Set", name, "0", 9));
                if (value < seen[name]) {
                    ++went_back;
                    ADD_FAILURE() << name << " went back from " << seen[name] << " to " << value;
                }
                seen[name] = std::max(seen[name], value);
            }
        }
    };
    bool running = true;
    while (running && went_back < 5) {
        check_all();
        running = false;
        for (auto& writer : writers) {
            running = writer->Running() || running;
        }
    }
    for (auto& writer : writers) {
        EXPECT_EQ(writer->Wait(60s), 0) << "2: a write failed";
    }
    for (int w = 0; w < kWriters; ++w) {
        for (int k = 0; k < kKeysPerWriter; ++k) {
            EXPECT_EQ(ReadSetting(file, "Set", key_name(w, k), "0", 9), std::to_string(kRounds))
                << key_name(w, k);
        }
    }
    EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{".Config.ini.lock", "Config.ini"}));
}

} // namespace
} // namespace lumidex
