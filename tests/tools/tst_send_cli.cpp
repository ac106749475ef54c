#include "protocol/frame_decoder.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tools/send/send_cli.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <unistd.h>

namespace lumidex {
namespace {

using RunResult = test::RunOutput;

// Runs lumidex-send with the arguments (shell syntax, so quoting works as
// on a command line).
RunResult RunSendExe(const std::string& args, std::string* err = nullptr) {
    RunResult result =
        test::RunProgram({"/bin/sh", "-c", std::string(LUMIDEX_SEND_EXE) + " " + args});
    if (err) {
        *err = result.err;
    }
    return result;
}

Frame FromHex(const std::string& hex) {
    Frame out;
    for (std::size_t i = 0; i + 2 <= hex.size(); i += 3) {
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

class SendDryRun : public testing::Test {
protected:
    void SetUp() override {
        config_ = (dir_ / "Config.ini").string();
        test::WriteFileOrFail(dir_ / "Config.ini",
                              "[Set]\r\nwsv1=4\r\nwsv2=3\r\nFCC2=1\r\nUIN=03:00\r\n"
                              "[Text]\r\nText3=No\r\nText4=No\r\nText5=No\r\nText6=No\r\n"
                              "[TextData]\r\nTD1=12.5\r\nTD2=7\r\n");
    }
    std::string Run(const std::string& args, int expected_status = 0) {
        const RunResult result = RunSendExe("--config " + config_ + " " + args + " --dry-run");
        EXPECT_EQ(result.status, expected_status) << args;
        return result.out;
    }
    test::TempDir dir_;
    std::string config_;
};

TEST_F(SendDryRun, PrintsTheFramesOfTheExamples) {
    struct Case {
        const char* args;
        const char* hex;
    };
    const Case cases[] = {
        {"--update Now content",
         "FE 14 01 AB 01 02 FA 00 14 10 01 13 05 FB 01 13 10 10 07 FF 65 56\n"},
        {"--update 00:00 --point 2=1 content",
         "FE 14 01 AC 18 02 FA 00 14 10 01 13 05 FB 01 13 10 10 18 FF 9E 1E\n"},
        {"brightness", "FE 07 01 02 05 05 FF 98 9D\n"},
        {"--time \"2024-06-15 14:30:00\" clock", "FE 0D 01 03 14 18 06 0F 0E 1E 00 06 FF 66 48\n"},
        {"--time '2024-06-16 09:05:07' clock", "FE 0D 01 03 14 18 06 10 09 05 07 07 FF 6D 02\n"},
        {"init", "FE 05 00 CC FF 01 72\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run(c.args), c.hex) << c.args;
    }
}

// What is not on the command line comes from the settings as the dialog
// shows them; typed lines are formatted as the dialog formats them.
TEST_F(SendDryRun, CommandLineOverridesTheSettings) {
    test::WriteFileOrFail(dir_ / "Config.ini",
                          "[Set]\r\nwsv1=4\r\nwsv6=2\r\nwsv2=5\r\nwsv7=9\r\n"
                          "PLL1=1\r\nUIN=03:00\r\nADD485=07\r\n[Text]\r\nText3=No\r\n"
                          "Text4=No\r\nText5=No\r\nText6=No\r\n[TextData]\r\nTD2=1.5\r\n");
    const auto decoded = DecodeFrame(FromHex(Run("--line 1=3.14159 --flicker 2=1 content")));
    ASSERT_TRUE(decoded.frame) << decoded.reason;
    EXPECT_EQ(decoded.frame->address, 7);
    EXPECT_EQ(decoded.frame->hour_code, 3);
    ASSERT_EQ(decoded.frame->lines.size(), 2u);
    EXPECT_EQ(decoded.frame->lines[0].text, " 3.14.") << "PLL1 puts a point after the last digit";
    EXPECT_EQ(decoded.frame->lines[1].text, "   1.5");
    EXPECT_TRUE(decoded.frame->lines[1].flicker);

    // A stored places value that is no list item leaves the list without a
    // choice; its empty text means fixed point with 0 places.
    const auto unmatched = DecodeFrame(FromHex(Run("--line 2=1.5 content")));
    ASSERT_TRUE(unmatched.frame) << unmatched.reason;
    EXPECT_EQ(unmatched.frame->lines[1].text, "    2");
}

TEST_F(SendDryRun, BadUsageGivesOneLineAndStatus2) {
    const char* cases[] = {
        "--line 7=1 content",
        "--line x content",
        "--line 1=abc content",
        "--line 1=nan content",
        "--line 1=- content",
        "--line 1=-5 content",
        "--line 1=1.2.3 content",
        "--line 1=.5 content",
        "--line '1=1 2' content",
        "--baud 1234 content",
        "--flicker 1=2 content",
        "--update 24:00 content",
        "--time '2024-02-30 10:00:00' clock",
        "--time '2024-06-15T14:30:00' clock",
        "--time '2024-06-15 -1:30:-5' clock",
        "--time '2024-06-15 14:30:-0' clock",
        "--time '2024-06-15  1:30:00' clock",
        "--udp 300.1.1.1 content",
        "--baud fast content",
        "--bogus content",
        "",
        "content init",
        "sing",
        // Flags take no value; single options are given once.
        "--dry-run=no content",
        "--help=x",
        "--udp 127.0.0.1 --udp 127.0.0.2 content",
        "--serial /dev/ttyS0 --serial /dev/ttyS1 content",
        "--time '2024-06-15 14:30:00' --time '2024-06-15 14:30:01' clock",
        "--config /dev/null content",
        "--baud 9600 --baud 57600 content",
        "--update Now --update 03:00 content",
        // Leading zeros: the system's conversion would refuse it later.
        "--udp 127.000.000.055 content",
        // Arguments with line breaks and escape sequences stay on one line.
        "--line \"$(printf '1=\\033[2J\\nSent successfully!')\" content",
        "\"$(printf 'sing\\nSent successfully!')\"",
        "\"--bogus$(printf '\\r\\033]0;owned\\007')\" content",
        "--udp \"$(printf '1.2.3.4\\n5')\" content",
    };
    for (const char* args : cases) {
        std::string err;
        const RunResult result = RunSendExe("--config " + config_ + " --dry-run " + args, &err);
        EXPECT_EQ(result.status, 2) << args;
        EXPECT_EQ(result.out, "") << args;
        EXPECT_TRUE(err.starts_with("lumidex-send: ")) << args << ": " << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << args << ": " << err;
        EXPECT_TRUE(std::none_of(err.begin(), err.end() - 1,
                                 [](char c) { return (c >= 0 && c < 0x20) || c == 0x7F; }))
            << args << ": " << err;
    }
}

// A script learns when the frame or the result could not be written.
TEST_F(SendDryRun, OutputThatCannotBeWrittenIsAFailure) {
    std::string err;
    EXPECT_EQ(RunSendExe("--config " + config_ + " --dry-run init >/dev/full", &err).status, 2);
    EXPECT_NE(err.find("cannot write the output: No space left on device"), std::string::npos)
        << err;
}

TEST_F(SendDryRun, UnreadableConfigIsBadInput) {
    std::string err;
    EXPECT_EQ(
        RunSendExe("--config " + (dir_ / "missing.ini").string() + " --dry-run init", &err).status,
        2);
    EXPECT_NE(err.find("missing.ini: No such file or directory"), std::string::npos) << err;
    EXPECT_EQ(RunSendExe("--config " + dir_.path().string() + " --dry-run init", &err).status, 2);
    EXPECT_NE(err.find("is not a regular file"), std::string::npos) << err;
}

// A dotted address written into LEDIP by hand would go to 0.0.0.127, not to
// the controller meant: it is refused in words, sending nothing.
TEST_F(SendDryRun, AHandWrittenDottedAddressIsRefusedWithTheNumberMeant) {
    test::WriteFileOrFail(dir_ / "Config.ini", "[Set]\r\nLEDIP=127.0.0.2\r\n");
    std::string err;
    EXPECT_EQ(RunSendExe("--config " + config_ + " init", &err).status, 2);
    EXPECT_NE(err.find("LEDIP=127.0.0.2 is read as 127 (the controller at 0.0.0.127)"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("write LEDIP=2130706434"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(RunSendExe("--config " + config_ + " --dry-run init").status, 0)
        << "a dry run sends nothing and needs no address";
}

// Root does not act on a settings file another user could have written:
// its port would have root write a frame into any terminal. The other user
// is played with setpriv.
TEST(SendSettingsTrust, RootRefusesAFileAnotherUserCouldWrite) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to play another user with setpriv";
    }
    test::TempDir dir;
    const auto home = dir / "home";
    std::filesystem::create_directory(home);
    ASSERT_EQ(::chown(home.c_str(), 4242, 4242), 0);
    const auto planted = test::RunProgram(
        {"/usr/bin/setpriv", "--reuid=4242", "--regid=4242", "--clear-groups", "/bin/sh", "-c",
         "printf '[Port]\\r\\nPort=/dev/tty\\r\\n' >" + (home / "Config.ini").string()});
    ASSERT_EQ(planted.status, 0) << planted.err;
    std::string err;
    const RunResult result =
        RunSendExe("--config " + (home / "Config.ini").string() + " init", &err);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "") << "nothing built, nothing sent";
    EXPECT_NE(err.find("not using " + (home / "Config.ini").string() + ": "), std::string::npos)
        << err;
    EXPECT_NE(err.find("belongs to another user"), std::string::npos) << err;
}

// In unified mode ("Set" other than 1) the dialog's refresh copies the
// unified format into every line before anything is built or formatted.
TEST_F(SendDryRun, UnifiedModeBuildsWhatTheDialogBuilds) {
    const std::string set = "[Set]\r\nSet=2\r\nsetsws=5\r\nsetsss=2\r\nwsv1=3\r\n";
    const std::string rest = "[Text]\r\nText2=No\r\nText3=No\r\nText4=No\r\nText5=No\r\n"
                             "Text6=No\r\n[TextData]\r\nTD1=123\r\n";
    test::WriteFileOrFail(dir_ / "Config.ini", set + rest);
    EXPECT_EQ(Run("--update Now content"), "FE 0F 01 AB 01 01 FA 00 15 10 10 01 02 03 FF 17 1B\n");
    const auto typed = DecodeFrame(FromHex(Run("--update Now --line 1=3.14159 content")));
    ASSERT_TRUE(typed.frame) << typed.reason;
    EXPECT_EQ(typed.frame->lines[0].text, "  3.14");
    EXPECT_EQ(test::ReadFileOrFail(dir_ / "Config.ini"), set + rest) << "the tool only reads";

    // A unified digit count that is no list item leaves the line keys.
    test::WriteFileOrFail(dir_ / "Config.ini",
                          "[Set]\r\nSet=2\r\nsetsws=9\r\nsetsss=2\r\nwsv1=4\r\n" + rest);
    const auto unmatched = DecodeFrame(FromHex(Run("--update Now --line 1=3.14159 content")));
    ASSERT_TRUE(unmatched.frame) << unmatched.reason;
    EXPECT_EQ(unmatched.frame->lines[0].digit_count, 4);
    EXPECT_EQ(unmatched.frame->lines[0].text, " 3.14"); // places still unified

    // Separate mode formats with the line's own keys.
    test::WriteFileOrFail(dir_ / "Config.ini",
                          "[Set]\r\nSet=1\r\nsetsws=5\r\nsetsss=2\r\nwsv1=3\r\n" + rest);
    const auto separate = DecodeFrame(FromHex(Run("--update Now --line 1=3.14159 content")));
    ASSERT_TRUE(separate.frame) << separate.reason;
    EXPECT_EQ(separate.frame->lines[0].text, " 3.1");
}

} // namespace
} // namespace lumidex
