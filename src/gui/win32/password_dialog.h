#pragma once

#include <functional>
#include <string>

#include <windows.h>

// The small modal dialog that asks for the password of the settings panel.
namespace lumidex::win32 {

// Runs the password dialog modally over `owner` (disabled meanwhile) until
// it is ended (EndDialog) or cancelled: each OK hands the edit's text, as
// UTF-8, to `on_ok`, which decides. `*running` holds the dialog's window
// while it is up.
void RunPasswordDialog(HWND owner, const std::function<void(const std::string&)>& on_ok,
                       HWND* running);

} // namespace lumidex::win32
