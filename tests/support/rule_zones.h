#pragma once

// Time zones with the daylight-saving rules of real places, worked out from
// the rules themselves rather than the system's zone files, so schedules are
// checked the same on every system: central Europe, the eastern United
// States, and India (no daylight saving).
#include "boards/time_zone.h"

namespace lumidex::test {

class RuleZone final : public TimeZone {
public:
    enum class Summer { None, Europe, UnitedStates };

    RuleZone(std::chrono::minutes standard, Summer summer) : standard_(standard), summer_(summer) {}

    std::chrono::seconds OffsetAt(SysSeconds t) const override {
        using namespace std::chrono;
        const year y = year_month_day{floor<days>(t)}.year();
        SysSeconds begins, ends;
        if (summer_ == Summer::Europe) {
            // From the last Sunday of March to the last Sunday of October,
            // 01:00 UTC.
            begins = sys_days{y / March / Sunday[last]} + 1h;
            ends = sys_days{y / October / Sunday[last]} + 1h;
        } else if (summer_ == Summer::UnitedStates) {
            // From the second Sunday of March, 02:00 standard time, to the
            // first Sunday of November, 02:00 summer time.
            begins = sys_days{y / March / Sunday[2]} + 2h - standard_;
            ends = sys_days{y / November / Sunday[1]} + 2h - standard_ - 1h;
        } else {
            return standard_;
        }
        return t >= begins && t < ends ? standard_ + 1h : seconds{standard_};
    }

private:
    std::chrono::minutes standard_;
    Summer summer_;
};

inline RuleZone& Vienna() {
    static RuleZone zone{std::chrono::minutes{60}, RuleZone::Summer::Europe};
    return zone;
}
inline RuleZone& NewYork() {
    static RuleZone zone{std::chrono::minutes{-300}, RuleZone::Summer::UnitedStates};
    return zone;
}
inline RuleZone& Kolkata() {
    static RuleZone zone{std::chrono::minutes{330}, RuleZone::Summer::None};
    return zone;
}

} // namespace lumidex::test
