#include "protocol/local_time.h"

#include <ctime>
#include <string_view>

namespace lumidex {

std::optional<ClockTime> ParseClockTime(std::string_view text) {
    // Exactly "YYYY-MM-DD HH:MM:SS": every field written in digits, so no
    // sign, blank or shortened field slips through a number conversion.
    static constexpr std::string_view kPattern = "DDDD-DD-DD DD:DD:DD";
    if (text.size() != kPattern.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < kPattern.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kPattern[i] == 'D' ? !digit : text[i] != kPattern[i]) {
            return std::nullopt;
        }
    }
    auto field = [&](std::size_t at, std::size_t width) {
        int value = 0;
        for (std::size_t i = at; i < at + width; ++i) {
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    ClockTime t;
    t.year = field(0, 4);
    t.month = field(5, 2);
    t.day = field(8, 2);
    t.hour = field(11, 2);
    t.minute = field(14, 2);
    t.second = field(17, 2);
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31) {
        return std::nullopt;
    }
    std::tm probe{};
    probe.tm_year = t.year - 1900;
    probe.tm_mon = t.month - 1;
    probe.tm_mday = t.day;
    probe.tm_hour = 12;
    probe.tm_isdst = -1;
    const std::tm wanted = probe;
    if (std::mktime(&probe) == -1 || probe.tm_year != wanted.tm_year ||
        probe.tm_mon != wanted.tm_mon || probe.tm_mday != wanted.tm_mday || t.hour > 23 ||
        t.minute > 59 || t.second > 59 || t.year < 2000 || t.year > 2255) {
        return std::nullopt;
    }
    t.weekday = probe.tm_wday;
    return t;
}

} // namespace lumidex
