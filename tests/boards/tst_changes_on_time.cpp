// Changes on time, in-process: local times through daylight saving in zones
// with and without it, schedules that run at their moment and catch up
// after a stop or a kill, the stale guard, and bounds, with a clock the test
// moves forward.
#include "tests/boards/service_fixture.h"

#include "settings/file_io.h"
#include "settings/profile.h"
#include "tests/support/rule_zones.h"

#include <nlohmann/json.hpp>

namespace lumidex {
namespace {

using Json = nlohmann::ordered_json;
using test::Kolkata;
using test::NewYork;
using test::Vienna;

SysSeconds Utc(const char* text) {
    return *ParseIsoUtc(text);
}

struct LocalRow {
    const char* zone;
    const char* local;
    const char* moment; // UTC
    const char* shown;  // the moment as the zone shows it
};

TimeZone& ZoneNamed(const std::string& name) {
    return name == "Vienna" ? static_cast<TimeZone&>(Vienna())
                            : name == "New York" ? static_cast<TimeZone&>(NewYork()) : Kolkata();
}

// A local time in a gap is the first moment after it; one that occurs twice
// is the first of the two.
TEST(LocalTime, NamesOneMomentThroughDaylightSaving) {
    const LocalRow rows[] = {
        {"Vienna", "2026-12-24 12:00:00", "2026-12-24T11:00:00Z", "2026-12-24T12:00:00+01:00"},
        {"Vienna", "2027-03-28 02:30:00", "2027-03-28T01:00:00Z", "2027-03-28T03:00:00+02:00"},
        {"Vienna", "2026-10-25 02:30:00", "2026-10-25T00:30:00Z", "2026-10-25T02:30:00+02:00"},
        {"New York", "2027-03-14 02:30:00", "2027-03-14T07:00:00Z", "2027-03-14T03:00:00-04:00"},
        {"New York", "2026-11-01 01:30:00", "2026-11-01T05:30:00Z", "2026-11-01T01:30:00-04:00"},
        {"Kolkata", "2026-12-24 12:00:00", "2026-12-24T06:30:00Z", "2026-12-24T12:00:00+05:30"},
    };
    for (const LocalRow& row : rows) {
        const TimeZone& zone = ZoneNamed(row.zone);
        const SysSeconds moment = FromLocal(zone, *ParseLocalDateTime(row.local));
        EXPECT_EQ(IsoUtc(moment), row.moment) << row.zone << " " << row.local;
        EXPECT_EQ(IsoLocal(zone, moment), row.shown) << row.zone << " " << row.local;
    }
}

// Over a year, a daily time occurs once on each local day it names, at that
// time, or at the end of the gap on the night clocks go forward; the latest
// occurrence up to a moment is the one the next occurrence after it follows.
TEST(LocalTime, ADailyTimeOccursOnceOnEachDayItNames) {
    struct Row {
        const char* zone;
        const char* time;
        Weekdays days;
    };
    const Row rows[] = {{"Vienna", "02:30", kEveryDay},   {"Vienna", "02:00", 0b0010001},
                        {"New York", "02:30", kEveryDay}, {"New York", "01:30", kEveryDay},
                        {"Kolkata", "00:00", 0b1000000}};
    for (const Row& row : rows) {
        const TimeZone& zone = ZoneNamed(row.zone);
        const Daily daily{*ParseTimeOfDay(row.time), row.days};
        SysSeconds after = Utc("2026-12-09T12:00:00Z");
        std::optional<std::chrono::local_days> last_day;
        int occurrences = 0;
        while (after < Utc("2027-12-09T12:00:00Z")) {
            const auto next = NextDaily(zone, daily, after);
            ASSERT_TRUE(next);
            const LocalSeconds local = ToLocal(zone, *next);
            const auto day = std::chrono::floor<std::chrono::days>(local);
            const auto weekday = std::chrono::weekday{day}.iso_encoding() - 1;
            EXPECT_NE(daily.days & (1u << weekday), 0) << row.zone << " " << IsoUtc(*next);
            if (last_day) {
                // No day it names skipped, none twice.
                auto expected = *last_day + std::chrono::days{1};
                while ((daily.days & (1u << (std::chrono::weekday{expected}.iso_encoding() - 1))) == 0) {
                    expected += std::chrono::days{1};
                }
                EXPECT_EQ(day, expected) << row.zone << " " << IsoUtc(*next);
            }
            if (local - day != daily.time) {
                // Only where the time does not occur that day.
                const LocalSeconds named = day + daily.time;
                EXPECT_NE(ToLocal(zone, FromLocal(zone, named)), named) << IsoLocal(zone, *next);
            }
            EXPECT_EQ(LatestDaily(zone, daily, after, *next), next);
            EXPECT_EQ(LatestDaily(zone, daily, after, *next - std::chrono::seconds{1}), std::nullopt);
            last_day = day;
            after = *next;
            ++occurrences;
        }
        EXPECT_GT(occurrences, 50) << row.zone;
    }
}

#ifndef _WIN32
// The system's zone, as the C library reads TZ, agrees with the rules above.
TEST(LocalTime, TheSystemZoneFollowsTz) {
    if (!std::filesystem::exists("/usr/share/zoneinfo/Europe/Vienna")) {
        GTEST_SKIP() << "no zone files";
    }
    const char* was = std::getenv("TZ");
    const std::string kept = was != nullptr ? was : "";
    setenv("TZ", "Europe/Vienna", 1);
    SystemTimeZone().Reload();
    for (const char* local : {"2027-03-28 02:30:00", "2026-10-25 02:30:00", "2026-12-24 12:00:00"}) {
        const auto t = ParseLocalDateTime(local);
        EXPECT_EQ(FromLocal(SystemTimeZone(), *t), FromLocal(Vienna(), *t)) << local;
    }
    was != nullptr ? setenv("TZ", kept.c_str(), 1) : unsetenv("TZ");
    SystemTimeZone().Reload();
}
#endif

// The fake clock starts at 2026-12-09 12:00:00 UTC: 13:00 in Vienna.
class ChangesOnTimeTest : public BoardServiceTest {
protected:
    ChangesOnTimeTest() { zone_ = &Vienna(); }

