#include "boards/service.h"
#include "dialog/control_ids.h"
#include "link/address.h"
#include "protocol/frame.h"
#include "settings/profile.h"
#include "tests/dialog/dialog_fixture.h"
#include "tests/support/addresses.h"
#include "tests/support/udp_peer.h"

#include <gtest/gtest.h>

namespace lumidex::test {
namespace {

// The suite's own loopback address, or 127.0.0.1 where every loopback
// address answers as 127.0.0.1 (Wine).
const char* Controller() {
    return ControllerAddress(kDialogTestsController);
}

using namespace lumidex::dialog;

constexpr const char* kPlacesMessage =
    "Please note that the display Places must be larger than the decimal Places！";

std::string StoredAddress(const char* dotted) {
    return std::to_string(StoredAddressValue(*ParseDottedAddress(dotted)));
}

// ---- The settings refresh ---------------------------------------------------

struct RefreshRow {
    const char* name;
    std::string ini;
    int id;
    std::string shows; // "checked"/"unchecked", a text, a list text or a position
    const char* stored_mode;
};

class DialogRefresh : public DialogFixture, public ::testing::TestWithParam<RefreshRow> {};

TEST_P(DialogRefresh, ShowsWhatTheFileHolds) {
    const RefreshRow& row = GetParam();
    Start(row.ini);
    const FakeView::Control& control = view().at(row.id);
    switch (control.kind) {
    case ControlKind::CheckBox:
    case ControlKind::Radio:
        EXPECT_EQ(control.checked ? "checked" : "unchecked", row.shows);
        break;
    case ControlKind::Trackbar:
        EXPECT_EQ(std::to_string(control.position), row.shows);
        break;
    case ControlKind::List:
    case ControlKind::SortedList:
        EXPECT_EQ(view().ListText(row.id), row.shows);
        break;
    default:
        EXPECT_EQ(control.text, row.shows);
    }
    EXPECT_EQ(Stored(keys::kMode), row.stored_mode);
    EXPECT_TRUE(view().boxes.empty());
}

const RefreshRow kRefreshRows[] = {
    {"Set 0 is unified", "[Set]\r\nSet=0\r\n", kUnifiedRadio, "checked", "2"},
    {"Set 3 is unified", "[Set]\r\nSet=3\r\n", kUnifiedRadio, "checked", "2"},
    {"Set text is unified", "[Set]\r\nSet=x\r\n", kUnifiedRadio, "checked", "2"},
    {"Set 12 keeps its first character", "[Set]\r\nSet=12\r\n", kSeparateRadio, "checked", "1"},
    {"LEDIP without a number", "[Set]\r\nLEDIP=abc\r\n", kAddressLabel, "IP：  0.0.0.0", "1"},
    {"LEDIP negative", "[Set]\r\nLEDIP=-1062731420\r\n", kAddressLabel, "IP：  192.168.1.100", "1"},
    {"LD 9 stands at 7", "[LD]\r\nLD=9\r\n", kDaySlider, "7", "1"},
    {"LD2 -3 stands at 0", "[LD]\r\nLD2=-3\r\n", kNightSlider, "0", "1"},
    {"stale port keeps no choice", "[Port]\r\nPort=COM9\r\nBoud=57600\r\n", kPortList, "", "1"},
    {"port label from the values as read", "[Port]\r\nPort=COM9\r\nBoud=57600\r\n", kPortLabel,
     "Port:  COM9  Boud: 57600", "1"},
    {"Text3 No", "[Text]\r\nText3=No\r\n[TextData]\r\nTD3=42\r\n", kChosenBoxes[2], "unchecked",
     "1"},
    {"a line not sent keeps its text", "[Text]\r\nText3=No\r\n[TextData]\r\nTD3=42\r\n",
     kLineEditors[2], "42", "1"},
    {"Text1 yes in lower case", "[Text]\r\nText1=yes\r\n", kChosenBoxes[0], "unchecked", "1"},
    {"Text1 Yesterday", "[Text]\r\nText1=Yesterday\r\n", kChosenBoxes[0], "checked", "1"},
    {"bus address cut to two", "[Set]\r\nADD485=123\r\n", kBusAddress, "12", "1"},
    {"caption cut to 29", "[TextBT]\r\nTB2=" + std::string(40, 'c') + "\r\n", kCaptionEditors[1],
     std::string(29, 'c'), "1"},
    {"update time in other case", "[Set]\r\nUIN=now\r\n", kUpdateList, "Now", "1"},
    {"update time no item", "[Set]\r\nUIN=25:00\r\n", kUpdateList, "", "1"},
    {"places no in lower case", "[Set]\r\nwsv6=no\r\nwsv1=8\r\n", kPlacesLists[0], "No", "1"},
    {"unified digit count copied to the lines", "[Set]\r\nSet=2\r\nsetsws=6\r\n",
     kUnifiedDigitCount, "6", "2"},
    {"first start", "", kBaudList, "9600", "1"},
};
INSTANTIATE_TEST_SUITE_P(Rows, DialogRefresh, ::testing::ValuesIn(kRefreshRows), RowName{});

TEST(DialogRefreshModes, EnableTheFormatControlsOfTheMode) {
    DialogFixture f;
    for (const bool unified : {false, true}) {
        f.Start(unified ? "[Set]\r\nSet=2\r\n" : "");
        for (int line = 0; line < kLineCount; ++line) {
            for (int id : {kDigitCountLists[line], kPlacesLists[line], kFlickerBoxes[line],
                           kPointBoxes[line]}) {
                EXPECT_EQ(f.view().at(id).enabled, !unified) << id;
            }
        }
        for (int id : {kUnifiedDigitCount, kUnifiedPlaces, kUnifiedFlicker, kUnifiedPoint}) {
            EXPECT_EQ(f.view().at(id).enabled, unified) << id;
        }
        // Start-up: the focus in line 1, captions waiting for the panel.
        EXPECT_EQ(f.view().focus, kLineEditors[0]);
        EXPECT_FALSE(f.view().at(kCaptionEditors[0]).enabled);
        EXPECT_EQ(f.view().width(), kClosedWidth);
    }
}

// A unified digit count that is no list item leaves the unified list
// without a choice; the lines keep their own formats rather than blanks.
TEST(DialogRefreshModes, UnifiedKeepsLineFormatsOfAnInvalidChoice) {
    DialogFixture f;
    f.Start("[Set]\r\nSet=2\r\nsetsws=9\r\nsetsss=1\r\nwsv1=5\r\n");
    EXPECT_EQ(f.view().ListText(kUnifiedDigitCount), "");
    EXPECT_EQ(f.Stored(keys::kDigitCount[0]), "5");
    EXPECT_EQ(f.Stored(keys::kDecimalPlaces[0]), "1");
    EXPECT_EQ(f.Stored(keys::kUnifiedDigitCount), "9");
}

// ---- Each handler writes its keys and nothing else ------------------------

struct HandlerRow {
    const char* name;
    std::string ini;
    std::function<void(Operator&)> action;
    std::string written;
};

class DialogHandlers : public DialogFixture, public ::testing::TestWithParam<HandlerRow> {};

TEST_P(DialogHandlers, WriteExactlyTheirKeys) {
    const HandlerRow& row = GetParam();
    Start(row.ini);
    op().OpenPanel();
    const Keys before = ReadKeys(config());
    row.action(op());
    EXPECT_EQ(ChangedKeys(before, ReadKeys(config())), row.written);
    EXPECT_TRUE(view().boxes.empty());
}

auto Clicking(int id) {
    return [id](Operator& op) { op.Click(id); };
}
auto Choosing(int id, int index) {
    return [id, index](Operator& op) { op.Choose(id, index); };
}
auto Leaving(int id) {
    return [id](Operator& op) { op.Leave(id); };
}

const HandlerRow kHandlerRows[] = {
    {"line 3 box cleared", "", Clicking(kChosenBoxes[2]), "Text/Text3=No"},
    {"line 6 box set", "[Text]\r\nText6=No\r\n", Clicking(kChosenBoxes[5]), "Text/Text6=Yes"},
    {"flicker line 1", "", Clicking(kFlickerBoxes[0]), "Set/FCC1=1"},
    {"flicker line 6 cleared", "[Set]\r\nFCC6=1\r\n", Clicking(kFlickerBoxes[5]), "Set/FCC6=0"},
    {"9/10 line 5", "", Clicking(kPointBoxes[4]), "Set/PLL5=1"},
    {"9/10 line 6", "", Clicking(kPointBoxes[5]), "Set/PLL6=1"},
    {"unified flicker", "[Set]\r\nSet=2\r\n", Clicking(kUnifiedFlicker),
     "Set/FCC=1, Set/FCC1=1, Set/FCC2=1, Set/FCC3=1, Set/FCC4=1, Set/FCC5=1, Set/FCC6=1"},
    {"unified 9/10", "[Set]\r\nSet=2\r\n", Clicking(kUnifiedPoint),
     "Set/PLL=1, Set/PLL1=1, Set/PLL2=1, Set/PLL3=1, Set/PLL4=1, Set/PLL5=1, Set/PLL6=1"},
    {"baud chosen", "", Choosing(kBaudList, 1), "Port/Boud=57600"},
    {"port chosen, sorted list", "", Choosing(kPortList, 1), "Port/Port=/dev/ttyS10"},
    {"port list left without a choice", "", Leaving(kPortList), ""},
    {"pseudo-terminal port list left", "[Port]\r\nPort=/dev/pts/4\r\n", Leaving(kPortList), ""},
    {"update time left", "", Leaving(kUpdateList), "Set/UIN=Now"},
    {"update time chosen is stored on leaving", "", Choosing(kUpdateList, 24), "Set/UIN=00:00"},
    {"digit count 1 left", "", Choosing(kDigitCountLists[0], 5), "Set/wsv1=8"},
    {"places 6 left", "[Set]\r\nwsv22=5\r\n", Choosing(kPlacesLists[5], 4), "Set/wsv23=3"},
    {"separate set", "[Set]\r\nSet=2\r\n", Clicking(kSeparateRadio), "Set/Set=1"},
    {"bus address typed", "", [](Operator& op) { op.Type(kBusAddress, "7"); }, "Set/ADD485=017"},
    {"caption typed", "", [](Operator& op) { op.Type(kCaptionEditors[1], "Rejects"); },
     "TextBT/TB2=Rejects"},
    {"buttons that only show write nothing", "",
     [](Operator& op) {
         op.Click(kSaveAndExitButton);
         op.Click(kHelpButton);
     },
     ""},
};
INSTANTIATE_TEST_SUITE_P(Rows, DialogHandlers, ::testing::ValuesIn(kHandlerRows), RowName{});

// Controls that notify the program's own changes too, as Win32 controls
// do, run no handler: not in the refresh, not when a refused format choice
// is put back, not when a line is formatted.
TEST(DialogNotifications, ProgramChangesAndUnroutedNotificationsRunNothing) {
    DialogFixture f;
    f.Start("[Set]\r\nSet=2\r\nADD485=7\r\nLEDIP=16909060\r\nsetsws=4\r\n[Text]\r\nText2=No\r\n"
            "[TextBT]\r\nTB1=caption\r\n[TextData]\r\nTD1=1.5\r\n");
    f.op().OpenPanel();
    bool echoing = false; // one at a time, so a handler that did run cannot recurse forever
    f.view().echo = [&f, &echoing](int id, Notification event) {
        if (!std::exchange(echoing, true)) {
            f.dialog().Notify(id, event);
            echoing = false;
        }
    };
    const Keys before = ReadKeys(f.config());
    f.dialog().Notify(kChosenBoxes[0], Notification::FocusOut);   // not routed
    f.dialog().Notify(kLineEditors[0], Notification::TextChange); // not routed
    f.dialog().RefreshFromSettings();
    f.view().at(kUnifiedPlaces).index = 5; // 4 places on 4 digits: refused, "0" put back
    f.dialog().Notify(kUnifiedPlaces, Notification::SelectionChange);
    // The refusal formats the six lines again, as the operator's choice would.
    Keys after = ReadKeys(f.config());
    std::erase_if(after, [](const auto& entry) { return entry.first.starts_with("TextData/"); });
    EXPECT_EQ(ChangedKeys(before, after), "");
    EXPECT_EQ(f.view().BoxTexts(), std::vector<std::string>{kPlacesMessage});
    EXPECT_FALSE(f.dialog().program_changing());
}

// ---- Digit counts and decimal places --------------------------------------

struct PlacesRow {
    const char* name;
    int list;
    int index;
    bool accepted;
    std::string written;
    std::string shows;
};

class DialogPlaces : public DialogFixture, public ::testing::TestWithParam<PlacesRow> {};

TEST_P(DialogPlaces, PerLineChoiceIsCheckedAgainstTheOtherList) {
    const PlacesRow& row = GetParam();
    // Line 1 stands at 3 digits and 1 place.
    Start("[Set]\r\nwsv1=3\r\nwsv6=1\r\n[TextData]\r\nTD1=12.5\r\n");
    op().OpenPanel();
    const Keys before = ReadKeys(config());
    op().Choose(row.list, row.index);
    Keys after = ReadKeys(config());
    after.erase("TextData/TD1");
    EXPECT_EQ(ChangedKeys(before, after), row.written);
    EXPECT_EQ(view().ListText(row.list), row.shows);
    if (row.accepted) {
        EXPECT_TRUE(view().boxes.empty());
    } else {
        ASSERT_EQ(view().BoxTexts(), std::vector<std::string>{kPlacesMessage});
        EXPECT_EQ(view().boxes[0].caption, "Lumidex_1.0");
        EXPECT_EQ(view().boxes[0].owner, 0);
        // Re-formatted with what the lists now show: 3 digits, 0 places.
        EXPECT_EQ(view().Text(kLineEditors[0]), "13");
    }
}

const PlacesRow kPlacesRows[] = {
    {"3 places on 3 digits refused", kPlacesLists[0], 4, false, "", "0"},
    {"4 places on 3 digits refused", kPlacesLists[0], 5, false, "", "0"},
    {"2 places on 3 digits accepted", kPlacesLists[0], 3, true, "Set/wsv6=2", "2"},
    {"No accepted", kPlacesLists[0], 0, true, "Set/wsv6=No", "No"},
    {"4 digits accepted", kDigitCountLists[0], 1, true, "Set/wsv1=4", "4"},
};
INSTANTIATE_TEST_SUITE_P(Rows, DialogPlaces, ::testing::ValuesIn(kPlacesRows), RowName{});

TEST(DialogUnified, PlacesCheckRefusesAndAcceptsTheUnifiedLists) {
    DialogFixture f;
    f.Start("[Set]\r\nSet=2\r\nsetsws=5\r\nsetsss=4\r\nwsv1=5\r\nwsv6=4\r\n[TextData]\r\nTD1=1."
            "23456\r\n");
    f.op().OpenPanel();
    const Keys before = ReadKeys(f.config());
    f.view().at(kUnifiedDigitCount).index = 0; // 3 digits with 4 places
    f.dialog().Notify(kUnifiedDigitCount, Notification::SelectionChange);
    EXPECT_EQ(f.view().BoxTexts(), std::vector<std::string>{kPlacesMessage});
    EXPECT_EQ(f.view().ListText(kUnifiedDigitCount), "8");
    // No format key is written; the six lines are re-formatted (and stored).
    Keys after = ReadKeys(f.config());
    std::erase_if(after, [](const auto& entry) { return entry.first.starts_with("TextData/"); });
    EXPECT_EQ(ChangedKeys(before, after), "");
    EXPECT_EQ(f.view().Text(kLineEditors[0]), "1.2346"); // with the unchanged 5 digits, 4 places

    f.view().at(kUnifiedPlaces).index = 3; // 2 places with 8 digits shown: accepted
    f.dialog().Notify(kUnifiedPlaces, Notification::SelectionChange);
    EXPECT_EQ(f.view().boxes.size(), 1u);
    EXPECT_EQ(f.Stored(keys::kUnifiedDigitCount), "8");
    EXPECT_EQ(f.Stored(keys::kUnifiedDecimalPlaces), "2");
    for (int line = 0; line < kLineCount; ++line) {
        EXPECT_EQ(f.Stored(keys::kDigitCount[line]), "8");
        EXPECT_EQ(f.Stored(keys::kDecimalPlaces[line]), "2");
    }
    EXPECT_EQ(f.view().ListText(kDigitCountLists[5]), "8");
    EXPECT_EQ(f.view().Text(kLineEditors[0]), "1.23");
}

TEST(DialogUnified, SwitchingToUnifiedAndBack) {
    DialogFixture f;
    f.Start("[Set]\r\nwsv1=4\r\nwsv6=1\r\nwsv22=7\r\nFCC3=1\r\nsetsws=5\r\nsetsss=2\r\n"
            "[TextData]\r\nTD1=3.14159\r\n");
    f.op().OpenPanel();
    f.op().Click(kUnifiedRadio);
    EXPECT_EQ(f.Stored(keys::kMode), "2");
    EXPECT_TRUE(f.view().at(kUnifiedDigitCount).enabled);
    EXPECT_FALSE(f.view().at(kDigitCountLists[0]).enabled);
    for (int line = 0; line < kLineCount; ++line) {
        EXPECT_EQ(f.Stored(keys::kDigitCount[line]), "5");
        EXPECT_EQ(f.Stored(keys::kDecimalPlaces[line]), "2");
        EXPECT_EQ(f.Stored(keys::kFlicker[line]), "0");
        EXPECT_EQ(f.Stored(keys::kPoint[line]), "0");
    }
    // Clicking "Settings" had formatted it with 4 digits and 1 place: 3.1.
    EXPECT_EQ(f.view().Text(kLineEditors[0]), "3.10");
    f.op().Click(kSeparateRadio);
    EXPECT_EQ(f.Stored(keys::kMode), "1");
    EXPECT_TRUE(f.view().at(kDigitCountLists[0]).enabled);
    EXPECT_FALSE(f.view().at(kUnifiedPlaces).enabled);
    EXPECT_EQ(f.view().ListText(kDigitCountLists[5]), "5");
    EXPECT_EQ(f.view().ListText(kPlacesLists[5]), "2");
    EXPECT_FALSE(f.view().Checked(kFlickerBoxes[2]));
}

// ---- Keyboard, panel, exit and help ---------------------------------------

TEST(DialogKeyboard, EnterWalksEachRingAndNothingElse) {
    DialogFixture f;
    f.Start();
    const LineIds* rings[] = {&kLineEditors, &kCaptionEditors};
    for (const LineIds* ring : rings) {
        for (int i = 0; i < kLineCount; ++i) {
            f.view().focus = (*ring)[static_cast<std::size_t>(i)];
            f.dialog().OnOK();
            EXPECT_EQ(f.view().focus, (*ring)[static_cast<std::size_t>((i + 1) % kLineCount)]);
            EXPECT_EQ(f.view().selected_all, f.view().focus);
        }
    }
    for (int id :
         {kDigitCountLists[0], kChosenBoxes[0], kBusAddress, kAddressField, kUdpButton, 0}) {
        f.view().focus = id;
        f.view().selected_all = 0;
        f.dialog().OnOK();
        EXPECT_EQ(f.view().focus, id);
        EXPECT_EQ(f.view().selected_all, 0);
    }
}

TEST(DialogPanel, SlidesOpenInTwentyThreeTicksAndSaveAndExitSnapsItShut) {
    DialogFixture f;
    f.Start();
    f.op().EnterPasswords({"v503"});
    EXPECT_EQ(f.view().timer_ms, kSlideIntervalMs);
    EXPECT_FALSE(f.view().at(kSettingsButton).enabled);
    EXPECT_TRUE(f.view().at(kCaptionEditors[5]).enabled);
    int ticks = 0;
    while (f.view().timer_ms != 0 && ticks < 100) {
        f.dialog().OnSlideTick();
        ++ticks;
    }
    EXPECT_EQ(ticks, 24); // 300 .. 520, and the tick that stops the timer
    EXPECT_EQ(f.view().width(), kOpenWidth);
    EXPECT_EQ(f.dialog().window_width(), kOpenWidth);

    // Closed again in the middle of a new slide: the slide stops, the panel
    // shows what the file holds now.
    f.op().Click(kSaveAndExitButton);
    f.op().Click(kSettingsButton);
    f.dialog().OnSlideTick();
    WriteSetting(f.config(), "TextBT", "TB1", "written meanwhile");
    f.op().Click(kSaveAndExitButton);
    EXPECT_EQ(f.view().timer_ms, 0);
    EXPECT_EQ(f.view().width(), kClosedWidth);
    EXPECT_EQ(f.dialog().window_width(), kClosedWidth);
    EXPECT_TRUE(f.view().at(kSettingsButton).enabled);
    EXPECT_FALSE(f.view().at(kCaptionEditors[0]).enabled);
    EXPECT_EQ(f.view().Text(kCaptionEditors[0]), "written meanwhile");
    EXPECT_EQ(f.view().password_runs, 2);
    EXPECT_TRUE(f.view().boxes.empty());
}

struct PasswordRow {
    const char* name;
    std::vector<std::string> tries; // each typed and Enter; Escape after the last
    bool opens;
};

class DialogPassword : public DialogFixture, public ::testing::TestWithParam<PasswordRow> {};

// The whole password in its case opens the panel and ends the password
// dialog; anything else says so over the password dialog and empties its
// edit for the next try.
TEST_P(DialogPassword, OpensThePanelForTheWholePasswordInItsCase) {
    const PasswordRow& row = GetParam();
    Start();
    op().EnterPasswords(row.tries);
    const std::size_t wrong = row.tries.size() - (row.opens ? 1 : 0);
    std::vector<std::size_t> cleared_after;
    for (const dialog::BoxRequest& box : view().boxes) {
        EXPECT_EQ(box.text, "Wrong password!");
        EXPECT_EQ(box.caption, "lumidex");
        EXPECT_EQ(box.owner, kPasswordDialogOwner);
        EXPECT_EQ(box.buttons, BoxButtons::Ok);
        EXPECT_EQ(box.icon, BoxIcon::None);
        cleared_after.push_back(cleared_after.size() + 1);
    }
    EXPECT_EQ(view().boxes.size(), wrong);
    EXPECT_EQ(view().password_cleared, cleared_after);
    EXPECT_EQ(view().password_ends, row.opens ? 1 : 0);
    EXPECT_EQ(view().timer_ms, row.opens ? kSlideIntervalMs : 0);
    EXPECT_EQ(view().at(kSettingsButton).enabled, !row.opens);
    EXPECT_EQ(view().at(kCaptionEditors[0]).enabled, row.opens);
}

const PasswordRow kPasswordRows[] = {
    {"right", {"v503"}, true},
    {"upper case", {"V503"}, false},
    {"trailing blank", {"v503 "}, false},
    {"leading character", {"xv503"}, false},
    {"empty", {""}, false},
    {"wrong twice then right", {"v50", "V503", "v503"}, true},
    {"escape at once", {}, false},
};
INSTANTIATE_TEST_SUITE_P(Rows, DialogPassword, ::testing::ValuesIn(kPasswordRows), RowName{});

TEST(DialogExit, AsksAndHelpOpensTheDocument) {
    DialogFixture f;
    f.Start();
    f.view().answers = {BoxAnswer::No, BoxAnswer::Yes};
    EXPECT_FALSE(f.dialog().OnCloseRequest());
    EXPECT_TRUE(f.dialog().OnCloseRequest());
    ASSERT_EQ(f.view().boxes.size(), 2u);
    EXPECT_EQ(f.view().boxes[0].text, "Exit the program?");
    EXPECT_EQ(f.view().boxes[0].caption, "Lumidex_1.0");
    EXPECT_EQ(f.view().boxes[0].owner, 0);
    EXPECT_EQ(f.view().boxes[0].buttons, BoxButtons::YesNo);
    EXPECT_EQ(f.view().boxes[0].icon, BoxIcon::Exclamation);
    f.op().Click(kHelpButton);
    ASSERT_EQ(f.view().opened.size(), 1u);
    EXPECT_EQ(f.view().opened[0].filename(), "Help.doc");
}

class DialogStart : public DialogFixture, public ::testing::Test {};

// A settings file this start made in the user's folder is told once the
// window is up; one found there is not.
TEST_F(DialogStart, TellsWhereItMadeTheSettingsFile) {
    place_ = SettingsPlace::UserConfig;
    Start();
    EXPECT_TRUE(view().boxes.empty());
    dialog().OnWindowShown();
    ASSERT_EQ(view().boxes.size(), 1u);
    EXPECT_EQ(view().boxes[0].text.rfind("Lumidex keeps your settings in " + config().string(), 0),
              0u);
    EXPECT_EQ(view().boxes[0].caption, "Lumidex_1.0");
    EXPECT_EQ(view().boxes[0].owner, 0);
    EXPECT_EQ(view().boxes[0].icon, BoxIcon::None);
    Reopen();
    dialog().OnWindowShown();
    EXPECT_TRUE(view().boxes.empty());
}

class DialogPorts : public DialogFixture, public ::testing::Test {};

TEST_F(DialogPorts, ListIsSortedOrSaysItIsMissing) {
    ports_ = std::vector<std::string>{"COM3", "com10", "COM1"};
    Start("[Port]\r\nPort=COM10\r\n");
    EXPECT_EQ(view().at(kPortList).items, (std::vector<std::string>{"COM1", "com10", "COM3"}));
    EXPECT_EQ(view().ListText(kPortList), "com10");
    EXPECT_TRUE(view().boxes.empty());

    ports_ = std::nullopt;
    Start();
    ASSERT_EQ(view().BoxTexts(),
              std::vector<std::string>{"The serial port is not found in this system."});
    EXPECT_EQ(view().boxes[0].owner, kPortList);
    EXPECT_EQ(view().boxes[0].caption, "lumidex");
    EXPECT_TRUE(view().at(kPortList).items.empty());
}

// ---- Sending --------------------------------------------------------------------

struct SendRow {
    const char* name;
    const char* bus_address;
    const char* controller; // the address the settings hold; nullptr: the test's controller
    int status;             // the controller's answer byte; -1 silent
    const char* result;
    std::size_t datagrams;
};

class DialogSend : public DialogFixture, public ::testing::TestWithParam<SendRow> {};

TEST_P(DialogSend, TellsWhatBecameOfTheFrame) {
    const SendRow& row = GetParam();
    const std::string address = row.controller != nullptr ? row.controller : Controller();
    Start(std::string("[Set]\r\nADD485=") + row.bus_address +
          "\r\nLEDIP=" + StoredAddress(address.c_str()) +
          "\r\nwsv1=4\r\nwsv2=3\r\nFCC2=1\r\n[Text]\r\nText3=No\r\nText4=No\r\nText5=No\r\n"
          "Text6=No\r\n[TextData]\r\nTD1=12.5\r\nTD2=7\r\n");
    const int status = row.status;
    UdpPeer controller(Controller(), 10006, [status](const UdpPeer::Bytes&, int) {
        return status < 0 ? std::nullopt
                          : std::optional(ReplyWithStatus(static_cast<std::uint8_t>(status)));
    });
    ASSERT_TRUE(controller.bound());
    op().Click(kUdpButton);
    ASSERT_EQ(view().BoxTexts(), std::vector<std::string>{row.result});
    EXPECT_EQ(view().boxes[0].caption, "Lumidex_1.0");
    EXPECT_EQ(view().boxes[0].owner, 0);
    EXPECT_FALSE(view().busy_now);
    const auto received = controller.received();
    ASSERT_EQ(received.size(), row.datagrams);
    if (!received.empty()) {
        EXPECT_EQ(FormatHex(received[0].bytes).substr(0, 8),
                  std::string("FE 14 ") + row.bus_address);
    }
    EXPECT_EQ(dialog().controller_address(), address);
}

const SendRow kSendRows[] = {
    {"accepted", "01", nullptr, 1, "Sent successfully!", 1},
    {"refused twice", "05", nullptr, 0, "Send failed!", 2},
    {"silent at address 5", "05", nullptr, -1, "Send failed!", 2},
    {"silent at address 0 is a broadcast", "00", nullptr, -1, "Broadcast Send.", 2},
    // No address: the frame never leaves, which is no broadcast.
    {"no controller address at address 0", "00", "0.0.0.0", -1, "Send failed!", 0},
};
INSTANTIATE_TEST_SUITE_P(Rows, DialogSend, ::testing::ValuesIn(kSendRows), RowName{});

// A board the service adds without the dialog is a Config.ini the dialog
// opens as it is: not a byte changes, and every control of the password
// panel shows what the service was given.
TEST(BoardAddedByTheService, OpensInTheDialogUnchanged) {
    TempDir dir;
    WriteFileOrFail(dir.path() / "hall.ini", "[Set]\r\nLEDIP=2130706433\r\n");
    WriteFileOrFail(dir.path() / "boards.ini", "[hall]\r\nsettings=hall.ini\r\n");
    std::string error;
    auto boards = ReadBoardsFile(dir.path() / "boards.ini", {}, error);
    ASSERT_TRUE(boards) << error;
    BoardService service(std::move(*boards));
    SetupChange setup;
    setup.address = ParseDottedAddress("192.168.1.50");
    setup.bus = 3;
    setup.link = BoardLink::Udp;
    setup.lines[0] = {"Super", true, 4, "2"};
    setup.lines[1].chosen = false;
    setup.lines[5] = {"Diesel", std::nullopt, 8, "No"};
    ASSERT_TRUE(std::holds_alternative<BoardSetup>(service.AddBoard("dock", setup)));

    const auto file = dir.path() / "dock.ini";
    const auto written = ReadWholeFile(file);
    ASSERT_TRUE(written);
    FakeView view;
    dialog::CNumiconDlg dialog(view, {file, {}, dir.path() / "Help.doc", "lumidex",
                                      SettingsPlace::BesideProgram});
    dialog.OnInitDialog();
    EXPECT_EQ(ReadWholeFile(file), written);
    EXPECT_EQ(view.AddressValue(kAddressField), *ParseDottedAddress("192.168.1.50"));
    EXPECT_EQ(dialog.controller_address(), "192.168.1.50");
    EXPECT_EQ(view.Text(kBusAddress), "03");
    EXPECT_EQ(view.Text(kCaptionEditors[0]), "Super");
    EXPECT_EQ(view.Text(kCaptionEditors[5]), "Diesel");
    EXPECT_EQ(view.ListText(kDigitCountLists[0]), "4");
    EXPECT_EQ(view.ListText(kPlacesLists[0]), "2");
    EXPECT_EQ(view.ListText(kDigitCountLists[5]), "8");
    EXPECT_EQ(view.ListText(kPlacesLists[5]), "No");
    EXPECT_EQ(view.ListText(kDigitCountLists[2]), "3");
    EXPECT_TRUE(view.Checked(kChosenBoxes[0]));
    EXPECT_FALSE(view.Checked(kChosenBoxes[1]));
    EXPECT_TRUE(view.Checked(kSeparateRadio));
}

} // namespace
} // namespace lumidex::test
