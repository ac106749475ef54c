#pragma once

#include "gui/qt/controls.h"
#include "gui/qt/message_boxes.h"
#include "protocol/content_frame.h"
#include "settings/keys.h"

#include <QDialog>
#include <QFont>
#include <QHash>
#include <QTimer>
#include <filesystem>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSlider;

// The operator's one window: six display lines on the left, the settings
// panel on the right behind the password. Every control writes its value to
// the settings file the moment it changes; RefreshFromSettings puts the
// file's values back into every control.
class CNumiconDlg : public QDialog {
    Q_OBJECT
public:
    // What the dialog needs from outside; tests put their own in.
    struct Environment {
        std::filesystem::path settings_path; // Config.ini beside the executable
        MessageBoxes* boxes = nullptr;
        EnumCommPort::PortLister port_lister;
        std::function<void(const QString& path)> open_document;
        std::function<lumidex::ClockTime()> local_time;
    };

    explicit CNumiconDlg(Environment environment);
    ~CNumiconDlg() override;

    // The control with the identifier, or nullptr.
    QWidget* control(int id) const { return controls_.value(id, nullptr); }
    template <typename T> T* control(int id) const { return qobject_cast<T*>(control(id)); }

    // Refills every control from the settings file.
    void RefreshFromSettings();
    // Enables the per-line format controls and disables the unified ones.
    void EnableSeparateSet();
    // Enables the unified format controls and disables the per-line ones.
    void EnableUnifiedSet();
    // Copies the unified lists' choices into every line's keys and the
    // unified keys. A unified list that shows no choice writes nothing.
    void WriteUnifiedSettings();
    // Brings a line's text into its format and stores it under "TD"+line.
    void FormatLineValue(int line);
    // Enter: the focus moves on in its ring of editors, whole text selected.
    void OnOK();
    // The password dialog's verdict: true opens the settings panel.
    void OnPasswordResult(bool accepted);

    // What the content frame is built from.
    lumidex::DialogLines DialogState() const;
    int current_baud() const { return current_baud_; }
    const lumidex::SettingsFile& settings() const { return settings_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    enum class Event { Click, FocusOut, SelectionChange, TextChange, Released, FieldChanged };
    using Handler = void (CNumiconDlg::*)(int id);
    struct Route {
        int id;
        Event event;
        Handler handler;
    };

    void OnInitDialog();
    void CreateControls();
    void ConnectRoutes();
    void Dispatch(int id, Event event);
    void SetupFonts();
    void WarnIfSettingsCannotBeSaved();
    MessageBoxes::Answer Box(QWidget* owner, const QString& text, const QString& caption,
                             MessageBoxes::Buttons buttons, MessageBoxes::Icon icon);
    void ResizeWindow(int width);
    void SetControlEnabled(QWidget* widget, bool enabled);
    // The identifier of the control that is or holds the widget, or 0.
    int ControlOf(const QWidget* widget) const;
    // A control of the dialog took the keyboard focus: the one that held it
    // before has been left. The focus going to another window is no leave.
    void OnFocusChanged(QWidget* old, QWidget* now);
    // Runs the lose-focus handling of the control that holds the focus, as
    // when the exit question takes the focus.
    void LeaveFocusedControl();
    // Puts the focus on the dialog itself, where keys change nothing.
    void MoveFocusAside();
    // Controls beyond the window's right edge cannot take the focus; those
    // inside it get their own focus policy back.
    void KeepFocusInView(int width);
    // Shows a text line from its start rather than its end.
    static void ShowFromStart(QLineEdit* edit);
    // Per-line format controls on and unified ones off, or the reverse.
    void EnableFormatControls(bool separate);
    void SelectListValue(QComboBox* list, const std::string& value);
    static QString ListText(const QComboBox* list);
    std::string ControllerAddressText() const;
    void ShowSendResult(bool accepted, std::uint8_t address);
    void SendContent(int mode);
    void SendCommandSerialFirst(const lumidex::Frame& frame);

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

    Environment environment_;
    lumidex::SettingsFile settings_;
    QHash<int, QWidget*> controls_;
    QHash<QObject*, int> ids_;
    // The focus policy each focusable widget has while it is in view.
    QHash<QWidget*, Qt::FocusPolicy> focus_policy_;
    // The control that took the focus last and has not been left since.
    int focus_holder_ = 0;
    std::vector<Route> routes_;
    QFont line_font_;
    QFont caption_font_;
    QTimer widen_timer_;
    int current_baud_ = 9600;
    // Above zero while the program itself changes controls: no handler runs.
    int program_change_ = 0;
};
