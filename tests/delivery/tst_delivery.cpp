// The one command path: the result rule every program reports from, and
// delivery over several links with scripted controllers.
#include "delivery/delivery.h"
#include "tests/support/fake_link.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace lumidex {
namespace {

using test::FakeLink;
using Bytes = FakeLink::Bytes;

struct ResultRow {
    const char* name;
    ExchangeOutcome exchange;
    std::uint8_t bus_address;
    DeliveryOutcome outcome;
    const char* status;      // what the board service's status says
    const char* dialog_text; // what the dialog shows for a content send
};

// A broadcast is a frame that went out to bus address 0 and met silence; a
// controller's refusal is a refusal and a link that could not carry the
// frame a failure, at any bus address. The dialog keeps its own words.
const ResultRow kResultRows[] = {
    {"accepted", ExchangeOutcome::Accepted, 1, DeliveryOutcome::Accepted, "accepted",
     "Sent successfully!"},
    {"accepted at bus address 0", ExchangeOutcome::Accepted, 0, DeliveryOutcome::Accepted,
     "accepted", "Sent successfully!"},
    {"silence at bus address 0", ExchangeOutcome::NoAnswer, 0, DeliveryOutcome::BroadcastSent,
     "broadcast sent", "Broadcast Send."},
    {"silence at bus address 5", ExchangeOutcome::NoAnswer, 5, DeliveryOutcome::NoAnswer,
     "no answer", "Send failed!"},
    {"refusal at bus address 0", ExchangeOutcome::Rejected, 0, DeliveryOutcome::Rejected,
     "rejected", "Broadcast Send."},
    {"refusal at bus address 5", ExchangeOutcome::Rejected, 5, DeliveryOutcome::Rejected,
     "rejected", "Send failed!"},
    {"link failure at bus address 0", ExchangeOutcome::LinkFailed, 0, DeliveryOutcome::LinkFailed,
     "link failed", "Send failed!"},
};

class ResultRule : public ::testing::TestWithParam<ResultRow> {};

TEST_P(ResultRule, OneRuleForEveryProgram) {
    const ResultRow& row = GetParam();
    const DeliveryOutcome outcome = OutcomeOf({row.exchange, {}, {}}, row.bus_address);
    EXPECT_EQ(outcome, row.outcome);
    EXPECT_EQ(OutcomeName(outcome), row.status);
    EXPECT_STREQ(SendResultText(outcome, row.bus_address), row.dialog_text);
}

INSTANTIATE_TEST_SUITE_P(Rows, ResultRule, ::testing::ValuesIn(kResultRows), test::RowName{});

// Scripted controllers, one per target, in the order the targets are used.
struct Links {
    std::vector<std::vector<FakeLink::Step>> scripts;
    std::vector<std::shared_ptr<FakeLink::Record>> records;
    std::vector<std::string> made_for;

    DeliveryOptions Options() {
        DeliveryOptions options;
        options.make_link = [this](const LinkTarget& target) {
            made_for.push_back(DescribeTarget(target));
            records.push_back(std::make_shared<FakeLink::Record>());
            return std::make_unique<FakeLink>(scripts.at(records.size() - 1), records.back());
        };
        return options;
    }
};

TEST(Deliver, ContentIsTriedTwicePerLinkAndTheWorstLinkDecides) {
    Links links{{{FakeLink::Silent()}, {FakeLink::Answers(FakeLink::Answer(1))}}, {}, {}};
    const LinkTarget targets[] = {UdpTarget{"10.0.0.7"}, SerialTarget{"/dev/ttyUSB0", 57600}};
    const Frame frame = BuildBrightnessFrame(5, 1, 2);
    const Delivery delivery = DeliverFrame(frame, true, targets, links.Options());

    EXPECT_EQ(links.made_for, (std::vector<std::string>{"udp 10.0.0.7", "serial /dev/ttyUSB0"}));
    ASSERT_EQ(delivery.links.size(), 2u);
    EXPECT_EQ(links.records[0]->written.size(), 2u) << "silence gets its one retry";
    EXPECT_EQ(links.records[1]->written.size(), 1u);
    EXPECT_EQ(delivery.links[0].outcome, DeliveryOutcome::NoAnswer);
    EXPECT_EQ(delivery.links[1].outcome, DeliveryOutcome::Accepted);
    EXPECT_EQ(delivery.outcome, DeliveryOutcome::NoAnswer);
    EXPECT_EQ(delivery.reason, "no answer within 1000 ms");
    EXPECT_EQ(delivery.bus_address, 5);
    EXPECT_EQ(delivery.frame, frame);
    EXPECT_FALSE(delivery.delivered());
}

TEST(Deliver, CommandsGoOnceAndABroadcastCountsAsDelivered) {
    Links links{{{FakeLink::Silent()}}, {}, {}};
    const LinkTarget targets[] = {UdpTarget{"10.0.0.7"}};
    const Delivery delivery = DeliverFrame(BuildInitialiseFrame(), false, targets, links.Options());
    EXPECT_EQ(links.records[0]->written.size(), 1u);
    EXPECT_EQ(delivery.outcome, DeliveryOutcome::BroadcastSent);
    EXPECT_TRUE(delivery.delivered());
}

TEST(Deliver, NothingToSendOverOrNothingToSend) {
    const Delivery nowhere = DeliverFrame(BuildInitialiseFrame(), false, {});
    EXPECT_EQ(nowhere.outcome, DeliveryOutcome::LinkFailed);

    // Only texts far longer than their lines make a frame too long: it is
    // refused before any link is made.
    test::TempDir dir;
    const SettingsFile settings(dir / "Config.ini");
    DialogLines shown;
    shown.texts.fill(std::string(60, '8'));
    Links links{{{FakeLink::Answers(FakeLink::Answer(1))}}, {}, {}};
    const LinkTarget targets[] = {UdpTarget{"10.0.0.7"}};
    const Delivery refused = Deliver(ContentCommand{shown}, settings, targets, links.Options());
    EXPECT_EQ(refused.outcome, DeliveryOutcome::Refused);
    EXPECT_NE(refused.reason.find("more than the 255 a frame holds"), std::string::npos)
        << refused.reason;
    EXPECT_TRUE(links.made_for.empty());
    EXPECT_EQ(refused.bus_address, 1);
}

} // namespace
} // namespace lumidex
