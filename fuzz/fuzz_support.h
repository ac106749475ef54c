#pragma once

#include "protocol/frame.h"
#include "protocol/frame_decoder.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumidex::fuzz {

// Splits a fuzzer input into `count` fields at its first count - 1 zero
// bytes; the last field is the rest of the input. Fields the input does not
// reach are empty, so every input gives exactly `count` fields.
std::vector<std::string_view> SplitFields(const std::uint8_t* data, std::size_t size,
                                          std::size_t count);

// Reports a broken property with the details that explain it and stops the
// process, so libFuzzer saves the input as a reproducer.
[[noreturn]] void PropertyBroken(std::string_view property, std::string_view details);

// Stops with PropertyBroken unless `holds`. The details are a callable
// giving the text, so they cost nothing while the property holds.
template <typename Details> void Require(bool holds, std::string_view property, Details&& details) {
    if (!holds) {
        PropertyBroken(property, std::forward<Details>(details)());
    }
}
inline void Require(bool holds, std::string_view property) {
    if (!holds) {
        PropertyBroken(property, {});
    }
}

// Builds, with the program's own frame builders, the frame whose decoded
// fields are given. Nothing for a command no builder makes.
std::optional<Frame> RebuildFrame(const DecodedFrame& decoded);

// A settings file path in a temporary directory of this process, removed
// when the process ends.
const std::filesystem::path& ScratchSettingsPath();

// The text without the blanks (spaces, tabs) around it and without a
// trailing carriage return: a name or value as a settings line holds it.
std::string_view TrimBlanks(std::string_view text);

// Adds to `sections` and `keys` the names that look like sections ("[name]")
// and keys ("name=") on the text's lines, at most `max_names` of each, so a
// harness can read the keys a file really holds.
void CollectNames(std::string_view text, std::size_t max_names, std::set<std::string>& sections,
                  std::set<std::string>& keys);

// A text shown with its unprintable bytes escaped, for failure details.
std::string Printable(std::string_view text);

} // namespace lumidex::fuzz
