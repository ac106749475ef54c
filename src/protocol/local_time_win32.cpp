#include "protocol/local_time.h"

#include <windows.h>

namespace lumidex {

ClockTime LocalTimeNow() {
    SYSTEMTIME local{};
    ::GetLocalTime(&local);
    // wDayOfWeek counts from Sunday = 0, as the clock frame wants it.
    return {local.wYear,   local.wMonth,  local.wDay,      local.wHour,
            local.wMinute, local.wSecond, local.wDayOfWeek};
}

} // namespace lumidex
