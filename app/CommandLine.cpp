#include "app/CommandLine.h"

#include "app/Version.h"
#include "run/ControlProtocol.h"
#include "runstate/RunState.h"

#include <cstdlib>

namespace ostrim {
namespace {

// The options of a run, the same in both programs' help.
constexpr const char* kRunOptions = R"(  --mode MODE            loop (default): every sensor once, all re-armed 5 s after the last;
                         back-and-forth: sensors strictly in table order
  --rule RULE            on-fix (default): a sensor fires at the first fix inside its firing
                         region; predictive: it fires where the path of the last fixes is
                         predicted to enter the region, or at once (late) when a fix shows
                         the path crossed it unseen
  --receiver-delay MS    (predictive) milliseconds from a fix's UTC time to its arrival
                         here, 0 (default) to 2000: the switch comes that much sooner
  --vehicle-type TEXT    first column of the GPS log (default "Dunrel 80k truck")
  --trigger on|off       start with triggering on (default) or off
)";

} // namespace

std::string UsageText()
{
    return std::string(R"(Usage:
  ostrim [--gps-port PATH] [--base-port PATH] [--sensor-file PATH] [--folder DIR]
         [--vehicle-type TEXT]
                         open the dialog, these values filled in: a named port is listed
                         (also when absent from the machine) and selected
  ostrim --demo [--headless] [--laps N] [--folder DIR] [--screenshot FILE]
                         rehearse a run against a simulated receiver and base station
                         (headless, printing what happens, where there is no display)
  ostrim --headless --gps-port PATH --base-port PATH --sensor-file PATH --folder DIR
         [--mode loop|back-and-forth] [--rule on-fix|predictive] [--receiver-delay MS]
         [--vehicle-type TEXT] [--trigger on|off] [--name NAME] [--config FILE]
  ostrim ctl NAME status|trigger on|trigger off|lap|reload-sensors
                         steer the headless run started with --name NAME

Headless mode does what pressing Start in the dialog does with these values, prints each
status text as one line on standard output, and runs until SIGINT or SIGTERM. A base station
that fails the check at Start is checked again every few seconds, and triggering comes on
when it answers. Signals stand in for the dialog's buttons:
  kill -USR1 PID         Trigger On/Off ("Trigger on" or "Trigger off")
  kill -USR2 PID         End of Lap: a new GPS log ("End of Lap: " and its name)
  kill -HUP PID          Reload sensors: the sensor file read again, in force from the next
                         fix; each change printed ("Sensors not reloaded: ..." if it fails)
Records that could not be written during the run go to $XDG_STATE_HOME/ostrim/rescue/<start>
(else ~/.local/state/ostrim/rescue/<start>) at the end. Exit status: 0 after a signal, 2 the
GPS port did not open, 3 the logs could not be created, 4 held records were lost.

A run started with --name NAME also takes requests from `ostrim ctl NAME COMMAND` on the
socket $XDG_RUNTIME_DIR/ostrim/NAME.sock (the service's: /run/ostrim/NAME.sock, which the
group ostrim may use):
  status                 the run panel as text: the state indicator, fixes logged and held,
                         the last fix, the logs, each sensor's state and the last events
  trigger on             switch triggering on, or leave it on ("Trigger on")
  trigger off            switch triggering off, or leave it off ("Trigger off")
  lap                    End of Lap: a new GPS log
  reload-sensors         Reload sensors: each change, or why the table in force stays
It prints the run's reply and exits 0; 1 when the run refused the request (the reason on
standard error), 2 when no run of that name could be asked.

Options:
  --headless             run without a window
  --gps-port PATH        serial device of the GPS receiver (38400 baud 8N1), e.g. /dev/ttyUSB0
  --base-port PATH       serial device of the radio base station; without it triggering is off
  --sensor-file PATH     sensor file: one "latitude longitude field node-id-hex" line a sensor
  --folder DIR           folder for the GPS log, the raw log and the event log (must exist);
                         with --demo,
                         where the demo writes its sensor file, track and logs (made if
                         missing; default $XDG_STATE_HOME/ostrim/demo, else
                         ~/.local/state/ostrim/demo)
)")
           + kRunOptions + R"(  --name NAME            (headless) the run's name, for `ostrim ctl NAME`: letters,
                         digits and ._:@- (the service passes its instance name)
  --config FILE          the settings of FILE, one VARIABLE=value a line (GPS_PORT,
                         BASE_PORT, SENSOR_FILE, FOLDER, MODE, RULE, RECEIVER_DELAY,
                         VEHICLE_TYPE, TRIGGER), in place of this option: options after
                         it override them. A file
                         that is not plain (an unknown variable, a bad value) ends the
                         program with status 78
  --demo                 start the built-in simulator and run against it: the dialog
                         opens with the simulated ports, sensor file and log folder filled
                         in; headless, it presses Start itself and drives --laps laps
  --laps N               (headless demo) laps of the 700 m demo track, 28 s each (default
                         2); 0 drives until SIGINT or SIGTERM
  --screenshot FILE      (dialog) save a picture of the window to FILE and quit; with --demo
                         Start is pressed first and the picture taken a few seconds later
  --help                 show this text
  --version              show the version
)";
}

