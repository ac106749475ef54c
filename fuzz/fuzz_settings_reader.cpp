// Reads every key of the system, and every name the file itself mentions,
// from an arbitrary settings file (8-bit, UTF-8 with a byte-order mark or
// UTF-16LE with one).
//
// Properties: a read keeps at most size - 1 characters and a shorter size
// gives a leading part of a longer one; what a read returns is the default
// or text that stands in the file; reading through the file gives what
// reading the decoded text gives; an 8-bit or UTF-8 file's bytes survive
// decoding and encoding unchanged.

#include "fuzz/fuzz_support.h"

#include "settings/file_io.h"
#include "settings/keys.h"
#include "settings/profile.h"
#include "settings/text_codec.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

using namespace lumidex;

namespace {

constexpr std::string_view kFallback = "\x01"
                                       "fallback";
constexpr std::size_t kMaxNames = 4;
constexpr std::size_t kRoomy = 1 << 16;


void CheckRead(std::string_view text, std::string_view section, std::string_view key,
               std::size_t chars) {
    const std::string full = ReadSettingFromText(text, section, key, kFallback, kRoomy);
    const std::string cut = ReadSettingFromText(text, section, key, kFallback, chars + 1);
    const auto details = [&] {
        return "[" + fuzz::Printable(section) + "] " + fuzz::Printable(key) + " read as \"" +
               fuzz::Printable(full) + "\", with " + std::to_string(chars) + " characters \"" +
               fuzz::Printable(cut) + "\"";
    };
    fuzz::Require(CountCharacters(cut) <= chars, "a read keeps at most size - 1 characters",
                  details);
    fuzz::Require(full.starts_with(cut), "a shorter read is a leading part of a longer one",
                  details);
    fuzz::Require(full == kFallback || text.find(full) != std::string_view::npos,
                  "a read gives the default or text that stands in the file", details);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const DecodedText decoded = DecodeSettingsText(bytes);
    if (decoded.encoding != TextEncoding::Utf16Le) {
        fuzz::Require(EncodeSettingsText(decoded.text, decoded.encoding) == bytes,
                      "an 8-bit or UTF-8 file keeps its bytes",
                      [&] { return fuzz::Printable(bytes); });
    }
    const std::string_view text = decoded.text;
    const auto all_keys = AllSettingKeys();
    for (const SettingKey& key : all_keys) {
        CheckRead(text, key.section, key.name, key.chars);
    }
    std::set<std::string> sections;
    std::set<std::string> keys;
    fuzz::CollectNames(text, kMaxNames, sections, keys);
    for (const std::string& section : sections) {
        for (const std::string& key : keys) {
            CheckRead(text, section, key, size % 11);
        }
    }

    fuzz::Require(
        ReadSettingFromText(text, all_keys[0].section, all_keys[0].name, kFallback, 0).empty(),
        "a read of size 0 gives nothing");

    // The same file read from disk, for one key the input picks.
    const SettingKey& key = all_keys[size % all_keys.size()];
    std::ofstream(fuzz::ScratchSettingsPath(), std::ios::binary | std::ios::trunc) << bytes;
    const std::string from_file = ReadSetting(fuzz::ScratchSettingsPath(), key.section, key.name,
                                              key.fallback, key.chars + 1);
    const std::string from_text =
        ReadSettingFromText(text, key.section, key.name, key.fallback, key.chars + 1);
    fuzz::Require(from_file == from_text, "reading the file gives what reading its text gives",
                  [&] {
                      return std::string(key.name) + ": file \"" + fuzz::Printable(from_file) +
                             "\", text \"" + fuzz::Printable(from_text) + "\"";
                  });
    return 0;
}
