#include "tools/sim/display.h"

#include "protocol/frame.h"

#include <algorithm>
#include <cstdio>

namespace lumidex {
namespace {

// Segment rows of the digits 0..9 and the blank, three characters each.
constexpr const char* kGlyphs[11][3] = {
    {" _ ", "| |", "|_|"}, {"   ", "  |", "  |"}, {" _ ", " _|", "|_ "}, {" _ ", " _|", " _|"},
    {"   ", "|_|", "  |"}, {" _ ", "|_ ", " _|"}, {" _ ", "|_ ", "|_|"}, {" _ ", "  |", "  |"},
    {" _ ", "|_|", "|_|"}, {" _ ", "|_|", " _|"}, {"   ", "   ", "   "},
};
constexpr int kBlankGlyph = 10;

const char* WeekdayName(int weekday) {
    static constexpr const char* kNames[] = {"?",        "Monday", "Tuesday",  "Wednesday",
                                             "Thursday", "Friday", "Saturday", "Sunday"};
    return (weekday >= 1 && weekday <= 7) ? kNames[weekday] : kNames[0];
}

} // namespace

void DisplayState::Apply(const DecodedFrame& frame) {
    switch (frame.command) {
    case kContentNow:
    case kContentAtHour:
        for (const DecodedLine& line : frame.lines) {
            lines[static_cast<std::size_t>(line.line - 1)] = line;
        }
        pending_hour = frame.at_once ? std::nullopt : std::optional<int>(frame.hour_code);
        break;
    case kBrightness:
        day_level = frame.day_level;
        night_level = frame.night_level;
        break;
    case kClockCalibration:
        clock = frame.clock;
        break;
    case kInitialise: {
        // The card starts afresh: lines, levels and clock are gone.
        const int count = initialisations + 1;
        *this = DisplayState();
        initialisations = count;
    } break;
    default:
        break;
    }
}

std::array<std::string, 3> RenderSegments(const std::string& text) {
    std::array<std::string, 3> rows;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.') {
            continue; // drawn with the place before it
        }
        const int glyph = (c >= '0' && c <= '9') ? c - '0' : kBlankGlyph;
        const bool point = i + 1 < text.size() && text[i + 1] == '.';
        for (int row = 0; row < 3; ++row) {
            rows[static_cast<std::size_t>(row)] += kGlyphs[glyph][row];
            rows[static_cast<std::size_t>(row)] += (row == 2 && point) ? '.' : ' ';
        }
    }
    return rows;
}

std::string RenderDisplay(const DisplayState& state) {
    std::string out;
    for (std::size_t i = 0; i < state.lines.size(); ++i) {
        const auto& line = state.lines[i];
        const std::string label = "  line " + std::to_string(i + 1) + "  ";
        if (!line) {
            out += label + "(nothing sent)\n";
            continue;
        }
        const auto rows = RenderSegments(line->text);
        std::string note =
            "  [" + line->text + "] " + std::to_string(line->digit_count) + " digits";
        // Every character sent is drawn, in the order sent. A line can carry
        // more characters than its digit count (0 decimal places keep up to
        // N + 1 digits); the note says how many stand beyond the count.
        const auto places = static_cast<int>(
            std::count_if(line->text.begin(), line->text.end(), [](char c) { return c != '.'; }));
        if (places > line->digit_count) {
            note += ", " + std::to_string(places - line->digit_count) + " beyond them";
        }
        if (line->flicker) {
            note += ", flickering";
        }
        out += std::string(label.size(), ' ') + rows[0] + "\n";
        out += label + rows[1] + note + "\n";
        out += std::string(label.size(), ' ') + rows[2] + "\n";
    }
    if (state.pending_hour) {
        const int hour = *state.pending_hour == 24 ? 0 : *state.pending_hour;
        char when[16];
        std::snprintf(when, sizeof when, "%02d:00", hour);
        out += std::string("  content shows from ") + when + "\n";
    }
    out += "  brightness: ";
    out += state.day_level ? "day " + std::to_string(*state.day_level) + ", night " +
                                 std::to_string(*state.night_level)
                           : std::string("not set");
    out += "\n  clock: ";
    out += state.clock ? FormatClock(*state.clock) + " " + WeekdayName(state.clock->weekday)
                       : std::string("not set");
    out += "\n";
    if (state.initialisations > 0) {
        out += "  initialised " + std::to_string(state.initialisations) + " time(s)\n";
    }
    return out;
}

} // namespace lumidex
