#include "settings/keys.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <set>
#include <vector>

namespace lumidex {
namespace {

TEST(SettingKeys, EveryKeyIsListedOnceWithItsDefault) {
    std::set<std::string> seen;
    for (const SettingKey& key : AllSettingKeys()) {
        EXPECT_TRUE(seen.insert(std::string(key.section) + "/" + std::string(key.name)).second)
            << key.name << " twice";
        EXPECT_GT(key.chars, 0u) << key.name;
    }
    EXPECT_EQ(seen.size(), 54u);
    // Line 6 is numbered apart.
    EXPECT_EQ(keys::kDigitCount[5].name, "wsv22");
    EXPECT_EQ(keys::kDecimalPlaces[5].name, "wsv23");
}

// A missing file gives what the dialog shows on its very first start.
TEST(SettingKeys, DefaultsOfAFirstStart) {
    test::TempDir dir;
    const SettingsFile settings(dir / "Config.ini");
    for (int i = 0; i < kLineCount; ++i) {
        EXPECT_EQ(settings.Read(keys::kLineChosen[i]), "Yes");
        EXPECT_EQ(settings.Read(keys::kDigitCount[i]), "3");
        EXPECT_EQ(settings.Read(keys::kDecimalPlaces[i]), "No");
        EXPECT_EQ(settings.ReadNumber(keys::kFlicker[i]), 0);
        EXPECT_EQ(settings.Read(keys::kLineText[i]), "");
    }
    EXPECT_EQ(settings.Read(keys::kUpdateTime), "Now");
    EXPECT_EQ(settings.Read(keys::kBusAddress), "01");
    EXPECT_EQ(settings.ReadNumber(keys::kControllerIp), 0);
    EXPECT_EQ(settings.Read(keys::kSerialPort), "");
    EXPECT_EQ(settings.Read(keys::kBaudRate), "9600");
    EXPECT_EQ(settings.ReadNumber(keys::kDayBrightness), 5);
    EXPECT_EQ(settings.Read(keys::kDayBrightness, keys::kSliderCompareFallback), "8");
    EXPECT_EQ(FirstDigitValue(settings.Read(keys::kDigitCount[0], keys::kEditorDigitCountFallback)),
              3);
    EXPECT_FALSE(std::filesystem::exists(dir / "Config.ini"));
}

// The check box and the content frame read a line's choice by two rules.
TEST(SettingKeys, LineChosenForTheBoxAndForTheFrame) {
    struct Row {
        std::string_view value;
        bool box;
        bool frame;
    };
    for (const Row& row :
         {Row{"Yes", true, true}, Row{"Y", false, true}, Row{"Yup", false, true},
          Row{"yes", false, false}, Row{"No", false, false}, Row{"", false, false}}) {
        EXPECT_EQ(keys::IsChosenForRefresh(row.value), row.box) << row.value;
        EXPECT_EQ(keys::IsChosenForFrame(row.value), row.frame) << row.value;
    }
}

TEST(SettingKeys, ReadersKeepTheirCharacters) {
    test::TempDir dir;
    const SettingsFile settings(dir / "Config.ini");
    settings.Write(keys::kCaption[0], std::string(40, 'c'));
    // Windows keeps the five characters of a COM name (COM123 reads as
    // COM12); a device path elsewhere is kept whole.
    const bool com_names = kPortNameChars == 5;
    const std::string port =
        com_names ? "COM123" : "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    settings.Write(keys::kSerialPort, port);
    settings.Write(keys::kDayBrightness, "9");
    settings.Write(keys::kLineText[0], "123456789012");
    EXPECT_EQ(settings.Read(keys::kCaption[0]), std::string(29, 'c'));
    EXPECT_EQ(settings.Read(keys::kSerialPort), com_names ? "COM12" : port);
    EXPECT_EQ(settings.ReadNumber(keys::kDayBrightness), 9);
    EXPECT_EQ(settings.Read(keys::kLineText[0]), "123456789");
}

// Under a snapshot every key reads as it does without one, in an 8-bit,
// a UTF-8 and a UTF-16 file and with none, and a write through the same
// SettingsFile is seen by the very next read.
TEST(SettingsSnapshot, ReadsWhatTheFileHoldsAndSeesItsOwnWrites) {
    const test::TempDir dir;
    const std::string utf16_bom = "\xFF\xFE[\0S\0e\0t\0]\0\r\0\n\0w\0s\0v\0\x31\0=\0\x35\0";
    for (const std::string& content :
         {std::string(), std::string("[Set]\r\nwsv1=7\r\nADD485=05\r\n[TextData]\r\nTD1=12.50\r\n"),
          std::string("[TextBT]\nTB1=Gr\xC3\xBC\xC3\x9F\xE2\x82\xAC\n[LD]\nLD=\"3\"\n"),
          std::string("[TextBT]\r\nTB2=K\xE4se\r\n"), utf16_bom}) {
        const auto file = dir / "Config.ini";
        std::filesystem::remove(file);
        if (!content.empty()) {
            test::WriteFileOrFail(file, content);
        }
        const SettingsFile settings(file);
        std::vector<std::string> without;
        for (const SettingKey& key : AllSettingKeys()) {
            without.push_back(settings.Read(key));
        }
        const SettingsFile::Snapshot snapshot(settings);
        std::size_t i = 0;
        for (const SettingKey& key : AllSettingKeys()) {
            EXPECT_EQ(settings.Read(key), without[i++]) << key.name;
        }
        ASSERT_TRUE(settings.Write(keys::kDigitCount[0], "8"));
        i = 0;
        for (const SettingKey& key : AllSettingKeys()) {
            EXPECT_EQ(settings.Read(key), key.name == keys::kDigitCount[0].name ? "8" : without[i])
                << key.name;
            ++i;
        }
    }
}

TEST(LeadingNumber, ConvertsLikeTheLegacyRuntime) {
    struct Case {
        const char* text;
        std::int32_t value;
    };
    const Case cases[] = {
        {"", 0},
        {"0", 0},
        {"1", 1},
        {"12", 12},
        {"  7x", 7},
        {"+5", 5},
        {"-1062731420", -1062731420},
        {"167772165", 167772165},
        {"-1", -1},
        {"abc", 0},
        {"- 3", 0},
        {"3位", 3},
        {"99999999999", 2147483647},
        {"-99999999999", -2147483647 - 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LeadingNumber(c.text), c.value) << c.text;
    }
}

TEST(FirstDigitValue, TakesOnlyTheFirstCharacter) {
    EXPECT_EQ(FirstDigitValue("8"), 8);
    EXPECT_EQ(FirstDigitValue("3位"), 3);
    EXPECT_EQ(FirstDigitValue("No"), 0);
    EXPECT_EQ(FirstDigitValue(""), 0);
    EXPECT_EQ(FirstDigitValue("12"), 1);
}

} // namespace
} // namespace lumidex
