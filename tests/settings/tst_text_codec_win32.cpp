// On Windows an 8-bit settings file is in the ANSI code page, whatever its
// bytes look like, and a character that code page cannot hold is written
// as "?".
#include "settings/profile.h"
#include "settings/text_codec.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace lumidex {
namespace {

TEST(AnsiCodePage, Windows1252FileIsReadAndWrittenInIt) {
    if (::GetACP() != 1252) {
        GTEST_SKIP() << "the ANSI code page here is " << ::GetACP() << ", not 1252";
    }
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    const std::string before = "[TextBT]\r\nTB1=Z\xFCrich \x80"
                               "5\r\n";
    test::WriteFileOrFail(file, before);
    EXPECT_EQ(ReadSetting(file, "TextBT", "TB1", "", 30), "Zürich €5");
    EXPECT_EQ(ReadSetting(file, "TextBT", "TB1", "", 3), "Zü");
    ASSERT_TRUE(WriteSetting(file, "TextBT", "TB2", "ü位"));
    EXPECT_EQ(test::ReadFileOrFail(file), before + "TB2=\xFC?\r\n");
    // UTF-8 bytes in an 8-bit file are ANSI characters here, as on any
    // Windows PC with this code page.
    test::WriteFileOrFail(file, "[TextBT]\r\nTB1=\xC3\xBC\r\n");
    EXPECT_EQ(ReadSetting(file, "TextBT", "TB1", "", 30), "Ã¼");
}

TEST(AnsiCodePage, LookAlikesAreNotSubstituted) {
    if (::GetACP() != 1252) {
        GTEST_SKIP() << "the ANSI code page here is " << ::GetACP() << ", not 1252";
    }
    // "ā" has the best-fit "a" in Windows-1252; the file gets "?" instead.
    EXPECT_EQ(EncodeSettingsText("\xC4\x81", TextEncoding::Local8Bit), "?");
    EXPECT_EQ(DecodeSettingsText("\xFC").encoding, TextEncoding::Local8Bit);
}

} // namespace
} // namespace lumidex
