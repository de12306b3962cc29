// ostrim-replay: a recorded drive run offline against a sensor layout, through the program's
// own parsing and trigger engine, to see before a test day which sensors a drive would fire.

#include "gps/LogFiles.h"
#include "platform/posix/UniqueFd.h"
#include "tools/replay/Replay.h"
#include "tools/replay/Report.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace ostrim;

constexpr const char* kHelp =
    "Usage: ostrim-replay --sensor-file FILE [options] [INPUT]\n"
    "\n"
    "Replays a recorded NMEA stream (a raw log of a run, a receiver capture; standard input\n"
    "when INPUT is - or left out) through Ostrim's own sentence parsing and trigger engine,\n"
    "without any serial port; the re-arm timers run on the fixes' UTC times. Reports, per\n"
    "sensor and pass (the track within 50 m of it), whether it fired, the closest approach\n"
    "and, for a miss, why.\n"
    "\n"
    "  --sensor-file FILE  the sensor layout, read as Ostrim reads it\n"
    "  --mode MODE         loop (default) or back-and-forth\n"
    "  --threshold METRES  firing distance (default 10)\n"
    "  --rule RULE         on-fix (default): fire at a fix inside the firing region;\n"
    "                      predictive: fire where the path of the last fixes is\n"
    "                      predicted to enter it, late when it was crossed unseen\n"
    "  --receiver-delay MS (predictive) the live program's setting: each fix arrives\n"
    "                      that many milliseconds after its UTC time, and the switch is\n"
    "                      planned that much sooner; 0 (default) to 2000\n"
    "  --csv FILE          write one row a pass\n"
    "  --svg FILE          write a map: the track, each sensor's firing region, firings, misses\n"
    "  --gps-log DIR       write the GPS log the run would have written into DIR\n"
    "  --vehicle-type TEXT first column of that GPS log\n"
    "  --help              show this text\n"
    "\n"
    "Exit status: 0 when every pass fired, 1 when a pass missed, 2 on bad input.\n";

struct Arguments {
    std::string sensorFile;
    std::string input = "-";
    std::string csv;
    std::string svg;
    std::string gpsLogFolder;
    replay::Options options;
};

int Refuse(const std::string& message)
{
    std::fprintf(stderr, "ostrim-replay: %s\n", message.c_str());
    return 2;
}

// Parses argv; on failure returns false with the reason.
bool Parse(int argc, char** argv, Arguments& args, std::string& error, bool& help)
{
    bool haveInput = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string text;
        if (arg == "--help" || arg == "-h") {
            help = true;
            return true;
        } else if (arg == "--sensor-file") {
            if (!value(args.sensorFile))
                return false;
        } else if (arg == "--mode") {
            if (!value(text))
                return false;
            if (text != "loop" && text != "back-and-forth") {
                error = "--mode must be loop or back-and-forth, not \"" + text + "\"";
                return false;
            }
            args.options.backAndForth = text == "back-and-forth";
        } else if (arg == "--threshold") {
            if (!value(text))
                return false;
            char* end = nullptr;
            const double metres = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !std::isfinite(metres) || metres <= 0) {
                error = "--threshold must be a distance in metres above 0, not \"" + text + "\"";
                return false;
            }
            args.options.threshold = metres;
        } else if (arg == "--rule") {
            if (!value(text))
                return false;
            if (text != "on-fix" && text != "predictive") {
                error = "--rule must be on-fix or predictive, not \"" + text + "\"";
                return false;
            }
            args.options.predictive = text == "predictive";
        } else if (arg == "--receiver-delay") {
            if (!value(text))
                return false;
            char* end = nullptr;
            const long ms = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || ms < 0 || ms > kMaxReceiverDelayMs) {
                error = "--receiver-delay must be whole milliseconds from 0 to " +
                        std::to_string(kMaxReceiverDelayMs) + ", not \"" + text + "\"";
                return false;
            }
            args.options.receiverDelayMs = static_cast<int>(ms);
        } else if (arg == "--csv") {
            if (!value(args.csv))
                return false;
        } else if (arg == "--svg") {
            if (!value(args.svg))
                return false;
        } else if (arg == "--gps-log") {
            if (!value(args.gpsLogFolder))
                return false;
        } else if (arg == "--vehicle-type") {
            if (!value(args.options.vehicleType))
                return false;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown argument \"" + arg + "\" (--help lists the options)";
            return false;
        } else {
            if (haveInput) {
                error = "one input only, not \"" + arg + "\" too";
                return false;
            }
            args.input = arg;
            haveInput = true;
        }
    }
    if (args.sensorFile.empty()) {
        error = "--sensor-file is needed (--help lists the options)";
        return false;
    }
    return true;
}

