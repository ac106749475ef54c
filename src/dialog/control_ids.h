#pragma once

#include "settings/keys.h"

#include <array>

// Every control of the main dialog and of the password dialog by name. The
// control table, the routing table, both faces and the tests use these.
namespace lumidex::dialog {

using LineIds = std::array<int, kLineCount>;

// Main dialog resource, window icon and password dialog resource.
inline constexpr int kMainDialogResource = 102;
inline constexpr int kIconResource = 128;
inline constexpr int kPasswordDialogResource = 129;

// The six display lines, indexed by line - 1.
inline constexpr LineIds kLineEditors{1005, 1006, 1007, 1008, 1009, 1023};
inline constexpr LineIds kCaptionEditors{1040, 1042, 1043, 1044, 1045, 1047};
inline constexpr LineIds kChosenBoxes{1000, 1001, 1002, 1003, 1004, 1035};
inline constexpr LineIds kDigitCountLists{1010, 1011, 1012, 1013, 1014, 1041};
inline constexpr LineIds kPlacesLists{1015, 1016, 1017, 1018, 1019, 1048};
inline constexpr LineIds kFlickerBoxes{1058, 1062, 1063, 1064, 1065, 1066};
inline constexpr LineIds kPointBoxes{1060, 1079, 1080, 1081, 1083, 1084};

// Separate or unified line formats.
inline constexpr int kSeparateRadio = 1024;
inline constexpr int kUnifiedRadio = 1025;
inline constexpr int kUnifiedDigitCount = 1026;
inline constexpr int kUnifiedPlaces = 1027;
inline constexpr int kUnifiedFlicker = 1069;
inline constexpr int kUnifiedPoint = 1085;

// Links, brightness and commands.
inline constexpr int kAddressField = 1034;
inline constexpr int kPortList = 1039;
inline constexpr int kBaudList = 1057;
inline constexpr int kBusAddress = 1056;
inline constexpr int kDaySlider = 1038;
inline constexpr int kNightSlider = 1046;
inline constexpr int kBrightnessButton = 1054;
inline constexpr int kInitializeButton = 1036;
inline constexpr int kProofTimeButton = 1022;
inline constexpr int kSaveAndExitButton = 1050;

// The left area: sends, labels, update time, settings and help.
inline constexpr int kUdpButton = 1020;
inline constexpr int kSerialButton = 1021;
inline constexpr int kAddressLabel = 1052;
inline constexpr int kPortLabel = 1051;
inline constexpr int kUpdateList = 1061;
inline constexpr int kSettingsButton = 1049;
inline constexpr int kHelpButton = 1037;

// The password dialog's edit and its two hidden buttons.
inline constexpr int kPasswordEdit = 1005;
inline constexpr int kPasswordOk = 1;
inline constexpr int kPasswordCancel = 2;

// The owner of a message box that the password dialog shows.
inline constexpr int kPasswordDialogOwner = -kPasswordDialogResource;

} // namespace lumidex::dialog
