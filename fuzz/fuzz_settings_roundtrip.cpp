// Writes one key into an arbitrary settings file and reads the file back.
//
// Input: section, key, value and the file's bytes, separated by zero bytes.
// The file is decoded as the program decodes it (8-bit, UTF-8 or UTF-16LE
// with their byte-order marks), changed, encoded in its own form again and
// decoded once more, as a write followed by a read does.
//
// Properties: names the writer refuses leave the text as it was; otherwise
// the written key reads back its value as the file keeps it (line breaks
// blanked, blanks around it and one pair of quotes dropped, as every read
// does), and every other key, of the system's table or named in the file,
// reads the same before and after.

#include "fuzz/fuzz_support.h"

#include "settings/keys.h"
#include "settings/profile.h"
#include "settings/text_codec.h"

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

using namespace lumidex;

namespace {

constexpr std::string_view kFallback = "\x01"
                                       "fallback";
constexpr std::size_t kRoomy = 1 << 16;
constexpr std::size_t kMaxNames = 6;

// Text as the file keeps it: a UTF-16 file has no stray bytes, and a UTF-8
// file without a byte-order mark writes each of them as "?".
std::string AsFileKeepsIt(std::string_view text, TextEncoding encoding) {
    if (encoding == TextEncoding::Utf16Le) {
        return DecodeSettingsText(EncodeSettingsText(text, encoding)).text;
    }
    if (encoding == TextEncoding::Local8Bit) {
        return EncodeSettingsText(text, encoding);
    }
    return std::string(text);
}

// A name must be text the file can hold (UTF-16 has no stray bytes, a UTF-8
// file stays valid UTF-8), or a read would look for characters the file lost
// on the way.
bool FileHoldsName(std::string_view name, TextEncoding encoding) {
    return AsFileKeepsIt(name, encoding) == name;
}

// The value a read gives after the write: the file holds it on one line in
// its own encoding, and a read drops the blanks around it and one pair of
// enclosing quotes.
std::string ValueAsReadBack(std::string_view value, TextEncoding encoding) {
    std::string line(value);
    for (char& c : line) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    line = AsFileKeepsIt(line, encoding);
    std::string_view kept = fuzz::TrimBlanks(line);
    if (kept.size() >= 2 && (kept.front() == '"' || kept.front() == '\'') &&
        kept.back() == kept.front()) {
        kept = kept.substr(1, kept.size() - 2);
    }
    return std::string(kept);
}


} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fields = fuzz::SplitFields(data, size, 4);
    const std::string_view section = fields[0];
    const std::string_view key = fields[1];
    const std::string_view value = fields[2];
    const DecodedText before = DecodeSettingsText(fields[3]);
    if (!AreWritableNames(section, key)) {
        fuzz::Require(WriteSettingToText(before.text, section, key, value) == before.text,
                      "a write with refused names changes nothing",
                      [&] { return "[" + fuzz::Printable(section) + "] " + fuzz::Printable(key); });
        return 0;
    }
    // A file in a legacy code page is told from UTF-8 by its bytes alone, so
    // a write can tip it either way; only the other forms are round-tripped.
    if (before.encoding == TextEncoding::LegacyCodePage) {
        return 0;
    }
    if (!FileHoldsName(section, before.encoding) || !FileHoldsName(key, before.encoding)) {
        return 0;
    }
    const std::string written = WriteSettingToText(before.text, section, key, value);
    const std::string after = DecodeSettingsText(EncodeSettingsText(written, before.encoding)).text;
    const auto what = [&] {
        return "write [" + fuzz::Printable(section) + "] " + fuzz::Printable(key) + "=" +
               fuzz::Printable(value) + " into \"" + fuzz::Printable(before.text) + "\" gives \"" +
               fuzz::Printable(written) + "\"";
    };

    const std::string read_back = ReadSettingFromText(after, section, key, kFallback, kRoomy);
    fuzz::Require(read_back == ValueAsReadBack(value, before.encoding),
                  "the written key reads back its value",
                  [&] { return what() + "\nread back \"" + fuzz::Printable(read_back) + "\""; });

    std::vector<std::pair<std::string, std::string>> probes;
    for (const SettingKey& k : AllSettingKeys()) {
        probes.emplace_back(k.section, k.name);
    }
    std::set<std::string> sections;
    std::set<std::string> keys;
    fuzz::CollectNames(before.text, kMaxNames, sections, keys);
    sections.emplace(section);
    for (const std::string& s : sections) {
        for (const std::string& k : keys) {
            probes.emplace_back(s, k);
        }
    }
    for (const auto& probe : probes) {
        const std::string& s = probe.first;
        const std::string& k = probe.second;
        if (EqualIgnoringCase(fuzz::TrimBlanks(s), fuzz::TrimBlanks(section)) &&
            EqualIgnoringCase(fuzz::TrimBlanks(k), fuzz::TrimBlanks(key))) {
            continue;
        }
        const std::string old_value = ReadSettingFromText(before.text, s, k, kFallback, kRoomy);
        const std::string new_value = ReadSettingFromText(after, s, k, kFallback, kRoomy);
        fuzz::Require(old_value == new_value, "every other key reads the same after a write", [&] {
            return what() + "\n[" + fuzz::Printable(s) + "] " + fuzz::Printable(k) + " was \"" +
                   fuzz::Printable(old_value) + "\", is \"" + fuzz::Printable(new_value) + "\"";
        });
    }
    return 0;
}
