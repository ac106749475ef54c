#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace lumidex {

// Where the settings file of a running copy lives.
enum class SettingsPlace {
    BesideProgram, // Config.ini in the program's own folder
    UserConfig,    // Config.ini in the user's configuration folder
    Named,         // a file the operator named on the command line
};

// What decides the settings file's place, gathered from the running system.
struct SettingsLocationInputs {
    std::filesystem::path program_dir; // the folder of the running executable
    bool program_dir_writable = false; // a file could be created there
    bool installed = false;            // runs from an installed layout (bin + share/lumidex)
    std::string xdg_config_home;       // $XDG_CONFIG_HOME; empty when unset
    std::string home;                  // $HOME; empty when unset
    std::filesystem::path appdata;     // %APPDATA% on Windows; empty when unset
};

// The chosen settings file and the place it is in.
struct SettingsLocation {
    std::filesystem::path file;
    SettingsPlace place = SettingsPlace::BesideProgram;
};

// Chooses the settings file. A program folder that can be written and is
// not an installed copy keeps Config.ini beside the program (a portable
// folder, a build folder). Otherwise the file is Config.ini in the user's
// settings folder (UserSettingsFolder). When there is no user folder the
// file stays beside the program (where it can then only be read).
SettingsLocation ChooseSettingsLocation(const SettingsLocationInputs& inputs);

// The user's folder for the settings file, or empty when there is none. On
// Linux: lumidex under $XDG_CONFIG_HOME when it is an absolute path, else
// under $HOME/.config (when absolute). On Windows: Lumidex under %APPDATA%
// when it is an absolute path. (location_posix.cpp, location_win32.cpp)
std::filesystem::path UserSettingsFolder(const SettingsLocationInputs& inputs);

// The help document to open: Help.doc beside the program, else the one in
// the installed data folder (`data_dir`). When neither exists the path
// beside the program is returned, so whatever opens it reports the miss.
std::filesystem::path
ChooseHelpDocument(const std::filesystem::path& program_dir, const std::filesystem::path& data_dir,
                   const std::function<bool(const std::filesystem::path&)>& exists);

// The HTML copy of a help document, which lies beside it (Help.html beside
// Help.doc): what "Help..." opens where nothing opens the document itself.
std::filesystem::path HtmlHelpFor(const std::filesystem::path& document);

// The installed copy's data folder for a program in `program_dir`
// (share/lumidex beside the bin folder, as the install rules lay it out).
std::filesystem::path InstalledDataDirectory(const std::filesystem::path& program_dir);

// Gathers the inputs for a program in `program_dir` from the running system:
// the environment, whether the folder can be written (it tries), and whether
// it is an installed copy (the installed data folder exists; on Windows also
// a folder inside Program Files). Never fails; what cannot be found is left
// empty or false. (location_posix.cpp, location_win32.cpp)
SettingsLocationInputs CurrentSettingsInputs(const std::filesystem::path& program_dir);

// Creates the folder that will hold the settings file, and any missing
// parents, each readable by the user only. Returns false when the folder
// does not exist afterwards.
bool PrepareSettingsFolder(const std::filesystem::path& file);

// The one-time notice of the dialog when the settings file has just been
// created in the user's configuration folder; empty when there is nothing
// to say (the file is beside the program or one the operator named, or it
// existed before).
std::string SettingsPlaceNotice(const SettingsLocation& location, bool existed_before,
                                bool exists_now);

} // namespace lumidex
