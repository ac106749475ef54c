#pragma once

#include "tools/bridge/http/settings.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace lumidex {

// The command line of lumidex-bridge; what it names overrides the boards
// file's [bridge] section.
struct BridgeOptions {
    std::string boards;
    std::optional<std::string> broker;
    std::optional<std::string> prefix;
    std::optional<std::string> client_id;
    std::optional<std::string> username;
    std::optional<std::string> password_file;
    std::optional<std::string> tls_ca;
    bool discovery = false;
    HttpOptions http;
    // Windows: register or remove the Windows service, or run as it (what
    // the service manager starts).
    bool install_service = false;
    bool uninstall_service = false;
    bool service = false;
    bool help = false;
    bool version = false;
};

// Parses the arguments (without the program name); on bad usage returns
// nothing with a one-line reason in `error`. A password is never taken on
// the command line, only from a file.
std::optional<BridgeOptions> ParseBridgeOptions(const std::vector<std::string>& args,
                                                std::string& error);

// Runs the bridge until SIGTERM or SIGINT: reads and checks the boards
// file, connects to the broker (for as long as it takes) and serves the
// boards; the connection's changes are logged on `err`, and on systemd's
// status line when systemd runs it. Returns 0 after a clean stop, 2 when the
// boards file, the options, the password file or the CA file cannot be used
// or another user could change one of them, or the password file can be
// read by others (one line on `err` says why). Exits at once with 1 when
// the connection's loop is stuck.
int RunBridge(const BridgeOptions& options, std::ostream& err);

// The text --help prints.
std::string BridgeUsage();

} // namespace lumidex
