#pragma once

#include <string>

#include <windows.h>

// The small modal dialog that asks for the password of the settings panel.
namespace lumidex::win32 {

// The password result message to the main dialog: wParam 0, lParam one of
// the two texts below. The receiver knows "ok" by its address.
inline constexpr UINT kPasswordResultMessage = WM_USER + 5;
extern const wchar_t kPasswordAccepted[];
extern const wchar_t kPasswordRefused[];

// Runs the password dialog modally over `owner` (disabled meanwhile): each
// OK sends the result message to `owner`; a wrong password shows "Wrong
// password!" captioned `application_name` and empties the edit; the dialog
// ends on the right password or on Cancel. `*running` holds the dialog's
// window while it is up.
void RunPasswordDialog(HWND owner, const std::wstring& application_name, HWND* running);

} // namespace lumidex::win32
