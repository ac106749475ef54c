#pragma once

#include "dialog/dialog_view.h"
#include "lines/keystroke.h"
#include "delivery/delivery.h"
#include "protocol/content_frame.h"
#include "settings/keys.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lumidex::dialog {

// The control notifications the dialog handles.
enum class Notification { Click, FocusOut, SelectionChange, TextChange, Released, FieldChanged };

// The operator's one window, without a toolkit: six display lines on the
// left, the settings panel on the right behind the password. Every control
// writes its value to the settings file the moment it changes;
// RefreshFromSettings puts the file's values back into every control. A face
// (Qt on Linux, Win32 on Windows) creates the controls from the control
// table, hands each native notification to Notify and implements DialogView.
class CNumiconDlg {
public:
    struct Environment {
        std::filesystem::path settings_path;
        // The machine's serial ports; nothing when the platform's list cannot
        // be read.
        std::function<std::optional<std::vector<std::string>>()> port_lister;
        // The help document "Help..." opens.
        std::filesystem::path help_document;
        // Caption of the boxes shown without one of their own: the
        // executable's file name without its extension.
        std::string application_name = "lumidex";
    };

    using Handler = void (CNumiconDlg::*)(int id);
    struct Route {
        int id;
        Notification event;
        Handler handler;
    };

    CNumiconDlg(DialogView& view, Environment environment);
    CNumiconDlg(const CNumiconDlg&) = delete;
    CNumiconDlg& operator=(const CNumiconDlg&) = delete;

    // Once the face's controls exist: closed width, lists filled, sliders
    // set up, the settings refresh, the focus in line editor 1, the caption
    // editors disabled; then says once when the settings cannot be saved.
    void OnInitDialog();

    // A notification from the face. Runs the routed handler; does nothing
    // while the program itself changes controls or when nothing is routed.
    void Notify(int id, Notification event);
    // The routing table: which notifications of which controls have handlers.
    static std::span<const Route> Routes();
    static bool IsRouted(int id, Notification event);

    // Refills every control from the settings file.
    void RefreshFromSettings();
    // Per-line format controls on and unified ones off, or the reverse.
    void EnableSeparateSet();
    void EnableUnifiedSet();
    // Copies the unified lists' choices into every line's keys and the
    // unified keys. A unified list that shows no choice writes nothing.
    void WriteUnifiedSettings();
    // Brings a line's text (1..6) into its format and stores it under "TD"+line.
    void FormatLineValue(int line);
    // Enter: the focus moves on in its ring of editors, whole text selected;
    // outside the rings nothing happens.
    void OnOK();
    // The password dialog's verdict: true starts the panel's slide open.
    void OnPasswordResult(bool accepted);
    // One tick of the slide timer.
    void OnSlideTick();
    // The window's close command: asks "Exit the program?"; true when the
    // operator said Yes and the dialog is to end.
    bool OnCloseRequest();
    // A character typed into line editor `line` (1..6), checked against the
    // line's digit count and decimal places as stored: the text and selection
    // the editor shows afterwards, or nothing when the key changes nothing.
    std::optional<EditorText> OnLineKey(int line, const EditorText& before, char16_t key) const;

    // What the content frame is built from.
    DialogLines DialogState() const;
    const SettingsFile& settings() const { return settings_; }
    int current_baud() const { return current_baud_; }
    // The width the slide last gave the window.
    int window_width() const { return window_width_; }
    // The controller address as "a.b.c.d", renewed by every refresh and send.
    const std::string& controller_address() const { return controller_address_; }
    bool program_changing() const { return program_change_depth_ > 0; }

private:
    // While one lives, changes to controls are the program's: no handler runs.
    class ProgramChange {
    public:
        explicit ProgramChange(CNumiconDlg& dialog) : dialog_(dialog) {
            ++dialog_.program_change_depth_;
        }
        ~ProgramChange() { --dialog_.program_change_depth_; }
        ProgramChange(const ProgramChange&) = delete;
        ProgramChange& operator=(const ProgramChange&) = delete;

    private:
        CNumiconDlg& dialog_;
    };

    static std::vector<Route> MakeRoutes();
    BoxAnswer Box(int owner, const std::string& text, const std::string& caption,
                  BoxButtons buttons = BoxButtons::Ok, BoxIcon icon = BoxIcon::None);
    void WarnIfSettingsCannotBeSaved();
    // Says once when a write found the settings file's lock held past the
    // wait, and again after a write got through and a later one did not.
    void SayIfSettingsLocked();
    void EnumeratePorts();
    void EnableFormatControls(bool separate);
    // Stores the flag box's state under the key and, for a unified box,
    // under every line's key too.
    void WriteFlag(int box, const SettingKey& unified,
                   const std::array<SettingKey, kLineCount>& lines);
    std::string ControllerAddressText() const;
    // Delivers the command over the targets in order, the window busy
    // meanwhile.
    Delivery DeliverFromDialog(const BoardCommand& command, std::span<const LinkTarget> targets);
    // Sends the lines as the window shows them and says what became of them.
    void SendContent(const LinkTarget& target);
    void SendCommand(const BoardCommand& command);

    // Handlers, one per notification of the routing table.
    void OnHelp(int id);
    void OnSettings(int id);
    void OnSaveAndExit(int id);
    void OnLineChosen(int id);
    void OnFlagClicked(int id);
    void OnUnifiedFlag(int id);
    void OnSeparateSet(int id);
    void OnUnifiedSet(int id);
    void OnLineFormatLeft(int id);
    void OnUnifiedFormatChanged(int id);
    void OnAddressChanged(int id);
    void OnLineEditorLeft(int id);
    void OnCaptionChanged(int id);
    void OnBusAddressChanged(int id);
    void OnPortOrBaud(int id);
    void OnUpdateTimeLeft(int id);
    void OnBrightnessReleased(int id);
    void OnSendUdp(int id);
    void OnSendSerial(int id);
    void OnBrightness(int id);
    void OnProofTime(int id);
    void OnInitialize(int id);

    DialogView& view_;
    Environment environment_;
    SettingsFile settings_;
    std::string controller_address_;
    int window_width_;
    int current_baud_ = kDefaultBaud;
    int program_change_depth_ = 0;
    bool told_lock_held_ = false;
};

// The port label's text: "Port:  " port "  Boud: " baud.
std::string PortLabelText(std::string_view port, std::string_view baud);

// The password that opens the settings panel, and whether a typed text is
// it: the whole text, letter case significant.
bool PasswordMatches(std::u16string_view typed);
inline constexpr std::string_view kWrongPassword = "Wrong password!";

} // namespace lumidex::dialog
