#include "boards/boards_file_write.h"

#include "settings/profile.h"
#include "settings/text_codec.h"

#include <algorithm>
#include <optional>

namespace lumidex {
namespace {

// Where each line of the text starts, as the settings reader counts lines
// (CR LF, a lone LF and a lone CR each end one), and the text's end last.
std::vector<std::size_t> LineStarts(std::string_view text) {
    std::vector<std::size_t> starts{0};
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
        }
        if (text[i] == '\n' || text[i] == '\r') {
            starts.push_back(i + 1);
        }
    }
    if (starts.back() != text.size()) {
        starts.push_back(text.size());
    }
    return starts;
}

} // namespace

std::string StoreBoardKeysInText(std::string_view text, std::string_view board,
                                 const std::vector<std::pair<std::string, std::string>>& keys) {
    std::string out(text);
    for (const auto& [key, value] : keys) {
        std::optional<std::size_t> last; // the section's last name line
        bool found = false;
        for (const SettingName& name : ListSettingNames(out)) {
            if (EqualIgnoringCase(name.section, board)) {
                if (name.key.empty() && last) {
                    break; // the section again: the reader uses the first
                }
                last = name.line;
                found |= EqualIgnoringCase(name.key, key);
            } else if (last && name.key.empty()) {
                break;
            }
        }
        if (!last || found) {
            out = WriteSettingToText(out, board, key, value);
            continue;
        }
        // A new key follows the section's last key rather than its last
        // line: the comments below that speak of the next section.
        const std::size_t crlf = out.find("\r\n");
        const std::size_t lf = out.find_first_of("\r\n");
        const std::string_view line_break =
            lf == std::string::npos || crlf == lf ? "\r\n" : (out[lf] == '\r' ? "\r" : "\n");
        std::string line = key + "=" + value;
        std::replace_if(
            line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
        const std::vector<std::size_t> starts = LineStarts(out);
        const std::size_t at = *last < starts.size() ? starts[*last] : out.size();
        const bool ends_line = at > 0 && (out[at - 1] == '\n' || out[at - 1] == '\r');
        out.insert(at, ends_line ? line + std::string(line_break) : std::string(line_break) + line);
    }
    return out;
}

WriteOutcome StoreBoardKeys(const std::filesystem::path& file, std::string_view board,
                            const std::vector<std::pair<std::string, std::string>>& keys) {
    if (keys.empty()) {
        return WriteOutcome::Written;
    }
    return RewriteFile(file, [&](std::string_view bytes) -> std::optional<std::string> {
        const DecodedText decoded = DecodeSettingsText(bytes);
        return EncodeSettingsText(StoreBoardKeysInText(decoded.text, board, keys),
                                  decoded.encoding);
    });
}

std::string RemoveSectionFromText(std::string_view text, std::string_view section) {
    std::optional<std::size_t> header;
    std::size_t last = 0;
    for (const SettingName& name : ListSettingNames(text)) {
        if (!EqualIgnoringCase(name.section, section)) {
            if (header && name.key.empty()) {
                break; // the next section
            }
            continue;
        }
        if (name.key.empty() && !header) {
            header = name.line;
        }
        last = name.line;
    }
    if (!header) {
        return std::string(text);
    }
    const std::vector<std::size_t> starts = LineStarts(text);
    // Lines count from 1; line n spans starts[n - 1] .. starts[n].
    const std::size_t begin = starts[*header - 1];
    const std::size_t end = last < starts.size() ? starts[last] : text.size();
    return std::string(text.substr(0, begin)) + std::string(text.substr(end));
}

WriteOutcome RemoveBoardSection(const std::filesystem::path& file, std::string_view board) {
    return RewriteFile(file, [&](std::string_view bytes) -> std::optional<std::string> {
        const DecodedText decoded = DecodeSettingsText(bytes);
        return EncodeSettingsText(RemoveSectionFromText(decoded.text, board), decoded.encoding);
    });
}

} // namespace lumidex
