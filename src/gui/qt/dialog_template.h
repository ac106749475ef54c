#pragma once

#include <QRect>
#include <QString>
#include <span>

// The main dialog's controls, declared once: identifier, kind, label and
// place in dialog units. Unnamed static controls carry id 0.

enum class ControlKind {
    Edit,      // single-line edit with tab stop
    DigitEdit, // digits-only edit without tab stop (the bus address)
    Button,    // push button
    CheckBox,
    Radio,
    GroupBox,
    Label,
    List,       // drop-down list, selection only
    SortedList, // drop-down list that keeps its items sorted
    Trackbar,
    Address, // IP address field
};

struct ControlSpec {
    int id;
    ControlKind kind;
    const char* label; // UTF-8
    int x, y, w, h;    // dialog units
};

// The 94 controls of the main dialog in template order.
std::span<const ControlSpec> MainDialogControls();

// The dialog template's size in dialog units.
inline constexpr int kTemplateWidth = 349;
inline constexpr int kTemplateHeight = 359;

// Dialog units to pixels. A horizontal unit is 1.515 pixels and a vertical
// unit 1.625 (13/8, the height of the dialog font's cell over 8): with them
// the left area (up to 172 units) fits the window's closed width of 290
// pixels, and the settings panel (192 to 342 units) starts beyond it and fits
// the open width of 520.
QRect DialogUnitsToPixels(int x, int y, int w, int h);

// The items of the "Update in" list, in list order.
std::span<const char* const> UpdateTimeItems();
// The items of the baud list.
std::span<const char* const> BaudItems();
