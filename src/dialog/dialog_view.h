#pragma once

#include "protocol/frame.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// What the dialog's behaviour asks of a face: control operations by control
// id, the window's width and slide timer, and the modal pieces (message
// boxes, the password dialog, the help document). Texts are UTF-8. A change
// made through this interface runs no handler: the behaviour ignores the
// notifications its own changes make the controls send.
namespace lumidex::dialog {

enum class BoxButtons { Ok, YesNo };
enum class BoxIcon { None, Exclamation, Warning };
enum class BoxAnswer { Ok, Yes, No, Closed };

// One modal message box.
struct BoxRequest {
    // 0: a box of its own, owned by no window (the main window stays
    // enabled); a control id: that control's window; kPasswordDialogOwner:
    // the password dialog.
    int owner = 0;
    std::string text;
    std::string caption;
    BoxButtons buttons = BoxButtons::Ok;
    BoxIcon icon = BoxIcon::None;
};

class DialogView {
public:
    virtual ~DialogView() = default;

    // An edit's or a label's text.
    virtual std::string Text(int id) const = 0;
    // Sets an edit's or a label's text, the caret at its end as the platform
    // leaves it.
    virtual void SetText(int id, const std::string& text) = 0;
    // Puts an edit's caret at its start, so a text longer than the edit
    // shows its beginning.
    virtual void ShowFromStart(int id) = 0;
    virtual bool Checked(int id) const = 0;
    virtual void SetChecked(int id, bool checked) = 0;

    // A list's selected item: its index (-1 when none) and its text (empty
    // when none).
    virtual int ListIndex(int id) const = 0;
    virtual std::string ListText(int id) const = 0;
    // Selects the item equal to the text without regard to letter case;
    // when no item is equal the selection stays as it was.
    virtual void SelectListText(int id, const std::string& text) = 0;
    // Replaces a list's items, in the given order (a sorted list keeps its
    // own order), with no item selected.
    virtual void FillList(int id, const std::vector<std::string>& items) = 0;

    virtual int SliderPosition(int id) const = 0;
    virtual void SetSliderPosition(int id, int position) = 0;
    // Range and tick frequency 1.
    virtual void SetSliderRange(int id, int min, int max) = 0;

    // The IP address field's value, first field in the top 8 bits; an empty
    // field counts as 0.
    virtual std::uint32_t AddressValue(int id) const = 0;
    virtual void SetAddressValue(int id, std::uint32_t address) = 0;

    // Enables or disables a control. Disabling the control that holds the
    // keyboard focus first moves the focus somewhere harmless (the dialog
    // itself), never to a control the operator did not choose.
    virtual void Enable(int id, bool enabled) = 0;
    // The control that holds the keyboard focus, or 0.
    virtual int FocusedControl() const = 0;
    virtual void SetFocus(int id) = 0;
    // Gives an edit the focus with its whole text selected and the caret in
    // view.
    virtual void FocusAndSelectAll(int id) = 0;

    // The port label: "Port:  " port "  Boud: " baud (see PortLabelText); a
    // face may shorten a port name too long for the label.
    virtual void ShowPortLabel(const std::string& port, const std::string& baud) = 0;

    // Resizes the window to the width (pixels at 96 dpi) by kWindowHeight,
    // keeping its place. No control beyond the new right edge keeps or
    // takes the keyboard focus.
    virtual void SetWindowWidth(int width) = 0;
    // The slide's timer: OnSlideTick every interval until stopped.
    virtual void StartSlideTimer(int interval_ms) = 0;
    virtual void StopSlideTimer() = 0;

    // Shows a modal message box until the operator answers it.
    virtual BoxAnswer ShowMessage(const BoxRequest& box) = 0;
    // Runs the password dialog modally over the main dialog until
    // EndPasswordDialog, Escape or its close button. Its OK (Enter) hands the
    // edit's text to CNumiconDlg::OnPasswordOk.
    virtual void RunPasswordDialog() = 0;
    virtual void EndPasswordDialog() = 0;
    // Empties the password dialog's edit and gives it the keyboard focus.
    virtual void ClearPasswordEdit() = 0;
    // Asks the platform to open a document ("Help..."); the outcome is not
    // looked at.
    virtual void OpenDocument(const std::filesystem::path& path) = 0;
    // The computer's local time, for the clock calibration.
    virtual ClockTime LocalTime() const = 0;
    // Shows that the window is busy (a wait cursor) while a send blocks it.
    virtual void SetBusy(bool busy) = 0;
};

} // namespace lumidex::dialog
