#include "dialog/command_line.h"

#include "version.h"

namespace lumidex::dialog {

std::string DialogUsage() {
    return R"(Usage: lumidex [--help | --version]

The operator's dialog for a Lumidex LED display: fill in up to six numeric
lines and send them to the display's control card over UDP or a serial line,
with its brightness, clock and initialise commands.

Options:
  -h, --help     show this text
  --version      show the version and the licence

Settings live in Config.ini beside the program when its folder can be written
and it is not an installed copy; an installed copy keeps them in
$XDG_CONFIG_HOME/lumidex/Config.ini (by default ~/.config/lumidex/Config.ini)
on Linux and in %APPDATA%\Lumidex\Config.ini on Windows. lumidex-send reads
the same file.

One copy runs per desktop: starting another brings the running one forward.
"Help..." opens Help.doc, or its HTML copy where nothing opens .doc files.
)";
}

std::optional<std::string> CommandLineAnswer(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "-h" || arg == "--help") {
            return DialogUsage();
        }
        if (arg == "--version") {
            return VersionText("lumidex");
        }
    }
    return std::nullopt;
}

} // namespace lumidex::dialog
