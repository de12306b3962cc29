#pragma once
// A dialog ready to Start a run: one sensor in a scratch folder and a pseudo-terminal standing in
// for the GPS receiver, with the machine's own ports left out of the lists. The base station is a
// device that is not there, so the run logs with triggering off.

#include "app/qt/DialogOptions.h"
#include "platform/posix/PseudoTerminal.h"
#include "tests/support/ScratchFolder.h"

namespace ostrim::test {

inline DialogOptions OneSensorRunOptions(const ScratchFolder& folder, const PseudoTerminal& receiver)
{
    WriteFile(folder / "sensors.txt", "52.2400360 6.8515274 S1 4070BF7B\n");
    DialogOptions options;
    options.listMachinePorts = false;
    options.folder = folder.Path().string();
    options.sensorFile = folder / "sensors.txt";
    options.gpsPort = receiver.SlavePath();
    options.basePort = folder / "no-base-station";
    return options;
}

} // namespace ostrim::test
