// The command buttons and the serial send over a pseudo-terminal.
#include "dialog/control_ids.h"
#include "link/address.h"
#include "protocol/frame.h"
#include "tests/dialog/dialog_fixture.h"
#include "tests/support/addresses.h"
#include "tests/support/pty_pair.h"
#include "tests/support/udp_peer.h"

#include <gtest/gtest.h>
#include <thread>

namespace lumidex::test {
namespace {

using namespace lumidex::dialog;

std::string Controller() {
    return std::to_string(StoredAddressValue(*ParseDottedAddress(kDialogTestsController)));
}

class DialogSerial : public DialogFixture, public ::testing::Test {};

TEST_F(DialogSerial, CommandButtonsSendTheirFramesOverBothLinks) {
    PtyPair pty;
    Start("[Set]\r\nADD485=01\r\nLEDIP=" + Controller() + "\r\n[Port]\r\nPort=" + pty.device() +
          "\r\nBoud=57600\r\n[LD]\r\nLD=7\r\nLD2=0\r\n");
    UdpPeer controller(kDialogTestsController, 10006,
                       [](const UdpPeer::Bytes&, int) { return ReplyWithStatus(1); });
    struct Command {
        int button;
        const char* frame;
        int baud_after;
    };
    const Command commands[] = {
        {kBrightnessButton, "FE 07 01 02 07 00 FF 09 08", 9600}, // at the start-up rate
        {kProofTimeButton, "FE 0D 01 03 14 18 06 0F 0E 1E 00 06 FF 66 48", 9600},
        {kInitializeButton, "FE 05 00 CC FF 01 72", 57600}, // the initialise reads "Boud"
    };
    view().answers = {BoxAnswer::Yes};
    op().OpenPanel();
    for (const Command& command : commands) {
        std::vector<std::uint8_t> serial;
        std::thread serial_controller([&] {
            serial = pty.ReadFrame(std::chrono::seconds(5));
            pty.Write(ReplyWithStatus(1));
        });
        const auto datagrams = controller.received().size();
        op().Click(command.button);
        serial_controller.join();
        EXPECT_EQ(FormatHex(serial), command.frame);
        const auto received = controller.received();
        ASSERT_EQ(received.size(), datagrams + 1);
        EXPECT_EQ(FormatHex(received.back().bytes), command.frame);
        EXPECT_EQ(dialog().current_baud(), command.baud_after);
    }
    // Only the initialise asks, and nothing reports a result.
    ASSERT_EQ(view().BoxTexts(), std::vector<std::string>{"Initialize control card"});
    EXPECT_EQ(view().boxes[0].buttons, BoxButtons::YesNo);
    EXPECT_EQ(view().boxes[0].icon, BoxIcon::Warning);
}

TEST_F(DialogSerial, InitializeAnsweredNoSendsNothing) {
    PtyPair pty;
    Start("[Set]\r\nLEDIP=" + Controller() + "\r\n[Port]\r\nPort=" + pty.device() +
          "\r\nBoud=57600\r\n");
    UdpPeer controller(kDialogTestsController, 10006,
                       [](const UdpPeer::Bytes&, int) { return ReplyWithStatus(1); });
    view().answers = {BoxAnswer::No};
    op().Click(kInitializeButton);
    EXPECT_EQ(view().BoxTexts(), std::vector<std::string>{"Initialize control card"});
    EXPECT_TRUE(pty.ReadFrame(std::chrono::milliseconds(300)).empty());
    EXPECT_TRUE(controller.received().empty());
    EXPECT_EQ(dialog().current_baud(), 9600);
}

TEST_F(DialogSerial, SerialSendUsesTheStoredBaud) {
    PtyPair pty;
    Start("[Set]\r\nwsv1=4\r\n[Port]\r\nPort=" + pty.device() +
          "\r\nBoud=57600\r\n[Text]\r\n"
          "Text2=No\r\nText3=No\r\nText4=No\r\nText5=No\r\nText6=No\r\n[TextData]\r\nTD1=12.5\r\n");
    std::vector<std::uint8_t> frame;
    std::thread serial_controller([&] {
        frame = pty.ReadFrame(std::chrono::seconds(5));
        pty.Write(ReplyWithStatus(1));
    });
    op().Click(kSerialButton);
    serial_controller.join();
    EXPECT_EQ(view().BoxTexts(), std::vector<std::string>{"Sent successfully!"});
    EXPECT_EQ(FormatHex(frame).substr(0, 26), "FE 0E 01 AB 01 01 FA 00 14");
    EXPECT_EQ(dialog().current_baud(), 57600);
}

// A port that cannot be opened is a failed send, also at bus address 0
// where no answer is expected: the frame never left.
TEST_F(DialogSerial, PortThatCannotBeOpenedIsAFailedSendEvenAtAddressZero) {
    Start("[Set]\r\nADD485=00\r\n[Port]\r\nPort=/nonexistent/ttyQ9\r\n");
    op().Click(kSerialButton);
    EXPECT_EQ(view().BoxTexts(), std::vector<std::string>{"Send failed!"});
}

} // namespace
} // namespace lumidex::test
