#pragma once

// The change record: every change the service accepts, who asked for it,
// through which door, what it was before, and when the board showed it.
// One JSON object per line, in one file per month ("record-2026-12.jsonl")
// in the record's folder; each carries "prev", the SHA-256 of the line
// before it, so an edited or removed line shows (CheckRecord). A line is
// written when it is appended (a killed service loses none) and brought to
// the disk by the record's own thread, so that the sync runs beside the
// exchange a change waits for; WaitDurable is what a door waits for before
// it answers. Nothing here deletes or changes a line; whole months past the
// kept number are removed.
#include "boards/time_zone.h"
#include "settings/file_io.h"

#include <nlohmann/json.hpp>

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
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
    // Brings what is written to the disk and stops the record's thread.
    ~ChangeRecord();
    ChangeRecord(const ChangeRecord&) = delete;
    ChangeRecord& operator=(const ChangeRecord&) = delete;

    // The lines appended, as written, with the first one's number.
    struct Appended {
        std::uint64_t first = 0;
        std::vector<std::string> lines;
        std::uint64_t last() const { return first + lines.size() - 1; }
    };
    // Appends the changes, each a line dated `at`; nothing when the record
    // cannot be written (the change is then not to be taken).
    std::optional<Appended> AppendChanges(const std::vector<RecordedChange>& changes, SysSeconds at);
    // Appends what ended changes, dated `at` (the card's answer time).
    std::optional<Appended> AppendOutcomes(const std::vector<RecordedOutcome>& outcomes, SysSeconds at);
    // Waits until the line numbered `seq` and every one before it are on
    // the disk; false when they cannot be brought there.
    bool WaitDurable(std::uint64_t seq);

    // Removes the month files older than the kept months before `now`.
    void Prune(SysSeconds now);

    const std::filesystem::path& folder() const { return folder_; }

private:
    ChangeRecord(std::filesystem::path folder, int keep_months);
    std::optional<Appended> AppendLines(std::vector<nlohmann::ordered_json> lines, SysSeconds at);
    // The record's thread: syncs whatever was written since the last sync.
    void Sync();

    std::filesystem::path folder_;
    int keep_months_;
    std::mutex mutex_;
    std::filesystem::path current_; // the month file appended to
    std::shared_ptr<AppendOnlyFile> file_;
    std::uint64_t next_seq_ = 1;
    std::string prev_; // the SHA-256 of the last line
    // Lines up to `durable_` are on the disk; a failed sync breaks the
    // record for good (what it held may be lost: nothing more is taken).
    std::uint64_t durable_ = 0;
    bool broken_ = false;
    bool stopping_ = false;
    std::condition_variable written_cv_;
    std::condition_variable durable_cv_;
    std::thread syncer_;
};

// "record-2026-12.jsonl" for a moment in December 2026 (UTC).
std::string RecordFileName(SysSeconds at);

// Walks a record file's chain (and, where the month before lies beside it,
// its first line's link to that month's last): nothing when it holds, or
// where it breaks ("line 12: ..."). `lines` gets the number of lines read.
std::optional<std::string> CheckRecord(const std::filesystem::path& file, std::size_t* lines = nullptr);

// What each record line holds, read back: every whole line of the month
// files in `folder` from the month of `since` on (all when nothing), oldest
// first (a half-written last line skipped).
std::vector<nlohmann::ordered_json> ReadRecord(const std::filesystem::path& folder,
                                               std::optional<SysSeconds> since = std::nullopt);

// Which changes a reader asks for.
struct RecordQuery {
    std::string board;                      // empty: every board
    std::optional<SysSeconds> since, until; // changes made at or after, at or before
    std::size_t limit = 100;                // the latest this many of them
};
inline constexpr std::size_t kMostRecordEntries = 100000;

// The changes among the record's lines that the query asks for, oldest
// first, each joined with what ended it: "result" (the last outcome;
// null while none came) and "applied_at" (when the card took it; null
// unless it did). "prev" is left out: it is the file's, not the change's.
std::vector<nlohmann::ordered_json> JoinRecord(const std::vector<nlohmann::ordered_json>& lines,
                                               const RecordQuery& query);

// The columns of the record as CSV, in order.
inline constexpr const char* kRecordColumns[] = {"seq", "at",  "board", "field",      "old",   "new",
                                                 "who", "via", "request", "applied_at", "result"};
// Joined entries as CSV (RFC 4180, UTF-8, lines ended by CR LF) with a
// header row: times in ISO 8601 UTC, an empty cell for a null.
std::string RecordCsv(const std::vector<nlohmann::ordered_json>& entries);

} // namespace lumidex
