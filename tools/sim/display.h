#pragma once

#include "protocol/frame_decoder.h"

#include <array>
#include <optional>
#include <string>

namespace lumidex {

// What the virtual display shows: the six lines as last sent, the
// brightness levels and the clock it was given.
struct DisplayState {
    std::array<std::optional<DecodedLine>, 6> lines;
    std::optional<int> day_level;
    std::optional<int> night_level;
    std::optional<ClockTime> clock;
    std::optional<int> pending_hour; // content waiting for this hour code
    int initialisations = 0;

    // Takes a valid frame's fields into the display.
    void Apply(const DecodedFrame& frame);
};

// The six lines drawn as seven-segment digits (three text rows per line),
// with points and flicker marked, then brightness and clock. Every character
// a line carries is drawn; one with more characters than its digit count
// says "K beyond them" in its note.
std::string RenderDisplay(const DisplayState& state);

// One line of seven-segment digits for a line's text (" 12.5"): three rows.
std::array<std::string, 3> RenderSegments(const std::string& text);

} // namespace lumidex
