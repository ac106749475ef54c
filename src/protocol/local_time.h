#pragma once

#include "protocol/frame.h"

#include <optional>
#include <string_view>

namespace lumidex {

// The computer's local date and time now, as the clock calibration sends it.
ClockTime LocalTimeNow();

// Parses "YYYY-MM-DD HH:MM:SS" into a valid local date and time with its
// weekday; nothing when the text is malformed, the date does not exist or
// the year is outside 2000..2255 (what the frame can carry).
std::optional<ClockTime> ParseClockTime(std::string_view text);

} // namespace lumidex
