#include "gui/win32/password_dialog.h"

#include "dialog/control_ids.h"
#include "dialog/dialog_template.h"
#include "dialog/numicon_dlg.h"
#include "gui/win32/dialog_template_win32.h"
#include "gui/win32/wide_text.h"

namespace lumidex::win32 {

const wchar_t kPasswordAccepted[] = L"ok";
const wchar_t kPasswordRefused[] = L"no";

namespace {

struct PasswordRun {
    HWND owner;
    const std::wstring* application_name;
    HWND* running;
};

std::u16string EditText(HWND edit) {
    std::u16string text(static_cast<std::size_t>(::GetWindowTextLengthW(edit)) + 1, u'\0');
    const int length = ::GetWindowTextW(edit, reinterpret_cast<wchar_t*>(text.data()),
                                        static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

void OnPasswordOk(HWND dialog, const PasswordRun& run) {
    HWND edit = ::GetDlgItem(dialog, dialog::kPasswordEdit);
    if (dialog::PasswordMatches(EditText(edit))) {
        // The main dialog starts its slide while this one is still up.
        ::SendMessageW(run.owner, kPasswordResultMessage, 0,
                       reinterpret_cast<LPARAM>(kPasswordAccepted));
        ::EndDialog(dialog, IDCANCEL);
        return;
    }
    ::SendMessageW(run.owner, kPasswordResultMessage, 0, reinterpret_cast<LPARAM>(kPasswordRefused));
    ::MessageBoxExW(dialog, Widen(dialog::kWrongPassword).c_str(), run.application_name->c_str(),
                    MB_OK, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    ::SetWindowTextW(edit, L"");
    ::SetFocus(edit);
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
            OnPasswordOk(dialog, *run);
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

void RunPasswordDialog(HWND owner, const std::wstring& application_name, HWND* running) {
    static const DialogTemplate dialog_template({dialog::kPasswordTitle,
                                                 dialog::kPasswordTemplateWidth,
                                                 dialog::kPasswordTemplateHeight,
                                                 kPasswordDialogStyle, 0,
                                                 dialog::PasswordDialogControls()});
    PasswordRun run{owner, &application_name, running};
    ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), dialog_template.get(), owner,
                              PasswordProc, reinterpret_cast<LPARAM>(&run));
}

} // namespace lumidex::win32
