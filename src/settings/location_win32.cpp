#include "settings/location.h"
#include "settings/location_win32.h"

#include "settings/file_io.h"

#include <algorithm>
#include <cwctype>
#include <system_error>
#include <vector>

#include <windows.h>

namespace lumidex {
namespace {

std::filesystem::path EnvironmentPath(const wchar_t* name) {
    std::wstring value(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
        if (length == 0) {
            return {};
        }
        if (length < value.size()) {
            value.resize(length);
            return value;
        }
        value.resize(length);
    }
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](wchar_t x, wchar_t y) {
        return std::towlower(static_cast<wint_t>(x)) == std::towlower(static_cast<wint_t>(y));
    });
}

} // namespace

bool IsInsideFolder(const std::filesystem::path& folder, const std::filesystem::path& root) {
    if (root.empty() || !root.is_absolute()) {
        return false;
    }
    const std::filesystem::path inner = folder.lexically_normal();
    const std::filesystem::path outer = root.lexically_normal();
    auto in = inner.begin();
    for (auto out = outer.begin(); out != outer.end(); ++out) {
        if (out->empty()) {
            continue; // the empty last part of a root with a trailing separator
        }
        if (in == inner.end() || !SameName(in->wstring(), out->wstring())) {
            return false;
        }
        ++in;
    }
    return true;
}

bool IsInstalledUnder(const std::filesystem::path& program_dir,
                      std::span<const std::filesystem::path> program_files) {
    return std::any_of(program_files.begin(), program_files.end(),
                       [&](const std::filesystem::path& root) {
                           return IsInsideFolder(program_dir, root);
                       });
}

std::filesystem::path UserSettingsFolder(const SettingsLocationInputs& inputs) {
    if (!inputs.appdata.is_absolute()) {
        return {};
    }
    return inputs.appdata / "Lumidex";
}

SettingsLocationInputs CurrentSettingsInputs(const std::filesystem::path& program_dir) {
    SettingsLocationInputs inputs;
    inputs.program_dir = program_dir;
    const std::vector<std::filesystem::path> program_files{
        EnvironmentPath(L"ProgramFiles"), EnvironmentPath(L"ProgramFiles(x86)"),
        EnvironmentPath(L"ProgramW6432")};
    std::error_code ec;
    inputs.installed = IsInstalledUnder(program_dir, program_files) ||
                       std::filesystem::is_directory(InstalledDataDirectory(program_dir), ec);
    // An installed copy never keeps settings in its program folder, so the
    // folder is not even tried.
    inputs.program_dir_writable =
        !inputs.installed && DirectoryIsWritable(program_dir.empty() ? "." : program_dir);
    inputs.appdata = EnvironmentPath(L"APPDATA");
    return inputs;
}

} // namespace lumidex
