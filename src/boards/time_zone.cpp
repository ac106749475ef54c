#include "boards/time_zone.h"

#include <array>
#include <charconv>
#include <ctime>
#include <mutex>

namespace lumidex {
namespace {

using namespace std::chrono;

class SystemZone final : public TimeZone {
public:
    SystemZone() { Reload(); }

    seconds OffsetAt(SysSeconds t) const override {
        const std::time_t when = static_cast<std::time_t>(t.time_since_epoch().count());
        std::tm local{};
        std::tm utc{};
        {
            std::lock_guard lock(mutex_);
#ifdef _WIN32
            localtime_s(&local, &when);
            gmtime_s(&utc, &when);
#else
            localtime_r(&when, &local);
            gmtime_r(&when, &utc);
#endif
        }
        // The difference of the two calendars' readings of one moment.
        const auto as_seconds = [](const std::tm& tm) {
            const sys_days date = year{tm.tm_year + 1900} / month{static_cast<unsigned>(tm.tm_mon + 1)} /
                                  day{static_cast<unsigned>(tm.tm_mday)};
            return date.time_since_epoch() + hours{tm.tm_hour} + minutes{tm.tm_min} +
                   seconds{tm.tm_sec};
        };
        return duration_cast<seconds>(as_seconds(local) - as_seconds(utc));
    }

