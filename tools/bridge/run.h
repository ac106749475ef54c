#pragma once

#include "tools/bridge/options.h"

#include <iosfwd>

namespace lumidex {

// Runs lumidex-bridge as the options say. A Windows service verb is
// carried out (on Linux refused: 2). Otherwise the board service serves
// the boards file through its doors until a stop is asked for (SIGTERM or
// SIGINT; Ctrl+C or the service's stop on Windows): the MQTT door where
// the build has an MQTT client, when a broker is named or no HTTP door
// runs; the HTTP door when --http or [http] listen= names an address (on
// Windows, where it is the only door, 127.0.0.1:8080 otherwise). Each
// change of the broker connection is logged on `err`, and on systemd's
// status line when systemd runs the bridge. Returns 0 after a clean stop,
// 2 when the boards file, an option or a file they name cannot be used or
// another user could change one of these files (one line on `err` says
// why). Exits at once with 1 when the MQTT connection's loop is stuck.
int RunBridge(const BridgeOptions& options, std::ostream& err);

} // namespace lumidex
