// Which settings files are trusted: a copy run by root (or by any user)
// beside another local user who plants links and files where it looks.
// Root plays the other user with setpriv; these cases are skipped, with a
// note, when the suite does not run as root.
#include "settings/file_io.h"
#include "settings/profile.h"
#include "tests/settings/forked_posix.h"
#include "tests/support/child_process.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"

#include <functional>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumidex {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr uid_t kOtherUser = 4242;
constexpr uid_t kOperator = 4343;
constexpr const char* kStored = "[Set]\r\nSet=7\r\n";

// Runs a shell command as the other user, in `dir`.
void AsOtherUser(const fs::path& dir, const std::string& command) {
    const auto run = test::RunProgram({"/usr/bin/setpriv", "--reuid=" + std::to_string(kOtherUser),
                                       "--regid=" + std::to_string(kOtherUser), "--clear-groups",
                                       "/bin/sh", "-c", "cd '" + dir.string() + "' && " + command});
    ASSERT_EQ(run.status, 0) << command << ": " << run.err;
}

void MakeFolder(const fs::path& folder, mode_t mode) {
    fs::create_directories(folder);
    ASSERT_EQ(::chmod(folder.c_str(), mode), 0) << folder;
}

// A folder of the other user's own, as its home folder would be.
void OtherUsersFolder(const fs::path& folder) {
    MakeFolder(folder, 0755);
    ASSERT_EQ(::chown(folder.c_str(), kOtherUser, kOtherUser), 0) << folder;
}

