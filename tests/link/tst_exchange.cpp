// The exchange's rules over a scripted link: retry, the reply block's fill,
// the judgement of short, long and refusing answers, time-outs and links
// that fail. The real links are tried in tst_udp_link and tst_serial_link.
#include "link/exchange.h"
#include "protocol/frame.h"
#include "tests/support/fake_link.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace lumidex {
namespace {

using test::FakeLink;
using Step = FakeLink::Step;
using Bytes = FakeLink::Bytes;
using namespace std::chrono_literals;

struct ExchangeRow {
    const char* name;
    std::vector<Step> script; // one step per opening; the last repeats
    int attempts;
    ExchangeOutcome outcome;
    int writes;
    std::size_t kept;   // bytes of the last answer in the reply block
    const char* reason; // a part of the reason; "" when accepted
};

Bytes LongAnswer(std::uint8_t status_at_3, std::uint8_t status_at_30) {
    Bytes bytes = FakeLink::Answer(status_at_3, 40);
    bytes[30] = status_at_30;
    return bytes;
}

const ExchangeRow kRows[] = {
    {"accepted at once", {FakeLink::Answers(FakeLink::Answer(1))}, 2, ExchangeOutcome::Accepted, 1, 23,
     ""},
    {"refused twice", {FakeLink::Answers(FakeLink::Answer(0))}, 2, ExchangeOutcome::Rejected, 2, 23,
     "answered 00 in byte 3, not 01"},
    {"silent, then accepted on the retry",
     {FakeLink::Silent(), FakeLink::Answers(FakeLink::Answer(1))},
     2,
     ExchangeOutcome::Accepted,
     2,
     23,
     ""},
    {"a command goes once", {FakeLink::Silent()}, 1, ExchangeOutcome::NoAnswer, 1, 0,
     "no answer within 2000 ms"},
    {"three bytes keep the fill in byte 3", {FakeLink::Answers(Bytes{0, 1, 1})}, 1,
     ExchangeOutcome::Rejected, 1, 3, "answered only 3 bytes"},
    {"four bytes are enough", {FakeLink::Answers(Bytes{0, 0, 0, 1})}, 1, ExchangeOutcome::Accepted, 1, 4,
     ""},
    {"long answer: only its first 23 bytes count", {FakeLink::Answers(LongAnswer(0, 1))}, 1,
     ExchangeOutcome::Rejected, 1, 23, "answered 00"},
    {"long answer accepting in byte 3", {FakeLink::Answers(LongAnswer(1, 0))}, 1,
     ExchangeOutcome::Accepted, 1, 23, ""},
    {"link that cannot be opened", {FakeLink::CannotOpen("no such port")}, 2,
     ExchangeOutcome::LinkFailed, 0, 0, "no such port"},
    {"frame that cannot be written", {FakeLink::CannotWrite("sendto: unreachable")}, 2,
     ExchangeOutcome::LinkFailed, 0, 0, "sendto: unreachable"},
    {"line that fails while the answer is awaited",
     {FakeLink::ReadFails("the device went away")},
     1,
     ExchangeOutcome::NoAnswer,
     1,
     0,
     "the device went away"},
};

class ExchangeRules : public ::testing::TestWithParam<ExchangeRow> {};

TEST_P(ExchangeRules, JudgeTheAnswer) {
    const ExchangeRow& row = GetParam();
    FakeLink link(row.script);
    const Frame frame = BuildBrightnessFrame(1, 5, 2);
    const ExchangeTiming timing{0ms, 2000ms};
    const ExchangeResult result = Exchange(link, frame, timing, row.attempts);

    EXPECT_EQ(result.outcome, row.outcome);
    EXPECT_NE(result.reason.find(row.reason), std::string::npos) << result.reason;
    EXPECT_EQ(result.reason.empty(), result.accepted()) << result.reason;
    ASSERT_EQ(static_cast<int>(link.record().written.size()), row.writes);
    for (const Bytes& written : link.record().written) {
        EXPECT_EQ(written, frame) << "every attempt sends the same bytes";
    }
    // A retry is a whole new exchange, and every opened link is closed again.
    EXPECT_EQ(link.record().opens, result.accepted() ? row.writes : row.attempts);
    EXPECT_FALSE(link.record().open_now);
    for (auto timeout : link.record().read_timeouts) {
        EXPECT_EQ(timeout, 2000ms);
    }
    // What the last answer did not fill keeps 0x46.
    const auto& answer =
        row.script[std::min<std::size_t>(link.record().opens - 1, row.script.size() - 1)].answer;
    for (std::size_t i = 0; i < kReplySize; ++i) {
        EXPECT_EQ(result.reply[i], i < row.kept ? (*answer)[i] : kReplyFill) << "byte " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, ExchangeRules, ::testing::ValuesIn(kRows), test::RowName{});

TEST(ExchangeTargets, EachKindOfLinkWaitsAsItsControllerAnswers) {
    EXPECT_EQ(TimingOf(UdpTarget{"192.168.1.100"}).reply_delay, 0ms);
    EXPECT_EQ(TimingOf(UdpTarget{"192.168.1.100"}).read_timeout, 1000ms);
    EXPECT_EQ(TimingOf(SerialTarget{"/dev/ttyUSB0", 9600}).reply_delay, 200ms);
    EXPECT_EQ(TimingOf(SerialTarget{"/dev/ttyUSB0", 9600}).read_timeout, 2000ms);
}

} // namespace
} // namespace lumidex
