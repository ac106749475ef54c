// The change record on disk: the chain shows an edited or removed line, a
// half-written last line left by a crash is cut off and never counted, the
// numbering and the chain go on across a reopening and a new month, and old
// months go.
#include "boards/change_record.h"
#include "boards/sha256.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace lumidex {
namespace {

SysSeconds Utc(const char* text) {
    return *ParseIsoUtc(text);
}

TEST(Sha256, KnownDigests) {
    const std::pair<std::string, const char*> rows[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // 56 bytes: the length no longer fits the first block.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000, 'a'), "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
    };
    for (const auto& [text, digest] : rows) {
        EXPECT_EQ(Sha256Hex(text), digest) << text.size() << " bytes";
    }
}

RecordedChange Change(const std::string& old_value, const std::string& new_value) {
    return {"hall", "lines.1", old_value, new_value, "alice", "http", R"({"lines":{"1":"x"}})"};
}

std::string Read(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

TEST(ChangeRecord, AnEditedOrRemovedLineBreaksTheChain) {
    test::TempDir dir;
    std::string error;
    auto record = ChangeRecord::Open(dir / "record", 24, error);
    ASSERT_TRUE(record) << error;
    const SysSeconds at = Utc("2026-12-09T12:00:00Z");
    const auto appended = record->AppendChanges({Change("1.729", "1.899"), Change("1.899", "1.909")}, at);
    ASSERT_TRUE(appended);
    EXPECT_EQ(appended->first, 1u);
    EXPECT_EQ(appended->last(), 2u);
    EXPECT_TRUE(record->WaitDurable(appended->last()));
    ASSERT_TRUE(record->AppendOutcomes({{"hall", 2, "accepted"}, {"hall", 1, "superseded"}}, at + std::chrono::seconds{1}));
    const auto file = dir / "record" / "record-2026-12.jsonl";
    std::size_t lines = 0;
    EXPECT_EQ(CheckRecord(file, &lines), std::nullopt);
    EXPECT_EQ(lines, 4u);
    const auto all = ReadRecord(dir / "record");
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0]["old"], "1.729");
    EXPECT_EQ(all[0]["who"], "alice");
    EXPECT_EQ(all[2]["applied"], 2);
    EXPECT_EQ(all[2]["at"], "2026-12-09T12:00:01Z");

    record.reset(); // closed: Windows lets no one else write a file the record holds
    const std::string whole = Read(file);
    struct Row {
        const char* name;
        std::string text;
        const char* breaks; // the start of what the check says
    };
    const std::size_t second = whole.find('\n') + 1;
    const std::size_t third = whole.find('\n', second) + 1;
    std::string edited = whole;
    edited.replace(edited.find("1.909"), 5, "1.999");
    const Row rows[] = {
        {"a value edited", edited, "line 3: its prev"},
        {"a line removed", whole.substr(0, second) + whole.substr(third), "line 2: its prev"},
        {"two lines swapped", whole.substr(second, third - second) + whole.substr(0, second) + whole.substr(third),
         "line 2: its prev"},
    };
    for (const Row& row : rows) {
        Write(file, row.text);
        const auto says = CheckRecord(file);
        ASSERT_TRUE(says) << row.name;
        EXPECT_TRUE(says->starts_with(row.breaks)) << row.name << ": " << *says;
    }
}

// A crash in the middle of a write leaves part of a line: it is no record,
// and the record goes on after the last whole one.
TEST(ChangeRecord, AHalfWrittenLastLineIsCutOffAndTheRecordGoesOn) {
    test::TempDir dir;
    std::string error;
    const SysSeconds at = Utc("2026-12-09T12:00:00Z");
    {
        auto record = ChangeRecord::Open(dir.path(), 24, error);
        ASSERT_TRUE(record->AppendChanges({Change("1", "2")}, at));
    }
    const auto file = dir / "record-2026-12.jsonl";
    Write(file, Read(file) + R"({"seq":2,"at":"2026-12-09T12:00:01Z","board":"ha)");
    EXPECT_EQ(ReadRecord(dir.path()).size(), 1u);
    auto record = ChangeRecord::Open(dir.path(), 24, error);
    ASSERT_TRUE(record) << error;
    EXPECT_EQ(record->AppendChanges({Change("2", "3")}, at)->first, 2u);
    EXPECT_EQ(CheckRecord(file), std::nullopt);
    EXPECT_EQ(ReadRecord(dir.path()).back()["new"], "3");
}

// A new month starts a new file; its first line chains to the last of the
// month before; months beyond the kept ones go.
TEST(ChangeRecord, MonthsChainAndOldOnesGo) {
    test::TempDir dir;
    std::string error;
    auto record = ChangeRecord::Open(dir.path(), 2, error);
    ASSERT_TRUE(record->AppendChanges({Change("1", "2")}, Utc("2026-11-30T23:59:59Z")));
    ASSERT_TRUE(record->AppendChanges({Change("2", "3")}, Utc("2026-12-01T00:00:00Z")));
    ASSERT_TRUE(record->AppendChanges({Change("3", "4")}, Utc("2027-01-01T00:00:00Z")));
    EXPECT_EQ(CheckRecord(dir / "record-2026-12.jsonl"), std::nullopt);
    EXPECT_EQ(CheckRecord(dir / "record-2027-01.jsonl"), std::nullopt);
    Write(dir / "record-2026-12.jsonl", "");
    EXPECT_TRUE(CheckRecord(dir / "record-2027-01.jsonl"));
    record->Prune(Utc("2027-01-15T00:00:00Z"));
    EXPECT_FALSE(std::filesystem::exists(dir / "record-2026-11.jsonl"));
    EXPECT_TRUE(std::filesystem::exists(dir / "record-2026-12.jsonl"));
    EXPECT_TRUE(std::filesystem::exists(dir / "record-2027-01.jsonl"));
}

} // namespace
} // namespace lumidex
