#pragma once

#include "protocol/frame.h"

namespace lumidex {

// The computer's local date and time now, as the clock calibration sends it.
ClockTime LocalTimeNow();

} // namespace lumidex
