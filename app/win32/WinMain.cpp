// Ostrim for Windows: the dialog. Takes the dialog options of the Linux program's command line;
// a run without a window is ostrim-cli.exe.

#include "app/CommandLine.h"
#include "app/win32/MainDialog.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    // The folder browser is a shell object.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    std::string error;
    std::optional<ostrim::CommandLine> line =
        ostrim::ParseCommandLine(std::vector<std::string>(__argv + 1, __argv + __argc), error);
    if (line && line->mode != ostrim::CommandLine::Mode::Dialog) {
        line.reset();
        error = "runs only the dialog: use ostrim-cli.exe for --headless, --help and --version";
    }
    if (!line) {
        MessageBoxA(nullptr, ("ostrim: " + error).c_str(), "Ostrim", MB_OK | MB_ICONERROR);
        return 2;
    }

    ostrim::Win32DialogOptions options;
    options.folder = line->folder;
    options.sensorFile = line->sensorFile;
    if (line->vehicleType)
        options.vehicleType = *line->vehicleType;
    options.gpsPort = line->gpsPort;
    options.basePort = line->basePort;
    const char* echo = std::getenv("OSTRIM_ECHO_STATUS");
    options.echoStatus = echo != nullptr && *echo != '\0';
    if (const char* dump = std::getenv("OSTRIM_PANEL_DUMP"))
        options.panelDump = dump;

    ostrim::MainDialog dialog(std::move(options));
    dialog.Run(instance);
    CoUninitialize();
    return 0;
}
