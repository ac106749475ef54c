#pragma once

#include "settings/location.h"

#include <filesystem>
#include <string>
#include <vector>

namespace lumidex::dialog {

// The exit status of a start refused for its command line.
inline constexpr int kExitBadUsage = 2;

// The dialog's usage text, printed by `lumidex --help`.
std::string DialogUsage();

// What a start of the dialog is to do, decided from its command line alone.
struct DialogCommandLine {
    enum class Action {
        OpenDialog, // open the window, on `settings_file` when one is named
        Answer,     // print `text` on standard output and end with status 0
        Refuse,     // print `text` on standard error and end with kExitBadUsage
    };
    Action action = Action::OpenDialog;
    // Answer: the usage or the version. Refuse: "lumidex: REASON", one
    // printable line with its line end.
    std::string text;
    // OpenDialog: the file named with --config, taken from the current
    // folder when relative; empty when none is named.
    std::filesystem::path settings_file;
};

// Reads the arguments after the program name. -h or --help answers with
// the usage, --version with the version (the usage when both are given).
// --config PATH (or --config=PATH) names the settings file, once; a PATH
// that is not absolute is joined to `current_folder` (left as it is when
// that is empty), with its "." parts left out. Anything else is refused
// with one line saying why: an unknown option or argument, --config without
// a value or given twice, a PATH that names no file (empty, ending in a
// folder separator, or ending in "." or ".."), a value given to a flag.
DialogCommandLine ReadCommandLine(const std::vector<std::string>& args,
                                  const std::filesystem::path& current_folder);

// The settings file this start works on: the one named on the command line
// (`named`, in place Named), or else the one ChooseSettingsLocation picks
// for a program in `program_dir`. Missing folders on the way to a file that
// is not beside the program are made, readable by the user only
// (PrepareSettingsFolder); the file itself is made by the first settings
// refresh that can write it.
SettingsLocation PrepareDialogSettings(const std::filesystem::path& named,
                                       const std::filesystem::path& program_dir);

} // namespace lumidex::dialog
