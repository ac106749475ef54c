// The dialog's command line: what each start is to do, and the settings
// file a start works on.
#include "dialog/command_line.h"
#include "tests/support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace lumidex::test {
namespace {

using dialog::DialogCommandLine;
using Action = DialogCommandLine::Action;

// The root of the test's current folder ("/" here, a drive elsewhere), so
// the rows read the same on every system.
const std::filesystem::path& Root() {
    static const std::filesystem::path root = std::filesystem::temp_directory_path().root_path();
    return root;
}

// The current folder the rows start in.
std::filesystem::path CurrentFolder() {
    return Root() / "site" / "boards";
}

struct CommandLineRow {
    const char* name;
    std::vector<std::string> args; // "{root}" stands for Root()
    Action action;
    // Answer and Refuse: a part of the text. OpenDialog: the settings file
    // below Root() (nothing: the dialog's own file).
    const char8_t* expected;
};

const CommandLineRow kRows[] = {
    {"no arguments open the dialog on its own file", {}, Action::OpenDialog, nullptr},
    {"help", {"--help"}, Action::Answer, u8"Usage: lumidex [--config PATH]"},
    {"short help", {"-h"}, Action::Answer, u8"Usage: lumidex [--config PATH]"},
    {"version", {"--version"}, Action::Answer, u8"\nLicense: MIT"},
    {"help wins over version", {"--version", "--help"}, Action::Answer, u8"Usage: lumidex"},
    {"help with a file opens nothing",
     {"--config", "hall.ini", "-h"},
     Action::Answer,
     u8"Usage: lumidex"},
    {"a relative file starts in the current folder",
     {"--config", "hall.ini"},
     Action::OpenDialog,
     u8"site/boards/hall.ini"},
    {"the value after an equals sign",
     {"--config=x/hall.ini"},
     Action::OpenDialog,
     u8"site/boards/x/hall.ini"},
    {"dot parts are left out",
     {"--config", "./x/./hall.ini"},
     Action::OpenDialog,
     u8"site/boards/x/hall.ini"},
    {"dot-dot parts stay",
     {"--config", "../hall.ini"},
     Action::OpenDialog,
     u8"site/boards/../hall.ini"},
    {"an absolute file is taken as it is",
     {"--config", "{root}tmp/x/hall.ini"},
     Action::OpenDialog,
     u8"tmp/x/hall.ini"},
    {"a name in UTF-8",
     {"--config", "Zürich Süd.ini"},
     Action::OpenDialog,
     u8"site/boards/Zürich Süd.ini"},
    {"a name like an option after an equals sign",
     {"--config=-x.ini"},
     Action::OpenDialog,
     u8"site/boards/-x.ini"},
    {"config without a value", {"--config"}, Action::Refuse, u8"--config"},
    {"the value after config is a file whatever it looks like",
     {"--config", "--help"},
     Action::OpenDialog,
     u8"site/boards/--help"},
    {"config twice",
     {"--config", "a.ini", "--config", "b.ini"},
     Action::Refuse,
     u8"--config may be given only once"},
    {"config twice in both spellings",
     {"--config=a.ini", "--config", "a.ini"},
     Action::Refuse,
     u8"--config may be given only once"},
    {"an empty file name", {"--config", ""}, Action::Refuse, u8"--config wants a settings file"},
    {"a folder", {"--config", "{root}tmp/x/"}, Action::Refuse, u8"--config wants a settings file"},
    {"the current folder", {"--config", "."}, Action::Refuse, u8"--config wants a settings file"},
    {"the folder above", {"--config", "x/.."}, Action::Refuse, u8"--config wants a settings file"},
    {"an unknown option", {"--bogus"}, Action::Refuse, u8"--bogus"},
    {"an unknown option beside help", {"--help", "--bogus"}, Action::Refuse, u8"--bogus"},
    {"a toolkit's option", {"-platform", "offscreen"}, Action::Refuse, u8"-platform"},
    {"a file without the option", {"hall.ini"}, Action::Refuse, u8"hall.ini"},
    {"a value given to help", {"--help=yes"}, Action::Refuse, u8"--help takes no value"},
    {"a value given to version", {"--version=1"}, Action::Refuse, u8"--version takes no value"},
    {"an escape sequence in an option", {"--x\x1b[2J\ny"}, Action::Refuse, u8"--x\\e[2J\\ny"},
};

std::string Text(const char8_t* text) {
    return {text, text + std::char_traits<char8_t>::length(text)};
}

class DialogCommandLineTable : public ::testing::TestWithParam<CommandLineRow> {};

TEST_P(DialogCommandLineTable, DecidesWhatTheStartDoes) {
    const CommandLineRow& row = GetParam();
    std::vector<std::string> args;
    for (std::string arg : row.args) {
        if (arg.find("{root}") != std::string::npos) {
            arg.replace(arg.find("{root}"), 6, Root().string());
        }
        args.push_back(arg);
    }
    const DialogCommandLine got = dialog::ReadCommandLine(args, CurrentFolder());
    ASSERT_EQ(got.action, row.action) << got.text;
    switch (row.action) {
    case Action::OpenDialog:
        EXPECT_EQ(got.text, "");
        if (row.expected == nullptr) {
            EXPECT_TRUE(got.settings_file.empty()) << got.settings_file;
        } else {
            EXPECT_EQ(got.settings_file, Root() / std::filesystem::path(row.expected));
        }
        break;
    case Action::Answer:
        EXPECT_NE(got.text.find(Text(row.expected)), std::string::npos) << got.text;
        EXPECT_TRUE(got.settings_file.empty());
        break;
    case Action::Refuse:
        // One line naming the program and what was wrong, with no control
        // character but its end.
        EXPECT_EQ(got.text.rfind("lumidex: ", 0), 0u) << got.text;
        EXPECT_NE(got.text.find(Text(row.expected)), std::string::npos) << got.text;
        ASSERT_FALSE(got.text.empty());
        EXPECT_EQ(got.text.find_first_of("\n\r\x1b"), got.text.size() - 1) << got.text;
        EXPECT_TRUE(got.settings_file.empty());
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, DialogCommandLineTable, ::testing::ValuesIn(kRows), RowName());

// Where the current folder is not known, a relative file is left relative:
// the system then takes it from the current folder itself.
TEST(DialogCommandLine, KeepsARelativeFileWithoutACurrentFolder) {
    const DialogCommandLine got = dialog::ReadCommandLine({"--config", "./hall.ini"}, {});
    EXPECT_EQ(got.action, Action::OpenDialog);
    EXPECT_EQ(got.settings_file, std::filesystem::path("hall.ini"));
}

// The usage names every option the command line takes, and says what bad
// usage ends with (its manual page is made from it).
TEST(DialogCommandLine, UsageNamesEveryOption) {
    const std::string usage = dialog::DialogUsage();
    for (const char* option : {"--config PATH", "-h, --help", "--version", "2  bad usage"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
}

// A named file's missing folders are made, and the file is left to the
// dialog's first settings refresh; without a name the dialog's own file is
// chosen as ever.
TEST(PrepareDialogSettings, MakesTheFoldersOfANamedFile) {
    const TempDir dir;
    const std::filesystem::path named = dir / "site" / "boards" / "hall.ini";
    const SettingsLocation location = dialog::PrepareDialogSettings(named, dir.path());
    EXPECT_EQ(location.file, named);
    EXPECT_EQ(location.place, SettingsPlace::Named);
    EXPECT_TRUE(std::filesystem::is_directory(named.parent_path()));
    EXPECT_FALSE(std::filesystem::exists(named));

    const SettingsLocation own = dialog::PrepareDialogSettings({}, dir.path());
    EXPECT_EQ(own.file, dir / "Config.ini");
    EXPECT_EQ(own.place, SettingsPlace::BesideProgram);
}

} // namespace
} // namespace lumidex::test
