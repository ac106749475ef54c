#include "boards/board_rules.h"

#include "lines/keystroke.h"
#include "protocol/content_frame.h"
#include "protocol/local_time.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace lumidex {
namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The text a line shows for a typed value. A fixed-point line given the
// empty text is cleared: its stored text is what the board shows and what a
// restart sends.
std::string FormatTypedLineText(std::string_view text, const LineFormat& format) {
    return FormatTypedLine(text, format).value_or("");
}

} // namespace

std::string_view TrimPayload(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string CommandName(CommandKind command) {
    switch (command) {
    case CommandKind::DayBrightness:
    case CommandKind::NightBrightness:
        return "brightness";
    case CommandKind::Clock:
        return "clock";
    case CommandKind::Init:
        return "init";
    default:
        return "content";
    }
}

bool EditorTakes(std::string_view text, const LineFormat& format) {
    EditorText editor;
    for (const char c : text) {
        // Backspace and carriage return are keys, not characters of a value.
        if (c != '.' && (c < '0' || c > '9')) {
            return false;
        }
        const auto outcome = ApplyLineKeystroke(editor, static_cast<unsigned char>(c),
                                                format.numbers, format.places);
        if (outcome.verdict != KeyVerdict::Accepted) {
            return false;
        }
        editor = outcome.result;
    }
    return true;
}

bool LineValueFits(std::string_view text, const LineFormat& format) {
    if (text.empty()) {
        return true;
    }
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view decimals =
        point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
    const auto digits = [](std::string_view part) {
        return std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (whole.empty() || !digits(whole) || !digits(decimals)) {
        return false;
    }
    const bool point_typable = format.places == kFreePoint || LeadingNumber(format.places) != 0;
    if (!EditorTakes(whole, format) || (point != std::string_view::npos && point_typable &&
                                        !EditorTakes(text.substr(0, point + 1), format))) {
        return false;
    }
    // Rounding may still carry into a place the line does not have (99.999
    // with 4 digits and 2 places would show 00.00).
    const auto formatted = FormatTypedLineText(text, format);
    const double typed = std::strtod(std::string(text).c_str(), nullptr);
    const double shown = std::strtod(formatted.c_str(), nullptr);
    return std::fabs(shown - typed) < 1.0;
}

std::string LineValuePattern(const LineFormat& format) {
    // The editor's rules for H digit places and L fixed decimals: without a
    // point a fixed-point text holds at most H - L digits (a free-point one
    // H), and a typed point must stand within the first H places. Further
    // decimals are the formatting's to round or cut.
    const int h = FirstDigitValue(format.numbers);
    const bool free_point = format.places == kFreePoint;
    const int l = free_point ? 0 : FirstDigitValue(format.places);
    const bool point_typable = free_point || LeadingNumber(format.places) != 0;
    const int whole = free_point ? h : h - l;
    std::string pattern = "^(";
    if (whole >= 1) {
        pattern += "[0-9]{1," + std::to_string(whole) + "}";
        if (!point_typable) {
            pattern += "(\\.[0-9]*)?";
        } else if (std::min(whole, h - 1) >= 1) {
            pattern += "|[0-9]{1," + std::to_string(std::min(whole, h - 1)) + "}\\.[0-9]*";
        }
    }
    return pattern + ")?$";
}

std::variant<BoardChange, std::string>
CheckCommand(CommandKind kind, int line, std::string_view raw_payload,
             const std::array<LineFormat, kLineCount>& formats) {
    const std::string_view payload = TrimPayload(raw_payload);
    const std::string quoted = "'" + std::string(payload) + "'";
    BoardChange command;
    const bool line_command =
        kind == CommandKind::Line || kind == CommandKind::Flicker || kind == CommandKind::Point;
    if (line_command && (line < 1 || line > kLineCount)) {
        return "lines are 1 to 6, not " + std::to_string(line);
    }
    const auto line_index = static_cast<std::size_t>(line_command ? line - 1 : 0);
    switch (kind) {
    case CommandKind::Line: {
        const LineFormat& format = formats[line_index];
        if (!LineValueFits(payload, format)) {
            return "line " + std::to_string(line) + " (" + format.numbers + " digits, " +
                   (format.places == kFreePoint ? std::string("free point")
                                                : format.places + " decimal places") +
                   ") does not take " + quoted;
        }
        // A fixed-point line given the empty text is cleared: its stored
        // text is what the board shows and what a restart sends.
        command.writes.emplace_back(keys::kLineText[line_index],
                                    FormatTypedLineText(payload, format));
        command.content = true;
        return command;
    }
    case CommandKind::Flicker:
    case CommandKind::Point:
        if (payload != "0" && payload != "1") {
            return "a flag is 1 or 0, not " + quoted;
        }
        command.writes.emplace_back(kind == CommandKind::Flicker
                                        ? keys::kFlicker[line_index]
                                        : keys::kPoint[line_index],
                                    std::string(payload));
        command.content = true;
        return command;
    case CommandKind::Update: {
        const auto index = UpdateIndexFromText(payload);
        if (!index) {
            return "the update time is Now or a whole hour HH:00, not " + quoted;
        }
        command.writes.emplace_back(keys::kUpdateTime,
                                    *index == 0 ? std::string("Now") : std::string(payload));
        command.content = true;
        return command;
    }
    case CommandKind::DayBrightness:
    case CommandKind::NightBrightness:
        if (payload.size() != 1 || payload[0] < '0' || payload[0] > '7') {
            return "a brightness level is 0 to 7, not " + quoted;
        }
        command.writes.emplace_back(kind == CommandKind::DayBrightness
                                        ? keys::kDayBrightness
                                        : keys::kNightBrightness,
                                    std::string(payload));
        command.brightness = true;
        return command;
    case CommandKind::Clock:
        if (payload.empty() || EqualsIgnoringCase(payload, "now")) {
            command.clock.emplace();
            return command;
        }
        if (auto time = ParseClockTime(payload)) {
            command.clock = time;
            return command;
        }
        return "the clock takes nothing or now (the bridge's local time), or \"YYYY-MM-DD "
               "HH:MM:SS\" (a real date, 2000..2255), not " +
               quoted;
    case CommandKind::Init:
        if (payload != "INITIALIZE") {
            return "initialising the control card takes the payload INITIALIZE as its "
                   "confirmation, not " +
                   quoted;
        }
        command.init = true;
        return command;
    }
    return "unknown command";
}

void MergeChange(BoardChange& into, BoardChange later) {
    for (auto& write : later.writes) {
        std::erase_if(into.writes, [&](const auto& w) { return w.first.name == write.first.name; });
        into.writes.push_back(std::move(write));
    }
    into.content = into.content || later.content;
    into.brightness = into.brightness || later.brightness;
    into.init = into.init || later.init;
    if (later.clock) {
        into.clock = later.clock;
    }
}

} // namespace lumidex
