// lumidex-send on Windows beside another program or user: a Config.ini that
// another program keeps shut, or that every user may change, stops it with
// status 2 and the reason rather than a frame built from defaults or from
// what someone planted.
#include "tests/support/access_list_win32.h"
#include "tests/support/temp_dir.h"
#include "cli/cli.h"
#include "tools/send/send_cli.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <sstream>

namespace lumidex {
namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome DryRunContent(const std::filesystem::path& config) {
    std::string error;
    const auto options =
        ParseSendOptions({"--config", config.string(), "--dry-run", "content"}, error);
    EXPECT_TRUE(options) << error;
    Outcome outcome;
    if (options) {
        std::ostringstream out;
        std::ostringstream err;
        outcome.status = RunSend(*options, out, err);
        outcome.out = out.str();
        outcome.err = err.str();
    }
    return outcome;
}

TEST(SendOnWindows, AFileAnotherProgramKeepsShutIsRefused) {
    test::TempDir dir;
    const auto config = dir / "Config.ini";
    test::WriteFileOrFail(config, "[TextData]\r\nTD1=12\r\n");
    // A handle that shares nothing, as a program holding the file would have.
    HANDLE held = ::CreateFileW(config.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const Outcome shut = DryRunContent(config);
    ::CloseHandle(held);
    EXPECT_EQ(shut.status, 2);
    EXPECT_EQ(shut.out, "") << "no frame from defaults";
    EXPECT_NE(shut.err.find("cannot read " + Printable(config.string()) +
                            ": another program keeps it locked"),
              std::string::npos)
        << shut.err;
    EXPECT_EQ(DryRunContent(config).status, 0) << "read once it is free";
}

// What another user planted in a folder every user may change is not used
// by an elevated process, and an ordinary one hears that it only reads it.
TEST(SendOnWindows, AFileEveryUserMayChangeIsNotTakenSilently) {
    test::TempDir dir;
    const auto config = dir / "Config.ini";
    test::WriteFileOrFail(config, "[TextData]\r\nTD1=6666\r\n");
    ASSERT_TRUE(test::OpenToEveryone(config));

    const Outcome planted = DryRunContent(config);
    if (test::RunsElevated()) {
        EXPECT_EQ(planted.status, 2);
        EXPECT_EQ(planted.out, "");
        EXPECT_NE(planted.err.find("not using " + Printable(config.string()) + ": "),
                  std::string::npos)
            << planted.err;
    } else {
        EXPECT_EQ(planted.status, 0);
        EXPECT_NE(planted.err.find(" is used read-only: "), std::string::npos) << planted.err;
    }
    EXPECT_NE(planted.err.find("can be changed by "), std::string::npos) << planted.err;
}

} // namespace
} // namespace lumidex
