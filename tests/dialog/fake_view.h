#pragma once

// A view without a toolkit for the dialog's behaviour: every control of the
// table as plain state, message boxes answered from a script and recorded,
// and operator actions that change a control and then notify the behaviour
// as a face would. Like the Win32 face's controls it can also notify the
// changes the program makes (`echo`).
#include "dialog/control_ids.h"
#include "dialog/dialog_template.h"
#include "dialog/numicon_dlg.h"

#include <cctype>
#include <deque>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace lumidex::test {

class FakeView final : public dialog::DialogView {
public:
    struct Control {
        dialog::ControlKind kind = dialog::ControlKind::Label;
        std::string text;
        bool checked = false;
        std::vector<std::string> items;
        int index = -1;
        int position = 0;
        int min = 0;
        int max = 0;
        std::uint32_t address = 0;
        bool enabled = true;
    };

    FakeView() {
        for (const dialog::ControlSpec& entry : dialog::MainDialogControls()) {
            if (entry.id != 0) {
                Control control;
                control.kind = entry.kind;
                control.text = entry.label;
                controls_[entry.id] = control;
            }
        }
    }

    Control& at(int id) {
        const auto it = controls_.find(id);
        if (it == controls_.end()) {
            throw std::out_of_range("no control " + std::to_string(id));
        }
        return it->second;
    }
    const Control& at(int id) const { return const_cast<FakeView*>(this)->at(id); }

    std::string Text(int id) const override { return at(id).text; }
    void SetText(int id, const std::string& text) override {
        at(id).text = text;
        Echo(id, dialog::Notification::TextChange);
    }
    void ShowFromStart(int id) override { at(id); }
    bool Checked(int id) const override { return at(id).checked; }
    void SetChecked(int id, bool checked) override {
        at(id).checked = checked;
        Echo(id, dialog::Notification::Click);
    }
    int ListIndex(int id) const override { return at(id).index; }
    std::string ListText(int id) const override {
        const Control& list = at(id);
        return list.index < 0 ? std::string() : list.items[static_cast<std::size_t>(list.index)];
    }
    void SelectListText(int id, const std::string& text) override {
        Control& list = at(id);
        for (std::size_t i = 0; i < list.items.size(); ++i) {
            if (EqualIgnoringCase(list.items[i], text)) {
                list.index = static_cast<int>(i);
                Echo(id, dialog::Notification::SelectionChange);
                return;
            }
        }
    }
    void FillList(int id, const std::vector<std::string>& items) override {
        at(id).items = items;
        at(id).index = -1;
    }
    int SliderPosition(int id) const override { return at(id).position; }
    void SetSliderPosition(int id, int position) override {
        at(id).position = position;
        Echo(id, dialog::Notification::Released);
    }
    void SetSliderRange(int id, int min, int max) override {
        at(id).min = min;
        at(id).max = max;
    }
    std::uint32_t AddressValue(int id) const override { return at(id).address; }
    void SetAddressValue(int id, std::uint32_t address) override {
        at(id).address = address;
        Echo(id, dialog::Notification::FieldChanged);
    }
    void Enable(int id, bool enabled) override {
        if (!enabled && focus == id) {
            focus = 0;
        }
        at(id).enabled = enabled;
    }
    int FocusedControl() const override { return focus; }
    void SetFocus(int id) override { focus = id; }
    void FocusAndSelectAll(int id) override {
        focus = id;
        selected_all = id;
    }
    void ShowPortLabel(const std::string& port, const std::string& baud) override {
        at(dialog::kPortLabel).text = dialog::PortLabelText(port, baud);
    }
    void SetWindowWidth(int width) override { widths.push_back(width); }
    void StartSlideTimer(int interval_ms) override { timer_ms = interval_ms; }
    void StopSlideTimer() override { timer_ms = 0; }
    dialog::BoxAnswer ShowMessage(const dialog::BoxRequest& box) override {
        boxes.push_back(box);
        if (!answers.empty()) {
            const dialog::BoxAnswer answer = answers.front();
            answers.pop_front();
            return answer;
        }
        return box.buttons == dialog::BoxButtons::Ok ? dialog::BoxAnswer::Ok
                                                     : dialog::BoxAnswer::No;
    }
    void RunPasswordDialog() override {
        ++password_runs;
        password_open = true;
        if (password_dialog) {
            password_dialog();
        }
        password_open = false; // Escape, when the script left it up
    }
    void EndPasswordDialog() override {
        password_open = false;
        ++password_ends;
    }
    void ClearPasswordEdit() override { password_cleared.push_back(boxes.size()); }
    void OpenDocument(const std::filesystem::path& path) override { opened.push_back(path); }
    ClockTime LocalTime() const override { return {2024, 6, 15, 14, 30, 0, 6}; }
    void SetBusy(bool busy) override { busy_now = busy; }

    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const auto& box : boxes) {
            texts.push_back(box.text);
        }
        return texts;
    }
    int width() const { return widths.empty() ? 0 : widths.back(); }

    int focus = 0;
    int selected_all = 0;
    int timer_ms = 0;
    int password_runs = 0;
    bool password_open = false;
    int password_ends = 0;
    // For each emptying of the password edit, how many boxes had been shown.
    std::vector<std::size_t> password_cleared;
    bool busy_now = false;
    std::vector<int> widths;
    std::vector<dialog::BoxRequest> boxes;
    std::deque<dialog::BoxAnswer> answers;
    std::function<void()> password_dialog;
    std::vector<std::filesystem::path> opened;
    // Called with each change the program makes, as the control would
    // notify it.
    std::function<void(int id, dialog::Notification event)> echo;

