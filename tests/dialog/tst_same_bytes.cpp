// The dialog, lumidex-send and the board service build the same content
// frame from the same Config.ini: what the dialog sends right after start,
// without a key touched, is what `lumidex-send --dry-run content` prints and
// what the service sends; and all three report the controller's answer by
// the one result rule.
#include "boards/service.h"
#include "dialog/control_ids.h"
#include "link/address.h"
#include "protocol/frame.h"
#include "tests/dialog/dialog_fixture.h"
#include "tests/support/addresses.h"
#include "tests/support/udp_peer.h"
#include "tools/send/send_cli.h"

#include <future>
#include <gtest/gtest.h>
#include <sstream>

namespace lumidex::test {
namespace {

// The suite's own loopback address, or 127.0.0.1 where every loopback
// address answers as 127.0.0.1 (Wine).
const char* Controller() {
    return ControllerAddress(kDialogTestsController);
}

struct SameBytesRow {
    const char* name;
    std::string ini;    // the controller address is added to its [Set]
    int answer = 1;     // the controller's answer byte 3; -1 silent
    const char* dialog_text = "Sent successfully!";
    int send_status = 0; // lumidex-send's exit status
    const char* service_result = "accepted"; // the board service's status
};

// The board service's status for one content exchange with the board whose
// settings are `config`.
BoardStatus ServiceContentStatus(const std::filesystem::path& config) {
    BridgeConfig boards;
    boards.refresh = std::chrono::seconds{0};
    boards.boards.push_back({"board", config, BoardLink::Udp, {}, {}, {}, {}, {}});
    BoardService service(boards);
    service.Start();
    std::promise<std::vector<BoardStatus>> statuses;
    BoardChange change;
    change.sends.Add(Command::Content);
    service.Submit("board", change,
                   [&](const std::vector<BoardStatus>& got) { statuses.set_value(got); });
    auto done = statuses.get_future();
    if (done.wait_for(std::chrono::seconds{10}) != std::future_status::ready) {
        ADD_FAILURE() << "the service made no exchange";
        return {};
    }
    const auto got = done.get();
    return got.empty() ? BoardStatus{} : got.front();
}

class DialogAndSender : public DialogFixture, public ::testing::TestWithParam<SameBytesRow> {};

TEST_P(DialogAndSender, BuildTheSameFrame) {
    const std::string address =
        std::to_string(StoredAddressValue(*ParseDottedAddress(Controller())));
    std::string ini = GetParam().ini;
    const std::string set = "[Set]\r\n";
    const auto at = ini.find(set);
    ini.insert(at == std::string::npos ? 0 : at + set.size(),
               (at == std::string::npos ? set : "") + "LEDIP=" + address + "\r\n");
    Start(ini);
    const int answer = GetParam().answer;
    UdpPeer controller(Controller(), 10006, [answer](const UdpPeer::Bytes&, int) {
        return answer < 0 ? std::nullopt
                          : std::optional(ReplyWithStatus(static_cast<std::uint8_t>(answer)));
    });
    ASSERT_TRUE(controller.bound());
    // The refresh at start may have written keys (the mode, the unified
    // format); the tool reads the file as the dialog left it.
    dialog().Notify(dialog::kUdpButton, dialog::Notification::Click);
    EXPECT_EQ(view().BoxTexts(), std::vector<std::string>{GetParam().dialog_text});
    const auto from_dialog = controller.received();
    ASSERT_FALSE(from_dialog.empty());

    std::string error;
    const auto dry_run =
        ParseSendOptions({"--config", config().string(), "--dry-run", "content"}, error);
    ASSERT_TRUE(dry_run) << error;
    std::ostringstream out, err;
    ASSERT_EQ(RunSend(*dry_run, out, err), 0) << err.str();
    EXPECT_EQ(out.str(), FormatHex(from_dialog[0].bytes) + "\n");

    // The same send from the tool: the same datagrams, the dialog's words,
    // and an exit status from the same outcome.
    const auto send = ParseSendOptions({"--config", config().string(), "content"}, error);
    ASSERT_TRUE(send) << error;
    std::ostringstream sent, sent_err;
    EXPECT_EQ(RunSend(*send, sent, sent_err), GetParam().send_status) << sent_err.str();
    EXPECT_EQ(sent.str(), out.str() + GetParam().dialog_text + "\n");
    ASSERT_EQ(controller.received().size(), 2 * from_dialog.size()) << "as many attempts";
    EXPECT_EQ(controller.received().back().bytes, from_dialog[0].bytes);

    // The board service, as the bridge's doors report it.
    const BoardStatus status = ServiceContentStatus(config());
    EXPECT_EQ(ResultName(status.result), GetParam().service_result) << status.detail;
    EXPECT_EQ(status.frame, from_dialog[0].bytes);
    ASSERT_EQ(controller.received().size(), 3 * from_dialog.size()) << "as many attempts";
}

const SameBytesRow kSameBytesRows[] = {
    {"defaults", ""},
    {"separate formats with flags and an hour",
     "[Set]\r\nwsv1=4\r\nwsv6=2\r\nwsv2=8\r\nwsv22=5\r\nwsv23=1\r\nFCC2=1\r\nPLL6=1\r\n"
     "UIN=07:00\r\nADD485=03\r\n[TextData]\r\nTD1=12.50\r\nTD2=87654321\r\nTD6=12.3\r\n"},
    {"excluded lines",
     "[Text]\r\nText2=No\r\nText4=No\r\nText5=No\r\n[TextData]\r\nTD1=1\r\nTD2=2\r\nTD3=3\r\n"},
    {"unified mode copies its format",
     "[Set]\r\nSet=2\r\nsetsws=6\r\nsetsss=1\r\nwsv1=3\r\nFCC=1\r\nFCC1=1\r\n[TextData]\r\n"
     "TD1=12345.6\r\nTD3=7\r\n"},
    {"unified value that is no item",
     "[Set]\r\nSet=2\r\nsetsws=9\r\nwsv1=5\r\n[TextData]\r\nTD1=4\r\n"},
    {"midnight and a hand-edited time", "[Set]\r\nUIN=00:00\r\n[TextData]\r\nTD1=0.5\r\n"},
    {"an update time that is no item", "[Set]\r\nUIN=9:00\r\nADD485=00\r\n"},
    {"several points", "[Set]\r\nwsv1=5\r\n[TextData]\r\nTD1=1.2.3\r\n"},
    // At bus address 0 silence is a broadcast sent; a refusal stays a
    // refusal, though the dialog words both alike.
    {"silence at bus address 0", "[Set]\r\nADD485=00\r\n", -1, "Broadcast Send.", 0,
     "broadcast sent"},
    {"refusal at bus address 0", "[Set]\r\nADD485=00\r\n", 0, "Broadcast Send.", 1, "rejected"},
    {"refusal at bus address 3", "[Set]\r\nADD485=03\r\n", 0, "Send failed!", 1, "rejected"},
};
INSTANTIATE_TEST_SUITE_P(Rows, DialogAndSender, ::testing::ValuesIn(kSameBytesRows), RowName{});

} // namespace
} // namespace lumidex::test