// Every name below a folder, for a check that nothing was added or removed.
std::vector<std::string> Tree(const fs::path& root) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        names.push_back(entry.path().lexically_relative(root).string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct TrustCase {
    const char* name;
    // Lays out the files under the test folder; returns the settings path.
    std::function<fs::path(const fs::path&)> lay_out;
    SettingsAccess access; // for root
    const char* reason;    // part of the reason given
};

// Root's own victim: a file no one else can write, that a planted link
// would have root rewrite.
fs::path Victim(const fs::path& root) {
    MakeFolder(root / "victim", 0755);
    test::WriteFileOrFail(root / "victim" / "secret.ini", kStored);
    return root / "victim" / "secret.ini";
}

const TrustCase kTrustCases[] = {
    {"link planted in a folder every user can write",
     [](const fs::path& root) {
         Victim(root);
         MakeFolder(root / "shared", 0777);
         AsOtherUser(root, "ln -s ../victim/secret.ini shared/Config.ini");
         return root / "shared" / "Config.ini";
     },
     SettingsAccess::NotTrusted, "can be written by every user"},
    {"another user's link in a sticky folder",
     [](const fs::path& root) {
         Victim(root);
         MakeFolder(root / "sticky", 01777);
         AsOtherUser(root, "ln -s ../victim/secret.ini sticky/Config.ini");
         return root / "sticky" / "Config.ini";
     },
     SettingsAccess::NotTrusted, "belongs to another user"},
    {"settings folder is a link another user planted",
     [](const fs::path& root) {
         Victim(root);
         MakeFolder(root / "config", 0777);
         AsOtherUser(root, "ln -s ../victim config/lumidex");
         return root / "config" / "lumidex" / "secret.ini";
     },
     SettingsAccess::NotTrusted, "belongs to another user"},
    {"another user's folder and file",
     [](const fs::path& root) {
         OtherUsersFolder(root / "home");
         AsOtherUser(root, "printf '[Set]\\r\\nSet=7\\r\\n' >home/Config.ini");
         return root / "home" / "Config.ini";
     },
     SettingsAccess::NotTrusted, "belongs to another user (uid 4242)"},
    {"another user's file in root's folder",
     [](const fs::path& root) {
         MakeFolder(root / "mine", 0755);
         test::WriteFileOrFail(root / "mine" / "Config.ini", kStored);
         EXPECT_EQ(::chown((root / "mine" / "Config.ini").c_str(), kOtherUser, kOtherUser), 0);
         return root / "mine" / "Config.ini";
     },
     SettingsAccess::NotTrusted, "belongs to another user"},
    {"root's file that every user can write",
     [](const fs::path& root) {
         MakeFolder(root / "mine", 0755);
         test::WriteFileOrFail(root / "mine" / "Config.ini", kStored);
         EXPECT_EQ(::chmod((root / "mine" / "Config.ini").c_str(), 0666), 0);
         return root / "mine" / "Config.ini";
     },
     SettingsAccess::NotTrusted, "can be written by every user"},
    {"root's link to a file in another user's folder",
     [](const fs::path& root) {
         OtherUsersFolder(root / "theirs");
         AsOtherUser(root, "printf '[Set]\\r\\nSet=7\\r\\n' >theirs/x.ini");
         MakeFolder(root / "mine", 0755);
         fs::create_symlink("../theirs/x.ini", root / "mine" / "Config.ini");
         return root / "mine" / "Config.ini";
     },
     SettingsAccess::NotTrusted, "belongs to another user"},
    {"root's link to a missing file",
     [](const fs::path& root) {
         MakeFolder(root / "mine", 0755);
         fs::create_symlink("stored.ini", root / "mine" / "Config.ini");
         return root / "mine" / "Config.ini";
     },
     SettingsAccess::ReadOnly, "no file is created through a link"},
    {"root's file in a sticky folder",
     [](const fs::path& root) {
         MakeFolder(root / "sticky", 01777);
         test::WriteFileOrFail(root / "sticky" / "Config.ini", kStored);
         return root / "sticky" / "Config.ini";
     },
     SettingsAccess::ReadWrite, ""},
    {"root's link to root's file",
     [](const fs::path& root) {
         const fs::path victim = Victim(root);
         MakeFolder(root / "mine", 0755);
         fs::create_symlink(victim, root / "mine" / "Config.ini");
         return root / "mine" / "Config.ini";
     },
     SettingsAccess::ReadWrite, ""},
};

class SettingsTrustAsRoot : public testing::TestWithParam<TrustCase> {};

// A file root may not trust is neither read nor written, and nothing is
// created, replaced or removed anywhere; a trusted one works as before.
TEST_P(SettingsTrustAsRoot, DecidesWhatIsReadAndWritten) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to play another user with setpriv";
    }
    const TrustCase& c = GetParam();
    test::TempDir dir;
    const fs::path file = c.lay_out(dir.path());
    if (HasFatalFailure()) {
        return;
    }
    const SettingsFileCheck check = CheckSettingsFile(file);
    EXPECT_EQ(check.access, c.access) << check.reason;
    EXPECT_NE(check.reason.find(c.reason), std::string::npos) << check.reason;
    EXPECT_EQ(check.reason.find('\n'), std::string::npos) << "one line";

    const auto before = Tree(dir.path());
    // Where the system keeps links in sticky folders from being followed
    // (fs.protected_symlinks), root may not look through another user's.
    std::error_code ec;
    const bool exists = fs::exists(file, ec);
    const bool written = WriteSetting(file, "Set", "Set", "2");
    EXPECT_EQ(written, c.access == SettingsAccess::ReadWrite);
    const std::string read = ReadSetting(file, "Set", "Set", "d", 2);
    if (c.access == SettingsAccess::ReadWrite) {
        EXPECT_EQ(read, "2");
    } else {
        EXPECT_EQ(Tree(dir.path()), before) << "nothing created, replaced or removed";
        EXPECT_EQ(read, c.access == SettingsAccess::ReadOnly && exists ? "7" : "d");
    }
    if (fs::exists(dir / "victim" / "secret.ini") && c.access != SettingsAccess::ReadWrite) {
        EXPECT_EQ(test::ReadFileOrFail(dir / "victim" / "secret.ini"), kStored);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SettingsTrustAsRoot, testing::ValuesIn(kTrustCases),
                         test::RowName());

