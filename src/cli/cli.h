#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumidex {

// The text as it may appear in one line of a message: control characters,
// DEL, C1 controls and bytes that are not UTF-8 become \xNN (\n, \r, \t and
// \e by name), and a backslash becomes \\, so an argument or a file name can
// neither add a line nor send an escape sequence to the terminal. Valid UTF-8
// text stays as it is.
std::string Printable(std::string_view text);

// Sets a tool's command-line parser up: options only as declared, and no
// help flag of the parser's own (each tool prints its own usage).
void ConfigureToolParser(CLI::App& parser);

// Declares a flag that takes no value: "--flag=x" is refused.
CLI::Option* AddFlag(CLI::App& parser, const std::string& names, bool& target);

// Declares an option with one value that may be given only once (Given()
// says whether it was).
CLI::Option* AddSingle(CLI::App& parser, const std::string& name, std::string& target);

// Declares an option that may be repeated, each time with one value.
CLI::Option* AddRepeated(CLI::App& parser, const std::string& name,
                         std::vector<std::string>& target);

// Parses the arguments (without the program name). Returns nothing on
// success, or the reason for refusing them (which may quote an argument:
// print it through Printable).
std::optional<std::string> ParseArguments(CLI::App& parser, const std::vector<std::string>& args);

// True when the option was on the command line.
inline bool Given(const CLI::Option* option) {
    return option->count() > 0;
}

} // namespace lumidex
