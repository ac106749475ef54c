#include "boards/board_rules.h"

#include "lines/keystroke.h"
#include "protocol/content_frame.h"
#include "protocol/local_time.h"
#include "settings/text_codec.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace lumidex {
namespace {

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

Command CommandOf(ChangeField field) {
    switch (field) {
    case ChangeField::DayBrightness:
    case ChangeField::NightBrightness:
        return Command::Brightness;
    case ChangeField::Clock:
        return Command::Clock;
    case ChangeField::Init:
        return Command::Init;
    default:
        return Command::Content;
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

namespace {

bool IsLine(int line) {
    return line >= 1 && line <= kLineCount;
}

std::string NotALine(int line) {
    return "lines are 1 to 6, not " + std::to_string(line);
}

std::size_t IndexOf(int line) {
    return static_cast<std::size_t>(line - 1);
}

} // namespace

std::optional<std::string> OutsideBounds(int line, std::string_view shown, std::string_view typed,
                                         const LineBounds& bounds) {
    if (shown.empty() || (!bounds.min && !bounds.max)) {
        return std::nullopt;
    }
    const auto number = [](std::string_view text) {
        return std::strtod(std::string(text).c_str(), nullptr);
    };
    // Texts of at most eight digits: a double holds them exactly enough for
    // a comparison at the last place.
    constexpr double kSlack = 1e-9;
    const double value = number(shown);
    const bool low = bounds.min && value < number(*bounds.min) - kSlack;
    const bool high = bounds.max && value > number(*bounds.max) + kSlack;
    if (!low && !high) {
        return std::nullopt;
    }
    std::string takes;
    if (bounds.min && bounds.max) {
        takes = *bounds.min + " to " + *bounds.max;
    } else if (bounds.min) {
        takes = "at least " + *bounds.min;
    } else {
        takes = "at most " + *bounds.max;
    }
    return "line " + std::to_string(line) + " takes " + takes + ", not " + std::string(typed);
}

std::optional<std::string> AddLineValue(BoardChange& change, int line, std::string_view text,
                                        const LineRules& rules) {
    if (!IsLine(line)) {
        return NotALine(line);
    }
    const LineFormat& format = rules.formats[IndexOf(line)];
    if (!LineValueFits(text, format)) {
        return "line " + std::to_string(line) + " (" + format.numbers + " digits, " +
               (format.places == kFreePoint ? std::string("free point")
                                            : format.places + " decimal places") +
               ") does not take '" + std::string(text) + "'";
    }
    // A fixed-point line given the empty text is cleared: its stored text
    // is what the board shows and what a restart sends.
    std::string shown = FormatTypedLineText(text, format);
    if (auto outside = OutsideBounds(line, shown, text, rules.bounds[IndexOf(line)])) {
        return outside;
    }
    change.writes.emplace_back(keys::kLineText[IndexOf(line)], std::move(shown));
    change.sends.Add(Command::Content);
    return std::nullopt;
}

std::optional<std::string> AddLineFlag(BoardChange& change, ChangeField flag, int line, bool on) {
    if (!IsLine(line)) {
        return NotALine(line);
    }
    const auto& keys = flag == ChangeField::Flicker ? keys::kFlicker : keys::kPoint;
    change.writes.emplace_back(keys[IndexOf(line)], on ? "1" : "0");
    change.sends.Add(Command::Content);
    return std::nullopt;
}

std::optional<std::string> AddUpdateTime(BoardChange& change, std::string_view text) {
    const auto index = UpdateIndexFromText(text);
    if (!index) {
        return "the update time is Now or a whole hour HH:00, not '" + std::string(text) + "'";
    }
    change.writes.emplace_back(keys::kUpdateTime,
                               *index == 0 ? std::string("Now") : std::string(text));
    change.sends.Add(Command::Content);
    return std::nullopt;
}

std::optional<std::string> AddBrightness(BoardChange& change, ChangeField which, int level) {
    if (level < 0 || level > 7) {
        return "a brightness level is 0 to 7, not " + std::to_string(level);
    }
    change.writes.emplace_back(which == ChangeField::DayBrightness ? keys::kDayBrightness
                                                                   : keys::kNightBrightness,
                               std::to_string(level));
    change.sends.Add(Command::Brightness);
    return std::nullopt;
}

void AddClock(BoardChange& change, std::optional<ClockTime> time) {
    change.sends.Add(Command::Clock);
    change.clock_time = time;
}

void AddInit(BoardChange& change) {
    change.sends.Add(Command::Init);
}

std::variant<BoardChange, std::string>
ChangeFromText(ChangeField field, int line, std::string_view raw_payload, const LineRules& rules) {
    const std::string_view payload = TrimPayload(raw_payload);
    const std::string quoted = "'" + std::string(payload) + "'";
    BoardChange change;
    std::optional<std::string> refused;
    switch (field) {
    case ChangeField::Line:
        refused = AddLineValue(change, line, payload, rules);
        break;
    case ChangeField::Flicker:
    case ChangeField::Point:
        if (!IsLine(line)) {
            refused = NotALine(line);
        } else if (payload != "0" && payload != "1") {
            refused = "a flag is 1 or 0, not " + quoted;
        } else {
            refused = AddLineFlag(change, field, line, payload == "1");
        }
        break;
    case ChangeField::Update:
        refused = AddUpdateTime(change, payload);
        break;
    case ChangeField::DayBrightness:
    case ChangeField::NightBrightness:
        if (payload.size() != 1 || payload[0] < '0' || payload[0] > '7') {
            refused = "a brightness level is 0 to 7, not " + quoted;
        } else {
            refused = AddBrightness(change, field, payload[0] - '0');
        }
        break;
    case ChangeField::Clock:
        if (payload.empty() || EqualIgnoringCase(payload, "now")) {
            AddClock(change, std::nullopt);
        } else if (auto time = ParseClockTime(payload)) {
            AddClock(change, time);
        } else {
            refused = "the clock takes nothing or now (the bridge's local time), or \"YYYY-MM-DD "
                      "HH:MM:SS\" (a real date, 2000..2255), not " +
                      quoted;
        }
        break;
    case ChangeField::Init:
        if (payload != "INITIALIZE") {
            refused = "initialising the control card takes the payload INITIALIZE as its "
                      "confirmation, not " +
                      quoted;
        } else {
            AddInit(change);
        }
        break;
    }
    if (refused) {
        return *refused;
    }
    return change;
}

void MergeChange(BoardChange& into, BoardChange later) {
    for (auto& write : later.writes) {
        std::erase_if(into.writes, [&](const auto& w) {
            return w.first.section == write.first.section && w.first.name == write.first.name;
        });
        into.writes.push_back(std::move(write));
    }
    if (later.sends.Has(Command::Clock)) {
        into.clock_time = later.clock_time;
    }
    into.sends |= later.sends;
}

} // namespace lumidex
