// lumidex-bridge as a Windows service: the bridge over the boards of
// %ProgramData%\Lumidex\boards.ini, started by the service manager, and
// the verbs that register and remove it.
#include "tools/bridge/platform/service_manager.h"

#include "settings/file_io.h"
#include "tools/bridge/platform/stop_signal.h"

#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

#include <fstream>
#include <vector>
#include <ostream>
#include <thread>

namespace lumidex {
namespace {

constexpr const wchar_t* kServiceName = L"LumidexBridge";
constexpr const wchar_t* kDisplayName = L"Lumidex board service";
constexpr const wchar_t* kDescription =
    L"Serves the Lumidex display boards of %ProgramData%\\Lumidex\\boards.ini over HTTP: "
    L"a JSON API and a web page.";
// Administrators and the system may do everything; users may read. Set on
// the folder when the installation makes it, and inherited by its files.
constexpr const wchar_t* kFolderSecurity =
    L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

std::string Narrow(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
    if (size > 1) {
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
    }
    return out;
}

std::string SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = text != nullptr ? text : L"";
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L'.' || message.back() == L' ')) {
        message.pop_back();
    }
    return Narrow(message) + " (" + std::to_string(code) + ")";
}

// %ProgramData%\Lumidex: the service's boards file, the boards' Config.ini
// files and its log.
std::filesystem::path ServiceFolder() {
    // The known folder, not %ProgramData%: a service's environment may not
    // name it as the installer's does.
    wchar_t* data = nullptr;
    std::filesystem::path base = L"C:\\ProgramData";
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &data))) {
        base = data;
    }
    CoTaskMemFree(data);
    return base / "Lumidex";
}

// Makes the folder with its own access list, or checks the one there.
bool PrepareFolder(const std::filesystem::path& folder, std::ostream& err) {
    if (!std::filesystem::exists(folder)) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kFolderSecurity, SDDL_REVISION_1,
                                                                  &descriptor, nullptr)) {
            err << "lumidex-bridge: " << SystemMessage(GetLastError()) << "\n";
            return false;
        }
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
        const BOOL made = CreateDirectoryW(folder.wstring().c_str(), &attributes);
        const DWORD error = GetLastError();
        LocalFree(descriptor);
        if (!made) {
            err << "lumidex-bridge: cannot make " << folder.string() << ": " << SystemMessage(error)
                << "\n";
            return false;
        }
    }
    if (const auto why = WhyUntrusted(folder, FileUse::Folder)) {
        err << "lumidex-bridge: " << folder.string() << " is refused: " << *why
            << "; remove it or give it to the administrators alone\n";
        return false;
    }
    return true;
}

