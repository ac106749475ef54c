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

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r')) {
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

// Walks the lines of the file text one by one without copying them.
class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {}
    std::optional<Line> Next() {
        if (pos_ >= text_.size()) {
            return std::nullopt;
        }
        Line line;
        line.begin = pos_;
        const std::size_t newline = text_.find('\n', pos_);
        if (newline == std::string_view::npos) {
            line.end = text_.size();
        } else {
            line.end = newline + 1;
            line.has_break = true;
        }
        std::string_view content = text_.substr(pos_, (line.has_break ? newline : line.end) - pos_);
        if (!content.empty() && content.back() == '\r') {
            content.remove_suffix(1);
        }
        line.content = content;
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
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return line;
}

} // namespace

std::string ReadSettingFromText(std::string_view text, std::string_view section,
                                std::string_view key, std::string_view fallback, std::size_t size) {
    const auto place = FindSection(text, section, key);
    if (!place || !place->key_line) {
        return CutToSize(fallback, size);
    }
    const auto entry = ParseKeyLine(place->key_line->content);
    return CutToSize(StripQuotes(entry->value), size);
}

std::string WriteSettingToText(std::string_view text, std::string_view section,
                               std::string_view key, std::string_view value) {
    const std::string key_line = std::string(key) + "=" + SingleLine(value);
    const auto place = FindSection(text, section, key);
    std::string out;
    out.reserve(text.size() + key_line.size() + section.size() + 8);
    if (!place) {
        out.append(text);
        if (!out.empty() && out.back() != '\n') {
            out.append(kNewLine);
        }
        out.append("[").append(section).append("]").append(kNewLine);
        out.append(key_line).append(kNewLine);
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
        out.append(kNewLine);
    }
    out.append(key_line).append(kNewLine);
    out.append(text.substr(after.end));
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
    const auto bytes = ReadWholeFile(file);
    std::error_code ec;
    if (!bytes && std::filesystem::exists(file, ec)) {
        return false; // there but unreadable: rewriting it would lose its keys
    }
    const DecodedText decoded = bytes ? DecodeSettingsText(*bytes) : DecodedText{};
    const std::string text = WriteSettingToText(decoded.text, section, key, value);
    return ReplaceFileDurably(file, EncodeSettingsText(text, decoded.encoding));
}

} // namespace lumidex
