#include "gui/qt/dialog_template.h"

#include <array>
#include <cmath>

namespace {

using K = ControlKind;

// Positions and sizes are those of the dialog template, in dialog units.
constexpr std::array<ControlSpec, 94> kControls{{
    // Display lines: number label, caption editor, line editor.
    {0, K::Label, "1.", 9, 10, 10, 10},
    {1040, K::Edit, "", 19, 7, 153, 16},
    {1005, K::Edit, "", 19, 23, 153, 26},
    {0, K::Label, "2.", 9, 58, 10, 10},
    {1042, K::Edit, "", 19, 54, 153, 16},
    {1006, K::Edit, "", 19, 70, 153, 26},
    {0, K::Label, "3.", 9, 103, 10, 10},
    {1043, K::Edit, "", 19, 101, 153, 16},
    {1007, K::Edit, "", 19, 117, 153, 26},
    {0, K::Label, "4.", 9, 152, 10, 10},
    {1044, K::Edit, "", 19, 149, 153, 16},
    {1008, K::Edit, "", 19, 165, 153, 26},
    {0, K::Label, "5.", 9, 199, 10, 10},
    {1045, K::Edit, "", 19, 196, 153, 16},
    {1009, K::Edit, "", 19, 212, 153, 26},
    {0, K::Label, "6.", 8, 245, 10, 10},
    {1047, K::Edit, "", 18, 243, 153, 16},
    {1023, K::Edit, "", 18, 259, 153, 26},
    // Send area and the buttons of the left area.
    {0, K::GroupBox, "Send", 18, 286, 154, 69},
    {1020, K::Button, "TCP/IP", 25, 295, 45, 14},
    {1021, K::Button, "Serial", 25, 311, 45, 14},
    {1052, K::Label, "IP：", 77, 298, 85, 9},
    // The port label reaches to the "Send" group's inner edge: device paths
    // are longer than the platform's COM names.
    {1051, K::Label, "Port：", 77, 314, 93, 9},
    {0, K::Label, "Update in：", 28, 329, 40, 8},
    {1061, K::List, "", 26, 340, 45, 30},
    {1049, K::Button, "Settings", 121, 325, 45, 14},
    {1037, K::Button, "Help...", 121, 340, 45, 14},
    // Settings panel: frame and column headings.
    {0, K::GroupBox, "Settings", 192, 7, 150, 349},
    {0, K::Label, "Select", 198, 16, 20, 8},
    {0, K::Label, "Numbers", 223, 17, 38, 9},
    {0, K::Label, "Fixed point", 256, 17, 38, 10},
    {0, K::Label, "Flicker", 295, 17, 21, 8},
    {0, K::Label, "9/10", 317, 17, 16, 8},
    // Per-line rows: select, digit count, decimal places, flicker, "9/10".
    {1000, K::CheckBox, "1.", 201, 32, 18, 11},
    {1010, K::List, "", 221, 31, 29, 15},
    {1015, K::List, "", 258, 31, 29, 14},
    {1058, K::CheckBox, "", 300, 33, 11, 10},
    {1060, K::CheckBox, "", 318, 33, 10, 10},
    {1001, K::CheckBox, "2.", 201, 50, 18, 11},
    {1011, K::List, "", 221, 49, 29, 14},
    {1016, K::List, "", 258, 49, 29, 13},
    {1062, K::CheckBox, "", 300, 51, 12, 10},
    {1079, K::CheckBox, "", 318, 51, 10, 10},
    {1002, K::CheckBox, "3.", 201, 68, 18, 11},
    {1012, K::List, "", 221, 67, 29, 13},
    {1017, K::List, "", 258, 67, 29, 12},
    {1063, K::CheckBox, "", 300, 69, 12, 10},
    {1080, K::CheckBox, "", 318, 69, 10, 10},
    {1003, K::CheckBox, "4.", 201, 86, 18, 11},
    {1013, K::List, "", 221, 85, 29, 12},
    {1018, K::List, "", 258, 85, 29, 13},
    {1064, K::CheckBox, "", 300, 87, 12, 10},
    {1081, K::CheckBox, "", 318, 87, 10, 10},
    {1004, K::CheckBox, "5.", 201, 104, 18, 11},
    {1014, K::List, "", 221, 103, 29, 12},
    {1019, K::List, "", 258, 103, 29, 13},
    {1065, K::CheckBox, "", 300, 104, 12, 10},
    {1083, K::CheckBox, "", 318, 104, 10, 10},
    {1035, K::CheckBox, "6.", 201, 123, 18, 11},
    {1041, K::List, "", 221, 121, 29, 12},
    {1048, K::List, "", 258, 121, 29, 13},
    {1066, K::CheckBox, "", 300, 123, 12, 10},
    {1084, K::CheckBox, "", 318, 123, 10, 10},
    // Separate or unified setting of the lines.
    {1024, K::Radio, "A separate set of", 201, 136, 111, 15},
    {1025, K::Radio, "Unified set", 201, 151, 64, 12},
    {0, K::Label, "Numbers", 212, 166, 39, 9},
    {0, K::Label, "Fixed point", 250, 166, 39, 10},
    {0, K::Label, "Flicker", 291, 167, 23, 10},
    {0, K::Label, "9/10", 316, 167, 16, 8},
    {1026, K::List, "", 212, 178, 33, 12},
    {1027, K::List, "", 253, 178, 33, 14},
    {1069, K::CheckBox, "", 296, 180, 12, 10},
    {1085, K::CheckBox, "", 318, 180, 10, 10},
    // Links and commands.
    {0, K::GroupBox, "Network Communications", 201, 199, 131, 33},
    {0, K::Label, "IP：", 209, 215, 16, 8},
    {1034, K::Address, "", 235, 212, 96, 14},
    {0, K::GroupBox, "RS232/RS485 Communications", 201, 240, 131, 51},
    {0, K::Label, "Port：", 207, 255, 21, 11},
    {1039, K::SortedList, "", 225, 253, 44, 12},
    {0, K::Label, "Baud:", 273, 255, 20, 8},
    {1057, K::List, "", 293, 253, 38, 30},
    {0, K::Label, "485Add:", 207, 275, 28, 8},
    {1056, K::DigitEdit, "", 236, 273, 24, 14},
    {0, K::GroupBox, "LED Bright", 201, 295, 131, 40},
    {0, K::Label, "Min", 233, 304, 13, 8},
    {0, K::Label, "Max", 289, 304, 17, 8},
    {0, K::Label, "Day", 208, 312, 14, 8},
    {0, K::Label, "Night", 208, 323, 20, 8},
    {1038, K::Trackbar, "", 230, 314, 76, 10},
    {1046, K::Trackbar, "", 230, 324, 76, 10},
    {1054, K::Button, "Set", 311, 312, 20, 17},
    {1036, K::Button, "Initialize", 201, 340, 38, 14},
    {1022, K::Button, "Proof time", 248, 340, 38, 14},
    {1050, K::Button, "Save & Exit", 294, 340, 38, 14},
}};

constexpr double kPixelsPerUnitX = 1.515;
constexpr double kPixelsPerUnitY = 13.0 / 8.0;

constexpr std::array<const char*, 25> kUpdateTimes{
    "Now",   "01:00", "02:00", "03:00", "04:00", "05:00", "06:00", "07:00", "08:00",
    "09:00", "10:00", "11:00", "12:00", "13:00", "14:00", "15:00", "16:00", "17:00",
    "18:00", "19:00", "20:00", "21:00", "22:00", "23:00", "00:00"};
constexpr std::array<const char*, 2> kBauds{"9600", "57600"};

} // namespace

std::span<const ControlSpec> MainDialogControls() {
    return kControls;
}

QRect DialogUnitsToPixels(int x, int y, int w, int h) {
    const int left = static_cast<int>(std::lround(x * kPixelsPerUnitX));
    const int top = static_cast<int>(std::lround(y * kPixelsPerUnitY));
    const int right = static_cast<int>(std::lround((x + w) * kPixelsPerUnitX));
    const int bottom = static_cast<int>(std::lround((y + h) * kPixelsPerUnitY));
    return QRect(left, top, right - left, bottom - top);
}

std::span<const char* const> UpdateTimeItems() {
    return kUpdateTimes;
}
std::span<const char* const> BaudItems() {
    return kBauds;
}
