// Ostrim: switches roadside sensor nodes as a test vehicle passes them, and logs its GPS track.

#include "app/CommandLine.h"
#include "app/ConfigFile.h"
#include "app/Ctl.h"
#include "app/Demo.h"
#include "app/Headless.h"
#include "app/qt/RunDialog.h"
#include "platform/PortListen.h"
#include "platform/Signals.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

ostrim::DialogOptions DialogOptionsOf(const ostrim::CommandLine& line)
{
    ostrim::DialogOptions options;
    options.folder = line.folder;
    options.sensorFile = line.sensorFile;
    if (line.vehicleType)
        options.vehicleType = *line.vehicleType;
    options.gpsPort = line.gpsPort;
    options.basePort = line.basePort;
    options.screenshot = line.screenshot.value_or("");
    options.listen = ostrim::ListenOnSerialPort;
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    // Standard output may be a pipe whose reader leaves (`| head`); the run must go on.
    ostrim::IgnoreBrokenPipe();
    std::string error;
    std::vector<std::string> args(argv + 1, argv + argc);
    const std::vector<std::string> given = args;
    if (!ostrim::ExpandConfigFiles(args, error)) {
        std::fprintf(stderr, "ostrim: %s\n", error.c_str());
        return ostrim::kConfigErrorExit;
    }
    std::optional<ostrim::CommandLine> line = ostrim::ParseCommandLine(args, error);
    if (!line) {
        if (args != given) { // what the configuration left out, or what it cannot be used with
            std::fprintf(stderr, "ostrim: %s (with the configuration's settings)\n", error.c_str());
            return ostrim::kConfigErrorExit;
        }
        std::fprintf(stderr, "ostrim: %s\n\n%s", error.c_str(), ostrim::UsageText().c_str());
        return 2;
    }
    switch (line->mode) {
    case ostrim::CommandLine::Mode::Help:
        std::fputs(ostrim::UsageText().c_str(), stdout);
        return 0;
    case ostrim::CommandLine::Mode::Version:
        std::fputs(ostrim::VersionText().c_str(), stdout);
        return 0;
    case ostrim::CommandLine::Mode::Headless:
        return ostrim::RunHeadless(*line);
    case ostrim::CommandLine::Mode::Control:
        return ostrim::RunCtl(*line);
    case ostrim::CommandLine::Mode::Demo:
        if (line->forceHeadless || !ostrim::DisplayAvailable())
            return ostrim::RunDemoHeadless(*line);
        return ostrim::RunDemoDialog(argc, argv, *line);
    case ostrim::CommandLine::Mode::Dialog:
        break;
    }
    if (!ostrim::DisplayAvailable()) {
        std::fprintf(stderr, "ostrim: no display to open the dialog on (DISPLAY is not set); "
                             "use --headless or --demo\n");
        return 2;
    }
    return ostrim::RunDialog(argc, argv, DialogOptionsOf(*line));
}