std::wstring ProgramPath() {
    std::wstring path(MAX_PATH, L'\0');
    while (true) {
        const DWORD size = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (size < path.size()) {
            path.resize(size);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// The service's state as the service manager is told it, and how the
// service serves its boards file; set when this process runs as the
// service.
SERVICE_STATUS_HANDLE g_status_handle = nullptr;
SERVICE_STATUS g_status{};
ServeBoardsFile g_serve;

void Report(DWORD state, DWORD exit_code = NO_ERROR) {
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    g_status.dwWin32ExitCode = exit_code == NO_ERROR ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    g_status.dwServiceSpecificExitCode = exit_code;
    g_status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 10000;
    SetServiceStatus(g_status_handle, &g_status);
}

DWORD WINAPI OnControl(DWORD control, DWORD, void*, void*) {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        Report(SERVICE_STOP_PENDING);
        StopSignal::Raise();
        return NO_ERROR;
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
    g_status_handle = RegisterServiceCtrlHandlerExW(kServiceName, OnControl, nullptr);
    if (g_status_handle == nullptr) {
        return;
    }
    Report(SERVICE_START_PENDING);
    const std::filesystem::path folder = ServiceFolder();
    // What the door says goes to a log beside the boards file.
    std::ofstream log(folder / "lumidex-bridge.log", std::ios::app);
    int exit_code = 1;
    if (const auto why = WhyUntrusted(folder, FileUse::Folder)) {
        log << "lumidex-bridge: " << folder.string() << " is refused: " << *why << "\n";
    } else {
        // The run reports the service running once its doors are open.
        exit_code = g_serve(folder / "boards.ini", log);
    }
    log.flush();
    Report(SERVICE_STOPPED, static_cast<DWORD>(exit_code));
}

// Registers the service (started with Windows, as LocalSystem) and makes
// its folder, writable by administrators and the system only; an existing
// folder that other users may write is refused. Starts the service when
// the boards file is there. 0, or 1 with one line on `err`.
int InstallBridgeService(std::ostream& out, std::ostream& err) {
    const std::filesystem::path folder = ServiceFolder();
    if (!PrepareFolder(folder, err)) {
        return 1;
    }
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (manager == nullptr) {
        err << "lumidex-bridge: the service manager refuses (run as an administrator): "
            << SystemMessage(GetLastError()) << "\n";
        return 1;
    }
    const std::wstring command = L"\"" + ProgramPath() + L"\" --service";
    SC_HANDLE service = CreateServiceW(manager, kServiceName, kDisplayName, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                       SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
    if (service == nullptr) {
        const DWORD error = GetLastError();
        CloseServiceHandle(manager);
        err << "lumidex-bridge: the service cannot be registered: " << SystemMessage(error) << "\n";
        return 1;
    }
    SERVICE_DESCRIPTIONW description{const_cast<wchar_t*>(kDescription)};
    ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description);
    out << "lumidex-bridge: service " << Narrow(kServiceName) << " registered; it serves "
        << (folder / "boards.ini").string() << "\n";
    if (std::filesystem::exists(folder / "boards.ini")) {
        if (StartServiceW(service, 0, nullptr)) {
            out << "lumidex-bridge: service started\n";
        } else {
            err << "lumidex-bridge: the service did not start: " << SystemMessage(GetLastError())
                << "\n";
        }
    } else {
        out << "lumidex-bridge: put the boards file there, then start the service (sc start "
            << Narrow(kServiceName) << ")\n";
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 0;
}

// Stops and removes the service; its folder stays. 0, or 1 with one line
// on `err`.
int UninstallBridgeService(std::ostream& out, std::ostream& err) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        err << "lumidex-bridge: the service manager refuses (run as an administrator): "
            << SystemMessage(GetLastError()) << "\n";
        return 1;
    }
    SC_HANDLE service =
        OpenServiceW(manager, kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (service == nullptr) {
        const DWORD error = GetLastError();
        CloseServiceHandle(manager);
        if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
            out << "lumidex-bridge: no service " << Narrow(kServiceName) << " is registered\n";
            return 0;
        }
        err << "lumidex-bridge: " << SystemMessage(error) << "\n";
        return 1;
    }
    SERVICE_STATUS status{};
    if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        for (int i = 0; i < 100 && QueryServiceStatus(service, &status) &&
                        status.dwCurrentState != SERVICE_STOPPED;
             ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds{100});
        }
    }
    const bool deleted = DeleteService(service) != FALSE;
    const DWORD error = GetLastError();
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    if (!deleted) {
        err << "lumidex-bridge: the service cannot be removed: " << SystemMessage(error) << "\n";
        return 1;
    }
    out << "lumidex-bridge: service " << Narrow(kServiceName) << " removed; "
        << ServiceFolder().string() << " stays\n";
    return 0;
}

// Runs as the service. 0, or 1 when this process was not started by the
// service manager.
int RunBridgeService(const ServeBoardsFile& serve) {
    g_serve = serve;
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(kServiceName), ServiceMain},
                                    {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}

} // namespace

ServiceManager::ServiceManager() : active_(g_status_handle != nullptr) {}

void ServiceManager::Ready() {
    if (active_) {
        Report(SERVICE_RUNNING);
    }
}

// Windows' service manager keeps no watchdog of its own.
void ServiceManager::Alive() {}

// A Windows service's state carries no text: the log says it.
void ServiceManager::Status(const std::string&) {}

void ServiceManager::Stopping() {
    if (active_) {
        Report(SERVICE_STOP_PENDING);
    }
}

int RunServiceVerb(ServiceVerb verb, const ServeBoardsFile& serve, std::ostream& out,
                   std::ostream& err) {
    switch (verb) {
    case ServiceVerb::Install:
        return InstallBridgeService(out, err);
    case ServiceVerb::Uninstall:
        return UninstallBridgeService(out, err);
    case ServiceVerb::Run:
        return RunBridgeService(serve);
    case ServiceVerb::None:
        break;
    }
    return 0;
}

std::string ServiceUsage() {
    return R"(Windows service ("LumidexBridge"):
  lumidex-bridge --install-service | --uninstall-service
  --install-service    register the Windows service "LumidexBridge" (needs an
                       administrator): it serves %ProgramData%\Lumidex\boards.ini
                       from Windows' start on
  --uninstall-service  stop and remove the service (its folder stays)
)";
}

} // namespace lumidex