// For an ordinary user a file or folder another user could change is only
// read; it is never written.
TEST(SettingsTrustAsUser, AnotherUsersFolderIsReadOnly) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to play two users";
    }
    test::TempDir dir;
    OtherUsersFolder(dir / "home");
    AsOtherUser(dir.path(), "printf '[Set]\\r\\nSet=7\\r\\n' >home/Config.ini");
    const fs::path file = dir / "home" / "Config.ini";
    test::Forked user([&] {
        if (::setresgid(kOperator, kOperator, kOperator) != 0 ||
            ::setresuid(kOperator, kOperator, kOperator) != 0) {
            return 3;
        }
        const SettingsFileCheck check = CheckSettingsFile(file);
        const bool read_only = check.access == SettingsAccess::ReadOnly &&
                               check.reason.find("belongs to another user") != std::string::npos;
        const bool read = ReadSetting(file, "Set", "Set", "d", 2) == "7";
        const bool refused = !WriteSetting(file, "Set", "Set", "2");
        return read_only ? (read ? (refused ? 0 : 2) : 1) : 4;
    });
    ASSERT_TRUE(user.started());
    EXPECT_EQ(user.Wait(10s), 0) << "4: not read-only, 1: not read, 2: written, 3: no setresuid";
    EXPECT_EQ(test::ReadFileOrFail(file), kStored);
}

// Another user who can read the settings file cannot make a writer wait:
// the lock a writer takes lives in a file only its user may open. The other
// user holds what it can (a lock on the settings file itself) while the
// writer stores a key with the usual wait.
TEST(SettingsTrustAsRoot, AnotherUserCannotHoldTheLock) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to play another user with setpriv";
    }
    test::TempDir dir;
    MakeFolder(dir.path(), 0755);
    const fs::path file = dir / "Config.ini";
    ASSERT_TRUE(WriteSetting(file, "Set", "Set", "7"));
    test::ChildProcess other({"/usr/bin/setpriv", "--reuid=" + std::to_string(kOtherUser),
                              "--regid=" + std::to_string(kOtherUser), "--clear-groups", "/bin/sh",
                              "-c",
                              "cd '" + dir.path().string() +
                                  "' && { flock -xn .Config.ini.lock true 2>/dev/null && "
                                  "echo took the lock; exec 9<Config.ini && flock -x 9 && "
                                  "echo holding && exec sleep 600; }"});
    ASSERT_EQ(other.ReadLine(10s), "holding") << "the other user took the writer's lock";
    EXPECT_EQ(StoreSetting(file, "Set", "Set", "2"), WriteOutcome::Written);
    EXPECT_EQ(ReadSetting(file, "Set", "Set", "d", 2), "2");
}

// Another user may put files named like the writer's temporary files into
// a sticky folder; a write removes only leftovers of its own user.
TEST(SettingsTrustAsRoot, OtherUsersTemporaryFilesStay) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to play another user with setpriv";
    }
    test::TempDir dir;
    MakeFolder(dir / "sticky", 01777);
    test::WriteFileOrFail(dir / "sticky" / "Config.ini", kStored);
    test::WriteFileOrFail(dir / "sticky" / ".Config.ini.Own123", "left by a killed writer");
    AsOtherUser(dir.path(), "echo theirs >sticky/.Config.ini.Ab12Cd");
    ASSERT_TRUE(WriteSetting(dir / "sticky" / "Config.ini", "Set", "Set", "2"));
    EXPECT_FALSE(fs::exists(dir / "sticky" / ".Config.ini.Own123"));
    EXPECT_EQ(test::ReadFileOrFail(dir / "sticky" / ".Config.ini.Ab12Cd"), "theirs\n");
}

// What a program takes for each use, as any user (no other user needed:
// the modes say who else could).
struct UseCase {
    const char* name;
    // Lays out the files under the test folder; returns the path judged.
    std::function<fs::path(const fs::path&)> lay_out;
    FileUse use;
    const char* refusal; // part of the reason; nullptr: taken
};

fs::path FileWithMode(const fs::path& path, mode_t mode) {
    fs::create_directories(path.parent_path());
    test::WriteFileOrFail(path, "x\n");
    EXPECT_EQ(::chmod(path.c_str(), mode), 0) << path;
    return path;
}

