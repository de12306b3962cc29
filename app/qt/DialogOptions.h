#pragma once
// What a front end may set before the dialog opens. Empty texts take the defaults below, so a
// plain start needs nothing; the demo fills the folder, the sensor file and its ports.
// No Qt types here: the command-line parser fills this without knowing Qt.

#include "run/DialogDefaults.h"
#include "platform/PortListen.h"
#include "platform/posix/PortList.h"

#include <string>
#include <vector>

namespace ostrim {

struct DialogOptions {
    std::string folder;     // log folder; empty: DefaultFolder()
    std::string sensorFile; // empty: <folder>/LVR_Cells_VLS.txt
    std::string vehicleType = "Dunrel 80k truck";
    std::string nodeId = "4070BF7B";

    // Where the port lists look for the machine's serial devices; tests use a fake tree.
    PortListRoots portRoots;
    bool listMachinePorts = true;
    // Listed with the machine's ports, e.g. the demo's pseudo-terminals with a description as
    // their stable name.
    std::vector<SerialPortEntry> extraPorts;
    // Device paths to select in the GPS Port and Base Station lists; they win over the rule.
    std::string gpsPort;
    std::string basePort;
    // How the listed ports are listened on for the GPS receiver once the dialog is open (see
    // PortProbe); empty: they are not.
    PortListen listen;

    // Save a picture of the dialog to this PNG once it is shown, then close it.
    std::string screenshot;
    // When positive: press Start first and take the picture this long after, so a run shows.
    int screenshotAfterStartMs = 0;
};

} // namespace ostrim
