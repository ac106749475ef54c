#include "settings/file_io.h"
#include "settings/profile.h"
#include "tests/support/temp_dir.h"

#include <fstream>
#include <gtest/gtest.h>

namespace lumidex {
namespace {

namespace fs = std::filesystem;

struct ReadCase {
    const char* name;
    const char* text;
    const char* section;
    const char* key;
    const char* fallback;
    std::size_t size;
    const char* expected;
};

const ReadCase kReadCases[] = {
    {"plain", "[Set]\r\nADD485=07\r\n", "Set", "ADD485", "01", 3, "07"},
    {"missing key gives default", "[Set]\r\nwsv1=4\r\n", "Set", "wsv2", "3", 7, "3"},
    {"missing section gives default", "[Text]\r\nText1=No\r\n", "Set", "Text1", "Yes", 4, "Yes"},
    {"empty file gives default", "", "Set", "Set", "1", 2, "1"},
    {"empty value is not the default", "[Text]\r\nText1=\r\n", "Text", "Text1", "Yes", 4, ""},
    {"section name ignores case", "[set]\r\nADD485=12\r\n", "Set", "ADD485", "01", 3, "12"},
    {"key name ignores case", "[Set]\r\nadd485=12\r\n", "Set", "ADD485", "01", 3, "12"},
    {"value keeps its case", "[Text]\r\nText1=yes\r\n", "Text", "Text1", "Yes", 4, "yes"},
    {"blanks around names and value", "  [ Set ]  \r\n\t wsv1 \t=  5 \r\n", "Set", "wsv1", "3", 7,
     "5"},
    {"inner blanks stay", "[TextBT]\r\nTB1= a  b \r\n", "TextBT", "TB1", "", 30, "a  b"},
    {"double quotes removed", "[TextBT]\r\nTB1=\"  hi \"\r\n", "TextBT", "TB1", "", 30, "  hi "},
    {"single quotes removed", "[TextBT]\r\nTB1='x'\r\n", "TextBT", "TB1", "", 30, "x"},
    {"only one pair removed", "[TextBT]\r\nTB1=\"\"x\"\"\r\n", "TextBT", "TB1", "", 30, "\"x\""},
    {"different quotes stay", "[TextBT]\r\nTB1=\"x'\r\n", "TextBT", "TB1", "", 30, "\"x'"},
    {"a lone quote stays", "[TextBT]\r\nTB1=\"\r\n", "TextBT", "TB1", "", 30, "\""},
    {"cut to size - 1", "[Text]\r\nText1=Yesterday\r\n", "Text", "Text1", "Yes", 4, "Yes"},
    {"bus address cut to two", "[Set]\r\nADD485=123\r\n", "Set", "ADD485", "01", 3, "12"},
    {"cut after quotes", "[Port]\r\nPort=\"COM123\"\r\n", "Port", "Port", "", 6, "COM12"},
    {"cut counts characters", "[TextBT]\r\nTB1=äöüß\r\n", "TextBT", "TB1", "", 3, "äö"},
    {"default is cut too", "", "Set", "wsv1", "3位", 2, "3"},
    {"size 0 gives nothing", "[Set]\r\nSet=1\r\n", "Set", "Set", "1", 0, ""},
    {"key in another section is not found", "[Text]\r\nADD485=9\r\n[Set]\r\nSet=1\r\n", "Set",
     "ADD485", "01", 3, "01"},
    {"key of a later section does not leak", "[Set]\r\nSet=2\r\n[LD]\r\nLD=3\r\n", "Set", "LD", "5",
     2, "5"},
    {"first of two equal sections", "[Set]\r\nSet=2\r\n[Set]\r\nSet=1\r\nwsv1=7\r\n", "Set", "wsv1",
     "3", 7, "3"},
    {"first of two equal keys", "[Set]\r\nSet=2\r\nset=1\r\n", "Set", "Set", "1", 2, "2"},
    {"comment line is no key", "[Set]\r\n;Set=2\r\n", "Set", "Set", "1", 2, "1"},
    {"line without = is no key", "[Set]\r\nSet\r\n", "Set", "Set", "1", 2, "1"},
    {"value may hold =", "[TextBT]\r\nTB1=a=b\r\n", "TextBT", "TB1", "", 30, "a=b"},
    {"LF line ends", "[Set]\nSet=2\n", "Set", "Set", "1", 2, "2"},
    {"no final line break", "[Set]\r\nSet=2", "Set", "Set", "1", 2, "2"},
    {"keys before any section are in none", "Set=2\r\n[Set]\r\n", "Set", "Set", "1", 2, "1"},
    {"CR line ends: first key", "[Set]\rSet=2\rwsv1=4\r", "Set", "Set", "1", 2, "2"},
    {"CR line ends: later key", "[Set]\rSet=2\rwsv1=4\r", "Set", "wsv1", "3", 7, "4"},
    {"CR line ends: next section ends this one", "[Set]\rSet=2\r[LD]\rLD=3", "Set", "LD", "5", 2,
     "5"},
    {"CR line ends: key of the next section", "[Set]\rSet=2\r[LD]\rLD=3", "LD", "LD", "5", 2, "3"},
    {"mixed: a lone CR ends the value", "[S]\rA=1\rB=2\n", "S", "A", "x", 9, "1"},
    {"mixed: key after a lone CR", "[S]\rA=1\rB=2\n", "S", "B", "x", 9, "2"},
    {"LF then CR are two line ends", "[Set]\n\rSet=2\n\rwsv1=5\n\r", "Set", "wsv1", "3", 7, "5"},
    {"a CR inside a line starts a new one", "[TextBT]\r\nTB1=a\rb\r\n", "TextBT", "TB1", "", 30,
     "a"},
    {"blanks around the asked names", "[Set]\r\nwsv1=4\r\n", " Set ", "\twsv1 ", "3", 7, "4"},
};

class ReadSettingTable : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadSettingTable, FromText) {
    const ReadCase& c = GetParam();
    EXPECT_EQ(ReadSettingFromText(c.text, c.section, c.key, c.fallback, c.size), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadSettingTable, testing::ValuesIn(kReadCases), test::RowName());

struct WriteCase {
    const char* name;
    const char* before;
    const char* section;
    const char* key;
    const char* value;
    const char* after;
};

const WriteCase kWriteCases[] = {
    {"new file", "", "Set", "Set", "1", "[Set]\r\nSet=1\r\n"},
    {"missing section appended at the end", "[Set]\r\nSet=1\r\n", "Text", "Text1", "No",
     "[Set]\r\nSet=1\r\n[Text]\r\nText1=No\r\n"},
    {"missing section after a last line without break", "[Set]\r\nSet=1", "LD", "LD", "3",
     "[Set]\r\nSet=1\r\n[LD]\r\nLD=3\r\n"},
    {"existing key replaced in place", "[Set]\r\nwsv1=3\r\nwsv2=4\r\n", "Set", "wsv1", "8",
     "[Set]\r\nwsv1=8\r\nwsv2=4\r\n"},
    {"key found without regard to case", "[set]\r\n  ADD485 = 01\r\n", "Set", "ADD485", "7",
     "[set]\r\nADD485=7\r\n"},
    {"new key at the end of its section", "[Set]\r\nSet=1\r\n\r\n[Text]\r\nText1=Yes\r\n", "Set",
     "UIN", "Now", "[Set]\r\nSet=1\r\nUIN=Now\r\n\r\n[Text]\r\nText1=Yes\r\n"},
    {"new key into an empty section", "[LD]\r\n[Set]\r\nSet=1\r\n", "LD", "LD2", "4",
     "[LD]\r\nLD2=4\r\n[Set]\r\nSet=1\r\n"},
    {"new key at end of file without break", "[LD]\r\nLD=1", "LD", "LD2", "4",
     "[LD]\r\nLD=1\r\nLD2=4\r\n"},
    {"only the first of two equal keys", "[Set]\r\nSet=2\r\nSet=3\r\n", "Set", "Set", "1",
     "[Set]\r\nSet=1\r\nSet=3\r\n"},
    {"comments and foreign lines stay", "; notes\r\n[Set]\r\n;Set=9\r\njunk\r\nSet=2\r\n", "Set",
     "Set", "1", "; notes\r\n[Set]\r\n;Set=9\r\njunk\r\nSet=1\r\n"},
    {"LF line ends are kept", "[Set]\nSet=2\nwsv1=3\n", "Set", "Set", "1",
     "[Set]\nSet=1\nwsv1=3\n"},
    {"empty value", "[TextData]\r\nTD1=12\r\n", "TextData", "TD1", "", "[TextData]\r\nTD1=\r\n"},
    {"line breaks in a value become blanks", "", "TextBT", "TB1", "a\r\nb\nc",
     "[TextBT]\r\nTB1=a  b c\r\n"},
    {"a lone CR in a value becomes a blank", "", "TextBT", "TB1", "a\rb",
     "[TextBT]\r\nTB1=a b\r\n"},
    {"CR line ends: key replaced in place", "[Set]\rSet=1\rwsv1=3\r", "Set", "Set", "2",
     "[Set]\rSet=2\rwsv1=3\r"},
    {"CR line ends: new key", "[Set]\rSet=1\r[LD]\rLD=1\r", "Set", "wsv1", "4",
     "[Set]\rSet=1\rwsv1=4\r[LD]\rLD=1\r"},
    {"CR line ends: new section after a last line without break", "[Set]\rSet=1", "LD", "LD", "3",
     "[Set]\rSet=1\r[LD]\rLD=3\r"},
    {"LF line ends: new section", "[Set]\nSet=1\n", "LD", "LD", "3", "[Set]\nSet=1\n[LD]\nLD=3\n"},
    {"mixed: key before a lone CR replaced", "[S]\rA=1\rB=2\n", "S", "A", "5", "[S]\rA=5\rB=2\n"},
    {"mixed: new key ends like the first line", "[S]\rA=1\rB=2\n", "S", "C", "3",
     "[S]\rA=1\rB=2\nC=3\r"},
    {"CR line ends: a new key before an LF line keeps that line", "[S]\rA=1\r\n\n[T]\rx=1\r", "S",
     "B", "2", "[S]\rA=1\r\nB=2\r\n\n[T]\rx=1\r"},
    {"LF then CR: new key after the last filled line", "[S]\n\rA=1\n\r", "S", "B", "2",
     "[S]\n\rA=1\nB=2\n\r"},
    {"blanks around the given names", "[Set]\r\nwsv1=3\r\n", " Set ", " wsv1\t", "8",
     "[Set]\r\nwsv1=8\r\n"},
    {"refused key leaves the text", "[A]\r\nx=1\r\n", "A", "z\r\n[B]\r\ny", "2", "[A]\r\nx=1\r\n"},
    {"refused section leaves the text", "[A]\r\nx=1\r\n", "A]x", "x", "2", "[A]\r\nx=1\r\n"},
};

class WriteSettingTable : public testing::TestWithParam<WriteCase> {};

TEST_P(WriteSettingTable, ToText) {
    const WriteCase& c = GetParam();
    EXPECT_EQ(WriteSettingToText(c.before, c.section, c.key, c.value), c.after);
}

INSTANTIATE_TEST_SUITE_P(Cases, WriteSettingTable, testing::ValuesIn(kWriteCases), test::RowName());

struct NameCase {
    const char* name;
    const char* section;
    const char* key;
    bool writable;
};

const NameCase kNameCases[] = {
    {"plain names", "Set", "wsv1", true},
    {"empty names", "", "", true},
    {"CR in key", "A", "z\ry", false},
    {"LF in key", "A", "z\ny", false},
    {"CR LF in section", "A\r\nB", "x", false},
    {"lone CR in section", "A\rB", "x", false},
    {"] in section", "A]", "x", false},
    {"[ inside a section is harmless", "A[1", "x", true},
    {"= in section is harmless", "A=1", "x", true},
    {"= in key", "A", "x=1", false},
    {"closing bracket inside a key is harmless", "A", "x]", true},
    {"key starting with a bracket", "A", "[B]", false},
    {"key starting with a bracket after blanks", "A", " \t[B", false},
    {"key starting with a semicolon", "A", ";x", false},
    {"semicolon inside a key is harmless", "A", "x;y", true},
};

class WritableNamesTable : public testing::TestWithParam<NameCase> {};

TEST_P(WritableNamesTable, Decision) {
    const NameCase& c = GetParam();
    EXPECT_EQ(AreWritableNames(c.section, c.key), c.writable);
}

INSTANTIATE_TEST_SUITE_P(Cases, WritableNamesTable, testing::ValuesIn(kNameCases), test::RowName());

// Every writable name reads back what was written, and a refused one would
// have hidden another key: check both against the file text.
TEST(WritableNames, AcceptedNamesReadBackAndRefusedOnesLeaveOtherKeysReadable) {
    const std::string before = "[A]\r\nx=1\r\n[B]\r\nx=2\r\n";
    for (const NameCase& c : kNameCases) {
        const std::string after = WriteSettingToText(before, c.section, c.key, "v");
        EXPECT_EQ(ReadSettingFromText(after, "A", "x", "-", 9),
                  c.section == std::string("A") && c.key == std::string("x") ? "v" : "1")
            << c.name;
        EXPECT_EQ(ReadSettingFromText(after, "B", "x", "-", 9), "2") << c.name;
        if (c.writable) {
            EXPECT_EQ(ReadSettingFromText(after, c.section, c.key, "-", 9), "v") << c.name;
        } else {
            EXPECT_EQ(after, before) << c.name;
        }
    }
}

TEST(SettingsFileOnDisk, WriteThenReadSeesTheNewValueAndCreatesTheFile) {
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    EXPECT_EQ(ReadSetting(file, "Set", "Set", "1", 2), "1");
    ASSERT_TRUE(WriteSetting(file, "Set", "Set", "2"));
    EXPECT_EQ(ReadSetting(file, "Set", "Set", "1", 2), "2");
    ASSERT_TRUE(WriteSetting(file, "Set", "LEDIP", "-1062731420"));
    EXPECT_EQ(ReadSetting(file, "set", "ledip", "0", 20), "-1062731420");
    EXPECT_EQ(test::ReadFileOrFail(file), "[Set]\r\nSet=2\r\nLEDIP=-1062731420\r\n");
}

TEST(SettingsFileOnDisk, Utf16FileIsReadAndWrittenAsUtf16) {
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    // "[TextBT]\r\nTB1=Kühl\r\n" in UTF-16LE with its byte-order mark.
    std::u16string text = u"[TextBT]\r\nTB1=K\u00FChl\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    test::WriteFileOrFail(file, bytes);
    EXPECT_EQ(ReadSetting(file, "TextBT", "TB1", "", 30), "Kühl");
    ASSERT_TRUE(WriteSetting(file, "TextBT", "TB2", "€1"));
    std::u16string expected = u"[TextBT]\r\nTB1=K\u00FChl\r\nTB2=\u20AC1\r\n";
    std::string expected_bytes = "\xFF\xFE";
    for (char16_t c : expected) {
        expected_bytes += static_cast<char>(c & 0xFF);
        expected_bytes += static_cast<char>(c >> 8);
    }
    EXPECT_EQ(test::ReadFileOrFail(file), expected_bytes);
    EXPECT_EQ(ReadSetting(file, "TextBT", "TB2", "", 30), "€1");
}

TEST(SettingsFileOnDisk, UnwritablePlaceIsIgnoredAndTheOldValueStays) {
    test::TempDir dir;
    // A path below a regular file can never be created, even by root.
    const auto blocker = dir / "not-a-directory";
    test::WriteFileOrFail(blocker, "x");
    EXPECT_FALSE(WriteSetting(blocker / "Config.ini", "Set", "Set", "2"));
    EXPECT_EQ(ReadSetting(blocker / "Config.ini", "Set", "Set", "1", 2), "1");

    // A directory standing where the file should be is neither read nor replaced.
    const auto occupied = dir / "Config.ini";
    std::filesystem::create_directory(occupied);
    EXPECT_FALSE(WriteSetting(occupied, "Set", "Set", "2"));
    EXPECT_TRUE(std::filesystem::is_directory(occupied));
}

struct LineEndCase {
    const char* name;
    const char* before;
    const char* read_key;
    const char* read_value;
    const char* after; // after writing Set/UIN=Now
};

const LineEndCase kLineEndCases[] = {
    {"CR LF", "[Set]\r\nSet=2\r\nwsv1=4\r\n", "wsv1", "4",
     "[Set]\r\nSet=2\r\nwsv1=4\r\nUIN=Now\r\n"},
    {"LF", "[Set]\nSet=2\nwsv1=4\n", "wsv1", "4", "[Set]\nSet=2\nwsv1=4\nUIN=Now\n"},
    {"CR", "[Set]\rSet=2\rwsv1=4\r", "wsv1", "4", "[Set]\rSet=2\rwsv1=4\rUIN=Now\r"},
    {"mixed CR and LF", "[Set]\rSet=2\rwsv1=4\n", "Set", "2", "[Set]\rSet=2\rwsv1=4\nUIN=Now\r"},
    {"LF then CR", "[Set]\n\rSet=2\n\r", "Set", "2", "[Set]\n\rSet=2\nUIN=Now\n\r"},
};

class LineEndsOnDisk : public testing::TestWithParam<LineEndCase> {};

TEST_P(LineEndsOnDisk, ReadAndWriteKeepTheFilesOwnLineEnds) {
    const LineEndCase& c = GetParam();
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    test::WriteFileOrFail(file, c.before);
    EXPECT_EQ(ReadSetting(file, "Set", c.read_key, "-", 9), c.read_value);
    ASSERT_TRUE(WriteSetting(file, "Set", "UIN", "Now"));
    EXPECT_EQ(test::ReadFileOrFail(file), c.after);
    EXPECT_EQ(ReadSetting(file, "Set", "UIN", "-", 9), "Now");
    EXPECT_EQ(ReadSetting(file, "Set", c.read_key, "-", 9), c.read_value);
}

INSTANTIATE_TEST_SUITE_P(Kinds, LineEndsOnDisk, testing::ValuesIn(kLineEndCases), test::RowName());

TEST(SettingsFileNames, RefusedNamesWriteNothing) {
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    EXPECT_FALSE(WriteSetting(file, "A", "z\r\n[B]\r\ny", "1"));
    EXPECT_FALSE(fs::exists(file)); // not even created
    test::WriteFileOrFail(file, "[A]\r\nx=1\r\n[B]\r\nx=2\r\n");
    EXPECT_FALSE(WriteSetting(file, "A", "z\r\n[B]\r\ny", "1"));
    EXPECT_FALSE(WriteSetting(file, "B]\r\n[A", "x", "3"));
    EXPECT_FALSE(WriteSetting(file, "A", "x=3", "3"));
    EXPECT_EQ(test::ReadFileOrFail(file), "[A]\r\nx=1\r\n[B]\r\nx=2\r\n");
}

struct StoreSettingsCase {
    const char* name;
    const char* before; // nullptr: no file yet
    std::vector<SettingWrite> writes;
    WriteOutcome outcome;
    const char* after; // nullptr: no file
};

const StoreSettingsCase kStoreSettingsCases[] = {
    {"keys across sections, one stored twice",
     "[Set]\r\nwsv1=4\r\n",
     {{"TextData", "TD1", "1.00"},
      {"Set", "FCC1", "1"},
      {"TextData", "TD1", "2.00"},
      {"Set", "UIN", "Now"}},
     WriteOutcome::Written,
     "[Set]\r\nwsv1=4\r\nFCC1=1\r\nUIN=Now\r\n[TextData]\r\nTD1=2.00\r\n"},
    {"a new file",
     nullptr,
     {{"A", "x", "1"}, {"A", "y", "2"}, {"A", "x", "3"}},
     WriteOutcome::Written,
     "[A]\r\nx=3\r\ny=2\r\n"},
    {"LF line ends kept",
     "[Set]\nSet=2\n",
     {{"Set", "Set", "1"}, {"LD", "LD", "3"}},
     WriteOutcome::Written,
     "[Set]\nSet=1\n[LD]\nLD=3\n"},
    {"nothing to store", nullptr, {}, WriteOutcome::Written, nullptr},
    {"one refused name writes none",
     "[A]\r\nx=1\r\n",
     {{"A", "x", "2"}, {"A", "y=", "3"}},
     WriteOutcome::Failed,
     "[A]\r\nx=1\r\n"},
};

class StoreSettingsTable : public testing::TestWithParam<StoreSettingsCase> {};

// Several keys in one replacement of the file leave the bytes that storing
// them one by one leaves.
TEST_P(StoreSettingsTable, OneReplacementEndsAsStoringOneByOne) {
    const StoreSettingsCase& c = GetParam();
    test::TempDir dir;
    const auto together = dir / "together.ini";
    const auto one_by_one = dir / "one_by_one.ini";
    if (c.before != nullptr) {
        test::WriteFileOrFail(together, c.before);
        test::WriteFileOrFail(one_by_one, c.before);
    }
    EXPECT_EQ(StoreSettings(together, c.writes), c.outcome);
    if (c.after == nullptr) {
        EXPECT_FALSE(fs::exists(together));
        return;
    }
    EXPECT_EQ(test::ReadFileOrFail(together), c.after);
    if (c.outcome == WriteOutcome::Written) {
        for (const SettingWrite& write : c.writes) {
            ASSERT_EQ(StoreSetting(one_by_one, write.section, write.key, write.value),
                      WriteOutcome::Written);
        }
        EXPECT_EQ(test::ReadFileOrFail(one_by_one), c.after);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, StoreSettingsTable, testing::ValuesIn(kStoreSettingsCases),
                         test::RowName());

// Makes a sparse file of `size` bytes that starts with `text`.
void MakeSparseFile(const fs::path& file, std::string_view text, std::size_t size) {
    test::WriteFileOrFail(file, text);
    fs::resize_file(file, size);
}

TEST(SettingsFileSize, AFileAboveTheBoundIsUnreadableAndNeverRewritten) {
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    MakeSparseFile(file, "[Set]\r\nSet=2\r\n", kMaxSettingsFileBytes + 1);
    EXPECT_EQ(ReadSetting(file, "Set", "Set", "1", 2), "1");
    EXPECT_FALSE(WriteSetting(file, "Set", "Set", "2"));
    EXPECT_FALSE(WriteSetting(file, "LD", "LD", "3"));
    EXPECT_EQ(fs::file_size(file), kMaxSettingsFileBytes + 1);
    std::ifstream in(file, std::ios::binary);
    std::string start(14, '\0');
    in.read(start.data(), 14);
    EXPECT_EQ(start, "[Set]\r\nSet=2\r\n");
}

TEST(SettingsFileSize, AFileAtTheBoundIsReadButNotGrownBeyondIt) {
    test::TempDir dir;
    const auto file = dir / "Config.ini";
    MakeSparseFile(file, "[Set]\r\nSet=2\r\n", kMaxSettingsFileBytes);
    EXPECT_EQ(ReadSetting(file, "Set", "Set", "1", 2), "2");
    // A new key would make the file bigger than any reader takes.
    EXPECT_FALSE(WriteSetting(file, "Set", "UIN", "Now"));
    EXPECT_EQ(fs::file_size(file), kMaxSettingsFileBytes);
    EXPECT_EQ(ReadSetting(file, "Set", "Set", "1", 2), "2");
}

} // namespace
} // namespace lumidex