const UseCase kUseCases[] = {
    {"a private secret", [](const fs::path& d) { return FileWithMode(d / "secret", 0600); },
     FileUse::Secret, nullptr},
    {"a secret every user may read", [](const fs::path& d) { return FileWithMode(d / "secret", 0644); },
     FileUse::Secret, "secret can be read by every user (chmod 600"},
    {"a secret its group may read", [](const fs::path& d) { return FileWithMode(d / "secret", 0640); },
     FileUse::Secret, "secret can be read by its group"},
    {"a credential its group may read (systemd's access list)",
     [](const fs::path& d) { return FileWithMode(d / "creds/pw", 0640); }, FileUse::Credential, nullptr},
    {"a credential every user may read",
     [](const fs::path& d) { return FileWithMode(d / "creds/pw", 0644); }, FileUse::Credential,
     "pw can be read by every user"},
    {"a configuration every user may read",
     [](const fs::path& d) { return FileWithMode(d / "boards.ini", 0644); }, FileUse::Configuration, nullptr},
    {"a configuration every user may write",
     [](const fs::path& d) { return FileWithMode(d / "boards.ini", 0666); }, FileUse::Configuration,
     "boards.ini can be written by every user"},
    {"in a folder every user may write",
     [](const fs::path& d) {
         MakeFolder(d / "open", 0777);
         return FileWithMode(d / "open/boards.ini", 0644);
     },
     FileUse::Configuration, "the folder "},
    {"below a folder every user may write",
     [](const fs::path& d) {
         MakeFolder(d / "open", 0777);
         MakeFolder(d / "open/mine", 0755);
         return FileWithMode(d / "open/mine/secret", 0600);
     },
     FileUse::Secret, "open can be written by every user"},
    {"in a sticky folder every user may write",
     [](const fs::path& d) {
         MakeFolder(d / "sticky", 01777);
         return FileWithMode(d / "sticky/boards.ini", 0644);
     },
     FileUse::Configuration, nullptr},
    {"through a link to a file every user may write",
     [](const fs::path& d) {
         FileWithMode(d / "real.ini", 0666);
         fs::create_symlink(d / "real.ini", d / "boards.ini");
         return d / "boards.ini";
     },
     FileUse::Configuration, "real.ini can be written by every user"},
    {"a folder for a configuration", [](const fs::path& d) {
         MakeFolder(d / "dir", 0755);
         return d / "dir";
     },
     FileUse::Configuration, "is not a regular file"},
    {"a folder of the program's", [](const fs::path& d) {
         MakeFolder(d / "state", 0750);
         return d / "state";
     },
     FileUse::Folder, nullptr},
    {"a folder every user may write", [](const fs::path& d) {
         MakeFolder(d / "state", 0777);
         return d / "state";
     },
     FileUse::Folder, "state can be written by every user"},
    {"a missing file is its reader's to report",
     [](const fs::path& d) { return d / "missing"; }, FileUse::Secret, nullptr},
};

class TrustedForUse : public testing::TestWithParam<UseCase> {};

TEST_P(TrustedForUse, TakesOnlyWhatNoOtherUserCouldChangeOrRead) {
    test::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0700), 0);
    const fs::path judged = GetParam().lay_out(dir.path());
    const auto why = WhyUntrusted(judged, GetParam().use);
    if (GetParam().refusal == nullptr) {
        EXPECT_EQ(why, std::nullopt);
    } else {
        ASSERT_TRUE(why);
        EXPECT_NE(why->find(GetParam().refusal), std::string::npos) << *why;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, TrustedForUse, testing::ValuesIn(kUseCases), test::RowName());

// A link to a terminal or a FIFO is never opened, by readers or writers:
// the kind of the file is looked at first.
TEST(SettingsTrust, DevicesAndFifosBehindALinkAreNeverOpened) {
    test::TempDir dir;
    test::PtyPair pty;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    for (const fs::path& target : {fs::path(pty.device()), dir / "fifo"}) {
        const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        ASSERT_GE(::inotify_add_watch(watch, target.c_str(), IN_OPEN), 0) << target;
        fs::remove(dir / "Config.ini");
        fs::create_symlink(target, dir / "Config.ini");

        const SettingsFileCheck check = CheckSettingsFile(dir / "Config.ini");
        EXPECT_EQ(check.access, SettingsAccess::NotTrusted) << target;
        EXPECT_NE(check.reason.find("is not a regular file"), std::string::npos) << check.reason;
        EXPECT_EQ(ReadSetting(dir / "Config.ini", "Port", "Port", "d", 9), "d");
        EXPECT_FALSE(WriteSetting(dir / "Config.ini", "Set", "Set", "2"));

        char events[4096];
        EXPECT_LT(::read(watch, events, sizeof events), 0) << target << " was opened";
        ::close(watch);
    }
}

} // namespace
} // namespace lumidex
