#pragma once

// A settings file's keys as a snapshot, for comparing what a handler wrote.
#include "tests/support/temp_dir.h"

#include <filesystem>
#include <map>
#include <sstream>
#include <string>

namespace lumidex::test {

using Keys = std::map<std::string, std::string>;

// Every key of the settings file as "Section/key" -> value.
inline Keys ReadKeys(const std::filesystem::path& file) {
    Keys keys;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) {
        return keys;
    }
    std::string section;
    std::istringstream text(ReadFileOrFail(file));
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.starts_with('[')) {
            section = line.substr(1, line.find(']') - 1);
        } else if (const auto eq = line.find('='); eq != std::string::npos) {
            keys[section + "/" + line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return keys;
}

// The keys that changed between two snapshots, as "Section/key=value, ...".
inline std::string ChangedKeys(const Keys& before, const Keys& after) {
    std::string changed;
    for (const auto& [key, value] : after) {
        const auto old = before.find(key);
        if (old == before.end() || old->second != value) {
            changed += (changed.empty() ? "" : ", ") + key + "=" + value;
        }
    }
    return changed;
}

} // namespace lumidex::test