    void Reload() override {
        std::lock_guard lock(mutex_);
#ifdef _WIN32
        _tzset();
#else
        tzset();
#endif
    }

private:
    mutable std::mutex mutex_;
};

// A local date and time is valid at the moment when the zone reads it there.
bool Reads(const TimeZone& zone, SysSeconds t, LocalSeconds local) {
    return ToLocal(zone, t) == local;
}

int Number(std::string_view text) {
    int value = -1;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        return -1;
    }
    return value;
}

bool Digits(std::string_view text) {
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return !text.empty();
}

std::string TwoDigits(long long value) {
    return (value < 10 ? "0" : "") + std::to_string(value);
}

std::string DateTimeText(LocalSeconds local, char between) {
    const auto day = floor<days>(local);
    const year_month_day date{day};
    const hh_mm_ss time{local - day};
    return std::to_string(static_cast<int>(date.year())) + "-" +
           TwoDigits(static_cast<unsigned>(date.month())) + "-" +
           TwoDigits(static_cast<unsigned>(date.day())) + between +
           TwoDigits(time.hours().count()) + ":" + TwoDigits(time.minutes().count()) + ":" +
           TwoDigits(time.seconds().count());
}

constexpr std::array<std::string_view, 7> kWeekdays{"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

// Monday 0 .. Sunday 6.
int WeekdayOf(LocalSeconds local) {
    return static_cast<int>(weekday{floor<days>(local)}.iso_encoding()) - 1;
}

} // namespace

TimeZone& SystemTimeZone() {
    static SystemZone zone;
    return zone;
}

LocalSeconds ToLocal(const TimeZone& zone, SysSeconds t) {
    return LocalSeconds{t.time_since_epoch() + zone.OffsetAt(t)};
}

SysSeconds FromLocal(const TimeZone& zone, LocalSeconds local) {
    const SysSeconds naive{local.time_since_epoch()};
    // Offsets a day either side: a zone changes its offset at most once in
    // between, so one of them is the offset at the moment, if there is one.
    const seconds before = zone.OffsetAt(naive - days{1});
    const seconds after = zone.OffsetAt(naive + days{1});
    std::optional<SysSeconds> found;
    for (const seconds offset : {before, after}) {
        const SysSeconds t = naive - offset;
        if (Reads(zone, t, local) && (!found || t < *found)) {
            found = t;
        }
    }
    if (found) {
        return *found;
    }
    // In a gap: the moment the clocks jumped, the first after it. Between
    // the two candidates the zone reads before `local`, then after it.
    SysSeconds low = naive - std::max(before, after);
    SysSeconds high = naive - std::min(before, after);
    while (high - low > seconds{1}) {
        const SysSeconds mid = low + (high - low) / 2;
        if (ToLocal(zone, mid) < local) {
            low = mid;
        } else {
            high = mid;
        }
    }
    return high;
}

std::optional<SysSeconds> NextDaily(const TimeZone& zone, const Daily& daily, SysSeconds after) {
    if ((daily.days & kEveryDay) == 0) {
        return std::nullopt;
    }
    // From the day before (an occurrence there may fall after `after` in a
    // zone far east) to a week on.
    const auto first = floor<days>(ToLocal(zone, after)) - days{1};
    for (int k = 0; k <= 8; ++k) {
        const LocalSeconds local = first + days{k} + daily.time;
        if ((daily.days & (1u << WeekdayOf(local))) == 0) {
            continue;
        }
        const SysSeconds t = FromLocal(zone, local);
        if (t > after) {
            return t;
        }
    }
    return std::nullopt;
}

std::optional<SysSeconds> LatestDaily(const TimeZone& zone, const Daily& daily, SysSeconds from,
                                      SysSeconds until) {
    if ((daily.days & kEveryDay) == 0 || until <= from) {
        return std::nullopt;
    }
    const auto last = floor<days>(ToLocal(zone, until)) + days{1};
    for (int k = 0; k <= 8; ++k) {
        const LocalSeconds local = last - days{k} + daily.time;
        if ((daily.days & (1u << WeekdayOf(local))) == 0) {
            continue;
        }
        const SysSeconds t = FromLocal(zone, local);
        if (t <= until) {
            return t > from ? std::optional(t) : std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<LocalSeconds> ParseLocalDateTime(std::string_view text) {
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
        text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    for (const auto& [at, size] : {std::pair{0, 4}, {5, 2}, {8, 2}, {11, 2}, {14, 2}, {17, 2}}) {
        if (!Digits(text.substr(at, size))) {
            return std::nullopt;
        }
    }
    const int y = Number(text.substr(0, 4));
    const year_month_day date{year{y}, month{static_cast<unsigned>(Number(text.substr(5, 2)))},
                              day{static_cast<unsigned>(Number(text.substr(8, 2)))}};
    const int h = Number(text.substr(11, 2));
    const int m = Number(text.substr(14, 2));
    const int s = Number(text.substr(17, 2));
    if (y < 1970 || !date.ok() || h > 23 || m > 59 || s > 59) {
        return std::nullopt;
    }
    return local_days{date} + hours{h} + minutes{m} + seconds{s};
}

std::optional<minutes> ParseTimeOfDay(std::string_view text) {
    if (text.size() != 5 || text[2] != ':' || !Digits(text.substr(0, 2)) || !Digits(text.substr(3, 2))) {
        return std::nullopt;
    }
    const int h = Number(text.substr(0, 2));
    const int m = Number(text.substr(3, 2));
    if (h > 23 || m > 59) {
        return std::nullopt;
    }
    return hours{h} + minutes{m};
}

std::optional<int> WeekdayIndex(std::string_view name) {
    for (std::size_t i = 0; i < kWeekdays.size(); ++i) {
        if (kWeekdays[i] == name) {
            return static_cast<int>(i);
        }
    }
    return std::nullopt;
}

std::string_view WeekdayName(int index) {
    return kWeekdays.at(static_cast<std::size_t>(index));
}

std::string LocalDateTimeText(LocalSeconds local) {
    return DateTimeText(local, ' ');
}

std::string TimeOfDayText(minutes time) {
    return TwoDigits(time.count() / 60) + ":" + TwoDigits(time.count() % 60);
}

std::string IsoLocal(const TimeZone& zone, SysSeconds t) {
    const seconds offset = zone.OffsetAt(t);
    const long long total = offset.count() < 0 ? -offset.count() : offset.count();
    return DateTimeText(LocalSeconds{t.time_since_epoch() + offset}, 'T') +
           (offset.count() < 0 ? "-" : "+") + TwoDigits(total / 3600) + ":" +
           TwoDigits(total % 3600 / 60);
}

std::string IsoUtc(SysSeconds t) {
    return DateTimeText(LocalSeconds{t.time_since_epoch()}, 'T') + "Z";
}

std::optional<SysSeconds> ParseIsoUtc(std::string_view text) {
    if (text.size() != 20 || text[10] != 'T' || text[19] != 'Z') {
        return std::nullopt;
    }
    std::string spaced(text.substr(0, 19));
    spaced[10] = ' ';
    const auto local = ParseLocalDateTime(spaced);
    if (!local) {
        return std::nullopt;
    }
    return SysSeconds{local->time_since_epoch()};
}

} // namespace lumidex
