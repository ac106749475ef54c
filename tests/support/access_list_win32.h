#pragma once

#include <filesystem>

namespace lumidex::test {

// True when the test runs elevated (under Wine every program does).
bool RunsElevated();

// Lets Everyone change the file or folder ("Modify"), as a folder made at
// the top of a second drive lets every signed-in user; false when Windows
// refuses.
bool OpenToEveryone(const std::filesystem::path& path);

} // namespace lumidex::test
