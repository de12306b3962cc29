#pragma once
// The GUI entry: builds the application object and the dialog, wires a run behind it and runs
// the dialog modally until the operator closes it.

#include "app/qt/DialogOptions.h"

namespace ostrim {

// Whether a window can be shown: an X11 or Wayland display, or a Qt platform named in
// QT_QPA_PLATFORM (offscreen for tests).
bool DisplayAvailable();

// 0 once the dialog has closed; non-zero when it could not be shown or the screenshot could not
// be saved.
int RunDialog(int argc, char** argv, const DialogOptions& options);

} // namespace ostrim
