// The Win32 face's own translations, and the dialogs the dialog manager
// makes from the control tables: every control with its id, class, styles
// and place in dialog units. Needs a display (run_on_display.sh).
#include "dialog/control_ids.h"
#include "dialog/dialog_template.h"
#include "gui/win32/dialog_template_win32.h"
#include "gui/win32/main_dialog.h"
#include "gui/win32/running_copy.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include <commctrl.h>

namespace lumidex::win32 {
namespace {

using dialog::ControlKind;
using dialog::Notification;

struct CommandCase {
    const char* name;
    ControlKind kind;
    UINT code;
    std::optional<Notification> expected;
};

const CommandCase kCommandCases[] = {
    {"edit left", ControlKind::Edit, EN_KILLFOCUS, Notification::FocusOut},
    {"edit changed", ControlKind::Edit, EN_CHANGE, Notification::TextChange},
    {"edit focused is nothing", ControlKind::Edit, EN_SETFOCUS, std::nullopt},
    {"bus address changed", ControlKind::DigitEdit, EN_CHANGE, Notification::TextChange},
    {"list left", ControlKind::List, CBN_KILLFOCUS, Notification::FocusOut},
    {"list chosen", ControlKind::SortedList, CBN_SELCHANGE, Notification::SelectionChange},
    {"list closed up is nothing", ControlKind::List, CBN_CLOSEUP, std::nullopt},
    // BN_CLICKED and CBN_SELCHANGE share no code, but 0 and 1 mean other
    // things to other classes: the kind decides.
    {"button clicked", ControlKind::Button, BN_CLICKED, Notification::Click},
    {"check box clicked", ControlKind::CheckBox, BN_CLICKED, Notification::Click},
    {"radio clicked", ControlKind::Radio, BN_CLICKED, Notification::Click},
    {"list code 1 from a button is nothing", ControlKind::Button, CBN_SELCHANGE, std::nullopt},
    {"label is never heard", ControlKind::Label, BN_CLICKED, std::nullopt},
};

class CommandNotificationTest : public testing::TestWithParam<CommandCase> {};

TEST_P(CommandNotificationTest, TranslatesTheCode) {
    EXPECT_EQ(CommandNotification(GetParam().kind, GetParam().code), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, CommandNotificationTest, testing::ValuesIn(kCommandCases),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& c : name) {
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             }
                             return name;
                         });

TEST(TemplateLabel, ButtonsShowAmpersandsAsThemselves) {
    EXPECT_EQ(TemplateLabel(ControlKind::Button, "Save & Exit"), L"Save && Exit");
    EXPECT_EQ(TemplateLabel(ControlKind::Label, "IP："), L"IP\xFF1A");
    EXPECT_EQ(TemplateLabel(ControlKind::Label, "a&b"), L"a&b"); // SS_NOPREFIX shows it
}

INT_PTR CALLBACK QuietProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

std::wstring ClassName(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// Creates a dialog from the table, hidden, for one test.
class DialogFromTable {
public:
    explicit DialogFromTable(const TemplateSpec& layout) : template_(layout) {
        window_ = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), template_.get(), nullptr,
                                             QuietProc, 0);
    }
    ~DialogFromTable() {
        if (window_ != nullptr) {
            DestroyWindow(window_);
        }
    }
    HWND get() const { return window_; }
    std::vector<HWND> Children() const {
        std::vector<HWND> children;
        for (HWND child = GetWindow(window_, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            children.push_back(child);
        }
        return children;
    }

private:
    DialogTemplate template_;
    HWND window_ = nullptr;
};

constexpr DWORD kHiddenMainStyle = kMainDialogStyle & ~WS_VISIBLE;

TEST(MainDialogTemplate, MakesEveryControlOfTheTableInItsPlace) {
    const auto controls = dialog::MainDialogControls();
    DialogFromTable dialog({dialog::kWindowTitle, dialog::kTemplateWidth, dialog::kTemplateHeight,
                            kHiddenMainStyle, kMainDialogExStyle, controls});
    ASSERT_NE(dialog.get(), nullptr);
    const std::vector<HWND> children = dialog.Children();
    ASSERT_EQ(children.size(), controls.size());
    std::vector<int> tab_stops;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const dialog::ControlSpec& entry = controls[i];
        HWND child = children[i]; // template order is the windows' order
        SCOPED_TRACE(std::to_string(entry.id) + " \"" + entry.label + "\"");
        EXPECT_EQ(GetDlgCtrlID(child), entry.id == 0 ? -1 : entry.id);
        EXPECT_EQ(ClassName(child), ClassOf(entry.kind).class_name);
        const auto style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
        if (style & WS_TABSTOP) {
            tab_stops.push_back(entry.id);
        }
        // The dialog manager converts the place and the size each on its own.
        RECT place{entry.x, entry.y, entry.w, entry.h};
        MapDialogRect(dialog.get(), &place);
        RECT got;
        GetWindowRect(child, &got);
        MapWindowPoints(nullptr, dialog.get(), reinterpret_cast<POINT*>(&got), 2);
        EXPECT_EQ(got.left, place.left);
        EXPECT_EQ(got.top, place.top);
        EXPECT_EQ(got.right - got.left, place.right);
        // A drop-down list's height in the template is that of its list.
        if (entry.kind != ControlKind::List && entry.kind != ControlKind::SortedList) {
            EXPECT_EQ(got.bottom - got.top, place.bottom);
        } else {
            EXPECT_EQ((style & 0xF) & CBS_DROPDOWNLIST, static_cast<DWORD>(CBS_DROPDOWNLIST));
            EXPECT_EQ((style & CBS_SORT) != 0, entry.id == dialog::kPortList);
        }
        if (entry.kind == ControlKind::Trackbar) {
            EXPECT_EQ(style & (TBS_BOTH | TBS_NOTICKS), static_cast<DWORD>(TBS_BOTH | TBS_NOTICKS));
        }
    }
    // Template order keeps each caption beside its line.
    EXPECT_EQ(tab_stops, (std::vector<int>{1040, 1005, 1042, 1006, 1043, 1007, 1044, 1008, 1045,
                                           1009, 1047, 1023}));
    // The face's tab order: the line editors, then the caption editors, round.
    SetTabOrder(dialog.get());
    std::vector<int> walk;
    HWND at = GetDlgItem(dialog.get(), dialog::kLineEditors[0]);
    for (int i = 0; i < 13; ++i) {
        walk.push_back(GetDlgCtrlID(at));
        at = GetNextDlgTabItem(dialog.get(), at, FALSE);
    }
    EXPECT_EQ(walk, (std::vector<int>{1005, 1006, 1007, 1008, 1009, 1023, 1040, 1042, 1043, 1044,
                                      1045, 1047, 1005}));
    const auto bus_style =
        static_cast<DWORD>(GetWindowLongW(GetDlgItem(dialog.get(), 1056), GWL_STYLE));
    EXPECT_EQ(bus_style & (ES_MULTILINE | ES_NUMBER | ES_WANTRETURN),
              static_cast<DWORD>(ES_MULTILINE | ES_NUMBER));
    const auto style = static_cast<DWORD>(GetWindowLongW(dialog.get(), GWL_STYLE));
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(GetWindowLongW(dialog.get(), GWL_EXSTYLE) & WS_EX_APPWINDOW);
    wchar_t title[32] = {};
    GetWindowTextW(dialog.get(), title, 32);
    EXPECT_STREQ(title, L"Lumidex_1.0");
}