    static Json Schedule(const std::string& text) { return Json::parse(text); }

    // Adds a schedule as an admin; its id.
    std::string Add(BoardService& service, const std::string& body) {
        auto made = service.AddSchedule(Json::parse(body), Role::Admin, "alice");
        if (auto* refusal = std::get_if<BodyRefusal>(&made)) {
            ADD_FAILURE() << refusal->field << ": " << refusal->error;
            return "";
        }
        return std::get<Json>(made)["id"].get<std::string>();
    }

    std::string Stored(const std::string& board, int line = 1) {
        return SettingsFile(dir_ / (board + ".ini")).Read(keys::kLineText[line - 1]);
    }

    // Line 1 as the board was last sent it in a content frame.
    static std::string LastSent(Recorder& recorded, const std::string& board) {
        const auto statuses = recorded.Statuses(board);
        for (auto it = statuses.rbegin(); it != statuses.rend(); ++it) {
            if (it->command == Command::Content && !it->frame.empty()) {
                return LineOne(it->frame);
            }
        }
        return "(none)";
    }
};

TEST_F(ChangesOnTimeTest, AOneOffRunsAtItsMomentAndLeavesTheList) {
    AddUdpBoard("hall", "127.0.0.2");
    cards_.Accept("127.0.0.2");
    auto service = MakeService();
    Recorder recorded(*service);
    service->Start();
    ASSERT_TRUE(clock_.Settled(Workers()));

    const std::string id = Add(*service, R"({"board": "hall", "at": "2026-12-09 13:01:30",
                                             "set": {"lines": {"1": "2.5"}}, "note": "new price"})");
    const Json listed = service->SchedulesJson()["schedules"];
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0]["next"], "2026-12-09T13:01:30+01:00");
    EXPECT_EQ(listed[0]["created_by"], "alice");

    Advance(89s);
    EXPECT_EQ(Stored("hall"), "1.00");
    EXPECT_EQ(LastSent(recorded, "hall"), "(none)");
    Advance(1s);
    EXPECT_TRUE(Eventually([&] { return LastSent(recorded, "hall") == "2.50"; }));
    EXPECT_EQ(Stored("hall"), "2.50");
    EXPECT_TRUE(service->SchedulesJson()["schedules"].empty());
    EXPECT_EQ(service->ScheduleJson(id), std::nullopt);
}

