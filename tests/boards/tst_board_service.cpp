// The board service driven in-process: scripted controller cards behind
// fake links, and a clock the test moves forward. Retries and their pauses,
// availability, a newer value during a failing exchange, what a board owes
// across a restart, boards sharing a serial port, re-assertion and a held
// settings lock, each in milliseconds.
#include "tests/boards/service_fixture.h"

#include "settings/file_io.h"
#include "settings/profile.h"
#include "settings/text_codec.h"

#include <atomic>
#include <future>
#include <thread>

namespace lumidex {
namespace {

using namespace std::chrono_literals;
using test::FakeClock;
using test::FakeLink;


// A board that never answers is tried again after 1 s, then 2, 4, 8, 16 and
// 30 s at the most; it is offline after its second failure, and online
// again at the first exchange it accepts, which ends the retries.
TEST_F(BoardServiceTest, FailedExchangesAreRetriedWithPausesThatDouble) {
    AddUdpBoard("hall", "127.0.0.51");
    cards_.Silence("127.0.0.51");
    auto service = MakeService();
    Recorder recorded(*service);
    service->Start();
    ASSERT_TRUE(clock_.Settled(Workers()));
    SetLineOne(*service, "hall", "2.5");

    struct Step {
        std::chrono::milliseconds advance;
        std::size_t exchanges; // so far
        std::vector<Availability> availability;
    };
    const std::vector<Availability> offline{Availability::Offline};
    const Step steps[] = {
        {0ms, 1, {}},        {999ms, 1, {}},        {1ms, 2, offline},  {1999ms, 2, offline},
        {1ms, 3, offline},   {4s, 4, offline},      {8s, 5, offline},   {16s, 6, offline},
        {29s, 6, offline},   {1s, 7, offline},      {30s, 8, offline},
    };
    for (const Step& step : steps) {
        Advance(step.advance);
        SCOPED_TRACE(step.exchanges);
        const auto statuses = recorded.Statuses("hall");
        ASSERT_EQ(statuses.size(), step.exchanges);
        EXPECT_EQ(statuses.back().result, StatusResult::NoAnswer);
        EXPECT_EQ(LineOne(statuses.back().frame), "2.50");
        EXPECT_EQ(recorded.Availabilities("hall"), step.availability);
    }
    cards_.Accept("127.0.0.51");
    Advance(30s);
    EXPECT_EQ(recorded.Statuses("hall").back().result, StatusResult::Accepted);
    EXPECT_EQ(recorded.Availabilities("hall"),
              (std::vector<Availability>{Availability::Offline, Availability::Online}));
    Advance(1h);
    EXPECT_EQ(recorded.Statuses("hall").size(), 9u) << "nothing more once accepted";
    EXPECT_EQ(service->Snapshot("hall")->shown.lines[0], "2.50");
}

// A value that arrives while an exchange with an old one fails goes out
// right after it, whatever pause the failure asked for.
TEST_F(BoardServiceTest, ANewerValueDuringAFailingExchangeGoesRightAfterIt) {
    AddUdpBoard("hall", "127.0.0.51");
    cards_.Silence("127.0.0.51");
    auto service = MakeService();
    Recorder recorded(*service);
    service->Start();
    ASSERT_TRUE(clock_.Settled(Workers()));
    std::atomic<bool> once{false};
    cards_.OnOpen([&] {
        if (!once.exchange(true)) {
            BoardChange newer;
            ASSERT_EQ(AddLineValue(newer, 1, "7.25", *service->Rules("hall")), std::nullopt);
            service->Submit("hall", std::move(newer));
        }
    });
    SetLineOne(*service, "hall", "2.5");
    const auto statuses = recorded.Statuses("hall");
    ASSERT_EQ(statuses.size(), 2u) << "no pause before the newer value";
    EXPECT_EQ(LineOne(statuses[0].frame), "2.50");
    EXPECT_EQ(LineOne(statuses[1].frame), "7.25");
}

// What a board has not accepted survives the service: a second service over
// the same files knows the board still shows the old value, sends the new
// one at once, and once it is accepted nothing is owed.
TEST_F(BoardServiceTest, WhatABoardOwesGoesOutAfterARestart) {
    AddUdpBoard("hall", "127.0.0.51");
    AddUdpBoard("dock", "127.0.0.52");
    cards_.Silence("127.0.0.51");
    cards_.Accept("127.0.0.52");
    {
        auto first = MakeService();
        first->Start();
        ASSERT_TRUE(clock_.Settled(Workers()));
        SetLineOne(*first, "hall", "33.33");
        SetLineOne(*first, "dock", "4.5");
        first->Stop();
    }
    EXPECT_EQ(ReadSetting(dir_ / "hall.ini", "TextData", "TD1", "", 20), "33.33");
    {
        // Started again while hall is still off: it shows what it last took.
        auto again = MakeService();
        const auto hall = again->Snapshot("hall");
        EXPECT_EQ(hall->lines[0].text, "33.33");
        EXPECT_EQ(hall->shown.lines[0], "1.00") << "a restart claims hall shows what it never took";
    }
    cards_.Accept("127.0.0.51");
    for (const char* round : {"second", "third"}) {
        SCOPED_TRACE(round);
        auto again = MakeService();
        Recorder recorded(*again);
        again->Start();
        ASSERT_TRUE(clock_.Settled(Workers(), 0));
        const auto hall = recorded.Statuses("hall");
        if (std::string(round) == "second") {
            ASSERT_EQ(hall.size(), 1u) << "hall's value went out at start";
            EXPECT_EQ(LineOne(hall[0].frame), "33.33");
            EXPECT_EQ(again->Snapshot("hall")->shown.lines[0], "33.33");
        } else {
            EXPECT_TRUE(hall.empty()) << "nothing owed once accepted";
        }
        EXPECT_TRUE(recorded.Statuses("dock").empty()) << "dock owed nothing";
    }
}

// Boards on one serial port take turns on it; a silent one delays no board
// of another link.
TEST_F(BoardServiceTest, BoardsOnOneSerialPortTakeTurnsAndASilentBoardDelaysNoOther) {
    AddSerialBoard("left", kSharedPort);
    AddSerialBoard("right", kSharedPort);
    AddUdpBoard("hall", "127.0.0.51");
    cards_.Accept(kSharedPort);
    cards_.Silence("127.0.0.51");
    auto service = MakeService();
    Recorder recorded(*service);
    service->Start();
    ASSERT_TRUE(clock_.Settled(Workers()));
    for (int round = 0; round < 20; ++round) {
        for (const char* board : {"left", "right", "hall"}) {
            BoardChange change;
            ASSERT_EQ(AddLineValue(change, 1, std::to_string(round), *service->Rules(board)),
                      std::nullopt);
            service->Submit(board, std::move(change));
        }
    }
    ASSERT_TRUE(clock_.Settled(Workers(), 0));
    EXPECT_EQ(cards_.MostOpenAtOnce(kSharedPort), 1) << "two exchanges on one port at once";
    for (const char* board : {"left", "right"}) {
        const auto statuses = recorded.Statuses(board);
        ASSERT_FALSE(statuses.empty()) << board;
        EXPECT_EQ(statuses.back().result, StatusResult::Accepted) << board;
        EXPECT_EQ(LineOne(statuses.back().frame), "19.00") << board << " ends with the last value";
    }
}

// Every refresh interval a board is sent its content and brightness again,
// unasked, which is also how a board that died is found out.
TEST_F(BoardServiceTest, BoardsAreReassertedEveryRefresh) {
    AddUdpBoard("hall", "127.0.0.51", 60s);
    cards_.Accept("127.0.0.51");
    auto service = MakeService();
    Recorder recorded(*service);
    service->Start();
    ASSERT_TRUE(clock_.Settled(Workers()));
    const auto commands = [&] {
        std::vector<Command> sent;
        for (const BoardStatus& status : recorded.Statuses("hall")) {
            sent.push_back(*status.command);
        }
        return sent;
    };
    const std::vector<Command> once{Command::Content, Command::Brightness};
    EXPECT_EQ(commands(), once) << "at start";
    Advance(59s);
    EXPECT_EQ(commands(), once);
    Advance(1s);
    EXPECT_EQ(commands().size(), 4u);
    cards_.Silence("127.0.0.51");
    Advance(60s);
    Advance(1s);
    Advance(2s);
    EXPECT_EQ(recorded.Availabilities("hall").back(), Availability::Offline);
}

// A value is stored even while another program holds the board's settings
// lock: the board is told "locked", and the value goes out once the lock is
// free, never lost.
TEST_F(BoardServiceTest, AValueWaitsForAHeldSettingsLock) {
    AddUdpBoard("hall", "127.0.0.51");
    cards_.Accept("127.0.0.51");
    auto service = MakeService();
    Recorder recorded(*service);
    service->Start();
    ASSERT_TRUE(clock_.Settled(Workers()));
    std::promise<void> release;
    std::promise<void> held;
    std::thread holder([&] {
        RunWithFileLock(dir_ / "hall.ini", [&] {
            held.set_value();
            release.get_future().wait();
            return true;
        });
    });
    held.get_future().wait();
    SetLineOne(*service, "hall", "8.75");
    ASSERT_FALSE(recorded.Statuses("hall").empty());
    EXPECT_EQ(recorded.Statuses("hall").back().result, StatusResult::Locked);
    EXPECT_NE(recorded.Statuses("hall").back().detail.find("lock"), std::string::npos);
    release.set_value();
    holder.join();
    Advance(1s);
    EXPECT_EQ(recorded.Statuses("hall").back().result, StatusResult::Accepted);
    EXPECT_EQ(LineOne(recorded.Statuses("hall").back().frame), "8.75");
    EXPECT_EQ(ReadSetting(dir_ / "hall.ini", "TextData", "TD1", "", 20), "8.75");
}

// Setting a board up through the service: a refused change names its
// field and stores nothing; a taken one reads back as asked, brings the
// stored line into its new format, and a board moved from UDP onto a serial
// port is re-asserted there at once. A board added and removed again
// leaves the boards file as it was, comments and all.
TEST_F(BoardServiceTest, SetUpIsCheckedStoredAndServedAtOnce) {
    const std::string boards_text =
        "; the site's boards\r\n[hall]\r\nsettings=hall.ini\r\n\r\n; on the bus\r\n[dock]\r\n"
        "settings=dock.ini\r\nlink=serial\r\n";
    test::WriteFileOrFail(dir_ / "boards.ini", boards_text);
    AddUdpBoard("hall", "127.0.0.51");
    AddSerialBoard("dock", kSharedPort);
    cards_.Silence("127.0.0.51");
    cards_.Accept(kSharedPort);
    auto service = MakeService();
    Recorder recorded(*service);
    service->Start();
    ASSERT_TRUE(clock_.Settled(Workers()));
    SetLineOne(*service, "hall", "12.5"); // stored as 12.50: 4 digits, 2 places

    struct Refused {
        std::string field;
        std::function<void(SetupChange&)> asks;
    };
    const Refused refusals[] = {
        {"bus", [](SetupChange& c) { c.bus = 100; }},
        {"baud", [](SetupChange& c) { c.baud = 1200; }},
        {"address", [](SetupChange& c) { c.address = 0; }},
        {"port", [](SetupChange& c) { c.link = BoardLink::Serial; }},
        {"groups", [](SetupChange& c) { c.groups = {{"prices", "prices"}}; }},
        {"lines.2.digits", [](SetupChange& c) { c.lines[1].digits = 9; }},
        {"lines.3.places", [](SetupChange& c) { c.lines[2] = {std::nullopt, std::nullopt, 3, "3"}; }},
        {"lines.4.caption", [](SetupChange& c) { c.lines[3].caption = "two\nlines"; }},
        // 12.50 has no room in 3 digits with 2 places: not cut, refused.
        {"lines.1.digits", [](SetupChange& c) { c.lines[0].digits = 3; }},
    };
    const auto before = test::ReadFileOrFail(dir_ / "hall.ini");
    for (const Refused& row : refusals) {
        SCOPED_TRACE(row.field);
        SetupChange change;
        change.lines[5].caption = "taken only with the rest";
        row.asks(change);
        const auto answer = service->ChangeSetup("hall", change);
        ASSERT_TRUE(std::holds_alternative<SetupRefusal>(answer));
        EXPECT_EQ(std::get<SetupRefusal>(answer).field, row.field);
        EXPECT_EQ(test::ReadFileOrFail(dir_ / "hall.ini"), before);
    }

    SetupChange change;
    change.link = BoardLink::Serial;
    change.port = kSharedPort;
    change.baud = 57600;
    change.groups = {{"prices"}};
    change.lines[0] = {"Super", std::nullopt, 5, "1"};
    change.lines[1].chosen = false;
    const auto since = clock_.Waits();
    const auto answer = service->ChangeSetup("hall", change);
    ASSERT_TRUE(std::holds_alternative<BoardSetup>(answer))
        << std::get<SetupRefusal>(answer).field << ": " << std::get<SetupRefusal>(answer).error;
    const BoardSetup& setup = std::get<BoardSetup>(answer);
    EXPECT_EQ(service->Setup("hall"), setup);
    EXPECT_EQ(setup.link, BoardLink::Serial);
    EXPECT_EQ(setup.port, kSharedPort);
    EXPECT_EQ(setup.baud, 57600);
    EXPECT_EQ(setup.address, *ParseDottedAddress("127.0.0.51"));
    EXPECT_EQ(setup.lines[0], (LineSetup{"Super", true, "5", "1"}));
    EXPECT_FALSE(setup.lines[1].chosen);
    EXPECT_EQ(service->GroupMembers("prices"), std::vector<std::string>{"hall"});
    const SettingsFile hall(dir_ / "hall.ini");
    EXPECT_EQ(hall.Read(keys::kLineText[0]), "12.5");
    EXPECT_EQ(hall.Read(keys::kLineChosen[1]), "No");
    const std::string boards_file = DecodeSettingsText(test::ReadFileOrFail(dir_ / "boards.ini")).text;
    EXPECT_EQ(ReadSettingFromText(boards_file, "hall", "link", "", 99), "serial");
    EXPECT_EQ(ReadSettingFromText(boards_file, "hall", "groups", "", 99), "prices");

    // One worker now serves both boards on the port: hall went out there.
    const auto last_content = [&]() -> std::optional<BoardStatus> {
        const auto statuses = recorded.Statuses("hall");
        const auto found = std::find_if(statuses.rbegin(), statuses.rend(), [](const BoardStatus& s) {
            return s.command == Command::Content && s.frame.size() > 0;
        });
        return found == statuses.rend() ? std::nullopt : std::optional(*found);
    };
    ASSERT_TRUE(Eventually([&] { return last_content() && LineOne(last_content()->frame) == "12.5"; }));
    ASSERT_TRUE(clock_.Settled(2, since));
    const auto content = last_content();
    EXPECT_EQ(content->result, StatusResult::Accepted);
    EXPECT_EQ(LineOne(content->frame), "12.5");
    EXPECT_EQ(service->Snapshot("hall")->shown.lines[0], "12.5");

    SetupChange yard;
    yard.address = ParseDottedAddress("127.0.0.53");
    ASSERT_TRUE(std::holds_alternative<BoardSetup>(service->AddBoard("yard", yard)));
    EXPECT_EQ(std::get<SetupRefusal>(service->AddBoard("Yard", yard)).kind,
              SetupRefusal::Kind::Conflict);
    EXPECT_EQ(service->BoardNames(), (std::vector<std::string>{"hall", "dock", "yard"}));
    std::string error;
    const auto reread = ReadBoardsFile(dir_ / "boards.ini", {}, error);
    ASSERT_TRUE(reread) << error;
    ASSERT_EQ(reread->boards.size(), 3u);
    EXPECT_EQ(reread->boards[2].settings, dir_ / "yard.ini");
    EXPECT_EQ(service->RemoveBoard("yard"), std::nullopt);
    EXPECT_EQ(service->BoardNames(), (std::vector<std::string>{"hall", "dock"}));
    EXPECT_TRUE(std::filesystem::exists(dir_ / "yard.ini"));
    SetupChange back;
    back.link = BoardLink::Udp;
    back.groups = std::vector<std::string>{};
    ASSERT_TRUE(std::holds_alternative<BoardSetup>(service->ChangeSetup("hall", back)));
    EXPECT_EQ(DecodeSettingsText(test::ReadFileOrFail(dir_ / "boards.ini")).text,
              "; the site's boards\r\n[hall]\r\nsettings=hall.ini\r\nlink=udp\r\ngroups=\r\n\r\n"
              "; on the bus\r\n[dock]\r\nsettings=dock.ini\r\nlink=serial\r\n");
}

} // namespace
} // namespace lumidex
