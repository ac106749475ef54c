#include "boards/change_record.h"

#include "boards/sha256.h"
#include "settings/text_codec.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>

namespace lumidex {
namespace {

using Json = nlohmann::ordered_json;

// The first line's "prev": no line came before it.
const std::string kNoLineBefore(64, '0');

std::string TwoDigits(unsigned value) {
    return (value < 10 ? "0" : "") + std::to_string(value);
}

// A month file's name, or nothing for any other.
bool IsMonthFile(const std::string& name) {
    // record-YYYY-MM.jsonl
    return name.size() == 20 && name.starts_with("record-") && name.ends_with(".jsonl") &&
           name[11] == '-' &&
           std::all_of(name.begin() + 7, name.begin() + 11, [](char c) { return c >= '0' && c <= '9'; }) &&
           std::all_of(name.begin() + 12, name.begin() + 14, [](char c) { return c >= '0' && c <= '9'; });
}

// The month files in the folder, oldest first.
std::vector<std::filesystem::path> MonthFiles(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (IsMonthFile(entry.path().filename().string())) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::optional<std::string> ReadBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The whole lines of a file's text (each ended by a line break); a last
// line without one was cut short by a crash and is no record.
std::vector<std::string_view> WholeLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string_view::npos; end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The last whole line of a month file; nothing when it has none.
std::optional<std::string> LastLine(const std::filesystem::path& file) {
    const auto bytes = ReadBytes(file);
    if (!bytes) {
        return std::nullopt;
    }
    const auto lines = WholeLines(*bytes);
    if (lines.empty()) {
        return std::nullopt;
    }
    return std::string(lines.back());
}

// The file of the month before the file's own, beside it.
std::filesystem::path MonthBefore(const std::filesystem::path& file) {
    const std::string name = file.filename().string();
    int year = std::stoi(name.substr(7, 4));
    int month = std::stoi(name.substr(12, 2)) - 1;
    if (month == 0) {
        month = 12;
        --year;
    }
    return file.parent_path() /
           ("record-" + std::to_string(year) + "-" + TwoDigits(static_cast<unsigned>(month)) + ".jsonl");
}

std::string LineText(const Json& line) {
    return line.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace

std::string RecordFileName(SysSeconds at) {
    const std::chrono::year_month_day date{std::chrono::floor<std::chrono::days>(at)};
    return "record-" + std::to_string(static_cast<int>(date.year())) + "-" +
           TwoDigits(static_cast<unsigned>(date.month())) + ".jsonl";
}

ChangeRecord::ChangeRecord(std::filesystem::path folder, int keep_months)
    : folder_(std::move(folder)), keep_months_(keep_months), prev_(kNoLineBefore) {}

std::unique_ptr<ChangeRecord> ChangeRecord::Open(const std::filesystem::path& folder, int keep_months,
                                                 std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (!std::filesystem::is_directory(folder, ec)) {
        error = "cannot make the record's folder " + folder.string();
        return nullptr;
    }
    std::unique_ptr<ChangeRecord> record(new ChangeRecord(folder, keep_months));
    const auto files = MonthFiles(folder);
    if (files.empty()) {
        record->syncer_ = std::thread([raw = record.get()] { raw->Sync(); });
        return record;
    }
    // The newest month goes on where its last whole line ends.
    const auto bytes = ReadBytes(files.back());
    if (!bytes) {
        error = "cannot read " + files.back().string();
        return nullptr;
    }
    record->file_ = OpenAppendOnly(files.back(), error);
    if (!record->file_) {
        return nullptr;
    }
    record->current_ = files.back();
    const std::size_t whole = bytes->rfind('\n') == std::string::npos ? 0 : bytes->rfind('\n') + 1;
    if (whole < bytes->size() && !record->file_->Truncate(whole)) {
        error = "cannot cut the half-written last line of " + files.back().string();
        return nullptr;
    }
    for (auto file = files.rbegin(); file != files.rend(); ++file) {
        if (const auto last = LastLine(*file)) {
            record->prev_ = Sha256Hex(*last);
            const Json parsed = Json::parse(*last, nullptr, false);
            if (parsed.is_object() && parsed.contains("seq") && parsed["seq"].is_number_unsigned()) {
                record->next_seq_ = parsed["seq"].get<std::uint64_t>() + 1;
            }
            break;
        }
    }
    record->durable_ = record->next_seq_ - 1;
    record->syncer_ = std::thread([raw = record.get()] { raw->Sync(); });
    return record;
}

ChangeRecord::~ChangeRecord() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    written_cv_.notify_all();
    if (syncer_.joinable()) {
        syncer_.join();
    }
}

void ChangeRecord::Sync() {
    std::unique_lock lock(mutex_);
    for (;;) {
        written_cv_.wait(lock, [&] { return stopping_ || (!broken_ && durable_ + 1 < next_seq_); });
        if (broken_ || durable_ + 1 >= next_seq_) {
            return; // stopping, with nothing left to sync
        }
        const std::uint64_t upto = next_seq_ - 1;
        const std::shared_ptr<AppendOnlyFile> file = file_;
        lock.unlock();
        const bool synced = file->Sync();
        lock.lock();
        if (synced) {
            durable_ = std::max(durable_, upto);
        } else {
            broken_ = true;
        }
        durable_cv_.notify_all();
    }
}

bool ChangeRecord::WaitDurable(std::uint64_t seq) {
    std::unique_lock lock(mutex_);
    durable_cv_.wait(lock, [&] { return durable_ >= seq || broken_; });
    return durable_ >= seq;
}

std::optional<ChangeRecord::Appended> ChangeRecord::AppendLines(std::vector<Json> lines, SysSeconds at) {
    std::unique_lock lock(mutex_);
    if (broken_) {
        return std::nullopt;
    }
    const std::filesystem::path month = folder_ / RecordFileName(at);
    if (!file_ || month != current_) {
        std::string error;
        auto opened = OpenAppendOnly(month, error);
        if (!opened) {
            return std::nullopt;
        }
        // The month before is on the disk whole before the new one begins.
        if (file_ && durable_ + 1 < next_seq_) {
            if (!file_->Sync()) {
                broken_ = true;
                durable_cv_.notify_all();
                return std::nullopt;
            }
            durable_ = next_seq_ - 1;
            durable_cv_.notify_all();
        }
        file_ = std::move(opened);
        current_ = month;
    }
    Appended appended{next_seq_, {}};
    std::string bytes;
    std::string prev = prev_;
    std::uint64_t seq = next_seq_;
    for (Json& line : lines) {
        Json ordered;
        ordered["seq"] = seq++;
        ordered["at"] = IsoUtc(at);
        for (auto& [key, value] : line.items()) {
            ordered[key] = std::move(value);
        }
        ordered["prev"] = prev;
        std::string text = LineText(ordered);
        prev = Sha256Hex(text);
        bytes += text + "\n";
        appended.lines.push_back(std::move(text));
    }
    const std::uint64_t size = file_->Size();
    if (!file_->Write(bytes)) {
        // Nothing of it counts: a part that reached the file is cut off.
        file_->Truncate(size);
        return std::nullopt;
    }
    prev_ = prev;
    next_seq_ = seq;
    written_cv_.notify_one();
    return appended;
}

std::optional<ChangeRecord::Appended> ChangeRecord::AppendChanges(const std::vector<RecordedChange>& changes,
                                                                 SysSeconds at) {
    std::vector<Json> lines;
    for (const RecordedChange& change : changes) {
        Json line;
        line["board"] = change.board;
        line["field"] = change.field;
        line["old"] = change.old_value;
        line["new"] = change.new_value;
        line["who"] = change.who;
        line["via"] = change.via;
        line["request"] = CutWithEllipsis(change.request, kMaxRecordedRequest);
        lines.push_back(std::move(line));
    }
    return AppendLines(std::move(lines), at);
}

std::optional<ChangeRecord::Appended> ChangeRecord::AppendOutcomes(const std::vector<RecordedOutcome>& outcomes,
                                                                  SysSeconds at) {
    std::vector<Json> lines;
    for (const RecordedOutcome& outcome : outcomes) {
        lines.push_back(Json{{"board", outcome.board}, {"applied", outcome.applied}, {"result", outcome.result}});
    }
    return AppendLines(std::move(lines), at);
}

void ChangeRecord::Prune(SysSeconds now) {
    const std::chrono::year_month_day date{std::chrono::floor<std::chrono::days>(now)};
    // The oldest month kept: this one and the keep_months - 1 before it.
    const auto oldest = std::chrono::year_month{date.year(), date.month()} -
                        std::chrono::months{std::max(keep_months_, 1) - 1};
    const std::string first_kept = "record-" + std::to_string(static_cast<int>(oldest.year())) + "-" +
                                   TwoDigits(static_cast<unsigned>(oldest.month())) + ".jsonl";
    std::lock_guard lock(mutex_);
    for (const auto& file : MonthFiles(folder_)) {
        if (file.filename().string() < first_kept && file != current_) {
            std::error_code ec;
            std::filesystem::remove(file, ec);
        }
    }
}

std::optional<std::string> CheckRecord(const std::filesystem::path& file, std::size_t* count) {
    const auto bytes = ReadBytes(file);
    if (!bytes) {
        return "cannot read " + file.string();
    }
    const auto lines = WholeLines(*bytes);
    if (count != nullptr) {
        *count = lines.size();
    }
    std::optional<std::string> prev;
    std::optional<std::uint64_t> seq;
    if (IsMonthFile(file.filename().string())) {
        std::error_code ec;
        if (std::filesystem::exists(MonthBefore(file), ec)) {
            // The month before beside it: its last line is the one this
            // file's first names (none: the record began here).
            prev = kNoLineBefore;
            seq = 0;
            if (const auto last = LastLine(MonthBefore(file))) {
                prev = Sha256Hex(*last);
                const Json parsed = Json::parse(*last, nullptr, false);
                if (parsed.is_object() && parsed.value("seq", Json()).is_number_unsigned()) {
                    seq = parsed["seq"].get<std::uint64_t>();
                }
            }
        }
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string where = "line " + std::to_string(i + 1) + ": ";
        const Json line = Json::parse(lines[i], nullptr, false);
        if (!line.is_object() || !line.contains("prev") || !line["prev"].is_string() ||
            !line.contains("seq") || !line["seq"].is_number_unsigned()) {
            return where + "not a record line";
        }
        const std::string says = line["prev"].get<std::string>();
        const std::uint64_t number = line["seq"].get<std::uint64_t>();
        if (prev && says != *prev) {
            return where + "its prev is not the hash of the line before it: a line was edited, "
                           "removed or put in between";
        }
        if (!prev && i == 0 && number == 1 && says != kNoLineBefore) {
            return where + "the first line of the record names a line before it";
        }
        if (seq && number != *seq + 1) {
            return where + "seq " + std::to_string(number) + " follows " + std::to_string(*seq);
        }
        prev = Sha256Hex(lines[i]);
        seq = number;
    }
    return std::nullopt;
}

std::vector<Json> ReadRecord(const std::filesystem::path& folder, std::optional<SysSeconds> since) {
    const std::string first = since ? RecordFileName(*since) : std::string();
    std::vector<Json> all;
    for (const auto& file : MonthFiles(folder)) {
        if (file.filename().string() < first) {
            continue;
        }
        const auto bytes = ReadBytes(file);
        if (!bytes) {
            continue;
        }
        for (const std::string_view text : WholeLines(*bytes)) {
            Json line = Json::parse(text, nullptr, false);
            if (line.is_object()) {
                all.push_back(std::move(line));
            }
        }
    }
    return all;
}

std::vector<Json> JoinRecord(const std::vector<Json>& lines, const RecordQuery& query) {
    std::vector<Json> entries;
    std::map<std::uint64_t, std::size_t> at_seq; // a change's seq: its place in entries
    const auto within = [&](const Json& line) {
        const auto at = ParseIsoUtc(line.value("at", std::string()));
        return at && (!query.since || *at >= *query.since) && (!query.until || *at <= *query.until);
    };
    for (const Json& line : lines) {
        if (!query.board.empty() && line.value("board", std::string()) != query.board) {
            continue;
        }
        if (line.contains("field")) {
            if (!within(line) || !line.contains("seq")) {
                continue;
            }
            Json entry;
            for (const char* key : {"seq", "at", "board", "field", "old", "new", "who", "via", "request"}) {
                entry[key] = line.value(key, Json());
            }
            entry["applied_at"] = nullptr;
            entry["result"] = nullptr;
            at_seq[line["seq"].get<std::uint64_t>()] = entries.size();
            entries.push_back(std::move(entry));
        } else if (line.contains("applied") && line["applied"].is_number_unsigned()) {
            const auto found = at_seq.find(line["applied"].get<std::uint64_t>());
            if (found == at_seq.end()) {
                continue;
            }
            Json& entry = entries[found->second];
            const std::string result = line.value("result", std::string());
            entry["result"] = result;
            entry["applied_at"] = result == "accepted" || result == "broadcast sent" ? line.value("at", Json())
                                                                                     : Json();
        }
    }
    const std::size_t limit = std::min(query.limit, kMostRecordEntries);
    if (entries.size() > limit) {
        entries.erase(entries.begin(), entries.end() - static_cast<std::ptrdiff_t>(limit));
    }
    return entries;
}

std::string RecordCsv(const std::vector<Json>& entries) {
    const auto cell = [](const Json& value) {
        std::string text = value.is_string() ? value.get<std::string>() : value.is_null() ? "" : value.dump();
        if (text.find_first_of(",\"\r\n") == std::string::npos) {
            return text;
        }
        std::string quoted = "\"";
        for (const char c : text) {
            quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
        }
        return quoted + "\"";
    };
    std::string csv;
    for (const char* column : kRecordColumns) {
        csv += std::string(csv.empty() ? "" : ",") + column;
    }
    csv += "\r\n";
    for (const Json& entry : entries) {
        bool first = true;
        for (const char* column : kRecordColumns) {
            csv += (first ? "" : ",") + cell(entry.value(column, Json()));
            first = false;
        }
        csv += "\r\n";
    }
    return csv;
}

} // namespace lumidex