// A schedule is refused when it is made exactly as its change would be now.
TEST_F(ChangesOnTimeTest, ASchedulesChangeIsCheckedWhenItIsMade) {
    AddUdpBoard("hall", "127.0.0.2");
    AddUdpBoard("kiosk", "127.0.0.3");
    config_.boards[0].groups = {"prices"};
    config_.boards[1].groups = {"prices"};
    config_.boards[1].bounds[0] = {"1.00", "2.00"};
    auto service = MakeService();
    struct Row {
        Role role;
        const char* body;
        int status;
        const char* field;
    };
    const Row rows[] = {
        {Role::Admin, R"({"board": "hall", "at": "2026-12-09 12:59:59", "set": {"lines": {"1": "1"}}})", 422, "at"},
        {Role::Admin, R"({"board": "hall", "at": "2026-12-09 14:00:00", "set": {"lines": {"1": "123.4"}}})", 422, "set.lines.1"},
        {Role::Admin, R"({"group": "prices", "daily": "06:00", "set": {"lines": {"1": "2.5"}}})", 422, "kiosk.set.lines.1"},
        {Role::Operator, R"({"board": "hall", "daily": "06:00", "set": {"brightness": {"day": 3}}})", 403, "set.brightness"},
        {Role::Operator, R"({"board": "hall", "daily": "06:00", "clock": true})", 403, "clock"},
        {Role::Admin, R"({"board": "nowhere", "daily": "06:00", "clock": true})", 422, "board"},
        {Role::Admin, R"({"board": "hall", "daily": "24:00", "clock": true})", 422, "daily"},
        {Role::Admin, R"({"board": "hall", "daily": "06:00", "days": ["mon", "sunday"], "clock": true})", 422, "days"},
    };
    for (const Row& row : rows) {
        const auto made = service->AddSchedule(Json::parse(row.body), row.role, "bob");
        const auto* refusal = std::get_if<BodyRefusal>(&made);
        ASSERT_NE(refusal, nullptr) << row.body;
        EXPECT_EQ(refusal->status, row.status) << row.body;
        EXPECT_EQ(refusal->field, row.field) << row.body << ": " << refusal->error;
    }
    EXPECT_TRUE(service->SchedulesJson()["schedules"].empty());
    // Only its own role cancels it.
    const std::string id = Add(*service, R"({"board": "hall", "daily": "06:00", "set": {"point": {"1": true}}})");
    EXPECT_EQ(service->CancelSchedule(id, Role::Operator)->status, 403);
    EXPECT_EQ(service->CancelSchedule(id, Role::Admin), std::nullopt);
    EXPECT_EQ(service->CancelSchedule(id, Role::Admin)->status, 404);
}

