#pragma once
// The program's command line: the dialog by default, --headless for vehicles without a screen,
// --demo for a rehearsal against the built-in simulator, `ctl` to steer a headless run.

#include <optional>
#include <string>
#include <vector>

namespace ostrim {

struct CommandLine {
    enum class Mode { Dialog, Headless, Demo, Control, Help, Version };
    Mode mode = Mode::Dialog;
    bool forceHeadless = false; // --demo --headless: no window even where there is a display

    std::string gpsPort;
    std::string basePort;
    std::string sensorFile;
    std::string folder;
    bool backAndForth = false;
    bool triggerOn = true;
    bool predictive = false; // --rule predictive
    int receiverDelayMs = 0; // --receiver-delay
    std::optional<std::string> vehicleType;
    std::optional<std::string> screenshot; // dialog: save a picture of the window and quit
    int laps = 2;                          // headless demo: laps to drive; 0 until a signal
    // Headless: the run's name, for its control socket (the service's instance name).
    std::optional<std::string> name;
    // ctl: the run asked and the request, its words joined by single spaces.
    std::string controlName;
    std::string controlCommand;
};

// Parses argv[1..]; on a bad argument returns nothing and puts the reason into `error`.
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args, std::string& error);

std::string UsageText();
// ostrim-cli's, the Windows console program's: the headless options, and its keys.
std::string ConsoleUsageText();

// "ostrim <version>" and a line feed, as --version prints it.
std::string VersionText();

} // namespace ostrim
