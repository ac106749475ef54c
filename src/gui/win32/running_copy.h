#pragma once

#include <string>
#include <string_view>

namespace lumidex::win32 {

// Who runs a process: the file name of its program and its user's SID.
// Empty where they could not be read (another user's process, as a rule).
struct ProcessIdentity {
    std::wstring program; // the file name, such as L"lumidex.exe"
    std::string user_sid;
};

// True when a window found by its title belongs to a running copy of this
// program: a process of the same user running a program of the same file
// name (letter case aside, as Windows compares names). A window whose
// process cannot be read counts as someone else's.
bool IsRunningCopy(const ProcessIdentity& window_owner, const ProcessIdentity& self);

} // namespace lumidex::win32
