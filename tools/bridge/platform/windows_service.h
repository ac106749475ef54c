#pragma once

// lumidex-bridge as a Windows service: the HTTP door over the boards of
// %ProgramData%\Lumidex\boards.ini, started by the service manager.
#include "tools/bridge/http/settings.h"

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>

namespace lumidex {

// The Windows program's run: the HTTP door alone over the boards file
// (listening on 127.0.0.1:8080 unless --http or [http] listen= says
// otherwise). 0 after a clean stop, 2 when the boards file or the door's
// settings cannot be used. In bridge_cli_win32.cpp.
int RunWindowsBridge(const std::filesystem::path& boards, const HttpOptions& options,
                     std::ostream& err);

inline constexpr const wchar_t* kServiceName = L"LumidexBridge";

// %ProgramData%\Lumidex: the service's boards file, the boards' Config.ini
// files and its log.
std::filesystem::path ServiceFolder();

// Registers the service (started with Windows, as LocalSystem) and makes
// its folder, writable by administrators and the system only; an existing
// folder that other users may write is refused. Starts the service when
// the boards file is there. 0, or 1 with one line on `err`.
int InstallBridgeService(std::ostream& out, std::ostream& err);

// Stops and removes the service; its folder stays. 0, or 1 with one line
// on `err`.
int UninstallBridgeService(std::ostream& out, std::ostream& err);

// Runs as the service (what the service manager starts: --service). 0, or
// 1 when this process was not started by the service manager.
int RunBridgeService();

} // namespace lumidex
