// lumidex.exe: the operator's dialog on Windows.
#include "dialog/command_line.h"
#include "dialog/dialog_template.h"
#include "dialog/numicon_dlg.h"
#include "gui/win32/main_dialog.h"
#include "gui/win32/running_copy.h"
#include "gui/win32/wide_text.h"
#include "link/port_list.h"
#include "platform/library_search.h"
#include "platform/library_search_win32.h"
#include "settings/file_io.h"
#include "settings/location.h"

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <commctrl.h>
#include <shellapi.h>
#include <windows.h>

#include <sddl.h>

namespace {

// Frees a handle when it goes out of scope.
struct OwnedHandle {
    HANDLE handle = nullptr;
    ~OwnedHandle() {
        if (handle != nullptr) {
            ::CloseHandle(handle);
        }
    }
};

// The program file name and user of a process; empty parts where this
// process may not read them.
lumidex::win32::ProcessIdentity IdentityOf(HANDLE process) {
    lumidex::win32::ProcessIdentity identity;
    std::wstring image(MAX_PATH, L'\0');
    DWORD length = static_cast<DWORD>(image.size());
    if (::QueryFullProcessImageNameW(process, 0, image.data(), &length)) {
        image.resize(length);
        identity.program = std::filesystem::path(image).filename().wstring();
    }
    OwnedHandle token;
    BYTE user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    DWORD size = 0;
    LPWSTR sid = nullptr;
    if (::OpenProcessToken(process, TOKEN_QUERY, &token.handle) &&
        ::GetTokenInformation(token.handle, TokenUser, user, sizeof user, &size) &&
        ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid)) {
        identity.user_sid = lumidex::win32::Narrow(sid);
        ::LocalFree(sid);
    }
    return identity;
}

struct CopySearch {
    lumidex::win32::ProcessIdentity self;
    std::wstring title;
    HWND found = nullptr;
};

BOOL CALLBACK CheckWindow(HWND window, LPARAM data) {
    auto& search = *reinterpret_cast<CopySearch*>(data);
    wchar_t class_name[16] = {};
    wchar_t title[64] = {};
    if (::GetClassNameW(window, class_name, 16) == 0 || std::wstring(class_name) != L"#32770" ||
        ::GetWindowTextW(window, title, 64) == 0 || search.title != title) {
        return TRUE;
    }
    DWORD process_id = 0;
    ::GetWindowThreadProcessId(window, &process_id);
    OwnedHandle process{::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id)};
    if (process.handle != nullptr &&
        lumidex::win32::IsRunningCopy(IdentityOf(process.handle), search.self)) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

// One copy per user and desktop: a running copy's window (or the pop-up it
// shows) is brought forward instead. A window of that title that another
// program or another user made is left alone, and this copy starts as
// usual. Returns false when a running copy was found.
bool ClaimSingleInstance() {
    CopySearch search{IdentityOf(::GetCurrentProcess()),
                      lumidex::win32::Widen(lumidex::dialog::kWindowTitle)};
    ::EnumWindows(CheckWindow, reinterpret_cast<LPARAM>(&search));
    HWND running = search.found;
    if (running == nullptr) {
        return true;
    }
    HWND popup = ::GetLastActivePopup(running);
    if (::IsIconic(running)) {
        ::ShowWindow(running, SW_RESTORE);
    }
    ::SetForegroundWindow(popup != nullptr ? popup : running);
    return false;
}

// The arguments after the program name, as UTF-8.
std::vector<std::string> CommandLineArguments() {
    std::vector<std::string> args;
    int count = 0;
    // The shell is loaded from the system folder alone (SystemFunction).
    auto* split = lumidex::SystemFunction<decltype(::CommandLineToArgvW)>(L"shell32.dll",
                                                                          "CommandLineToArgvW");
    LPWSTR* argv = split != nullptr ? split(::GetCommandLineW(), &count) : nullptr;
    if (argv == nullptr) {
        return args;
    }
    for (int i = 1; i < count; ++i) {
        args.push_back(lumidex::win32::Narrow(argv[i]));
    }
    ::LocalFree(argv);
    return args;
}

// A window program has no console of its own; the text goes to whatever
// standard output or error (`which`) it was given (a pipe, a file, the
// console of the shell that redirected it) and nowhere otherwise.
void WriteToStandardHandle(DWORD which, const std::string& text) {
    HANDLE out = ::GetStdHandle(which);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    lumidex::LoadLibrariesFromSystemOnly();
    using Action = lumidex::dialog::DialogCommandLine::Action;
    std::error_code ec;
    const std::filesystem::path current_folder = std::filesystem::current_path(ec);
    const lumidex::dialog::DialogCommandLine command =
        lumidex::dialog::ReadCommandLine(CommandLineArguments(), current_folder);
    switch (command.action) {
    case Action::Answer:
        WriteToStandardHandle(STD_OUTPUT_HANDLE, command.text);
        return 0;
    case Action::Refuse:
        WriteToStandardHandle(STD_ERROR_HANDLE, command.text);
        return lumidex::dialog::kExitBadUsage;
    case Action::OpenDialog:
        break;
    }
    if (!ClaimSingleInstance()) {
        return 0;
    }
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES};
    ::InitCommonControlsEx(&controls);

    const std::filesystem::path program = lumidex::ExecutablePath();
    const std::filesystem::path program_dir = program.parent_path();
    const lumidex::SettingsLocation location =
        lumidex::dialog::PrepareDialogSettings(command.settings_file, program_dir);

    lumidex::dialog::CNumiconDlg::Environment environment;
    environment.settings_path = location.file;
    environment.settings_place = location.place;
    environment.port_lister = lumidex::ListSerialPorts;
    environment.help_document = program_dir / L"Help.doc";
    environment.application_name = lumidex::win32::Narrow(program.stem().wstring());
    lumidex::win32::MainDialog dialog(environment);
    dialog.Run();
    return 0;
}
