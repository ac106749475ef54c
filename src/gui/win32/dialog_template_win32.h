#pragma once

#include "dialog/dialog_template.h"

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include <windows.h>

// In-memory dialog templates (DLGTEMPLATEEX) built from the control tables,
// so the dialog manager creates the real controls with the platform's own
// dialog units.
namespace lumidex::win32 {

// The window class and styles a control of this kind is created with.
struct ControlClass {
    const wchar_t* class_name; // a registered class name
    DWORD style;
};
ControlClass ClassOf(dialog::ControlKind kind);

// The styles of the two dialogs.
inline constexpr DWORD kMainDialogStyle =
    WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_SHELLFONT;
inline constexpr DWORD kMainDialogExStyle = WS_EX_APPWINDOW;
inline constexpr DWORD kPasswordDialogStyle =
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SHELLFONT;

struct TemplateSpec {
    std::string_view title; // UTF-8
    int width, height;      // dialog units
    DWORD style, ex_style;
    std::span<const dialog::ControlSpec> controls;
};

// A dialog template in memory, aligned as the dialog manager needs it.
class DialogTemplate {
public:
    explicit DialogTemplate(const TemplateSpec& layout);
    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }
    std::size_t size_bytes() const { return words_.size() * sizeof(WORD); }

private:
    void Word(WORD value) { words_.push_back(value); }
    void Dword(DWORD value);
    void Text(std::wstring_view text);
    void AlignToDword();

    std::vector<WORD> words_;
};

// A control's label as the template carries it: a button's "&" doubled so
// it shows as itself rather than marking a mnemonic.
std::wstring TemplateLabel(dialog::ControlKind kind, std::string_view label);

} // namespace lumidex::win32