private:
    void Echo(int id, dialog::Notification event) {
        if (echo) {
            echo(id, event);
        }
    }

    static bool EqualIgnoringCase(const std::string& a, const std::string& b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
                   return std::tolower(x) == std::tolower(y);
               });
    }

    std::map<int, Control> controls_;
};

// What an operator does to a control, as a face reports it: the focus
// moves to the control first (the control that had it is left), the control
// changes (an automatic check box toggles, a radio is chosen, a list item is
// chosen), then its notification reaches the behaviour.
class Operator {
public:
    Operator(FakeView& view, dialog::CNumiconDlg& dialog) : view_(view), dialog_(dialog) {}

    // Gives the control the keyboard focus; the one that held it is left.
    void FocusOn(int id) {
        const int left = view_.focus;
        view_.focus = id;
        if (left != 0 && left != id) {
            dialog_.Notify(left, left == dialog::kAddressField ? dialog::Notification::FieldChanged
                                                               : dialog::Notification::FocusOut);
        }
    }
    void Click(int id) {
        FocusOn(id);
        FakeView::Control& control = view_.at(id);
        if (control.kind == dialog::ControlKind::CheckBox) {
            control.checked = !control.checked;
        } else if (control.kind == dialog::ControlKind::Radio) {
            view_.at(dialog::kSeparateRadio).checked = id == dialog::kSeparateRadio;
            view_.at(dialog::kUnifiedRadio).checked = id == dialog::kUnifiedRadio;
        }
        dialog_.Notify(id, dialog::Notification::Click);
    }
    // Chooses an item in a list's drop-down and then clicks line editor 1.
    void Choose(int id, int index) {
        FocusOn(id);
        view_.at(id).index = index;
        dialog_.Notify(id, dialog::Notification::SelectionChange);
        FocusOn(dialog::kLineEditors[0]);
    }
    void Type(int id, const std::string& text) {
        FocusOn(id);
        view_.at(id).text += text;
        dialog_.Notify(id, dialog::Notification::TextChange);
    }
    // Clicks the control and then line editor 1.
    void Leave(int id) {
        FocusOn(id);
        FocusOn(dialog::kLineEditors[0]);
    }
    // "Settings", then each text typed into the password dialog with Enter
    // while the dialog is up, and Escape if it is still up after the last.
    void EnterPasswords(std::vector<std::string> tries) {
        view_.password_dialog = [this, tries = std::move(tries)] {
            for (const std::string& typed : tries) {
                if (view_.password_open) {
                    dialog_.OnPasswordOk(typed);
                }
            }
        };
        Click(dialog::kSettingsButton);
    }
    // "Settings" with the right password, and the slide to its end.
    void OpenPanel() {
        EnterPasswords({"v503"});
        while (view_.timer_ms != 0) {
            dialog_.OnSlideTick();
        }
    }

private:
    FakeView& view_;
    dialog::CNumiconDlg& dialog_;
};

} // namespace lumidex::test
