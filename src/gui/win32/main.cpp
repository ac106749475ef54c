// lumidex.exe: the operator's dialog on Windows.
#include "dialog/command_line.h"
#include "dialog/dialog_template.h"
#include "dialog/numicon_dlg.h"
#include "gui/win32/main_dialog.h"
#include "gui/win32/wide_text.h"
#include "link/port_list.h"
#include "settings/file_io.h"
#include "settings/location.h"

#include <filesystem>
#include <string>
#include <vector>
#include <system_error>

#include <commctrl.h>
#include <shellapi.h>
#include <windows.h>

namespace {

// One copy per desktop: a running copy's window (or the pop-up it shows) is
// brought forward instead. Returns false when one was found.
bool ClaimSingleInstance() {
    HWND running =
        ::FindWindowW(L"#32770", lumidex::win32::Widen(lumidex::dialog::kWindowTitle).c_str());
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
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
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
// standard output it was given (a pipe, a file, the console of the shell
// that redirected it) and nowhere otherwise.
void WriteToStandardOutput(const std::string& text) {
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (const auto answer = lumidex::dialog::CommandLineAnswer(CommandLineArguments())) {
        WriteToStandardOutput(*answer);
        return 0;
    }
    if (!ClaimSingleInstance()) {
        return 0;
    }
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES};
    ::InitCommonControlsEx(&controls);

    const std::filesystem::path program = lumidex::ExecutablePath();
    const std::filesystem::path program_dir = program.parent_path();
    // Config.ini beside the program when its folder can hold it and it is no
    // installed copy; otherwise in the user's application data, made on
    // first use.
    const lumidex::SettingsLocation location =
        lumidex::ChooseSettingsLocation(lumidex::CurrentSettingsInputs(program_dir));
    if (location.place == lumidex::SettingsPlace::UserConfig) {
        lumidex::PrepareSettingsFolder(location.file);
    }
    std::error_code ec;
    const bool existed = std::filesystem::exists(location.file, ec);

    lumidex::dialog::CNumiconDlg::Environment environment;
    environment.settings_path = location.file;
    environment.port_lister = lumidex::ListSerialPorts;
    environment.help_document = program_dir / L"Help.doc";
    environment.application_name = lumidex::win32::Narrow(program.stem().wstring());
    // The first settings refresh creates the file; the operator hears once
    // where it is, when the window is up.
    lumidex::win32::MainDialog dialog(environment, [&location, existed] {
        std::error_code exists_ec;
        return lumidex::SettingsPlaceNotice(location, existed,
                                            std::filesystem::exists(location.file, exists_ec));
    });
    dialog.Run();
    return 0;
}
