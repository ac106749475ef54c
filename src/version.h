#pragma once

// The version of every Lumidex program, written once in CMakeLists.txt
// (project(Lumidex VERSION ...)) and handed down through lumidex_version.h,
// which the build makes.
#include "lumidex_version.h"

#include <string>
#include <string_view>

namespace lumidex {

inline constexpr std::string_view kVersion = LUMIDEX_VERSION_TEXT;

// What `PROGRAM --version` prints: the program and the version on the first
// line (the form help2man reads), then the copyright and the licence.
inline std::string VersionText(std::string_view program) {
    std::string text(program);
    text += ' ';
    text += kVersion;
    text += "\n" LUMIDEX_COPYRIGHT "\nLicense: " LUMIDEX_LICENSE
            " <https://opensource.org/license/mit>\n";
    return text;
}

} // namespace lumidex
