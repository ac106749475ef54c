#pragma once

// Changes to the boards file made by the service itself (a board added,
// removed, or its link or groups changed), each one durable replacement of
// the file under its lock, as the settings writer stores; every other line,
// comments included, stays as it was.
#include "settings/file_io.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumidex {

// Stores keys in a board's section ("settings", "link", "groups"), the
// section added at the end of the file when it has none: a key's line is
// replaced in place, a new key follows the section's last key (the
// comments after it stay before the next section). Line breaks in a value
// become blanks; new lines end as the file's first line does.
std::string StoreBoardKeysInText(std::string_view text, std::string_view board,
                                 const std::vector<std::pair<std::string, std::string>>& keys);
// The same on the boards file.
WriteOutcome StoreBoardKeys(const std::filesystem::path& file, std::string_view board,
                            const std::vector<std::pair<std::string, std::string>>& keys);

// The text without the section: its header and every line up to its last
// key line. The comments and blank lines after its last key stay (they
// stand before the next section and speak of it), as do those before its
// header. The text unchanged when it has no such section.
std::string RemoveSectionFromText(std::string_view text, std::string_view section);

// Removes a board's section from the boards file (RemoveSectionFromText).
WriteOutcome RemoveBoardSection(const std::filesystem::path& file, std::string_view board);

} // namespace lumidex
