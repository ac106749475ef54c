// The command buttons and the serial send over a pseudo-terminal, and
// settings files that may not be written or trusted.
#include "dialog/control_ids.h"
#include "link/address.h"
#include "protocol/frame.h"
#include "settings/file_io.h"
#include "tests/dialog/dialog_fixture.h"
#include "tests/settings/forked_posix.h"
#include "tests/support/addresses.h"
#include "tests/support/pty_pair.h"
#include "tests/support/serial_controller.h"
#include "tests/support/udp_peer.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace lumidex::test {
namespace {

using namespace lumidex::dialog;

std::string Controller() {
    return std::to_string(StoredAddressValue(*ParseDottedAddress(kDialogTestsController)));
}

class DialogPosix : public DialogFixture, public ::testing::Test {};

TEST_F(DialogPosix, CommandButtonsSendTheirFramesOverBothLinks) {
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
        SerialController serial(pty, 1, [](int) { return ReplyWithStatus(1); });
        const auto datagrams = controller.received().size();
        op().Click(command.button);
        ASSERT_EQ(serial.Frames().size(), 1u);
        EXPECT_EQ(FormatHex(serial.Frames()[0]), command.frame);
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

TEST_F(DialogPosix, InitializeAnsweredNoSendsNothing) {
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

TEST_F(DialogPosix, SerialSendUsesTheStoredBaud) {
    PtyPair pty;
    Start("[Set]\r\nwsv1=4\r\n[Port]\r\nPort=" + pty.device() +
          "\r\nBoud=57600\r\n[Text]\r\n"
          "Text2=No\r\nText3=No\r\nText4=No\r\nText5=No\r\nText6=No\r\n[TextData]\r\nTD1=12.5\r\n");
    SerialController serial(pty, 1, [](int) { return ReplyWithStatus(1); });
    op().Click(kSerialButton);
    EXPECT_EQ(view().BoxTexts(), std::vector<std::string>{"Sent successfully!"});
    ASSERT_EQ(serial.Frames().size(), 1u);
    EXPECT_EQ(FormatHex(serial.Frames()[0]).substr(0, 26), "FE 0E 01 AB 01 01 FA 00 14");
    EXPECT_EQ(dialog().current_baud(), 57600);
}

// A port that cannot be opened is a failed send, also at bus address 0
// where no answer is expected: the frame never left.
TEST_F(DialogPosix, PortThatCannotBeOpenedIsAFailedSendEvenAtAddressZero) {
    Start("[Set]\r\nADD485=00\r\n[Port]\r\nPort=/nonexistent/ttyQ9\r\n");
    op().Click(kSerialButton);
    EXPECT_EQ(view().BoxTexts(), std::vector<std::string>{"Send failed!"});
}

// A settings file the dialog may not write, or as root may not trust, is
// said once at start, with the reason; an untrusted one shows the defaults.
TEST_F(DialogPosix, SettingsThatCannotBeSavedAreToldOnceWithTheReason) {
    struct Row {
        const char* name;
        bool needs_root;
        std::string says;
        const char* shown_digits; // line 1's "Numbers" after the start
    };
    for (const Row& row : {Row{"read-only file", false, "Config.ini is read-only", "5"},
                           Row{"another user's file", true, "belongs to another user", "3"}}) {
        SCOPED_TRACE(row.name);
        if (row.needs_root && ::geteuid() != 0) {
            std::cout << "skipped (" << row.name << "): the suite does not run as root\n";
            continue;
        }
        Start("[Set]\r\nwsv1=5\r\n");
        if (row.needs_root) {
            ASSERT_EQ(::chown(config().c_str(), 4242, 4242), 0);
        } else {
            std::filesystem::permissions(config(), std::filesystem::perms::owner_read);
        }
        Reopen();
        ASSERT_EQ(view().boxes.size(), 1u);
        EXPECT_NE(view().boxes[0].text.find("Settings cannot be saved: "), std::string::npos);
        EXPECT_NE(view().boxes[0].text.find(row.says), std::string::npos) << view().boxes[0].text;
        EXPECT_EQ(view().ListText(kDigitCountLists[0]), row.shown_digits);
    }
}

// A lock another program of the user keeps past the wait: the dialog comes
// up all the same, says once why settings cannot be saved, and stores again
// once the lock is free.
TEST_F(DialogPosix, SettingsLockHeldPastTheWaitIsToldOnce) {
    Start("[Text]\r\nText1=Yes\r\n");
    ChildSignal locked;
    Forked holder([&] {
        RunWithFileLock(config(), [&] {
            locked.Send();
            ::pause();
            return true;
        });
        return 1;
    });
    ASSERT_TRUE(holder.started());
    ASSERT_TRUE(locked.Await(std::chrono::seconds(10)));
    Reopen(); // its refresh stores the mode
    ASSERT_EQ(view().boxes.size(), 1u);
    EXPECT_EQ(view().boxes[0].text,
              "Settings cannot be saved: its lock " +
                  (config().parent_path() / ".Config.ini.lock").string() +
                  " is held by another program. Lumidex works on, but changes made while it is "
                  "held are not stored.");
    op().Click(kChosenBoxes[0]);
    EXPECT_EQ(view().boxes.size(), 1u) << "told once";
    EXPECT_EQ(Stored(keys::kLineChosen[0]), "Yes");
    holder.Kill();
    op().Click(kChosenBoxes[0]);
    op().Click(kChosenBoxes[0]);
    EXPECT_EQ(Stored(keys::kLineChosen[0]), "No");
    EXPECT_EQ(view().boxes.size(), 1u);
}

// "Help..." hands the help to another program only when no other user
// could have changed it or its HTML copy.
TEST(DialogHelp, OpensOnlyWhatNoOtherUserCouldChange) {
    struct Row {
        const char* name;
        mode_t folder;
        mode_t document;
        mode_t html;
        const char* says; // nothing when the help opens
    };
    const Row rows[] = {
        {"the user's own folder", 0755, 0644, 0644, nullptr},
        {"a folder every user may write", 0777, 0644, 0644, "can be written by every user"},
        {"a document every user may write", 0755, 0666, 0644, "can be written by every user"},
        {"an HTML copy every user may write", 0755, 0644, 0666, "can be written by every user"},
        {"a sticky folder", 01777, 0644, 0644, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DialogFixture f;
        f.Start();
        const auto folder = f.config().parent_path();
        WriteFileOrFail(folder / "Help.doc", "{\\rtf1 help}");
        WriteFileOrFail(folder / "Help.html", "<p>help</p>");
        ASSERT_EQ(::chmod((folder / "Help.doc").c_str(), row.document), 0);
        ASSERT_EQ(::chmod((folder / "Help.html").c_str(), row.html), 0);
        ASSERT_EQ(::chmod(folder.c_str(), row.folder), 0);
        f.op().Click(kHelpButton);
        if (row.says == nullptr) {
            EXPECT_EQ(f.view().opened.size(), 1u);
            EXPECT_TRUE(f.view().boxes.empty());
            continue;
        }
        EXPECT_TRUE(f.view().opened.empty());
        ASSERT_EQ(f.view().boxes.size(), 1u);
        EXPECT_TRUE(f.view().boxes[0].text.starts_with("Help is not opened: "))
            << f.view().boxes[0].text;
        EXPECT_NE(f.view().boxes[0].text.find(row.says), std::string::npos)
            << f.view().boxes[0].text;
    }
}

} // namespace
} // namespace lumidex::test
