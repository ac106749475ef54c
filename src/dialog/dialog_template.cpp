#include "dialog/dialog_template.h"

#include "dialog/control_ids.h"

#include <algorithm>
#include <array>

namespace lumidex::dialog {
namespace {

using K = ControlKind;

// Positions and sizes are those of the dialog template, in dialog units.
constexpr std::array<ControlSpec, 94> kControls{{
    // Display lines: number label, caption editor, line editor.
    {0, K::Label, "1.", 9, 10, 10, 10},
    {kCaptionEditors[0], K::Edit, "", 19, 7, 153, 16},
    {kLineEditors[0], K::Edit, "", 19, 23, 153, 26},
    {0, K::Label, "2.", 9, 58, 10, 10},
    {kCaptionEditors[1], K::Edit, "", 19, 54, 153, 16},
    {kLineEditors[1], K::Edit, "", 19, 70, 153, 26},
    {0, K::Label, "3.", 9, 103, 10, 10},
    {kCaptionEditors[2], K::Edit, "", 19, 101, 153, 16},
    {kLineEditors[2], K::Edit, "", 19, 117, 153, 26},
    {0, K::Label, "4.", 9, 152, 10, 10},
    {kCaptionEditors[3], K::Edit, "", 19, 149, 153, 16},
    {kLineEditors[3], K::Edit, "", 19, 165, 153, 26},
    {0, K::Label, "5.", 9, 199, 10, 10},
    {kCaptionEditors[4], K::Edit, "", 19, 196, 153, 16},
    {kLineEditors[4], K::Edit, "", 19, 212, 153, 26},
    {0, K::Label, "6.", 8, 245, 10, 10},
    {kCaptionEditors[5], K::Edit, "", 18, 243, 153, 16},
    {kLineEditors[5], K::Edit, "", 18, 259, 153, 26},
    // Send area and the buttons of the left area.
    {0, K::GroupBox, "Send", 18, 286, 154, 69},
    {kUdpButton, K::Button, "TCP/IP", 25, 295, 45, 14},
    {kSerialButton, K::Button, "Serial", 25, 311, 45, 14},
    {kAddressLabel, K::Label, "IP：", 77, 298, 85, 9},
    // The port label reaches to the "Send" group's inner edge: device paths
    // are longer than the platform's COM names.
    {kPortLabel, K::Label, "Port：", 77, 314, 93, 9},
    {0, K::Label, "Update in：", 28, 329, 40, 8},
    {kUpdateList, K::List, "", 26, 340, 45, 30},
    {kSettingsButton, K::Button, "Settings", 121, 325, 45, 14},
    {kHelpButton, K::Button, "Help...", 121, 340, 45, 14},
    // Settings panel: frame and column headings.
    {0, K::GroupBox, "Settings", 192, 7, 150, 349},
    {0, K::Label, "Select", 198, 16, 20, 8},
    {0, K::Label, "Numbers", 223, 17, 38, 9},
    {0, K::Label, "Fixed point", 256, 17, 38, 10},
    {0, K::Label, "Flicker", 295, 17, 21, 8},
    {0, K::Label, "9/10", 317, 17, 16, 8},
    // Per-line rows: select, digit count, decimal places, flicker, "9/10".
    {kChosenBoxes[0], K::CheckBox, "1.", 201, 32, 18, 11},
    {kDigitCountLists[0], K::List, "", 221, 31, 29, 15},
    {kPlacesLists[0], K::List, "", 258, 31, 29, 14},
    {kFlickerBoxes[0], K::CheckBox, "", 300, 33, 11, 10},
    {kPointBoxes[0], K::CheckBox, "", 318, 33, 10, 10},
    {kChosenBoxes[1], K::CheckBox, "2.", 201, 50, 18, 11},
    {kDigitCountLists[1], K::List, "", 221, 49, 29, 14},
    {kPlacesLists[1], K::List, "", 258, 49, 29, 13},
    {kFlickerBoxes[1], K::CheckBox, "", 300, 51, 12, 10},
    {kPointBoxes[1], K::CheckBox, "", 318, 51, 10, 10},
    {kChosenBoxes[2], K::CheckBox, "3.", 201, 68, 18, 11},
    {kDigitCountLists[2], K::List, "", 221, 67, 29, 13},
    {kPlacesLists[2], K::List, "", 258, 67, 29, 12},
    {kFlickerBoxes[2], K::CheckBox, "", 300, 69, 12, 10},
    {kPointBoxes[2], K::CheckBox, "", 318, 69, 10, 10},
    {kChosenBoxes[3], K::CheckBox, "4.", 201, 86, 18, 11},
    {kDigitCountLists[3], K::List, "", 221, 85, 29, 12},
    {kPlacesLists[3], K::List, "", 258, 85, 29, 13},
    {kFlickerBoxes[3], K::CheckBox, "", 300, 87, 12, 10},
    {kPointBoxes[3], K::CheckBox, "", 318, 87, 10, 10},
    {kChosenBoxes[4], K::CheckBox, "5.", 201, 104, 18, 11},
    {kDigitCountLists[4], K::List, "", 221, 103, 29, 12},
    {kPlacesLists[4], K::List, "", 258, 103, 29, 13},
    {kFlickerBoxes[4], K::CheckBox, "", 300, 104, 12, 10},
    {kPointBoxes[4], K::CheckBox, "", 318, 104, 10, 10},
    {kChosenBoxes[5], K::CheckBox, "6.", 201, 123, 18, 11},
    {kDigitCountLists[5], K::List, "", 221, 121, 29, 12},
    {kPlacesLists[5], K::List, "", 258, 121, 29, 13},
    {kFlickerBoxes[5], K::CheckBox, "", 300, 123, 12, 10},
    {kPointBoxes[5], K::CheckBox, "", 318, 123, 10, 10},
    // Separate or unified setting of the lines.
    {kSeparateRadio, K::Radio, "A separate set of", 201, 136, 111, 15},
    {kUnifiedRadio, K::Radio, "Unified set", 201, 151, 64, 12},
    {0, K::Label, "Numbers", 212, 166, 39, 9},
    {0, K::Label, "Fixed point", 250, 166, 39, 10},
    {0, K::Label, "Flicker", 291, 167, 23, 10},
    {0, K::Label, "9/10", 316, 167, 16, 8},
    {kUnifiedDigitCount, K::List, "", 212, 178, 33, 12},
    {kUnifiedPlaces, K::List, "", 253, 178, 33, 14},
    {kUnifiedFlicker, K::CheckBox, "", 296, 180, 12, 10},
    {kUnifiedPoint, K::CheckBox, "", 318, 180, 10, 10},
    // Links and commands.
    {0, K::GroupBox, "Network Communications", 201, 199, 131, 33},
    {0, K::Label, "IP：", 209, 215, 16, 8},
    {kAddressField, K::Address, "", 235, 212, 96, 14},
    {0, K::GroupBox, "RS232/RS485 Communications", 201, 240, 131, 51},
    {0, K::Label, "Port：", 207, 255, 21, 11},
    {kPortList, K::SortedList, "", 225, 253, 44, 12},
    {0, K::Label, "Baud:", 273, 255, 20, 8},
    {kBaudList, K::List, "", 293, 253, 38, 30},
    {0, K::Label, "485Add:", 207, 275, 28, 8},
    {kBusAddress, K::DigitEdit, "", 236, 273, 24, 14},
    {0, K::GroupBox, "LED Bright", 201, 295, 131, 40},
    {0, K::Label, "Min", 233, 304, 13, 8},
    {0, K::Label, "Max", 289, 304, 17, 8},
    {0, K::Label, "Day", 208, 312, 14, 8},
    {0, K::Label, "Night", 208, 323, 20, 8},
    {kDaySlider, K::Trackbar, "", 230, 314, 76, 10},
    {kNightSlider, K::Trackbar, "", 230, 324, 76, 10},
    {kBrightnessButton, K::Button, "Set", 311, 312, 20, 17},
    {kInitializeButton, K::Button, "Initialize", 201, 340, 38, 14},
    {kProofTimeButton, K::Button, "Proof time", 248, 340, 38, 14},
    {kSaveAndExitButton, K::Button, "Save & Exit", 294, 340, 38, 14},
}};

constexpr std::array<ControlSpec, 3> kPasswordControls{{
    {kPasswordEdit, K::PasswordEdit, "", 7, 7, 109, 17},
    {kPasswordCancel, K::HiddenButton, "Cancel", 61, 7, 50, 14},
    {kPasswordOk, K::HiddenButton, "OK", 59, 7, 50, 14},
}};

} // namespace

std::span<const ControlSpec> MainDialogControls() {
    return kControls;
}

std::span<const ControlSpec> PasswordDialogControls() {
    return kPasswordControls;
}

DialogRect PlaceOf(int id) {
    const auto it = std::find_if(kControls.begin(), kControls.end(),
                                 [id](const ControlSpec& control) { return control.id == id; });
    if (it == kControls.end() || id == 0) {
        return {0, 0, 0, 0};
    }
    return {it->x, it->y, it->w, it->h};
}

} // namespace lumidex::dialog
