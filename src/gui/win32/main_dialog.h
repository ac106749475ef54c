#pragma once

#include "dialog/dialog_template.h"
#include "dialog/dialog_view.h"
#include "dialog/numicon_dlg.h"

#include <memory>
#include <optional>
#include <string>

#include <windows.h>

// The Windows face of the operator's dialog: a modeless dialog built by the
// dialog manager from the control table, run by a message loop of its own
// so the keyboard rules see every message first. It translates native
// notifications for CNumiconDlg and carries out the view operations; what a
// notification does is decided there.
namespace lumidex::win32 {

// The notification a native WM_COMMAND code stands for, given the kind of
// the control that sent it; nothing when the dialog does not hear it.
std::optional<dialog::Notification> CommandNotification(dialog::ControlKind kind, UINT code);

// Tab walks the line editors, then the caption editors, and wraps: the
// dialog manager follows the controls' z-order, where the table keeps each
// caption beside its line.
void SetTabOrder(HWND dialog);

class MainDialog : public dialog::DialogView {
public:
    explicit MainDialog(dialog::CNumiconDlg::Environment environment);
    ~MainDialog() override;
    MainDialog(const MainDialog&) = delete;
    MainDialog& operator=(const MainDialog&) = delete;

    // Creates the dialog and runs it until the operator's confirmed close.
    // Returns false when the dialog could not be created.
    bool Run();

    // DialogView
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
    dialog::BoxAnswer ShowMessage(const dialog::BoxRequest& box) override;
    void RunPasswordDialog() override;
    void EndPasswordDialog() override;
    void ClearPasswordEdit() override;
    void OpenDocument(const std::filesystem::path& path) override;
    ClockTime LocalTime() const override;
    void SetBusy(bool busy) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    static LRESULT CALLBACK LineEditorProc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam,
                                           UINT_PTR line, DWORD_PTR self);
    INT_PTR OnMessage(UINT message, WPARAM wparam, LPARAM lparam);
    void OnInitDialog();
    void OnCommand(int id, UINT code);
    void OnNotify(const NMHDR& header);
    void PaintIcon();
    // Enter and Escape: true when the message was consumed.
    bool PreTranslateMessage(const MSG& message);
    bool OnLineEditorChar(HWND edit, int line, wchar_t key);

    HWND Control(int id) const { return ::GetDlgItem(window_, id); }
    int Scaled(int pixels) const;
    // The control of this dialog that is or holds the window, or 0.
    int ControlOf(HWND window) const;
    // The keyboard focus goes to the dialog itself, where keys change nothing.
    void MoveFocusAside();
    void KeepFocusInView();
    HWND BoxOwner(int owner) const;
    void CreateFonts();

    dialog::CNumiconDlg::Environment environment_;
    std::unique_ptr<dialog::CNumiconDlg> behaviour_;
    HWND window_ = nullptr;
    HWND password_ = nullptr;
    HFONT line_font_ = nullptr;
    HFONT caption_font_ = nullptr;
    HBRUSH editor_brush_ = nullptr;
    HICON large_icon_ = nullptr;
    HICON small_icon_ = nullptr;
    HCURSOR cursor_before_busy_ = nullptr;
    int dpi_ = 96;
    int width_ = 0;
};

} // namespace lumidex::win32
