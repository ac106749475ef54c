#include "fuzz/fuzz_support.h"

#include "protocol/content_frame.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace lumidex::fuzz {

std::vector<std::string_view> SplitFields(const std::uint8_t* data, std::size_t size,
                                          std::size_t count) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> fields;
    fields.reserve(count);
    while (fields.size() + 1 < count) {
        const std::size_t zero = rest.find('\0');
        if (zero == std::string_view::npos) {
            fields.push_back(rest);
            rest = {};
        } else {
            fields.push_back(rest.substr(0, zero));
            rest.remove_prefix(zero + 1);
        }
    }
    fields.push_back(rest);
    return fields;
}

void PropertyBroken(std::string_view property, std::string_view details) {
    std::fprintf(stderr, "\n*** property broken: %.*s\n%.*s\n", static_cast<int>(property.size()),
                 property.data(), static_cast<int>(details.size()), details.data());
    std::abort();
}

std::optional<Frame> RebuildFrame(const DecodedFrame& decoded) {
    switch (decoded.command) {
    case kContentNow:
    case kContentAtHour: {
        ContentRecord record;
        record.address = decoded.address;
        record.update_index = decoded.at_once ? 0 : decoded.hour_code;
        for (ContentLine& line : record.lines) {
            line.included = false;
        }
        for (const DecodedLine& shown : decoded.lines) {
            if (shown.line < 1 || shown.line > kLineCount) {
                return std::nullopt;
            }
            ContentLine& line = record.lines[static_cast<std::size_t>(shown.line - 1)];
            line.included = true;
            line.digit_count = shown.digit_count;
            line.text = shown.text;
            line.flicker = shown.flicker;
        }
        return EncodeContentFrame(record).frame;
    }
    case kBrightness:
        return BuildBrightnessFrame(decoded.address, static_cast<std::uint8_t>(decoded.day_level),
                                    static_cast<std::uint8_t>(decoded.night_level));
    case kClockCalibration: {
        ClockTime time = decoded.clock;
        time.weekday %= 7; // the wire counts Sunday as 7, the builder as 0
        return BuildClockFrame(decoded.address, time);
    }
    case kInitialise:
        // The program only ever sends it to every controller; a controller
        // takes it at any address, so the address is kept as received.
        return BuildEnvelope(decoded.address, kInitialise, {});
    default:
        return std::nullopt;
    }
}

const std::filesystem::path& ScratchSettingsPath() {
    static const std::filesystem::path path = [] {
        std::string pattern = std::filesystem::temp_directory_path() / "lumidex-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            PropertyBroken("a temporary directory can be made", pattern);
        }
        static const std::filesystem::path dir = pattern;
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        });
        return dir / "Config.ini";
    }();
    return path;
}

std::string Printable(std::string_view text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        }
    }
    return out;
}

std::string_view TrimBlanks(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (blank(text.back()) || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

void CollectNames(std::string_view text, std::size_t max_names, std::set<std::string>& sections,
                  std::set<std::string>& keys) {
    std::size_t pos = 0;
    while (pos < text.size() && (sections.size() < max_names || keys.size() < max_names)) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view line = TrimBlanks(text.substr(pos, end - pos));
        if (line.starts_with('[') && sections.size() < max_names) {
            sections.emplace(TrimBlanks(line.substr(1, line.find(']') - 1)));
        } else if (const std::size_t equals = line.find('=');
                   equals != std::string_view::npos && keys.size() < max_names) {
            keys.emplace(TrimBlanks(line.substr(0, equals)));
        }
        pos = end + 1;
    }
}

} // namespace lumidex::fuzz
