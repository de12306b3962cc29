#include "app/CommandLine.h"

namespace ostrim {

std::string UsageText()
{
    return R"(Usage:
  ostrim                 open the dialog
  ostrim --demo          rehearse a run against a simulated receiver and base station
                         (headless, printing what happens, where there is no display)
  ostrim --headless --gps-port PATH --base-port PATH --sensor-file PATH --folder DIR
         [--mode loop|back-and-forth] [--vehicle-type TEXT] [--trigger on|off]

Headless mode does what pressing Start in the dialog does with these values, prints each
status text as one line on standard output, and runs until SIGINT or SIGTERM.

Options:
  --headless             run without a window
  --gps-port PATH        serial device of the GPS receiver (38400 baud 8N1), e.g. /dev/ttyUSB0
  --base-port PATH       serial device of the radio base station; without it triggering is off
  --sensor-file PATH     sensor file: one "latitude longitude field node-id-hex" line a sensor
  --folder DIR           folder for the GPS log and the raw log (must exist)
  --mode MODE            loop (default): every sensor once, all re-armed 5 s after the last;
                         back-and-forth: sensors strictly in table order
  --vehicle-type TEXT    first column of the GPS log (default "Dunrel 80k truck")
  --trigger on|off       start with triggering on (default) or off
  --demo                 start the built-in simulator and run against it
  --screenshot FILE      (dialog) save a picture of the window to FILE and quit
  --help                 show this text
)";
}

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args, std::string& error)
{
    CommandLine line;
    bool headless = false;
    bool demo = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size() || args[i + 1].rfind("--", 0) == 0) {
                error = arg + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string text;
        if (arg == "--help" || arg == "-h") {
            line.mode = CommandLine::Mode::Help;
            return line;
        } else if (arg == "--headless") {
            headless = true;
        } else if (arg == "--demo") {
            demo = true;
        } else if (arg == "--gps-port") {
            if (!value(line.gpsPort))
                return std::nullopt;
        } else if (arg == "--base-port") {
            if (!value(line.basePort))
                return std::nullopt;
        } else if (arg == "--sensor-file") {
            if (!value(line.sensorFile))
                return std::nullopt;
        } else if (arg == "--folder") {
            if (!value(line.folder))
                return std::nullopt;
        } else if (arg == "--vehicle-type") {
            // A vehicle type may itself begin with dashes; take the next word whatever it is.
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return std::nullopt;
            }
            line.vehicleType = args[++i];
        } else if (arg == "--mode") {
            if (!value(text))
                return std::nullopt;
            if (text != "loop" && text != "back-and-forth") {
                error = "--mode must be loop or back-and-forth, not \"" + text + "\"";
                return std::nullopt;
            }
            line.backAndForth = text == "back-and-forth";
        } else if (arg == "--trigger") {
            if (!value(text))
                return std::nullopt;
            if (text != "on" && text != "off") {
                error = "--trigger must be on or off, not \"" + text + "\"";
                return std::nullopt;
            }
            line.triggerOn = text == "on";
        } else if (arg == "--screenshot") {
            if (!value(text))
                return std::nullopt;
            line.screenshot = text;
        } else {
            error = "unknown argument \"" + arg + "\"";
            return std::nullopt;
        }
    }

    if (demo) {
        line.mode = CommandLine::Mode::Demo;
        line.forceHeadless = headless;
    } else if (headless) {
        line.mode = CommandLine::Mode::Headless;
        const char* missing = line.gpsPort.empty()      ? "--gps-port"
                              : line.sensorFile.empty() ? "--sensor-file"
                              : line.folder.empty()     ? "--folder"
                                                        : nullptr;
        if (missing != nullptr) {
            error = std::string("--headless needs ") + missing;
            return std::nullopt;
        }
    }
    return line;
}

} // namespace ostrim
