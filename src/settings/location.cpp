#include "settings/location.h"

#include "settings/file_io.h"

#include <system_error>
#include <vector>

#ifndef LUMIDEX_DATA_FROM_PROGRAM
#define LUMIDEX_DATA_FROM_PROGRAM "../share/lumidex"
#endif

namespace lumidex {
namespace {

constexpr const char* kSettingsFileName = "Config.ini";
constexpr const char* kHelpFileName = "Help.doc";
constexpr const char* kHtmlHelpFileName = "Help.html";

} // namespace

SettingsLocation ChooseSettingsLocation(const SettingsLocationInputs& inputs) {
    const SettingsLocation beside{inputs.program_dir / kSettingsFileName,
                                  SettingsPlace::BesideProgram};
    if (inputs.program_dir_writable && !inputs.installed) {
        return beside;
    }
    const std::filesystem::path folder = UserSettingsFolder(inputs);
    if (folder.empty()) {
        return beside;
    }
    return {folder / kSettingsFileName, SettingsPlace::UserConfig};
}

std::filesystem::path
ChooseHelpDocument(const std::filesystem::path& program_dir, const std::filesystem::path& data_dir,
                   const std::function<bool(const std::filesystem::path&)>& exists) {
    const std::filesystem::path beside = program_dir / kHelpFileName;
    if (exists(beside)) {
        return beside;
    }
    const std::filesystem::path installed = data_dir / kHelpFileName;
    return exists(installed) ? installed : beside;
}

std::filesystem::path HtmlHelpFor(const std::filesystem::path& document) {
    return document.parent_path() / kHtmlHelpFileName;
}

std::filesystem::path InstalledDataDirectory(const std::filesystem::path& program_dir) {
    return (program_dir / LUMIDEX_DATA_FROM_PROGRAM).lexically_normal();
}

bool PrepareSettingsFolder(const std::filesystem::path& file) {
    const std::filesystem::path folder = file.parent_path();
    if (folder.empty()) {
        return true;
    }
    // Create the missing folders from the outermost one inwards, so each
    // new one can be closed to other users before anything goes into it.
    std::vector<std::filesystem::path> missing;
    std::error_code ec;
    for (auto part = folder; !part.empty() && !std::filesystem::exists(part, ec);
         part = part.parent_path()) {
        missing.push_back(part);
        if (part == part.parent_path()) {
            break;
        }
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (!std::filesystem::create_directory(*it, ec) || ec) {
            return std::filesystem::is_directory(folder, ec);
        }
        std::filesystem::permissions(*it, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace, ec);
    }
    return std::filesystem::is_directory(folder, ec);
}

std::string SettingsPlaceNotice(const SettingsLocation& location, bool existed_before,
                                bool exists_now) {
    if (location.place != SettingsPlace::UserConfig || existed_before || !exists_now) {
        return {};
    }
    return "Lumidex keeps your settings in " + location.file.string() +
           ". Its own folder cannot hold them, so this file was created for you.";
}

} // namespace lumidex
