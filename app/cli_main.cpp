// ostrim-cli: Ostrim's headless front end as a Windows console program. It takes the options of
// `ostrim --headless` (the --headless itself may be left out), prints the same status lines and
// ends with the same exit codes; Ctrl-C ends a run cleanly.

#include "app/CommandLine.h"
#include "app/ConfigFile.h"
#include "app/Headless.h"
#include "platform/Signals.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

const char kUsage[] = R"(Usage:
  ostrim-cli --gps-port COMn --base-port COMn --sensor-file PATH --folder DIR
             [--mode loop|back-and-forth] [--vehicle-type TEXT] [--trigger on|off]

Does what pressing Start in the dialog does with these values, prints each status text as one
line on standard output, and runs until Ctrl-C (or Ctrl-Break, or the console window closing).
A base station that fails the check at Start is checked again every few seconds, and
triggering comes on when it answers.

Options:
  --gps-port COMn        COM port of the GPS receiver (38400 baud 8N1), e.g. COM3
  --base-port COMn       COM port of the radio base station; without it triggering is off
  --sensor-file PATH     sensor file: one "latitude longitude field node-id-hex" line a sensor
  --folder DIR           folder for the GPS log and the raw log (must exist)
  --mode MODE            loop (default): every sensor once, all re-armed 5 s after the last;
                         back-and-forth: sensors strictly in table order
  --vehicle-type TEXT    first column of the GPS log (default "Dunrel 80k truck")
  --trigger on|off       start with triggering on (default) or off
  --config FILE          the settings of FILE, one VARIABLE=value a line (GPS_PORT,
                         BASE_PORT, SENSOR_FILE, FOLDER, MODE, RULE, VEHICLE_TYPE, TRIGGER),
                         in place of this option: options after it override them
  --help                 show this text
  --version              show the version
)";

} // namespace

int main(int argc, char** argv)
{
    ostrim::IgnoreBrokenPipe();
    std::vector<std::string> args(argv + 1, argv + argc);
    bool wantsHelpOrVersion = false;
    bool headless = false;
    for (const std::string& arg : args) {
        wantsHelpOrVersion = wantsHelpOrVersion || arg == "--help" || arg == "--version";
        headless = headless || arg == "--headless";
        if (arg == "--demo" || arg == "--screenshot") {
            std::fprintf(stderr, "ostrim-cli: %s is not available here; see ostrim-cli --help\n",
                         arg.c_str());
            return 2;
        }
    }
    if (!headless && !wantsHelpOrVersion)
        args.insert(args.begin(), "--headless");

    std::string error;
    const std::vector<std::string> given = args;
    if (!ostrim::ExpandConfigFiles(args, error)) {
        std::fprintf(stderr, "ostrim: %s\n", error.c_str());
        return ostrim::kConfigErrorExit;
    }
    std::optional<ostrim::CommandLine> line = ostrim::ParseCommandLine(args, error);
    if (!line && args != given) {
        std::fprintf(stderr, "ostrim: %s (with the configuration's settings)\n", error.c_str());
        return ostrim::kConfigErrorExit;
    }
    if (!line) {
        std::fprintf(stderr, "ostrim: %s\n\n%s", error.c_str(), kUsage);
        return 2;
    }
    switch (line->mode) {
    case ostrim::CommandLine::Mode::Help:
        std::fputs(kUsage, stdout);
        return 0;
    case ostrim::CommandLine::Mode::Version:
        std::fputs(ostrim::VersionText().c_str(), stdout);
        return 0;
    case ostrim::CommandLine::Mode::Headless:
        return ostrim::RunHeadless(*line);
    default:
        std::fprintf(stderr, "ostrim: only the headless run is available here\n\n%s", kUsage);
        return 2;
    }
}
