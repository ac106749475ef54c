#include "settings/location.h"
#include "tests/support/temp_dir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <set>

namespace lumidex {
namespace {

using test::RowName;
using test::TempDir;

constexpr SettingsPlace kBeside = SettingsPlace::BesideProgram;
constexpr SettingsPlace kUser = SettingsPlace::UserConfig;

struct LocationCase {
    const char* name;
    const char* program_dir;
    bool writable;
    bool installed;
    const char* xdg;
    const char* home;
    const char* expected_file;
    SettingsPlace expected_place;
};

const LocationCase kLocationCases[] = {
    {"portable folder keeps it beside", "/opt/lx", true, false, "/x", "/home/a",
     "/opt/lx/Config.ini", kBeside},
    {"build folder ignores the environment", "/src/build/bin", true, false, "", "",
     "/src/build/bin/Config.ini", kBeside},
    {"read-only folder uses XDG_CONFIG_HOME", "/media/ro", false, false, "/cfg", "/home/a",
     "/cfg/lumidex/Config.ini", kUser},
    {"XDG_CONFIG_HOME with a trailing slash", "/media/ro", false, false, "/cfg/", "/home/a",
     "/cfg/lumidex/Config.ini", kUser},
    {"read-only folder without XDG uses HOME", "/media/ro", false, false, "", "/home/a",
     "/home/a/.config/lumidex/Config.ini", kUser},
    {"relative XDG_CONFIG_HOME is ignored", "/media/ro", false, false, "cfg", "/home/a",
     "/home/a/.config/lumidex/Config.ini", kUser},
    {"installed copy even when writable", "/usr/bin", true, true, "", "/root",
     "/root/.config/lumidex/Config.ini", kUser},
    {"installed copy uses XDG_CONFIG_HOME", "/usr/bin", false, true, "/cfg", "/home/a",
     "/cfg/lumidex/Config.ini", kUser},
    {"no user folder stays beside", "/usr/bin", false, true, "", "", "/usr/bin/Config.ini",
     kBeside},
    {"relative HOME is no user folder", "/media/ro", false, false, "", "home",
     "/media/ro/Config.ini", kBeside},
};

class ChooseSettingsLocationTest : public testing::TestWithParam<LocationCase> {};

TEST_P(ChooseSettingsLocationTest, PicksTheFileAndPlace) {
    const LocationCase& row = GetParam();
    SettingsLocationInputs inputs;
    inputs.program_dir = row.program_dir;
    inputs.program_dir_writable = row.writable;
    inputs.installed = row.installed;
    inputs.xdg_config_home = row.xdg;
    inputs.home = row.home;
    const SettingsLocation location = ChooseSettingsLocation(inputs);
    EXPECT_EQ(location.file, std::filesystem::path(row.expected_file));
    EXPECT_EQ(location.place, row.expected_place);
}

INSTANTIATE_TEST_SUITE_P(Rows, ChooseSettingsLocationTest, testing::ValuesIn(kLocationCases),
                         RowName());

struct HelpCase {
    const char* name;
    std::set<std::string> present;
    const char* expected;
};

const HelpCase kHelpCases[] = {
    {"beside the program", {"/p/bin/Help.doc"}, "/p/bin/Help.doc"},
    {"beside wins over the data folder",
     {"/p/bin/Help.doc", "/p/share/lumidex/Help.doc"},
     "/p/bin/Help.doc"},
    {"installed data folder", {"/p/share/lumidex/Help.doc"}, "/p/share/lumidex/Help.doc"},
    {"neither gives the path beside", {}, "/p/bin/Help.doc"},
};

class ChooseHelpDocumentTest : public testing::TestWithParam<HelpCase> {};

TEST_P(ChooseHelpDocumentTest, PicksTheFirstThatExists) {
    const HelpCase& row = GetParam();
    const auto exists = [&](const std::filesystem::path& path) {
        return row.present.count(path.string()) > 0;
    };
    EXPECT_EQ(ChooseHelpDocument("/p/bin", "/p/share/lumidex", exists),
              std::filesystem::path(row.expected));
}

INSTANTIATE_TEST_SUITE_P(Rows, ChooseHelpDocumentTest, testing::ValuesIn(kHelpCases), RowName());

TEST(InstalledDataDirectory, IsShareLumidexBesideBin) {
    EXPECT_EQ(InstalledDataDirectory("/usr/bin"), std::filesystem::path("/usr/share/lumidex"));
    EXPECT_EQ(InstalledDataDirectory("/tmp/root/usr/local/bin"),
              std::filesystem::path("/tmp/root/usr/local/share/lumidex"));
}

struct NoticeCase {
    const char* name;
    SettingsPlace place;
    bool existed_before;
    bool exists_now;
    bool told;
};

const NoticeCase kNoticeCases[] = {
    {"first use in the user folder is told", kUser, false, true, true},
    {"an existing user file is not told again", kUser, true, true, false},
    {"a file that could not be made is not told", kUser, false, false, false},
    {"beside the program is never told", kBeside, false, true, false},
    {"a file the operator named is never told", SettingsPlace::Named, false, true, false},
};

class SettingsPlaceNoticeTest : public testing::TestWithParam<NoticeCase> {};

TEST_P(SettingsPlaceNoticeTest, TellsOnlyOnFirstUseOfTheUserFolder) {
    const NoticeCase& row = GetParam();
    const SettingsLocation location{"/home/a/.config/lumidex/Config.ini", row.place};
    const std::string notice = SettingsPlaceNotice(location, row.existed_before, row.exists_now);
    if (row.told) {
        EXPECT_NE(notice.find("/home/a/.config/lumidex/Config.ini"), std::string::npos) << notice;
    } else {
        EXPECT_EQ(notice, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, SettingsPlaceNoticeTest, testing::ValuesIn(kNoticeCases), RowName());

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(CurrentSettingsInputs, SeesAPortableFolder) {
    TempDir dir;
    const ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
    const ScopedEnv home("HOME", std::nullopt);
    const SettingsLocationInputs inputs = CurrentSettingsInputs(dir.path());
    EXPECT_EQ(inputs.program_dir, dir.path());
    EXPECT_TRUE(inputs.program_dir_writable);
    EXPECT_FALSE(inputs.installed);
    EXPECT_EQ(inputs.xdg_config_home, "/cfg");
    EXPECT_EQ(inputs.home, "");
    // The probe file used to test the folder is gone again.
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(CurrentSettingsInputs, SeesAnInstalledLayout) {
    TempDir dir;
    std::filesystem::create_directories(dir / "usr/bin");
    std::filesystem::create_directories(dir / "usr/share/lumidex");
    const ScopedEnv home("HOME", "/home/a");
    const SettingsLocationInputs inputs = CurrentSettingsInputs(dir / "usr/bin");
    EXPECT_TRUE(inputs.installed);
    EXPECT_FALSE(inputs.program_dir_writable);
    EXPECT_EQ(inputs.home, "/home/a");
    // Nothing was tried in the program folder of an installed copy.
    EXPECT_TRUE(std::filesystem::is_empty(dir / "usr/bin"));
}

TEST(CurrentSettingsInputs, AFolderBelowAFileCannotBeWritten) {
    TempDir dir;
    test::WriteFileOrFail(dir / "file", "x");
    EXPECT_FALSE(CurrentSettingsInputs(dir / "file" / "bin").program_dir_writable);
}

TEST(PrepareSettingsFolder, CreatesMissingFoldersForTheUserOnly) {
    TempDir dir;
    const auto file = dir / "home/.config/lumidex/Config.ini";
    ASSERT_TRUE(PrepareSettingsFolder(file));
    for (const auto& folder : {dir / "home", dir / "home/.config", dir / "home/.config/lumidex"}) {
        ASSERT_TRUE(std::filesystem::is_directory(folder)) << folder;
        EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms::owner_all)
            << folder;
    }
    EXPECT_FALSE(std::filesystem::exists(file));
    // An existing folder is left as it is.
    std::filesystem::permissions(dir / "home", std::filesystem::perms(0755));
    EXPECT_TRUE(PrepareSettingsFolder(file));
    EXPECT_EQ(std::filesystem::status(dir / "home").permissions(), std::filesystem::perms(0755));
}

TEST(PrepareSettingsFolder, FailsBelowAFile) {
    TempDir dir;
    test::WriteFileOrFail(dir / "file", "x");
    EXPECT_FALSE(PrepareSettingsFolder(dir / "file/lumidex/Config.ini"));
}

} // namespace
} // namespace lumidex
