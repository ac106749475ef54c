#include "dialog/command_line.h"

#include "cli/cli.h"
#include "version.h"

namespace lumidex::dialog {
namespace {

constexpr const char* kProgram = "lumidex";

DialogCommandLine Refusal(const std::string& reason) {
    return {DialogCommandLine::Action::Refuse,
            std::string(kProgram) + ": " + Printable(reason) + "\n",
            {}};
}

// The path as the operator means it: a relative one starts in the current
// folder, and "." parts, which name the folder they stand in, are left out
// so messages show the file plainly. ".." parts stay: through a link they
// lead elsewhere than their text suggests.
std::filesystem::path FromCurrentFolder(const std::filesystem::path& given,
                                        const std::filesystem::path& current_folder) {
    const std::filesystem::path joined =
        given.is_absolute() || current_folder.empty() ? given : current_folder / given;
    std::filesystem::path plain;
    for (const std::filesystem::path& part : joined) {
        if (part != ".") {
            plain /= part;
        }
    }
    return plain;
}

} // namespace

std::string DialogUsage() {
    return R"(Usage: lumidex [--config PATH]
  or:  lumidex --help | --version

The operator's dialog for a Lumidex LED display: fill in up to six numeric
lines and send them to the display's control card over UDP or a serial line,
with its brightness, clock and initialise commands.

Options:
  --config PATH  open the dialog on this settings file instead of its own
                 Config.ini (a board's file for lumidex-bridge, say); the file
                 and any missing folders are made as needed, and a relative
                 PATH is taken from the current folder
  -h, --help     show this text
  --version      show the version and the licence

Settings live in Config.ini beside the program when its folder can be written
and it is not an installed copy; an installed copy keeps them in
$XDG_CONFIG_HOME/lumidex/Config.ini (by default ~/.config/lumidex/Config.ini)
on Linux and in %APPDATA%\Lumidex\Config.ini on Windows. lumidex-send reads
the same file. A settings file that another user could change, through the
file itself, its folder or a link on the way to it, is never written; the
dialog says so at start.

One copy runs per desktop: starting another, with or without --config, brings
the running one forward, on the file it already has open. "Help..." opens
Help.doc, or its HTML copy where nothing opens .doc files.

Exit status:
  0  the dialog was closed, or --help or --version answered
  2  bad usage (one line on standard error)
)";
}

DialogCommandLine ReadCommandLine(const std::vector<std::string>& args,
                                  const std::filesystem::path& current_folder) {
    CLI::App parser(kProgram);
    ConfigureToolParser(parser);
    bool help = false;
    bool version = false;
    std::string config;
    AddFlag(parser, "-h,--help", help);
    AddFlag(parser, "--version", version);
    const CLI::Option* config_given = AddSingle(parser, "--config", config);
    if (const auto refused = ParseArguments(parser, args)) {
        return Refusal(*refused);
    }
    if (help) {
        return {DialogCommandLine::Action::Answer, DialogUsage(), {}};
    }
    if (version) {
        return {DialogCommandLine::Action::Answer, VersionText(kProgram), {}};
    }
    if (!Given(config_given)) {
        return {};
    }
    // The arguments are UTF-8 on every system; a path made from a plain
    // string would read them in the Windows code page.
    const std::filesystem::path given(std::u8string(config.begin(), config.end()));
    if (!given.has_filename() || given.filename() == "." || given.filename() == "..") {
        return Refusal("--config wants a settings file, got '" + config + "'");
    }
    return {DialogCommandLine::Action::OpenDialog, {}, FromCurrentFolder(given, current_folder)};
}

SettingsLocation PrepareDialogSettings(const std::filesystem::path& named,
                                       const std::filesystem::path& program_dir) {
    const SettingsLocation location =
        named.empty() ? ChooseSettingsLocation(CurrentSettingsInputs(program_dir))
                      : SettingsLocation{named, SettingsPlace::Named};
    if (location.place != SettingsPlace::BesideProgram) {
        PrepareSettingsFolder(location.file);
    }
    return location;
}

} // namespace lumidex::dialog
