#pragma once

// The service's local time: schedules name a local date and time or a time
// of day, which a time zone with daylight saving turns into a moment. The
// program uses the system's zone (TZ, or the system's setting); tests hand
// the service zones of their own.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumidex {

using SysSeconds = std::chrono::sys_seconds;
using LocalSeconds = std::chrono::local_seconds;

class TimeZone {
public:
    virtual ~TimeZone() = default;
    // The zone's offset from UTC at the moment `t` (local = t + offset).
    virtual std::chrono::seconds OffsetAt(SysSeconds t) const = 0;
    // Takes up a change of the zone's setting (the system's TZ); the
    // service calls it at least once a minute.
    virtual void Reload() {}
};

// The system's zone, as the C library's local time sees it.
TimeZone& SystemTimeZone();

// The local date and time of the moment.
LocalSeconds ToLocal(const TimeZone& zone, SysSeconds t);

// The moment a local date and time names. Where clocks go back and it
// occurs twice, the first; where clocks go forward and it does not occur,
// the first moment after the gap (02:30 on a night that jumps from 02:00 to
// 03:00 is 03:00).
SysSeconds FromLocal(const TimeZone& zone, LocalSeconds local);

// Weekdays as a set: bit 0 Monday .. bit 6 Sunday.
using Weekdays = std::uint8_t;
inline constexpr Weekdays kEveryDay = 0x7F;

// A time of day on chosen weekdays.
struct Daily {
    std::chrono::minutes time{0}; // since midnight, 0..1439
    Weekdays days = kEveryDay;
    bool operator==(const Daily&) const = default;
};

// The first occurrence of a daily time after the moment `after`; at most
// once per local day (the first, where clocks go back). Nothing for no days.
std::optional<SysSeconds> NextDaily(const TimeZone& zone, const Daily& daily, SysSeconds after);
// The latest occurrence in (from, until]; nothing when none falls there.
std::optional<SysSeconds> LatestDaily(const TimeZone& zone, const Daily& daily, SysSeconds from,
                                      SysSeconds until);

// "YYYY-MM-DD HH:MM:SS", a real date, years 1970..9999; nothing for any
// other text.
std::optional<LocalSeconds> ParseLocalDateTime(std::string_view text);
// "HH:MM", 00:00..23:59; nothing for any other text.
std::optional<std::chrono::minutes> ParseTimeOfDay(std::string_view text);
// "mon".."sun"; nothing for any other text.
std::optional<int> WeekdayIndex(std::string_view name);
std::string_view WeekdayName(int index);

// "YYYY-MM-DD HH:MM:SS" and "HH:MM".
std::string LocalDateTimeText(LocalSeconds local);
std::string TimeOfDayText(std::chrono::minutes time);
// "2026-12-24T12:00:00+01:00": the moment in the zone, with its offset.
std::string IsoLocal(const TimeZone& zone, SysSeconds t);
// "2026-12-24T11:00:00Z", and back (nothing for any other text).
std::string IsoUtc(SysSeconds t);
std::optional<SysSeconds> ParseIsoUtc(std::string_view text);

} // namespace lumidex
