#pragma once
// The GUI entry: builds the application object and the dialog, wires a run behind it and runs
// the dialog modally until the operator closes it.

#include "app/CommandLine.h"
#include "app/qt/DialogOptions.h"
#include "app/qt/DialogSession.h"

namespace ostrim {

class Demo;

// Whether a window can be shown: an X11 or Wayland display, or a Qt platform named in
// QT_QPA_PLATFORM (offscreen for tests).
bool DisplayAvailable();

// 0 once the dialog has closed; non-zero when it could not be shown or the screenshot could not
// be saved.
int RunDialog(int argc, char** argv, const DialogOptions& options,
              DialogSession::Extras extras = {});

// The dialog as the demo opens it: the simulated devices listed (named as such) and selected,
// the demo's sensor file and folder filled in.
DialogOptions DemoDialogOptions(const Demo& demo);

// `ostrim --demo` with a window: starts the simulated devices, opens the dialog on them and sets
// the vehicle moving when the operator presses Start. Prints the base station's lines.
int RunDemoDialog(int argc, char** argv, const CommandLine& line);

} // namespace ostrim
