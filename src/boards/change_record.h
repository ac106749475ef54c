#pragma once

// The change record: every change the service accepts, who asked for it,
// through which door, what it was before, and when the board showed it.
// One JSON object per line, in one file per month ("record-2026-12.jsonl")
// in the record's folder; each line is on the disk before the change is
// answered, and each carries "prev", the SHA-256 of the line before it, so
// an edited or removed line shows (CheckRecord). Nothing here deletes or
// changes a line; whole months past the kept number are removed.
#include "boards/time_zone.h"
#include "settings/file_io.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace lumidex {

// One field of a change asked for.
struct RecordedChange {
    std::string board;
    std::string field; // "lines.1", "flicker.2", "update", "brightness.day", "clock", "init"
    std::string old_value;
    std::string new_value;
    std::string who;     // the person, a token's name, "operator"/"admin", "mqtt"
    std::string via;     // "http", "mqtt", "schedule:ID", "stale", "file"
    std::string request; // what the door was asked, cut short
};

// What ended a change: the card accepted the exchange that carried it (at
// the card's answer), or it was rejected, refused, or superseded by a later
// value for the same field.
struct RecordedOutcome {
    std::string board;
    std::uint64_t applied = 0; // the change's seq
    std::string result;        // "accepted", "rejected", "refused", "superseded"
};

// How many months of record the service keeps unless told otherwise.
inline constexpr int kDefaultRecordMonths = 24;
// The longest request text a line keeps.
inline constexpr std::size_t kMaxRecordedRequest = 512;

class ChangeRecord {
public:
    // Opens the record in `folder` (made when missing) and takes up its
    // newest month where it ends: a half-written last line a crash left is
    // cut off (it was never acknowledged), the numbering and the chain go on
    // from the last whole line. Nothing, and why in `error`, when it cannot.
    static std::unique_ptr<ChangeRecord> Open(const std::filesystem::path& folder, int keep_months,
                                              std::string& error);

    // Appends the changes, each a line, all on the disk before it returns:
    // their numbers, or nothing when the record could not be written (the
    // change is then not to be taken).
    std::optional<std::vector<std::uint64_t>> AppendChanges(const std::vector<RecordedChange>& changes,
                                                            SysSeconds at);
    // Appends what ended changes, dated `at` (the card's answer time).
    bool AppendOutcomes(const std::vector<RecordedOutcome>& outcomes, SysSeconds at);

    // Removes the month files older than the kept months before `now`.
    void Prune(SysSeconds now);

    const std::filesystem::path& folder() const { return folder_; }

private:
    ChangeRecord(std::filesystem::path folder, int keep_months);
    // Numbers, dates, chains and writes the lines; the first one's number.
    std::optional<std::uint64_t> AppendLines(std::vector<nlohmann::ordered_json> lines, SysSeconds at);

    std::filesystem::path folder_;
    int keep_months_;
    std::mutex mutex_;
    std::filesystem::path current_; // the month file appended to
    std::unique_ptr<AppendOnlyFile> file_;
    std::uint64_t next_seq_ = 1;
    std::string prev_; // the SHA-256 of the last line
};

// "record-2026-12.jsonl" for a moment in December 2026 (UTC).
std::string RecordFileName(SysSeconds at);

// Walks a record file's chain (and, where the month before lies beside it,
// its first line's link to that month's last): nothing when it holds, or
// where it breaks ("line 12: ..."). `lines` gets the number of lines read.
std::optional<std::string> CheckRecord(const std::filesystem::path& file, std::size_t* lines = nullptr);

// What each record line holds, read back: every whole line of the month
// files in `folder`, oldest first (a half-written last line skipped).
std::vector<nlohmann::ordered_json> ReadRecord(const std::filesystem::path& folder);

} // namespace lumidex
