#pragma once
// The main dialog's controls in dialog units, in tab order, as C++ constants: kId<name> for each
// control's id and kMainDialogControls for the whole list. The list itself is
// app/DialogControls.def, which the Windows resource script expands too, so the two dialogs
// cannot drift apart; moving a control is a one-line change there.

#include "app/DialogResources.h"

#include <array>

namespace ostrim {

enum class ControlKind {
    DefaultButton,
    Button,
    Edit,
    // A drop-down list (QComboBox; on Windows a CBS_DROPDOWNLIST combo box) in the one-line
    // rectangle of a list box: it keeps the layout's size, shows the selected port, and opens to
    // show every port in full; a list box one line high would leave only a tiny scroll bar to
    // choose with.
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

#define OSTRIM_CONTROL(name, id, kind, text, x, y, w, h) inline constexpr int kId##name = id;
#define OSTRIM_LABEL(text, x, y, w, h)
#include "app/DialogControls.def"
#undef OSTRIM_CONTROL
#undef OSTRIM_LABEL

inline constexpr int kDialogWidth = OSTRIM_MAIN_WIDTH; // dialog units, client area
inline constexpr int kDialogHeight = OSTRIM_MAIN_HEIGHT;
// The run panel below the controls, both dialogs'.
inline constexpr int kPanelIndicatorHeight = OSTRIM_PANEL_INDICATOR_HEIGHT;
inline constexpr int kPanelHeight = OSTRIM_PANEL_HEIGHT;
inline constexpr int kPanelHeaderHeight = OSTRIM_PANEL_HEADER_HEIGHT;

#define OSTRIM_CONTROL(name, id, kind, text, x, y, w, h) \
    ControlTemplate{id, ControlKind::kind, text, x, y, w, h},
#define OSTRIM_LABEL(text, x, y, w, h) ControlTemplate{kNoId, ControlKind::Label, text, x, y, w, h},
inline constexpr std::array kMainDialogControls{
#include "app/DialogControls.def"
};
#undef OSTRIM_CONTROL
#undef OSTRIM_LABEL

} // namespace ostrim
