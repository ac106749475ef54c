#include "settings/location.h"

#include "settings/file_io.h"

#include <cstdlib>
#include <system_error>

namespace lumidex {
namespace {

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

} // namespace

std::filesystem::path UserSettingsFolder(const SettingsLocationInputs& inputs) {
    // The XDG base directory rules: relative paths are ignored.
    const std::filesystem::path xdg(inputs.xdg_config_home);
    if (xdg.is_absolute()) {
        return xdg / "lumidex";
    }
    const std::filesystem::path home(inputs.home);
    if (home.is_absolute()) {
        return home / ".config" / "lumidex";
    }
    return {};
}

SettingsLocationInputs CurrentSettingsInputs(const std::filesystem::path& program_dir) {
    SettingsLocationInputs inputs;
    inputs.program_dir = program_dir;
    std::error_code ec;
    inputs.installed = std::filesystem::is_directory(InstalledDataDirectory(program_dir), ec);
    // An installed copy never keeps settings in its program folder, so the
    // folder is not even tried.
    inputs.program_dir_writable =
        !inputs.installed && DirectoryIsWritable(program_dir.empty() ? "." : program_dir);
    inputs.xdg_config_home = EnvironmentValue("XDG_CONFIG_HOME");
    inputs.home = EnvironmentValue("HOME");
    return inputs;
}

} // namespace lumidex
