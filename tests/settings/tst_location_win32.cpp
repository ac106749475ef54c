#include "settings/location.h"
#include "settings/location_win32.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <vector>

namespace lumidex {
namespace {

using test::RowName;

constexpr SettingsPlace kBeside = SettingsPlace::BesideProgram;
constexpr SettingsPlace kUser = SettingsPlace::UserConfig;

struct LocationCase {
    const char* name;
    const wchar_t* program_dir;
    bool writable;
    bool installed;
    const wchar_t* appdata;
    const wchar_t* expected_file;
    SettingsPlace expected_place;
};

const LocationCase kLocationCases[] = {
    {"portable folder keeps it beside", L"D:\\Lumidex", true, false, L"C:\\Users\\op\\AppData\\Roaming",
     L"D:\\Lumidex\\Config.ini", kBeside},
    {"read-only folder uses APPDATA", L"E:\\Lumidex", false, false, L"C:\\Users\\op\\AppData\\Roaming",
     L"C:\\Users\\op\\AppData\\Roaming\\Lumidex\\Config.ini", kUser},
    {"installed copy even when writable", L"C:\\Program Files\\Lumidex", true, true,
     L"C:\\Users\\op\\AppData\\Roaming", L"C:\\Users\\op\\AppData\\Roaming\\Lumidex\\Config.ini", kUser},
    {"no APPDATA stays beside", L"E:\\Lumidex", false, false, L"", L"E:\\Lumidex\\Config.ini", kBeside},
    {"relative APPDATA is no user folder", L"E:\\Lumidex", false, false, L"Roaming",
     L"E:\\Lumidex\\Config.ini", kBeside},
};

class ChooseSettingsLocationWin32Test : public testing::TestWithParam<LocationCase> {};

TEST_P(ChooseSettingsLocationWin32Test, PicksTheFileAndPlace) {
    const LocationCase& row = GetParam();
    SettingsLocationInputs inputs;
    inputs.program_dir = row.program_dir;
    inputs.program_dir_writable = row.writable;
    inputs.installed = row.installed;
    inputs.appdata = row.appdata;
    // XDG variables mean nothing here.
    inputs.xdg_config_home = "C:\\xdg";
    inputs.home = "C:\\home";
    const SettingsLocation location = ChooseSettingsLocation(inputs);
    EXPECT_EQ(location.file, std::filesystem::path(row.expected_file));
    EXPECT_EQ(location.place, row.expected_place);
}

INSTANTIATE_TEST_SUITE_P(Rows, ChooseSettingsLocationWin32Test, testing::ValuesIn(kLocationCases),
                         RowName());

struct InstalledCase {
    const char* name;
    const wchar_t* program_dir;
    bool expected;
};

const InstalledCase kInstalledCases[] = {
    {"inside Program Files", L"C:\\Program Files\\Lumidex", true},
    {"letter case aside", L"c:\\PROGRAM FILES\\lumidex\\bin", true},
    {"inside the 32-bit folder", L"C:\\Program Files (x86)\\Lumidex", true},
    {"a longer name is another folder", L"C:\\Program FilesX\\Lumidex", false},
    {"the folder itself", L"C:\\Program Files", true},
    {"elsewhere", L"D:\\Tools\\Lumidex", false},
    {"dot dot out of it", L"C:\\Program Files\\..\\Tools", false},
};

class InstalledUnderTest : public testing::TestWithParam<InstalledCase> {};

TEST_P(InstalledUnderTest, TellsAnInstalledCopy) {
    // The 64-bit root with a trailing separator, as the environment may
    // give it; an unset variable gives an empty root that holds nothing.
    const std::vector<std::filesystem::path> roots{L"C:\\Program Files\\", L"",
                                                   L"C:\\Program Files (x86)"};
    EXPECT_EQ(IsInstalledUnder(GetParam().program_dir, roots), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, InstalledUnderTest, testing::ValuesIn(kInstalledCases), RowName());

} // namespace
} // namespace lumidex
