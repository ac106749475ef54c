#include "gui/win32/password_dialog.h"

#include "dialog/control_ids.h"
#include "dialog/dialog_template.h"
#include "gui/win32/dialog_template_win32.h"
#include "gui/win32/wide_text.h"

namespace lumidex::win32 {
namespace {

struct PasswordRun {
    const std::function<void(const std::string&)>* on_ok;
    HWND* running;
};

std::wstring EditText(HWND edit) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(edit)) + 1, L'\0');
    const int length = ::GetWindowTextW(edit, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

INT_PTR CALLBACK PasswordProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* run = reinterpret_cast<PasswordRun*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        run = reinterpret_cast<PasswordRun*>(lparam);
        ::SetWindowLongPtrW(dialog, DWLP_USER, lparam);
        *run->running = dialog;
        ::SetFocus(::GetDlgItem(dialog, dialog::kPasswordEdit));
        return FALSE;
    case WM_COMMAND:
        if (run == nullptr || HIWORD(wparam) != BN_CLICKED) {
            break;
        }
        if (LOWORD(wparam) == IDOK) {
            (*run->on_ok)(Narrow(EditText(::GetDlgItem(dialog, dialog::kPasswordEdit))));
            return TRUE;
        }
        if (LOWORD(wparam) == IDCANCEL) {
            ::EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    case WM_DESTROY:
        if (run != nullptr) {
            *run->running = nullptr;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

} // namespace

void RunPasswordDialog(HWND owner, const std::function<void(const std::string&)>& on_ok,
                       HWND* running) {
    static const DialogTemplate dialog_template(
        {dialog::kPasswordTitle, dialog::kPasswordTemplateWidth, dialog::kPasswordTemplateHeight,
         kPasswordDialogStyle, 0, dialog::PasswordDialogControls()});
    PasswordRun run{&on_ok, running};
    ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), dialog_template.get(), owner,
                              PasswordProc, reinterpret_cast<LPARAM>(&run));
}

} // namespace lumidex::win32
