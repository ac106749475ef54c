#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace lumidex {

// Reads a whole file. Returns nothing when it is missing or cannot be read.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& file);

// Replaces a file's contents so that a crash at any moment leaves either the
// old file or the new one whole: the bytes go to a temporary file beside it,
// reach the disk, and are renamed over the old file. A symbolic link is
// followed, so the file it points at is the one replaced. Returns false (and
// leaves the old file as it was) when any step fails.
bool ReplaceFileDurably(const std::filesystem::path& file, std::string_view bytes);

// The directory of the running executable; empty when it cannot be found.
std::filesystem::path ExecutableDirectory();

// True when a file could be created in the directory (it tries one).
bool DirectoryIsWritable(const std::filesystem::path& directory);

} // namespace lumidex
