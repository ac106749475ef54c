// The boards file's sections as the doors claim them: the reader takes the
// keys each door names, where it names them, keeps their values for the
// door, and refuses any other key naming the file, the section and the key.
#include "boards/boards_file.h"
#include "boards/boards_file_write.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace lumidex {
namespace {

// Two doors as the reader sees them: one with keys in [bridge], one with a
// section of its own.
constexpr std::string_view kBrokerKeys[] = {"broker", "prefix", "password-file"};
constexpr std::string_view kWebKeys[] = {"listen", "tls-cert"};
const DoorKeys kBrokerDoor{"bridge", kBrokerKeys};
const DoorKeys kWebDoor{"http", kWebKeys};

constexpr const char* kHall = "[hall]\nsettings=hall.ini\n";

struct DoorKeysRow {
    std::string name;
    std::string text;
    std::string says;     // after "FILE: "; empty: the file is taken
    bool web_door = true; // whether the reader learns the web door's keys
};

class BoardsFileDoorKeys : public testing::TestWithParam<DoorKeysRow> {};

TEST_P(BoardsFileDoorKeys, TakesEachDoorsKeysWhereItNamesThem) {
    test::TempDir dir;
    test::WriteFileOrFail(dir / "hall.ini", "[Set]\r\nLEDIP=2130706433\r\n");
    test::WriteFileOrFail(dir / "boards.ini", GetParam().text);
    std::vector<DoorKeys> doors{kBrokerDoor};
    if (GetParam().web_door) {
        doors.push_back(kWebDoor);
    }
    std::string error;
    const auto config = ReadBoardsFile(dir / "boards.ini", doors, error);
    if (GetParam().says.empty()) {
        EXPECT_TRUE(config) << error;
    } else {
        EXPECT_FALSE(config);
        EXPECT_EQ(error, (dir / "boards.ini").string() + ": " + GetParam().says);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BoardsFileDoorKeys,
    testing::Values(
        DoorKeysRow{"every door's keys and the service's",
                    "[bridge]\nbroker=mqtt.plant\nrefresh=60\n[http]\nlisten=127.0.0.1:8080\n" +
                        std::string(kHall),
                    ""},
        DoorKeysRow{"keys and sections in any case",
                    "[Bridge]\nBROKER=mqtt.plant\n[HTTP]\nListen=127.0.0.1:8080\n" +
                        std::string(kHall),
                    ""},
        DoorKeysRow{"an unknown key in bridge", "[bridge]\nport=1883\n" + std::string(kHall),
                    "[bridge] port: unknown key"},
        DoorKeysRow{"an unknown key in a door's section",
                    "[http]\nlisten=127.0.0.1:8080\nlistn=x\n" + std::string(kHall),
                    "[http] listn: unknown key"},
        DoorKeysRow{"another door's key", "[http]\nbroker=mqtt.plant\n" + std::string(kHall),
                    "[http] broker: unknown key"},
        DoorKeysRow{"a door's key in a board", std::string(kHall) + "listen=127.0.0.1:8080\n",
                    "[hall] listen: unknown key"},
        DoorKeysRow{"a board's key in a door's section",
                    "[http]\nsettings=hall.ini\n" + std::string(kHall),
                    "[http] settings: unknown key"},
        DoorKeysRow{"the service's key in a door's section",
                    "[http]\nrefresh=60\n" + std::string(kHall), "[http] refresh: unknown key"},
        DoorKeysRow{"a section no door names is a board",
                    "[http]\nlisten=127.0.0.1:8080\n" + std::string(kHall),
                    "[http] listen: unknown key", false},
        DoorKeysRow{"a refresh that is no number", "[bridge]\nrefresh=soon\n" + std::string(kHall),
                    "[bridge] refresh: wants whole seconds 0..86400 (0: never), got 'soon'"},
        DoorKeysRow{"a stale guard longer than a month",
                    "[bridge]\nstale-after=2592001\n" + std::string(kHall),
                    "[bridge] stale-after: wants whole seconds 0..2592000 (0: off), got '2592001'"},
        DoorKeysRow{"a stale line that is none", std::string(kHall) + "stale-lines=1,7\n",
                    "[hall] stale-lines: wants lines 1..6 joined by commas, got '1,7'"},
        DoorKeysRow{"a stale show of neither kind", std::string(kHall) + "stale-show=dim\n",
                    "[hall] stale-show: wants blank or flicker, got 'dim'"},
        DoorKeysRow{"a bound that is no value",
                    std::string(kHall) + "line-2-max=1.2.3\n",
                    "[hall] line-2-max: wants a value as the line shows one (digits, at most one "
                    "point inside), got '1.2.3'"},
        DoorKeysRow{"bounds the wrong way round",
                    std::string(kHall) + "line-1-min=2.5\nline-1-max=1.75\n",
                    "[hall] line-1-min: 2.5 is above line-1-max 1.75"},
        DoorKeysRow{"a bound in the service's section", "[bridge]\nline-1-min=1\n" + std::string(kHall),
                    "[bridge] line-1-min: unknown key"}),
    test::RowName{});

// Each stale key a board's section gives replaces the service's default.
TEST(BoardsFile, ABoardsStaleGuardIsTheServicesWithItsOwnKeysOverIt) {
    test::TempDir dir;
    test::WriteFileOrFail(dir / "hall.ini", "[Set]\r\nLEDIP=2130706433\r\n");
    test::WriteFileOrFail(dir / "boards.ini",
                          "[bridge]\nstale-after=600\nstale-show=flicker\n"
                          "[hall]\nsettings=hall.ini\nstale-lines=3, 1\nline-1-min=1.000\n"
                          "line-1-max=2.5\n"
                          "[kiosk]\nsettings=hall.ini\nstale-after=0\n");
    std::string error;
    const auto config = ReadBoardsFile(dir / "boards.ini", {}, error);
    ASSERT_TRUE(config) << error;
    EXPECT_EQ(config->boards[0].stale, (StaleGuard{std::chrono::seconds{600}, std::vector{1, 3}, StaleShow::Flicker}));
    EXPECT_EQ(config->boards[0].bounds[0], (LineBounds{"1.000", "2.5"}));
    EXPECT_EQ(config->boards[0].bounds[1], LineBounds{});
    EXPECT_EQ(config->boards[1].stale, (StaleGuard{std::chrono::seconds{0}, std::nullopt, StaleShow::Flicker}));
}

TEST(BoardsFile, KeepsTheDoorsValuesAsWrittenForTheDoors) {
    test::TempDir dir;
    test::WriteFileOrFail(dir / "hall.ini", "[Set]\r\nLEDIP=2130706433\r\n");
    test::WriteFileOrFail(dir / "boards.ini",
                          "[bridge]\nBroker=mqtt.plant:8883\npassword-file=secret\nrefresh=60\n"
                          "[Http]\nlisten=\n" +
                              std::string(kHall));
    std::string error;
    const auto config = ReadBoardsFile(dir / "boards.ini", {kBrokerDoor, kWebDoor}, error);
    ASSERT_TRUE(config) << error;
    EXPECT_EQ(config->refresh, std::chrono::seconds{60});
    ASSERT_EQ(config->boards.size(), 1u);

    const DoorSection& bridge = config->doors.at("bridge");
    EXPECT_EQ(bridge.Value("broker"), "mqtt.plant:8883");
    EXPECT_EQ(bridge.Value("prefix"), "");
    EXPECT_EQ(bridge.values.count("refresh"), 0u) << "the service's own key is not a door's";
    EXPECT_EQ(bridge.Path("password-file"), std::filesystem::absolute(dir / "secret"));
    EXPECT_EQ(bridge.Path("prefix"), std::filesystem::path());

    const DoorSection& http = config->doors.at("http");
    EXPECT_TRUE(http.values.empty()) << "an empty value is no value";
    EXPECT_EQ(http.Refusal("listen", "wants ADDRESS:PORT"),
              (dir / "boards.ini").string() + ": [Http] listen: wants ADDRESS:PORT");
}

TEST(BoardsFile, ADoorsSectionTheFileLacksIsThereWithoutValues) {
    test::TempDir dir;
    test::WriteFileOrFail(dir / "hall.ini", "[Set]\r\nLEDIP=2130706433\r\n");
    test::WriteFileOrFail(dir / "boards.ini", kHall);
    std::string error;
    const auto config = ReadBoardsFile(dir / "boards.ini", {kBrokerDoor, kWebDoor}, error);
    ASSERT_TRUE(config) << error;
    for (const char* section : {"bridge", "http"}) {
        ASSERT_EQ(config->doors.count(section), 1u) << section;
        EXPECT_EQ(config->doors.at(section).name, section);
        EXPECT_TRUE(config->doors.at(section).values.empty()) << section;
    }
}

// A board's section leaves the boards file with its keys and the comments
// among them; what stands before its header, and the comments after its
// last key (which speak of the next section), stay as they were.
struct RemovedSectionRow {
    std::string name;
    std::string text;
    std::string section;
    std::string left;
};

class BoardsFileRemovedSection : public testing::TestWithParam<RemovedSectionRow> {};

TEST_P(BoardsFileRemovedSection, KeepsEveryOtherLine) {
    EXPECT_EQ(RemoveSectionFromText(GetParam().text, GetParam().section), GetParam().left);
}

const RemovedSectionRow kRemovedSectionRows[] = {
    {"middle",
     "; boards\n[hall]\nsettings=hall.ini\n\n; the dock\n[dock]\nsettings=dock.ini\n; serial\n"
     "link=serial\n\n; the yard\n[yard]\nsettings=yard.ini\n",
     "dock",
     "; boards\n[hall]\nsettings=hall.ini\n\n; the dock\n\n; the yard\n[yard]\nsettings=yard.ini\n"},
    {"last_without_a_final_break",
     "[hall]\r\nsettings=hall.ini\r\n[Dock]\r\nsettings=dock.ini\r\n; end of the boards",
     "dock", "[hall]\r\nsettings=hall.ini\r\n; end of the boards"},
    {"first_with_blank_keys_and_lone_cr",
     "[dock]\rsettings=dock.ini\r  groups =\r[hall]\rsettings=hall.ini\r", "DOCK",
     "[hall]\rsettings=hall.ini\r"},
    {"none_of_that_name", "[hall]\nsettings=hall.ini\n; [dock]\n", "dock",
     "[hall]\nsettings=hall.ini\n; [dock]\n"},
};
INSTANTIATE_TEST_SUITE_P(Rows, BoardsFileRemovedSection, testing::ValuesIn(kRemovedSectionRows),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace lumidex
