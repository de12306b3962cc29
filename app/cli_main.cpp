// ostrim-cli: Ostrim's headless front end as a Windows console program. It takes the options of
// `ostrim --headless` (the --headless itself may be left out), prints the same status lines and
// ends with the same exit codes; Ctrl-C or Q ends a run cleanly, T and L are Trigger On/Off and
// End of Lap.

#include "app/CommandLine.h"
#include "app/ConfigFile.h"
#include "app/Headless.h"
#include "platform/Signals.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

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
        std::fprintf(stderr, "ostrim: %s\n\n%s", error.c_str(), ostrim::ConsoleUsageText().c_str());
        return 2;
    }
    switch (line->mode) {
    case ostrim::CommandLine::Mode::Help:
        std::fputs(ostrim::ConsoleUsageText().c_str(), stdout);
        return 0;
    case ostrim::CommandLine::Mode::Version:
        std::fputs(ostrim::VersionText().c_str(), stdout);
        return 0;
    case ostrim::CommandLine::Mode::Headless:
        return ostrim::RunHeadless(*line);
    default:
        std::fprintf(stderr, "ostrim: only the headless run is available here\n\n%s", ostrim::ConsoleUsageText().c_str());
        return 2;
    }
}
