#pragma once

#include <filesystem>
#include <span>

namespace lumidex {

// True when `folder` is `root` or lies inside it, comparing whole path
// components without regard to letter case, as Windows compares names.
// An empty or relative root contains nothing.
bool IsInsideFolder(const std::filesystem::path& folder, const std::filesystem::path& root);

// True when the program folder lies in one of the Program Files folders:
// an installed copy, whose folder is no place for an operator's settings.
bool IsInstalledUnder(const std::filesystem::path& program_dir,
                      std::span<const std::filesystem::path> program_files);

} // namespace lumidex
