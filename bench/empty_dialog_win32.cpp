// The baseline of the Windows start-up benchmark: a Win32 dialog with the
// main dialog's size, font and styles but no controls, built from an
// in-memory template as lumidex.exe builds its own.
#include <windows.h>

#include <vector>

namespace {

INT_PTR CALLBACK EmptyProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message == WM_CLOSE) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return message == WM_INITDIALOG;
}

void Text(std::vector<WORD>& words, const wchar_t* text) {
    do {
        words.push_back(static_cast<WORD>(*text));
    } while (*text++ != L'\0');
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    const DWORD style = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                        DS_MODALFRAME | DS_SHELLFONT;
    std::vector<WORD> words{1, 0xFFFF, 0, 0, LOWORD(WS_EX_APPWINDOW), HIWORD(WS_EX_APPWINDOW),
                            LOWORD(style), HIWORD(style), 0, 0, 0, 349, 359, 0, 0};
    Text(words, L"Empty_1.0");
    words.insert(words.end(), {8, FW_NORMAL, 0});
    Text(words, L"MS Shell Dlg");
    DialogBoxIndirectParamW(instance, reinterpret_cast<const DLGTEMPLATE*>(words.data()), nullptr,
                            EmptyProc, 0);
    return 0;
}