// Down over the moments three schedules fell due, the service applies each
// once at its start, in the order they fell due, so the latest wins; a
// restart after that, or after a kill whose note of the last run is older
// than what it applied, applies nothing again.
TEST_F(ChangesOnTimeTest, WhatFellDueWhileTheServiceWasDownIsAppliedOnceAtTheStart) {
    AddUdpBoard("hall", "127.0.0.2");
    cards_.Accept("127.0.0.2");
    {
        auto service = MakeService();
        service->Start();
        ASSERT_TRUE(clock_.Settled(Workers()));
        Add(*service, R"({"board": "hall", "daily": "13:03", "set": {"lines": {"1": "4"}}})");
        Add(*service, R"({"board": "hall", "at": "2026-12-09 13:02:00", "set": {"lines": {"1": "3"}}})");
        Add(*service, R"({"board": "hall", "at": "2026-12-09 13:01:00", "set": {"lines": {"1": "2"}}})");
        service->Stop();
    }
    clock_.Advance(10min);
    {
        auto service = MakeService();
        Recorder recorded(*service);
        service->Start();
        EXPECT_TRUE(Eventually([&] {
            const Json left = service->SchedulesJson()["schedules"];
            return LastSent(recorded, "hall") == "4.00" && left.size() == 1 && left[0]["last_run"].is_object();
        }));
        EXPECT_EQ(Stored("hall"), "4.00");
        ASSERT_TRUE(clock_.Settled(Workers()));
        const Json left = service->SchedulesJson()["schedules"];
        ASSERT_EQ(left.size(), 1u);
        EXPECT_EQ(left[0]["next"], "2026-12-10T13:03:00+01:00");
        ASSERT_TRUE(left[0]["last_run"].is_object());
        EXPECT_EQ(left[0]["last_run"]["statuses"][0]["result"], "accepted");
        SetLineOne(*service, "hall", "5");
        service->Stop();
    }
    // A kill leaves a note up to ten seconds old: here, older than the
    // daily occurrence it applied.
    ASSERT_TRUE(ReplaceFileDurably(RanNoteOf(config_.file), "2026-12-09T12:02:59Z\n"));
    for (int start = 0; start < 2; ++start) {
        auto service = MakeService();
        service->Start();
        ASSERT_TRUE(clock_.Settled(Workers()));
        EXPECT_EQ(Stored("hall"), "5.00") << "start " << start;
        service->Stop();
    }
}

// A first start, with no note of a last run, shows the state of the last
// day: a daily schedule's latest occurrence in the last 24 hours.
TEST_F(ChangesOnTimeTest, AFirstStartAppliesTheLastDaysDailyState) {
    AddUdpBoard("hall", "127.0.0.2");
    cards_.Accept("127.0.0.2");
    {
        auto service = MakeService();
        Add(*service, R"({"board": "hall", "daily": "12:30", "set": {"lines": {"1": "7"}}})");
    }
    std::filesystem::remove(RanNoteOf(config_.file));
    auto service = MakeService();
    service->Start();
    EXPECT_TRUE(Eventually([&] { return Stored("hall") == "7.00"; }));
}

// A group's schedule is checked again against each board when it runs: a
// board whose lines no longer take the value reports it refused, the others
// take it.
TEST_F(ChangesOnTimeTest, AGroupsScheduleSkipsABoardThatNoLongerTakesItsValue) {
    AddUdpBoard("hall", "127.0.0.2");
    AddUdpBoard("kiosk", "127.0.0.3");
    config_.boards[0].groups = {"prices"};
    config_.boards[1].groups = {"prices"};
    cards_.Accept("127.0.0.2");
    cards_.Accept("127.0.0.3");
    auto service = MakeService();
    Recorder recorded(*service);
    service->Start();
    ASSERT_TRUE(clock_.Settled(Workers()));
    Add(*service, R"({"group": "prices", "at": "2026-12-09 13:01:00", "set": {"lines": {"1": "12.5"}}})");
    SetupChange narrower;
    narrower.lines[0].digits = 3;
    ASSERT_TRUE(std::holds_alternative<BoardSetup>(service->ChangeSetup("kiosk", narrower)));
    Advance(60s);
    // The refusal, among the statuses of kiosk's exchanges for its set-up.
    const auto refused = [&]() -> std::optional<BoardStatus> {
        for (const BoardStatus& status : recorded.Statuses("kiosk")) {
            if (status.result == StatusResult::Refused) {
                return status;
            }
        }
        return std::nullopt;
    };
    EXPECT_TRUE(Eventually([&] { return LastSent(recorded, "hall") == "12.50" && refused(); }));
    ASSERT_TRUE(refused());
    EXPECT_NE(refused()->detail.find("does not take '12.5'"), std::string::npos) << refused()->detail;
    EXPECT_NE(Stored("kiosk"), "12.50");
}

