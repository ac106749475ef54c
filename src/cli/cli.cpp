#include "cli/cli.h"

#include <algorithm>
#include <cstdint>

namespace lumidex {
namespace {

void AppendEscaped(std::string& out, unsigned char byte) {
    switch (byte) {
    case '\n':
        out += "\\n";
        return;
    case '\r':
        out += "\\r";
        return;
    case '\t':
        out += "\\t";
        return;
    case 0x1B:
        out += "\\e";
        return;
    default:
        break;
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
}

// The length of the well-formed UTF-8 sequence at the start of `text` that
// encodes a printable character (no C1 control, no surrogate, no overlong
// form); 0 when there is none.
std::size_t PrintableSequence(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(i) & 0x3F);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    const bool invalid = overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) ||
                         (code >= 0x80 && code <= 0x9F);
    return invalid ? 0 : length;
}

// The parser's words for the two refusals it makes most, in the tools' own.
std::string Reworded(std::string message) {
    constexpr std::string_view kOverride = " was given a disallowed flag override";
    constexpr std::string_view kTwice = ": At Most 1 required but received ";
    if (message.ends_with(kOverride)) {
        return "--" + message.substr(0, message.size() - kOverride.size()) + " takes no value";
    }
    if (const std::size_t at = message.find(kTwice); at != std::string::npos) {
        return message.substr(0, at) + " may be given only once";
    }
    return message;
}

} // namespace

std::string Printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const auto byte = static_cast<unsigned char>(text.front());
        if (byte == '\\') {
            out += "\\\\";
            text.remove_prefix(1);
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += static_cast<char>(byte);
            text.remove_prefix(1);
        } else if (const std::size_t length = byte >= 0x80 ? PrintableSequence(text) : 0;
                   length > 0) {
            out.append(text.substr(0, length));
            text.remove_prefix(length);
        } else {
            AppendEscaped(out, byte);
            text.remove_prefix(1);
        }
    }
    return out;
}

void ConfigureToolParser(CLI::App& parser) {
    parser.set_help_flag();
    parser.allow_windows_style_options(false);
}

CLI::Option* AddFlag(CLI::App& parser, const std::string& names, bool& target) {
    return parser.add_flag(names, target)->disable_flag_override();
}

CLI::Option* AddSingle(CLI::App& parser, const std::string& name, std::string& target) {
    return parser.add_option(name, target)->multi_option_policy(CLI::MultiOptionPolicy::Throw);
}

CLI::Option* AddRepeated(CLI::App& parser, const std::string& name,
                         std::vector<std::string>& target) {
    return parser.add_option(name, target)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

std::optional<std::string> ParseArguments(CLI::App& parser, const std::vector<std::string>& args) {
    // The parser takes the arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        parser.parse(reversed);
    } catch (const CLI::ParseError& error) {
        return Reworded(error.what());
    }
    return std::nullopt;
}

} // namespace lumidex
