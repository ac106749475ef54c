#include "gui/win32/dialog_template_win32.h"

#include "gui/win32/wide_text.h"

#include <commctrl.h>

namespace lumidex::win32 {
namespace {

using K = dialog::ControlKind;

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

bool IsButtonClass(K kind) {
    return kind == K::Button || kind == K::CheckBox || kind == K::Radio || kind == K::GroupBox ||
           kind == K::HiddenButton;
}

} // namespace

ControlClass ClassOf(K kind) {
    switch (kind) {
    case K::Edit:
        return {WC_EDITW, kChild | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL};
    case K::DigitEdit:
        return {WC_EDITW, kChild | WS_BORDER | ES_LEFT | ES_MULTILINE | ES_NUMBER};
    case K::PasswordEdit:
        return {WC_EDITW, kChild | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL | ES_PASSWORD};
    case K::Button:
        return {WC_BUTTONW, kChild | BS_PUSHBUTTON};
    case K::HiddenButton:
        return {WC_BUTTONW, WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON};
    case K::CheckBox:
        return {WC_BUTTONW, kChild | BS_AUTOCHECKBOX};
    case K::Radio:
        return {WC_BUTTONW, kChild | BS_AUTORADIOBUTTON};
    case K::GroupBox:
        return {WC_BUTTONW, kChild | BS_GROUPBOX};
    case K::Label:
        // Labels show "&" as itself.
        return {WC_STATICW, kChild | WS_GROUP | SS_LEFT | SS_NOPREFIX};
    case K::List:
        return {WC_COMBOBOXW, kChild | CBS_DROPDOWNLIST | WS_VSCROLL};
    case K::SortedList:
        return {WC_COMBOBOXW, kChild | CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL};
    case K::Trackbar:
        return {TRACKBAR_CLASSW, kChild | TBS_HORZ | TBS_BOTH | TBS_NOTICKS};
    case K::Address:
        return {WC_IPADDRESSW, kChild};
    }
    return {WC_STATICW, kChild};
}

std::wstring TemplateLabel(K kind, std::string_view label) {
    std::wstring text = Widen(label);
    if (!IsButtonClass(kind)) {
        return text;
    }
    std::wstring escaped;
    for (wchar_t ch : text) {
        escaped += ch;
        if (ch == L'&') {
            escaped += L'&';
        }
    }
    return escaped;
}

void DialogTemplate::Dword(DWORD value) {
    Word(LOWORD(value));
    Word(HIWORD(value));
}

void DialogTemplate::Text(std::wstring_view text) {
    for (wchar_t ch : text) {
        Word(static_cast<WORD>(ch));
    }
    Word(0);
}

void DialogTemplate::AlignToDword() {
    if (words_.size() % 2 != 0) {
        Word(0);
    }
}

DialogTemplate::DialogTemplate(const TemplateSpec& layout) {
    // DLGTEMPLATEEX: version 1, signature 0xFFFF, help id, styles, count,
    // place, no menu, the dialog class, title, then the font.
    Word(1);
    Word(0xFFFF);
    Dword(0);
    Dword(layout.ex_style);
    Dword(layout.style);
    Word(static_cast<WORD>(layout.controls.size()));
    for (int value : {0, 0, layout.width, layout.height}) {
        Word(static_cast<WORD>(value));
    }
    Word(0);
    Word(0);
    Text(Widen(layout.title));
    Word(8); // points
    Word(FW_NORMAL);
    Word(0); // italic, character set
    Text(L"MS Shell Dlg");
    for (const dialog::ControlSpec& control : layout.controls) {
        // DLGITEMTEMPLATEEX, each on a DWORD boundary.
        AlignToDword();
        const ControlClass cls = ClassOf(control.kind);
        Dword(0);
        Dword(0);
        Dword(cls.style);
        for (int value : {control.x, control.y, control.w, control.h}) {
            Word(static_cast<WORD>(value));
        }
        // Unnamed labels carry the platform's "no id", -1.
        Dword(control.id == 0 ? 0xFFFFFFFFu : static_cast<DWORD>(control.id));
        Text(cls.class_name);
        Text(TemplateLabel(control.kind, control.label));
        Word(0); // no creation data
    }
}

} // namespace lumidex::win32