// A raw log's name carries the minute its run started; the GPS log of a replay gets the same
// name and date. Anything else replays as if started now.
std::time_t RunStart(const std::string& input)
{
    const std::string name = std::filesystem::path(input).filename().string();
    int hour = 0, minute = 0, day = 0, month = 0, year = 0, length = 0;
    if (std::sscanf(name.c_str(), "%2d_%2d-%2d-%2d-%4d-Raw-GPS-Data.txt%n", &hour, &minute, &day, &month,
                    &year, &length) == 5 &&
        static_cast<std::size_t>(length) == name.size()) {
        std::tm local{};
        local.tm_year = year - 1900;
        local.tm_mon = month - 1;
        local.tm_mday = day;
        local.tm_hour = hour;
        local.tm_min = minute;
        local.tm_isdst = -1;
        const std::time_t t = std::mktime(&local);
        if (t != -1)
            return t;
    }
    return std::time(nullptr);
}

bool WriteText(const std::string& path, const std::string& text, std::string& error)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Arguments args;
    std::string error;
    bool help = false;
    if (!Parse(argc, argv, args, error, help))
        return Refuse(error);
    if (help) {
        std::fputs(kHelp, stdout);
        return 0;
    }

    UniqueFd inputFd(args.input == "-" ? ::dup(STDIN_FILENO)
                                       : ::open(args.input.c_str(), O_RDONLY | O_CLOEXEC));
    if (!inputFd.Valid())
        return Refuse("cannot read " + args.input + ": " + std::strerror(errno));

    std::string gpsLog;
    if (!args.gpsLogFolder.empty()) {
        if (!std::filesystem::is_directory(args.gpsLogFolder))
            return Refuse("--gps-log needs an existing folder, not \"" + args.gpsLogFolder + "\"");
        gpsLog = MakeLogPath(args.gpsLogFolder, kGpsLogFormat, RunStart(args.input));
        // A replay's log holds that replay only, even where an earlier one left the same name.
        UniqueFd created(::open(gpsLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!created.Valid())
            return Refuse("cannot create " + gpsLog + ": " + std::strerror(errno));
        args.options.gpsLogPath = gpsLog;
        args.options.logTime = RunStart(args.input);
    }

    replay::Replayer replayer(args.options);
    if (!replayer.LoadSensors(args.sensorFile, error))
        return Refuse(error);

    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t n = ::read(inputFd.Get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Refuse("cannot read " + args.input + ": " + std::strerror(errno));
        if (n == 0)
            break;
        replayer.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    }

    const replay::Result result = replayer.Finish();
    const replay::Summary summary = replay::Summarise(result);
    std::printf("%zu sensors, %s mode, threshold %.1f m, rule %s\n", result.sensors.size(),
                args.options.backAndForth ? "back-and-forth" : "loop", args.options.threshold,
                args.options.predictive ? "predictive" : "on-fix");
    std::fputs(replay::TextReport(result, summary).c_str(), stdout);
    if (!gpsLog.empty())
        std::printf("GPS log: %s\n", gpsLog.c_str());

    if (!args.csv.empty() && !WriteText(args.csv, replay::CsvReport(result), error))
        return Refuse(error);
    if (!args.svg.empty() && !WriteText(args.svg, replay::SvgMap(result), error))
        return Refuse(error);
    return summary.misses > 0 ? 1 : 0;
}
