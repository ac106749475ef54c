#include "settings/profile.h"

#include "settings/file_io.h"
#include "settings/text_codec.h"

#include <optional>

namespace lumidex {
namespace {

constexpr std::string_view kNewLine = "\r\n";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsLineBreak(char c) {
    return c == '\r' || c == '\n';
}

// Where the next CR or LF is at or after pos; npos when there is none.
std::size_t FindLineBreak(std::string_view text, std::size_t pos) {
    for (; pos < text.size(); ++pos) {
        if (IsLineBreak(text[pos])) {
            return pos;
        }
    }
    return std::string_view::npos;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// One line of the file: its text without the line break, and where the
// whole line (break included) lies in the file text.
struct Line {
    std::string_view content;
    std::size_t begin = 0;
    std::size_t end = 0; // one past the line break, if any
    bool has_break = false;
};

// Walks the lines of the file text one by one without copying them. CR LF,
// a lone LF and a lone CR each end one line, so a file written by any editor
// reads the same and no line's text ever holds a CR.
class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {}
    std::optional<Line> Next() {
        if (pos_ >= text_.size()) {
            return std::nullopt;
        }
        Line line;
        line.begin = pos_;
        const std::size_t found = FindLineBreak(text_, pos_);
        if (found == std::string_view::npos) {
            line.end = text_.size();
            line.content = text_.substr(pos_);
        } else {
            const bool crlf =
                text_[found] == '\r' && found + 1 < text_.size() && text_[found + 1] == '\n';
            line.end = found + (crlf ? 2 : 1);
            line.has_break = true;
            line.content = text_.substr(pos_, found - pos_);
        }
        pos_ = line.end;
        return line;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

// The name of a section line ("[name]"), or nothing for any other line.
std::optional<std::string_view> SectionName(std::string_view content) {
    const std::string_view trimmed = Trim(content);
    if (trimmed.empty() || trimmed.front() != '[') {
        return std::nullopt;
    }
    std::string_view name = trimmed.substr(1);
    const std::size_t close = name.find(']');
    if (close != std::string_view::npos) {
        name = name.substr(0, close);
    }
    return Trim(name);
}

struct KeyLine {
    std::string_view name;
    std::string_view value;
};

// The key and value of a key line, or nothing for a comment, a blank line
// or a line without '='.
std::optional<KeyLine> ParseKeyLine(std::string_view content) {
    const std::string_view trimmed = Trim(content);
    if (trimmed.empty() || trimmed.front() == ';') {
        return std::nullopt;
    }
    const std::size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos) {
        return std::nullopt;
    }
    return KeyLine{Trim(trimmed.substr(0, equals)), Trim(trimmed.substr(equals + 1))};
}

std::string_view StripQuotes(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// Where a section stands in the file: its header line and its last line
// that is not blank.
struct SectionPlace {
    Line header;
    Line last_filled;
    std::optional<Line> key_line;
};

std::optional<SectionPlace> FindSection(std::string_view text, std::string_view section,
                                        std::string_view key) {
    LineReader reader(text);
    std::optional<SectionPlace> place;
    while (auto line = reader.Next()) {
        if (auto name = SectionName(line->content)) {
            if (place) {
                break; // the next section ends the first matching one
            }
            if (EqualIgnoringCase(*name, section)) {
                place = SectionPlace{*line, *line, std::nullopt};
            }
            continue;
        }
        if (!place) {
            continue;
        }
        if (!Trim(line->content).empty()) {
            place->last_filled = *line;
        }
        if (!place->key_line) {
            if (auto entry = ParseKeyLine(line->content);
                entry && EqualIgnoringCase(entry->name, key)) {
                place->key_line = *line;
            }
        }
    }
    return place;
}

std::string CutToSize(std::string_view value, std::size_t size) {
    if (size == 0) {
        return {};
    }
    return std::string(FirstCharacters(value, size - 1));
}

std::string SingleLine(std::string_view value) {
    std::string line(value);
    for (char& c : line) {
        if (IsLineBreak(c)) {
            c = ' ';
        }
    }
    return line;
}

// The line break that lines added to the file get: the file's first one, so
// a file keeps its own kind of line ends; CR LF for a file without any.
std::string_view LineBreakOf(std::string_view text) {
    const std::size_t found = FindLineBreak(text, 0);
    if (found == std::string_view::npos) {
        return kNewLine;
    }
    if (text[found] == '\n') {
        return "\n";
    }
    return found + 1 < text.size() && text[found + 1] == '\n' ? "\r\n" : "\r";
}

} // namespace

bool AreWritableNames(std::string_view section, std::string_view key) {
    const auto has_break = [](std::string_view name) {
        return name.find_first_of("\r\n") != std::string_view::npos;
    };
    if (has_break(section) || has_break(key) || section.find(']') != std::string_view::npos ||
        key.find('=') != std::string_view::npos) {
        return false;
    }
    // A key line starting like this would read as a section line or a comment.
    const std::string_view trimmed_key = Trim(key);
    return trimmed_key.empty() || (trimmed_key.front() != '[' && trimmed_key.front() != ';');
}

std::vector<SettingName> ListSettingNames(std::string_view text) {
    std::vector<SettingName> names;
    std::string section;
    LineReader reader(text);
    std::size_t number = 0;
    while (auto line = reader.Next()) {
        ++number;
        if (auto name = SectionName(line->content)) {
            section = std::string(*name);
            names.push_back({section, {}, number});
        } else if (auto entry = ParseKeyLine(line->content)) {
            names.push_back({section, std::string(entry->name), number});
        }
    }
    return names;
}

std::string ReadSettingFromText(std::string_view text, std::string_view section,
                                std::string_view key, std::string_view fallback, std::size_t size) {
    const auto place = FindSection(text, Trim(section), Trim(key));
    if (!place || !place->key_line) {
        return CutToSize(fallback, size);
    }
    const auto entry = ParseKeyLine(place->key_line->content);
    return CutToSize(StripQuotes(entry->value), size);
}

std::string WriteSettingToText(std::string_view text, std::string_view section,
                               std::string_view key, std::string_view value) {
    if (!AreWritableNames(section, key)) {
        return std::string(text);
    }
    section = Trim(section);
    key = Trim(key);
    const std::string_view line_break = LineBreakOf(text);
    const std::string key_line = std::string(key) + "=" + SingleLine(value);
    const auto place = FindSection(text, section, key);
    std::string out;
    out.reserve(text.size() + key_line.size() + section.size() + 8);
    if (!place) {
        out.append(text);
        if (!out.empty() && !IsLineBreak(out.back())) {
            out.append(line_break);
        }
        out.append("[").append(section).append("]").append(line_break);
        out.append(key_line).append(line_break);
        return out;
    }
    if (place->key_line) {
        const Line& line = *place->key_line;
        out.append(text.substr(0, line.begin));
        out.append(key_line);
        out.append(text.substr(line.begin + line.content.size()));
        return out;
    }
    const Line& after = place->last_filled;
    out.append(text.substr(0, after.end));
    if (!after.has_break) {
        out.append(line_break);
    }
    const std::string_view rest = text.substr(after.end);
    // A lone CR right before an LF would pair with it and swallow that line.
    const bool would_pair = line_break == "\r" && rest.starts_with('\n');
    out.append(key_line).append(would_pair ? kNewLine : line_break);
    out.append(rest);
    return out;
}

std::string ReadSetting(const std::filesystem::path& file, std::string_view section,
                        std::string_view key, std::string_view fallback, std::size_t size) {
    const auto bytes = ReadWholeFile(file);
    if (!bytes) {
        return CutToSize(fallback, size);
    }
    return ReadSettingFromText(DecodeSettingsText(*bytes).text, section, key, fallback, size);
}

bool WriteSetting(const std::filesystem::path& file, std::string_view section, std::string_view key,
                  std::string_view value) {
    return StoreSetting(file, section, key, value) == WriteOutcome::Written;
}

std::string LockedReason(const std::filesystem::path& file) {
    return "its lock " + SettingsLockFile(file).string() + " is held by another program";
}

WriteOutcome StoreSetting(const std::filesystem::path& file, std::string_view section,
                          std::string_view key, std::string_view value,
                          std::chrono::milliseconds lock_wait) {
    const SettingWrite write{section, key, value};
    return StoreSettings(file, std::span(&write, 1), lock_wait);
}

WriteOutcome StoreSettings(const std::filesystem::path& file, std::span<const SettingWrite> writes,
                           std::chrono::milliseconds lock_wait) {
    if (writes.empty()) {
        return WriteOutcome::Written;
    }
    for (const SettingWrite& write : writes) {
        if (!AreWritableNames(write.section, write.key)) {
            return WriteOutcome::Failed;
        }
    }
    // The whole read-modify-write runs under the file's lock, so a second
    // writer (another copy of the program, a script) cannot replace the file
    // between this read and this write and have its keys lost.
    return RewriteFile(
        file,
        [&](std::string_view bytes) -> std::optional<std::string> {
            const DecodedText decoded = DecodeSettingsText(bytes);
            std::string text = decoded.text;
            for (const SettingWrite& write : writes) {
                text = WriteSettingToText(text, write.section, write.key, write.value);
            }
            std::string encoded = EncodeSettingsText(text, decoded.encoding);
            if (encoded.size() > kMaxSettingsFileBytes) {
                return std::nullopt; // no reader could read it back
            }
            return encoded;
        },
        lock_wait);
}

} // namespace lumidex
