// Settings files written on Windows PCs in their ANSI code page: read and
// rewritten here in the code page LUMIDEX_CODEPAGE names (Windows-1252 when
// it does not name one), while a file that is valid UTF-8 stays UTF-8.
#include "settings/code_page_posix.h"
#include "settings/profile.h"
#include "settings/text_codec.h"
#include "tests/support/temp_dir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>

namespace lumidex {
namespace {

// Sets LUMIDEX_CODEPAGE (or removes it for nullptr) and restores it after.
class ScopedCodePage {
public:
    explicit ScopedCodePage(const char* name) {
        if (const char* old = std::getenv(kVariable)) {
            old_ = old;
        }
        Set(name);
    }
    ScopedCodePage(const ScopedCodePage&) = delete;
    ScopedCodePage& operator=(const ScopedCodePage&) = delete;
    ~ScopedCodePage() { Set(old_ ? old_->c_str() : nullptr); }

private:
    static constexpr const char* kVariable = "LUMIDEX_CODEPAGE";
    static void Set(const char* name) {
        if (name) {
            ::setenv(kVariable, name, 1);
        } else {
            ::unsetenv(kVariable);
        }
    }
    std::optional<std::string> old_;
};

// "中文标题" in GBK, "Zürich €5" in Windows-1252.
const std::string kGbkCaption = "\xD6\xD0\xCE\xC4\xB1\xEA\xCC\xE2";
const std::string kCp1252Caption = "Z\xFCrich \x80"
                                   "5";

struct ReadCase {
    const char* name;
    const char* code_page; // LUMIDEX_CODEPAGE, or nullptr for unset
    std::string caption;   // the bytes after "TB1=" in the file
    std::size_t size;
    std::string expected;
};

class LegacyRead : public testing::TestWithParam<ReadCase> {};

TEST_P(LegacyRead, DecodesAndCutsByCharacters) {
    const ReadCase& c = GetParam();
    ScopedCodePage code_page(c.code_page);
    test::TempDir dir;
    test::WriteFileOrFail(dir / "Config.ini", "[TextBT]\r\nTB1=" + c.caption + "\r\n");
    EXPECT_EQ(ReadSetting(dir / "Config.ini", "TextBT", "TB1", "", c.size), c.expected);
}

const ReadCase kReadCases[] = {
    {"GBK", "GBK", kGbkCaption, 30, "中文标题"},
    {"GBK cut to two characters", "GBK", kGbkCaption, 3, "中文"},
    {"GBK cut to one character", "GBK", kGbkCaption, 2, "中"},
    {"CP1252 when unset", nullptr, kCp1252Caption, 30, "Zürich €5"},
    {"CP1252 named", "CP1252", kCp1252Caption, 30, "Zürich €5"},
    {"CP1252 cut after the umlaut", nullptr, kCp1252Caption, 3, "Zü"},
    {"unknown name falls back to CP1252", "NO-SUCH-CODEPAGE", kCp1252Caption, 30, "Zürich €5"},
    {"empty name falls back to CP1252", "", kCp1252Caption, 30, "Zürich €5"},
    {"valid UTF-8 stays UTF-8 whatever is named", "GBK", "位 Zürich", 30, "位 Zürich"},
    {"UTF-8 cut by characters", nullptr, "位置", 2, "位"},
    // A byte the code page leaves undefined is kept as U+F700 + byte.
    {"byte CP1252 leaves undefined", nullptr, "a\x81z", 30, "a\xEF\x9E\x81z"},
    {"GBK lead byte cut off at the end", "GBK", "\xD6\xD0\xD6", 30, "中\xEF\x9F\x96"},
};
INSTANTIATE_TEST_SUITE_P(Cases, LegacyRead, testing::ValuesIn(kReadCases), test::RowName());

struct WriteCase {
    const char* name;
    const char* code_page;
    std::string before;    // the file's bytes before the write
    const char* value;     // written under TB2
    std::string after;     // the file's bytes after it
    std::string read_back; // what TB2 reads as afterwards
};

class LegacyWrite : public testing::TestWithParam<WriteCase> {};

TEST_P(LegacyWrite, KeepsTheFilesEncoding) {
    const WriteCase& c = GetParam();
    ScopedCodePage code_page(c.code_page);
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    if (!c.before.empty()) {
        test::WriteFileOrFail(file, c.before);
    }
    ASSERT_TRUE(WriteSetting(file, "TextBT", "TB2", c.value));
    EXPECT_EQ(test::ReadFileOrFail(file), c.after);
    EXPECT_EQ(ReadSetting(file, "TextBT", "TB2", "", 30), c.read_back);
}

const std::string kGbkFile = "[TextBT]\r\nTB1=" + kGbkCaption + "\r\n";
const std::string kCp1252File = "[TextBT]\r\nTB1=" + kCp1252Caption + "\r\n";

const WriteCase kWriteCases[] = {
    {"GBK file takes a GBK caption", "GBK", kGbkFile, "位置", kGbkFile + "TB2=\xCE\xBB\xD6\xC3\r\n",
     "位置"},
    {"GBK cannot hold an emoji", "GBK", kGbkFile, "a😀b", kGbkFile + "TB2=a?b\r\n", "a?b"},
    {"CP1252 file takes an umlaut and the euro", nullptr, kCp1252File, "ü€",
     kCp1252File + "TB2=\xFC\x80\r\n", "ü€"},
    {"CP1252 cannot hold Chinese", nullptr, kCp1252File, "位x", kCp1252File + "TB2=?x\r\n", "?x"},
    {"UTF-8 file stays UTF-8", "GBK", "[TextBT]\r\nTB1=Zürich\r\n", "位",
     "[TextBT]\r\nTB1=Zürich\r\nTB2=位\r\n", "位"},
    {"new file is UTF-8", "GBK", "", "位", "[TextBT]\r\nTB2=位\r\n", "位"},
    {"an undefined byte survives a rewrite", nullptr, "[TextBT]\r\nTB1=a\x81z\r\n", "ü",
     "[TextBT]\r\nTB1=a\x81z\r\nTB2=\xFC\r\n", "ü"},
    {"a UTF-8 file stays UTF-8", nullptr, "[TextBT]\r\nTB1=位\r\n",
     "a\xFF"
     "b",
     "[TextBT]\r\nTB1=位\r\nTB2=a?b\r\n", "a?b"},
};
INSTANTIATE_TEST_SUITE_P(Cases, LegacyWrite, testing::ValuesIn(kWriteCases), test::RowName());

TEST(LegacyCodePage, NamedByTheEnvironment) {
    struct Case {
        const char* variable;
        const char* expected;
    };
    const Case cases[] = {
        {nullptr, "CP1252"},
        {"", "CP1252"},
        {"GBK", "GBK"},
        {"CP1251", "CP1251"},
        {"NO-SUCH-CODEPAGE", "CP1252"},
    };
    for (const Case& c : cases) {
        ScopedCodePage code_page(c.variable);
        EXPECT_EQ(LegacyCodePageName(), c.expected) << (c.variable ? c.variable : "(unset)");
    }
}

TEST(LegacyCodePage, UnknownNameIsNoConversion) {
    EXPECT_FALSE(DecodeCodePage("abc", "NO-SUCH-CODEPAGE").has_value());
    EXPECT_FALSE(EncodeCodePage("abc", "NO-SUCH-CODEPAGE").has_value());
}

TEST(LegacyCodePage, StrayUtf8ByteIsWrittenAsQuestionMark) {
    EXPECT_EQ(EncodeCodePage("a\xFF"
                             "b",
                             "CP1252"),
              "a?b");
}

} // namespace
} // namespace lumidex
