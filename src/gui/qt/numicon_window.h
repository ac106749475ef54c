#pragma once

#include "dialog/dialog_view.h"
#include "dialog/numicon_dlg.h"
#include "gui/qt/message_boxes.h"
#include "settings/location.h"

#include <QDialog>
#include <QFont>
#include <QHash>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class PassWord;
class QLineEdit;

// The dialog's Linux face: Qt widgets made from the control table, whose
// operator actions become the dialog's notifications. What the notifications
// do is the behaviour's (lumidex::dialog::CNumiconDlg); this class only shows
// it: fonts, colours, focus policies, the eliding port label, message boxes
// and the password dialog.
class NumiconWindow : public QDialog, private lumidex::dialog::DialogView {
    Q_OBJECT
public:
    // What the dialog needs from outside; tests put their own in.
    struct Environment {
        std::filesystem::path settings_path; // Config.ini beside the executable
        lumidex::SettingsPlace settings_place = lumidex::SettingsPlace::BesideProgram;
        MessageBoxes* boxes = nullptr;
        std::function<std::optional<std::vector<std::string>>()> port_lister;
        std::function<void(const QString& path)> open_document;
        std::function<lumidex::ClockTime()> local_time;
    };

    explicit NumiconWindow(Environment environment);
    ~NumiconWindow() override;

    // The control with the identifier, or nullptr.
    QWidget* control(int id) const { return controls_.value(id, nullptr); }
    template <typename T> T* control(int id) const { return qobject_cast<T*>(control(id)); }

    lumidex::dialog::CNumiconDlg& behaviour() { return behaviour_; }
    const lumidex::dialog::CNumiconDlg& behaviour() const { return behaviour_; }
    void RefreshFromSettings() { behaviour_.RefreshFromSettings(); }
    lumidex::DialogLines DialogState() const { return behaviour_.DialogState(); }
    int current_baud() const { return behaviour_.current_baud(); }
    const lumidex::SettingsFile& settings() const { return behaviour_.settings(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    // The view operations the behaviour works through.
    std::string Text(int id) const override;
    void SetText(int id, const std::string& text) override;
    void ShowFromStart(int id) override;
    bool Checked(int id) const override;
    void SetChecked(int id, bool checked) override;
    int ListIndex(int id) const override;
    std::string ListText(int id) const override;
    void SelectListText(int id, const std::string& text) override;
    void FillList(int id, const std::vector<std::string>& items) override;
    int SliderPosition(int id) const override;
    void SetSliderPosition(int id, int position) override;
    void SetSliderRange(int id, int min, int max) override;
    std::uint32_t AddressValue(int id) const override;
    void SetAddressValue(int id, std::uint32_t address) override;
    void Enable(int id, bool enabled) override;
    int FocusedControl() const override;
    void SetFocus(int id) override;
    void FocusAndSelectAll(int id) override;
    void ShowPortLabel(const std::string& port, const std::string& baud) override;
    void SetWindowWidth(int width) override;
    void StartSlideTimer(int interval_ms) override;
    void StopSlideTimer() override;
    lumidex::dialog::BoxAnswer ShowMessage(const lumidex::dialog::BoxRequest& box) override;
    void RunPasswordDialog() override;
    void EndPasswordDialog() override;
    void ClearPasswordEdit() override;
    void OpenDocument(const std::filesystem::path& path) override;
    lumidex::ClockTime LocalTime() const override;
    void SetBusy(bool busy) override;

    void CreateControls();
    void ConnectRoutes();
    void SetupFonts();
    // Hands a notification to the behaviour while the window is alive.
    void Forward(int id, lumidex::dialog::Notification event);
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

    Environment environment_;
    lumidex::dialog::CNumiconDlg behaviour_;
    QHash<int, QWidget*> controls_;
    QHash<QObject*, int> ids_;
    // The focus policy each focusable widget has while it is in view.
    QHash<QWidget*, Qt::FocusPolicy> focus_policy_;
    // The control that took the focus last and has not been left since.
    int focus_holder_ = 0;
    QFont line_font_;
    QFont caption_font_;
    QTimer slide_timer_;
    // The password dialog while it runs: the owner of its message boxes.
    PassWord* password_ = nullptr;
    // False once the window is going away: no notification is handed on.
    bool alive_ = true;
};
