// ostrim-cli: Ostrim's headless front end as a Windows console program. It takes the options of
// `ostrim --headless` (the --headless itself may be left out), prints the same status lines and
// ends with the same exit codes; Ctrl-C ends a run cleanly.

#include "app/CommandLine.h"
#include "app/Headless.h"
#include "platform/Signals.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

const char kUsage[] = R"(Usage:
  ostrim-cli --gps-port COMn --base-port COMn --sensor-file PATH --folder DIR
             [--mode loop|back-and-forth] [--rule on-fix|predictive] [--receiver-delay MS]
             [--vehicle-type TEXT] [--trigger on|off]

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
  --rule RULE            on-fix (default): a sensor fires at the first fix inside its firing
                         region; predictive: it fires where the path of the last fixes is
                         predicted to enter the region, or at once (late) when a fix shows
                         the path crossed it unseen
  --receiver-delay MS    (predictive) milliseconds from a fix's UTC time to its arrival
                         here, 0 (default) to 2000: the switch comes that much sooner
  --vehicle-type TEXT    first column of the GPS log (default "Dunrel 80k truck")
  --trigger on|off       start with triggering on (default) or off
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
    std::optional<ostrim::CommandLine> line = ostrim::ParseCommandLine(args, error);
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
