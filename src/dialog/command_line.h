#pragma once

#include <optional>
#include <string>
#include <vector>

namespace lumidex::dialog {

// The dialog's usage text, printed by `lumidex --help`.
std::string DialogUsage();

// What the dialog prints instead of opening its window, for the arguments
// after the program name: the usage for -h or --help, the version for
// --version (the first of them that is given). Nothing for any other
// command line: the dialog then starts as it always has.
std::optional<std::string> CommandLineAnswer(const std::vector<std::string>& args);

} // namespace lumidex::dialog
