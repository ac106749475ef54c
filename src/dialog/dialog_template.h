#pragma once

#include <span>
#include <string_view>

// The dialogs' controls, declared once: identifier, kind, label and place in
// dialog units. Unnamed static controls carry id 0. The Linux face creates
// widgets from these tables; the Windows face builds its in-memory dialog
// templates from them.
namespace lumidex::dialog {

enum class ControlKind {
    Edit,      // single-line edit with border and tab stop
    DigitEdit, // digits-only edit without tab stop (the bus address)
    Button,    // push button without tab stop
    CheckBox,  // automatic check box
    Radio,     // automatic radio button
    GroupBox,
    Label,      // left-aligned static text
    List,       // drop-down list, selection only
    SortedList, // drop-down list that keeps its items sorted
    Trackbar,
    Address,      // IP address field
    PasswordEdit, // masked edit of the password dialog
    HiddenButton, // push button with tab stop, not visible (OK and Cancel)
};

// A rectangle in dialog units.
struct DialogRect {
    int x, y, w, h;
};

struct ControlSpec {
    int id;
    ControlKind kind;
    const char* label; // UTF-8
    int x, y, w, h;    // dialog units
};

// The main dialog: title, size in dialog units and its 94 controls in
// template order.
inline constexpr std::string_view kWindowTitle = "Lumidex_1.0";
inline constexpr int kTemplateWidth = 349;
inline constexpr int kTemplateHeight = 359;
std::span<const ControlSpec> MainDialogControls();

// The password dialog: title, size and its three controls.
inline constexpr std::string_view kPasswordTitle = "Password";
inline constexpr int kPasswordTemplateWidth = 123;
inline constexpr int kPasswordTemplateHeight = 32;
std::span<const ControlSpec> PasswordDialogControls();

// The template's place of a control, or nothing-sized at 0,0 for an id that
// is not in the main dialog.
DialogRect PlaceOf(int id);

// Window sizes in pixels at 96 dots per inch: the closed and the open width
// and the height, and the slide's step and timer period.
inline constexpr int kClosedWidth = 290;
inline constexpr int kOpenWidth = 520;
inline constexpr int kWindowHeight = 620;
inline constexpr int kSlideStep = 10;
inline constexpr int kSlideIntervalMs = 10;

// The brightness sliders' range.
inline constexpr int kBrightnessMin = 0;
inline constexpr int kBrightnessMax = 7;

} // namespace lumidex::dialog