// A guarded line with no value for stale-after seconds is sent blank, or
// flickering, its stored value kept; a fresh value (the same one too) ends
// it at once; a service down past the limit starts with the line stale.
TEST_F(ChangesOnTimeTest, AStaleLineIsShownAsStaleUntilAFreshValueComes) {
    for (const StaleShow show : {StaleShow::Blank, StaleShow::Flicker}) {
        SCOPED_TRACE(show == StaleShow::Blank ? "blank" : "flicker");
        config_.boards.clear();
        std::filesystem::remove(dir_ / ".hall.ini.pending");
        AddUdpBoard("hall", "127.0.0.2");
        config_.boards[0].stale = {60s, std::vector{1}, show};
        cards_.Accept("127.0.0.2");
        const auto sent = [&](Recorder& recorded) -> std::pair<std::string, bool> {
            const auto statuses = recorded.Statuses("hall");
            for (auto it = statuses.rbegin(); it != statuses.rend(); ++it) {
                if (it->command == Command::Content && !it->frame.empty()) {
                    const auto decoded = DecodeFrame(it->frame);
                    return {LineOne(it->frame), decoded.frame->lines[0].flicker};
                }
            }
            return {"(none)", false};
        };
        const std::pair<std::string, bool> stale_shown =
            show == StaleShow::Blank ? std::pair{std::string(""), false} : std::pair{std::string("2.00"), true};
        {
            auto service = MakeService();
            Recorder recorded(*service);
            service->Start();
            ASSERT_TRUE(clock_.Settled(Workers()));
            SetLineOne(*service, "hall", "2");
            Advance(59s);
            EXPECT_FALSE(service->Snapshot("hall")->lines[0].stale);
            Advance(1s);
            EXPECT_TRUE(Eventually([&] { return sent(recorded) == stale_shown; }));
            const BoardLine line = service->Snapshot("hall")->lines[0];
            EXPECT_TRUE(line.stale);
            EXPECT_EQ(line.stale_since, *line.fresh_at + 60s);
            EXPECT_EQ(Stored("hall"), "2.00");
            SetLineOne(*service, "hall", "2");
            EXPECT_TRUE(Eventually([&] { return sent(recorded) == std::pair(std::string("2.00"), false); }));
            EXPECT_FALSE(service->Snapshot("hall")->lines[0].stale);
            service->Stop();
        }
        clock_.Advance(2min);
        auto service = MakeService();
        Recorder recorded(*service);
        EXPECT_TRUE(service->Snapshot("hall")->lines[0].stale);
        service->Start();
        EXPECT_TRUE(Eventually([&] { return sent(recorded) == stale_shown; }));
    }
}

// A value outside a line's bounds is refused in words, nothing stored.
TEST_F(ChangesOnTimeTest, AValueOutsideALinesBoundsIsRefused) {
    struct Row {
        LineBounds bounds;
        const char* value;
        const char* refusal; // nullptr: taken
    };
    const Row rows[] = {
        {{"1.00", "2.50"}, "1.729", nullptr},
        {{"1.00", "2.50"}, "3.328", "line 1 takes 1.00 to 2.50, not 3.328"},
        {{"1.00", std::nullopt}, "0.99", "line 1 takes at least 1.00, not 0.99"},
        {{std::nullopt, "2"}, "2.004", nullptr}, // shown as 2.00
        {{std::nullopt, "2"}, "2.01", "line 1 takes at most 2, not 2.01"},
        {{"1", "2"}, "", nullptr}, // a cleared line
    };
    for (const Row& row : rows) {
        LineRules rules;
        rules.formats.fill({"4", "2"});
        rules.bounds[0] = row.bounds;
        BoardChange change;
        const auto refused = AddLineValue(change, 1, row.value, rules);
        if (row.refusal == nullptr) {
            EXPECT_EQ(refused, std::nullopt) << row.value;
        } else {
            EXPECT_EQ(refused, std::optional<std::string>(row.refusal)) << row.value;
            EXPECT_TRUE(change.writes.empty());
        }
    }
}

} // namespace
} // namespace lumidex
