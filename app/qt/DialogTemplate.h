#pragma once
// The main dialog's controls in dialog units, in tab order. The dialog lays itself out from this
// table, so moving a control is a one-line change here.

#include <array>

namespace ostrim {

enum class ControlKind {
    DefaultButton,
    Button,
    Edit,
    // A drop-down list (QComboBox) in the one-line rectangle of a list box: it keeps the
    // layout's size, shows the selected port, and opens to show every port with its stable
    // name in full; a list widget one line high would leave only a tiny scroll bar to choose with.
    PortList,
    Label,
    RadioGroupStart, // first radio of an exclusive group
    Radio,
};

struct ControlTemplate {
    int id; // kNoId for a label
    ControlKind kind;
    const char* text;
    int x, y, w, h; // dialog units
};

inline constexpr int kNoId = -1;

inline constexpr int kIdStart = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdFolder = 1000;
inline constexpr int kIdLatitude = 1001;
inline constexpr int kIdLongitude = 1002;
inline constexpr int kIdLatitudeHemisphere = 1003;
inline constexpr int kIdLongitudeHemisphere = 1004;
inline constexpr int kIdTime = 1005;
inline constexpr int kIdHeight = 1007;
inline constexpr int kIdFolderBrowse = 1011;
inline constexpr int kIdGpsPort = 1012;
inline constexpr int kIdBaseStationPort = 1013;
inline constexpr int kIdPing = 1014;
inline constexpr int kIdSensorFile = 1015;
inline constexpr int kIdEndOfLap = 1016;
inline constexpr int kIdSensorBrowse = 1017;
inline constexpr int kIdNodeId = 1018;
inline constexpr int kIdTestNode = 1019;
inline constexpr int kIdTriggerOnOff = 1022;
inline constexpr int kIdStatus = 1023;
inline constexpr int kIdVehicleType = 1024;
inline constexpr int kIdLoop = 1025;
inline constexpr int kIdBackAndForth = 1026;
inline constexpr int kIdLvr = 1027;
inline constexpr int kIdMainline = 1028;

inline constexpr int kDialogWidth = 335; // dialog units, client area
inline constexpr int kDialogHeight = 232;

// clang-format off
inline constexpr std::array kMainDialogControls{
    ControlTemplate{kIdStart,               ControlKind::DefaultButton,   "Start",          251,  17, 50, 16},
    ControlTemplate{kIdCancel,              ControlKind::Button,          "Cancel",         251,  43, 50, 16},
    ControlTemplate{kIdFolder,              ControlKind::Edit,            "",                77,  22, 78, 15},
    ControlTemplate{kIdFolderBrowse,        ControlKind::Button,          "Browse",         181,  20, 41, 12},
    ControlTemplate{kNoId,                  ControlKind::Label,           "Folder",          24,  22, 23,  8},
    ControlTemplate{kIdGpsPort,             ControlKind::PortList,        "",                77,  45, 71, 10},
    ControlTemplate{kNoId,                  ControlKind::Label,           "GPS Port",        24,  44, 31, 13},
    ControlTemplate{kIdEndOfLap,            ControlKind::Button,          "End of Lap",     181,  43, 43, 14},
    ControlTemplate{kIdSensorFile,          ControlKind::Edit,            "",                77,  63, 97, 12},
    ControlTemplate{kNoId,                  ControlKind::Label,           "Sensor File",     24,  63, 43, 13},
    ControlTemplate{kIdSensorBrowse,        ControlKind::Button,          "Browse",         183,  66, 42, 12},
    ControlTemplate{kIdLvr,                 ControlKind::RadioGroupStart, "LVR",            232,  67, 28, 10},
    ControlTemplate{kIdMainline,            ControlKind::Radio,           "Mainline",       267,  67, 41, 10},
    ControlTemplate{kIdTime,                ControlKind::Edit,            "",                77,  83, 78, 15},
    ControlTemplate{kNoId,                  ControlKind::Label,           "Time",            24,  86, 38, 13},
    ControlTemplate{kIdVehicleType,         ControlKind::Edit,            "",               235,  91, 83, 13},
    ControlTemplate{kNoId,                  ControlKind::Label,           "Vehicle Type",   187,  92, 44,  9},
    ControlTemplate{kIdLatitude,            ControlKind::Edit,            "",                77, 107, 78, 15},
    ControlTemplate{kNoId,                  ControlKind::Label,           "Latitude",        24, 109, 45, 13},
    ControlTemplate{kIdLatitudeHemisphere,  ControlKind::Edit,            "",               177, 109, 23, 12},
    ControlTemplate{kIdLoop,                ControlKind::RadioGroupStart, "Loop",           237, 117, 31, 10},
    ControlTemplate{kIdLongitude,           ControlKind::Edit,            "",                77, 130, 78, 15},
    ControlTemplate{kNoId,                  ControlKind::Label,           "Longitude",       24, 132, 51, 13},
    ControlTemplate{kIdLongitudeHemisphere, ControlKind::Edit,            "",               178, 131, 21, 13},
    ControlTemplate{kIdBackAndForth,        ControlKind::Radio,           "Back and Forth", 237, 130, 64, 10},
    ControlTemplate{kIdHeight,              ControlKind::Edit,            "",                77, 155, 77, 12},
    ControlTemplate{kNoId,                  ControlKind::Label,           "Height",          24, 155, 30, 13},
    ControlTemplate{kIdStatus,              ControlKind::Edit,            "",               207, 156, 95, 12},
    ControlTemplate{kNoId,                  ControlKind::Label,           "Status",         177, 158, 22, 13},
    ControlTemplate{kIdBaseStationPort,     ControlKind::PortList,        "",                77, 179, 80, 11},
    ControlTemplate{kNoId,                  ControlKind::Label,           "Base Station",    24, 178, 51, 13},
    ControlTemplate{kIdPing,                ControlKind::Button,          "Ping",           177, 178, 56, 11},
    ControlTemplate{kIdTriggerOnOff,        ControlKind::Button,          "Trigger On/Off", 250, 176, 58, 12},
    ControlTemplate{kIdNodeId,              ControlKind::Edit,            "",                77, 199, 79, 12},
    ControlTemplate{kNoId,                  ControlKind::Label,           "Node Id",         24, 201, 46, 13},
    ControlTemplate{kIdTestNode,            ControlKind::Button,          "Test Node",      179, 199, 56, 11},
};
// clang-format on

} // namespace ostrim