TEST(PasswordDialogTemplate, HasOneVisibleMaskedEdit) {
    DialogFromTable dialog({dialog::kPasswordTitle, dialog::kPasswordTemplateWidth,
                            dialog::kPasswordTemplateHeight, kPasswordDialogStyle, 0,
                            dialog::PasswordDialogControls()});
    ASSERT_NE(dialog.get(), nullptr);
    ASSERT_EQ(dialog.Children().size(), 3U);
    HWND edit = GetDlgItem(dialog.get(), dialog::kPasswordEdit);
    EXPECT_TRUE(GetWindowLongW(edit, GWL_STYLE) & ES_PASSWORD);
    EXPECT_TRUE(GetWindowLongW(edit, GWL_STYLE) & WS_VISIBLE);
    for (int id : {dialog::kPasswordOk, dialog::kPasswordCancel}) {
        EXPECT_FALSE(GetWindowLongW(GetDlgItem(dialog.get(), id), GWL_STYLE) & WS_VISIBLE) << id;
    }
    RECT client{0, 0, dialog::kPasswordTemplateWidth, dialog::kPasswordTemplateHeight};
    MapDialogRect(dialog.get(), &client);
    RECT got;
    GetClientRect(dialog.get(), &got);
    EXPECT_EQ(got.right, client.right);
    EXPECT_EQ(got.bottom, client.bottom);
}

// The window-search guard hands over only to a copy of this program run by
// the same user; a window of that title that anything else made is not
// raised, and this copy starts.
TEST(RunningCopy, IsThisProgramOfTheSameUser) {
    using win32::IsRunningCopy;
    using win32::ProcessIdentity;
    const ProcessIdentity self{L"lumidex.exe", "S-1-5-21-1-2-3-1001"};
    struct Row {
        const char* name;
        ProcessIdentity owner;
        bool copy;
    };
    const Row rows[] = {
        {"this program, this user", {L"lumidex.exe", "S-1-5-21-1-2-3-1001"}, true},
        {"the name in other letter case", {L"LUMIDEX.EXE", "S-1-5-21-1-2-3-1001"}, true},
        {"another user", {L"lumidex.exe", "S-1-5-21-1-2-3-1002"}, false},
        {"another program", {L"notepad.exe", "S-1-5-21-1-2-3-1001"}, false},
        {"a longer name", {L"lumidex.exe.exe", "S-1-5-21-1-2-3-1001"}, false},
        {"a process it may not read", {L"", ""}, false},
        {"its program unread", {L"", "S-1-5-21-1-2-3-1001"}, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(IsRunningCopy(row.owner, self), row.copy) << row.name;
    }
    EXPECT_FALSE(IsRunningCopy({L"", ""}, {L"", ""})) << "nothing known about either";
}

} // namespace
} // namespace lumidex::win32