std::string ConsoleUsageText()
{
    return std::string(R"(Usage:
  ostrim-cli --gps-port COMn --base-port COMn --sensor-file PATH --folder DIR
             [--mode loop|back-and-forth] [--rule on-fix|predictive] [--receiver-delay MS]
             [--vehicle-type TEXT] [--trigger on|off] [--config FILE]

Does what pressing Start in the dialog does with these values, prints each status text as one
line on standard output, and runs until Ctrl-C (or Ctrl-Break, or the console window closing).
A base station that fails the check at Start is checked again every few seconds, and
triggering comes on when it answers. Keys in the console stand in for the dialog's buttons
(from a pipe or a file, its characters do):
  T                      Trigger On/Off ("Trigger on" or "Trigger off")
  L                      End of Lap: a new GPS log ("End of Lap: " and its name)
  R                      Reload sensors: the sensor file read again, in force from the next
                         fix; each change printed ("Sensors not reloaded: ..." if it fails)
  Q or Ctrl-C            end the run and print its summary
Records that could not be written during the run go to %LOCALAPPDATA%\Ostrim\rescue\<start>
at the end. Exit status: 0 after Ctrl-C or Q, 2 the GPS port did not open, 3 the logs could
not be created, 4 held records were lost.

Options:
  --gps-port COMn        COM port of the GPS receiver (38400 baud 8N1), e.g. COM3
  --base-port COMn       COM port of the radio base station; without it triggering is off
  --sensor-file PATH     sensor file: one "latitude longitude field node-id-hex" line a sensor
  --folder DIR           folder for the GPS log, the raw log and the event log (must exist)
)")
           + kRunOptions + R"(  --config FILE          the settings of FILE, one VARIABLE=value a line (GPS_PORT,
                         BASE_PORT, SENSOR_FILE, FOLDER, MODE, RULE, RECEIVER_DELAY,
                         VEHICLE_TYPE, TRIGGER), in place of this option: options after it
                         override them
  --help                 show this text
  --version              show the version
)";
}

std::string VersionText()
{
    return std::string("ostrim ") + kVersion + "\n";
}

namespace {

// --receiver-delay's value: whole milliseconds from 0 to kMaxReceiverDelayMs.
bool ParseReceiverDelay(const std::string& text, int& ms, std::string& error)
{
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > kMaxReceiverDelayMs) {
        error = "--receiver-delay must be whole milliseconds from 0 to " + std::to_string(kMaxReceiverDelayMs) +
                ", not \"" + text + "\"";
        return false;
    }
    ms = static_cast<int>(value);
    return true;
}

constexpr char kRunNameRule[] =
    " (letters, digits and ._:@- up to 64 characters, not starting with a dot)";

} // namespace

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args, std::string& error)
{
    CommandLine line;
    if (!args.empty() && args[0] == "ctl") {
        if (args.size() < 3) {
            error = "ctl needs the name of a run and a command, e.g. ostrim ctl north status";
            return std::nullopt;
        }
        if (!IsValidRunName(args[1])) {
            error = "\"" + PrintableText(args[1]) + "\" is no run name" + kRunNameRule;
            return std::nullopt;
        }
        line.mode = CommandLine::Mode::Control;
        line.controlName = args[1];
        for (std::size_t i = 2; i < args.size(); ++i)
            line.controlCommand += (i > 2 ? " " : "") + args[i];
        return line;
    }
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
        } else if (arg == "--version") {
            line.mode = CommandLine::Mode::Version;
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
        } else if (arg == "--rule") {
            if (!value(text))
                return std::nullopt;
            if (text != "on-fix" && text != "predictive") {
                error = "--rule must be on-fix or predictive, not \"" + text + "\"";
                return std::nullopt;
            }
            line.predictive = text == "predictive";
        } else if (arg == "--receiver-delay") {
            if (!value(text) || !ParseReceiverDelay(text, line.receiverDelayMs, error))
                return std::nullopt;
        } else if (arg == "--trigger") {
            if (!value(text))
                return std::nullopt;
            if (text != "on" && text != "off") {
                error = "--trigger must be on or off, not \"" + text + "\"";
                return std::nullopt;
            }
            line.triggerOn = text == "on";
        } else if (arg == "--laps") {
            if (!value(text))
                return std::nullopt;
            char* end = nullptr;
            long laps = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || laps < 0 || laps > 1000) {
                error = "--laps must be a whole number from 0 to 1000, not \"" + text + "\"";
                return std::nullopt;
            }
            line.laps = static_cast<int>(laps);
        } else if (arg == "--name") {
            if (!value(text))
                return std::nullopt;
            if (!IsValidRunName(text)) {
                error = "--name must be a run name" + std::string(kRunNameRule) + ", not \"" +
                        PrintableText(text) + "\"";
                return std::nullopt;
            }
            line.name = text;
        } else if (arg == "--screenshot") {
            if (!value(text))
                return std::nullopt;
            line.screenshot = text;
        } else {
            error = "unknown argument \"" + arg + "\"";
            return std::nullopt;
        }
    }

    if (line.name && (demo || !headless)) {
        error = "--name is for --headless";
        return std::nullopt;
    }
    if (demo) {
        // The demo brings its own devices and sensor file; taking the operator's would
        // rehearse nothing.
        const char* own = !line.gpsPort.empty()      ? "--gps-port"
                          : !line.basePort.empty()   ? "--base-port"
                          : !line.sensorFile.empty() ? "--sensor-file"
                                                     : nullptr;
        if (own != nullptr) {
            error = std::string(own) + " cannot be used with --demo, which simulates its own";
            return std::nullopt;
        }
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
