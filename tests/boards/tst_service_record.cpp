// The change record as the service keeps it, driven in-process: who asked
// for each change and through which door, its old and new value, when the
// card took it (the card's answer, on the service's clock), a value
// superseded before it was shown, a value changed under the service, the
// stale guard's blanking and its end; and what an exchange settles.
#include "tests/boards/service_fixture.h"

#include "boards/record_entries.h"
#include "settings/file_io.h"

#include <future>

namespace lumidex {
namespace {

using Json = nlohmann::ordered_json;

TEST(RecordSettle, WhatAnExchangeEnds) {
    // Open changes: seq, field, command, generation.
    const std::vector<OpenChange> open = {
        {1, "lines.1", Command::Content, 1},    {2, "lines.1", Command::Content, 2},
        {3, "lines.2", Command::Content, 2},    {4, "brightness.day", Command::Brightness, 2},
        {5, "lines.1", Command::Content, 3},    {6, "clock", Command::Clock, 3},
    };
    struct Row {
        const char* name;
        Command command;
        StatusResult result;
        std::uint64_t generation; // the exchange began once the board had taken this many
        std::vector<RecordedOutcome> outcomes;
        std::vector<std::uint64_t> still_open;
    };
    const Row rows[] = {
        {"accepted: the latest of each field carried, earlier ones superseded; later ones wait",
         Command::Content, StatusResult::Accepted, 2,
         {{"hall", 1, "superseded"}, {"hall", 2, "accepted"}, {"hall", 3, "accepted"}}, {4, 5, 6}},
        {"no answer: retried, nothing to say", Command::Content, StatusResult::NoAnswer, 3, {},
         {1, 2, 3, 4, 5, 6}},
        {"held back by a lock: no exchange at all", Command::Clock, StatusResult::Locked, 3, {},
         {1, 2, 3, 4, 5, 6}},
        {"rejected: said once, open for the retry", Command::Brightness, StatusResult::Rejected, 2,
         {{"hall", 4, "rejected"}}, {1, 2, 3, 4, 5, 6}},
        {"a clock is never repeated: it ends with what came of it", Command::Clock,
         StatusResult::NoAnswer, 3, {{"hall", 6, "no answer"}}, {1, 2, 3, 4, 5}},
        {"to bus address 0 nobody answers", Command::Brightness, StatusResult::BroadcastSent, 2,
         {{"hall", 4, "broadcast sent"}}, {1, 2, 3, 5, 6}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<OpenChange> now = open;
        const auto outcomes = Settle(now, "hall", row.command, row.result, row.generation);
        ASSERT_EQ(outcomes.size(), row.outcomes.size());
        for (std::size_t i = 0; i < outcomes.size(); ++i) {
            EXPECT_EQ(outcomes[i].applied, row.outcomes[i].applied);
            EXPECT_EQ(outcomes[i].result, row.outcomes[i].result);
        }
        std::vector<std::uint64_t> left;
        for (const OpenChange& c : now) {
            left.push_back(c.seq);
        }
        EXPECT_EQ(left, row.still_open);
        if (row.result == StatusResult::Rejected) {
            EXPECT_TRUE(Settle(now, "hall", row.command, row.result, row.generation).empty())
                << "a second rejection adds nothing";
        }
    }
}

class ServiceRecordTest : public BoardServiceTest {
protected:
    void SetUp() override {
        std::string error;
        record_owned_ = ChangeRecord::Open(dir_ / "record", kDefaultRecordMonths, error);
        ASSERT_TRUE(record_owned_) << error;
        record_ = record_owned_.get();
    }

    // Submits a line 1 value as `who` through `via`; waits for what the
    // door would answer when `answered`.
    void Change(BoardService& service, const std::string& value, const std::string& who,
                const std::string& via, bool answered = true) {
        BoardChange change;
        ASSERT_EQ(AddLineValue(change, 1, value, *service.Rules("hall")), std::nullopt);
        std::promise<void> done;
        const auto since = clock_.Waits();
        ASSERT_TRUE(service.Submit("hall", std::move(change), [&](const std::vector<BoardStatus>&) { done.set_value(); },
                                   {who, via, "line 1 " + value}));
        if (answered) {
            ASSERT_EQ(done.get_future().wait_for(5s), std::future_status::ready);
        }
        ASSERT_TRUE(clock_.Settled(Workers(), since));
    }

    std::vector<Json> Lines() const { return ReadRecord(dir_ / "record"); }

    // The record's change lines, as "field old>new who via".
    std::vector<std::string> Changes() const {
        std::vector<std::string> found;
        for (const Json& line : Lines()) {
            if (line.contains("field")) {
                found.push_back(line["field"].get<std::string>() + " " + line["old"].get<std::string>() + ">" +
                                line["new"].get<std::string>() + " " + line["who"].get<std::string>() + " " +
                                line["via"].get<std::string>());
            }
        }
        return found;
    }

    // What ended the change numbered `seq`: "result at", or "" for nothing.
    std::string Ended(std::uint64_t seq) const {
        std::string ended;
        for (const Json& line : Lines()) {
            if (line.value("applied", std::uint64_t{0}) == seq) {
                ended = line["result"].get<std::string>() + " " + line["at"].get<std::string>();
            }
        }
        return ended;
    }

    std::string Now() { return IsoUtc(std::chrono::floor<std::chrono::seconds>(clock_.WallNow())); }

    std::unique_ptr<ChangeRecord> record_owned_;
};

// Who, via, old and new of each change; the card's answer time once it
// took it; a value replaced before any card saw it is superseded; a value
// already there adds nothing; a value the dialog wrote under the service
// is told apart (via file); and the chain holds throughout.
TEST_F(ServiceRecordTest, EachChangeSaysWhoOldNewAndWhenTheBoardShowedIt) {
    AddUdpBoard("hall", "127.0.0.51");
    cards_.Accept("127.0.0.51");
    auto service = MakeService();
    std::vector<std::string> published;
    std::mutex mutex;
    service->Subscribe([&](const BoardEvent& event) {
        if (const auto* line = std::get_if<RecordEvent>(&event)) {
            std::lock_guard lock(mutex);
            published.push_back(line->line);
        }
    });
    service->Start();
    ASSERT_TRUE(clock_.Settled(Workers()));

    clock_.Advance(1500ms);
    Change(*service, "2.5", "alice", "http");
    ASSERT_EQ(Changes(), (std::vector<std::string>{"lines.1 1.00>2.50 alice http"}));
    EXPECT_EQ(Ended(1), "accepted " + Now());
    Change(*service, "2.50", "bob", "http");
    EXPECT_EQ(Lines().size(), 2u) << "the value it already had is no change";

    // The card stops answering: 3.00 fails, 4.00 comes during the pause,
    // and the retry that carries it is the one the card takes.
    cards_.Silence("127.0.0.51");
    Change(*service, "3", "mqtt", "mqtt");
    EXPECT_EQ(Ended(3), "");
    Change(*service, "4", "carol", "schedule:s1", false);
    cards_.Accept("127.0.0.51");
    Advance(2s);
    EXPECT_EQ(Ended(3), "superseded " + Now());
    EXPECT_EQ(Ended(4), "accepted " + Now());

    // The dialog writes line 1 under the service; the next change of the
    // board says so before its own.
    {
        const SettingsFile settings(dir_ / "hall.ini");
        ASSERT_TRUE(settings.Write(keys::kLineText[0], "9.99"));
    }
    BoardChange two;
    ASSERT_EQ(AddLineValue(two, 2, "7", *service->Rules("hall")), std::nullopt);
    const auto since = clock_.Waits();
    ASSERT_TRUE(service->Submit("hall", std::move(two), {}, {"admin", "http", "line 2"}));
    ASSERT_TRUE(clock_.Settled(Workers(), since));
    const auto changes = Changes();
    ASSERT_EQ(changes.size(), 5u);
    EXPECT_EQ(changes[3], "lines.1 4.00>9.99 unknown file");
    EXPECT_EQ(changes[4], "lines.2 >7 admin http");
    ASSERT_TRUE(Eventually([&] { return !Ended(7).empty() && !Ended(8).empty(); }));
    EXPECT_EQ(Ended(7), "accepted " + Now()) << "the content exchange showed the dialog's value too";
    EXPECT_EQ(Ended(8), "accepted " + Now());

    service->Stop();
    EXPECT_EQ(CheckRecord(dir_ / "record" / RecordFileName(std::chrono::floor<std::chrono::seconds>(clock_.WallNow()))),
              std::nullopt);
    std::lock_guard lock(mutex);
    EXPECT_EQ(published.size(), Lines().size()) << "every line is told to the doors";
}

// The stale guard's blanking is on record (who "service", via "stale"),
// shown at the card's answer; a fresh value ends it, also on record.
TEST_F(ServiceRecordTest, TheStaleGuardsBlankingAndItsEndAreRecorded) {
    AddUdpBoard("hall", "127.0.0.51");
    config_.boards[0].stale = StaleGuard{10s, std::vector<int>{1}, StaleShow::Blank};
    cards_.Accept("127.0.0.51");
    auto service = MakeService();
    service->Start();
    ASSERT_TRUE(clock_.Settled(Workers()));
    Change(*service, "2.5", "alice", "http");
    Advance(11s);
    ASSERT_TRUE(Eventually([&] { return Changes().size() == 2 && !Ended(3).empty(); }));
    EXPECT_EQ(Changes()[1], "stale.1 fresh>blank service stale");
    EXPECT_TRUE(Ended(3).starts_with("accepted"));
    Change(*service, "2.75", "bob", "http");
    EXPECT_EQ(Changes(), (std::vector<std::string>{"lines.1 1.00>2.50 alice http",
                                                   "stale.1 fresh>blank service stale",
                                                   "lines.1 2.50>2.75 bob http",
                                                   "stale.1 blank>fresh bob stale"}));
}

// A change whose outcome a stop or a crash cut off is settled by the first
// exchange after the start; one that never reached the file stays open.
TEST_F(ServiceRecordTest, AChangeLeftOpenByACrashIsSettledAfterTheStart) {
    AddUdpBoard("hall", "127.0.0.51");
    cards_.Silence("127.0.0.51");
    {
        auto service = MakeService();
        service->Start();
        ASSERT_TRUE(clock_.Settled(Workers()));
        Change(*service, "2.5", "alice", "http");
        service->Stop();
    }
    // Recorded, then the service died before it stored the value.
    ASSERT_TRUE(record_->AppendChanges({{"hall", "lines.2", "", "8", "bob", "http", "line 2"}},
                                       std::chrono::floor<std::chrono::seconds>(clock_.WallNow())));
    EXPECT_EQ(Ended(1), "");
    cards_.Accept("127.0.0.51");
    auto service = MakeService();
    service->Start();
    ASSERT_TRUE(Eventually([&] { return !Ended(1).empty(); }));
    EXPECT_EQ(Ended(1), "accepted " + Now());
    EXPECT_EQ(Ended(2), "") << "the board never had it";
}

} // namespace
} // namespace lumidex
