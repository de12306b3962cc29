// ostrim-replay: a recorded drive run offline against a sensor layout, through the program's
// own parsing and trigger engine, to see before a test day which sensors a drive would fire.

#include "gps/LogFiles.h"
#include "runstate/DialogFields.h"
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
#include <string>
#include <system_error>
#include <utility>
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
    "Every input is read and checked before anything is written, and no file that exists\n"
    "is written over: an output that exists is refused, with exit status 2.\n"
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
    "  --gps-log DIR       write the GPS log the run would have written into DIR, named\n"
    "                      HH_MM-DD-MM-YYYY-Replay-GPS-Data.txt (the time of the raw log's\n"
    "                      name, else now). Laps are not split: the whole recording goes\n"
    "                      into one file, where the run began a new log at each End of Lap\n"
    "  --vehicle-type TEXT first column of that GPS log; without it, the vehicle type of the\n"
    "                      run's GPS log (--run-gps-log, or the HH_MM-DD-MM-YYYY-GPS-Data.txt\n"
    "                      beside a raw log of that name), else \"Dunrel 80k truck\"\n"
    "  --run-gps-log FILE  the run's own GPS log, read for its vehicle type\n"
    "  --events FILE       write an event log in the live run's format: the sensors\n"
    "                      loaded, each node's on and off frames, the misses, quality 0;\n"
    "                      the result column says \"replayed\" (no base station took the\n"
    "                      frames) and the local time is empty, so a run's event log and\n"
    "                      its replay's compare on the fix UTC, event, sensor, node, rule,\n"
    "                      kind and vehicle columns\n"
    "  --help              show this text\n"
    "\n"
    "Exit status: 0 when every pass fired, 1 when a pass missed, 2 on bad input or an\n"
    "output that cannot be written.\n";

struct Arguments {
    std::string sensorFile;
    std::string input = "-";
    std::string csv;
    std::string svg;
    std::string gpsLogFolder;
    std::string runGpsLog;
    std::string events;
    bool vehicleTypeGiven = false;
    replay::Options options;
};

// The replay's own GPS log: never the name of a run's.
constexpr char kReplayGpsLogFormat[] = "/%H_%M-%d-%m-%Y-Replay-GPS-Data.txt";

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
            args.vehicleTypeGiven = true;
        } else if (arg == "--events") {
            if (!value(args.events))
                return false;
        } else if (arg == "--run-gps-log") {
            if (!value(args.runGpsLog))
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

// The run's GPS log beside a raw log named as the run names it, empty for any other input.
std::string RunGpsLogBeside(const std::string& input)
{
    const std::filesystem::path path(input);
    const std::string name = path.filename().string();
    const std::string suffix = "-Raw-GPS-Data.txt";
    if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return {};
    return (path.parent_path() / (name.substr(0, name.size() - suffix.size()) + "-GPS-Data.txt")).string();
}

// The whole of a file, or standard input for "-". False with the reason.
bool ReadAll(const std::string& path, std::string& text, std::string& error)
{
    UniqueFd fd(path == "-" ? ::dup(STDIN_FILENO) : ::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = "cannot read " + path + ": " + std::strerror(errno);
            return false;
        }
        if (n == 0)
            return true;
        text.append(buffer.data(), static_cast<std::size_t>(n));
    }
}

// The vehicle type of a run's GPS log: the first column of its first record. A record ends in
// nine columns of its own (date, time in three, latitude and its letter, longitude and its
// letter, height), so a vehicle type with commas in it comes back whole.
bool VehicleTypeOf(const std::string& path, std::string& vehicleType, std::string& error)
{
    std::string text;
    if (!ReadAll(path, text, error))
        return false;
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    std::vector<std::size_t> commas;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == ',')
            commas.push_back(i);
    }
    if (commas.size() < 9) {
        error = path + " holds no GPS log record to take the vehicle type from";
        return false;
    }
    vehicleType = line.substr(0, commas[commas.size() - 9]);
    return true;
}

// Creates `path` for this replay alone: a file that exists is refused, never written over.
bool CreateNew(const std::string& path, UniqueFd& fd, std::string& error)
{
    fd = UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (fd.Valid())
        return true;
    error = errno == EEXIST ? "refusing to write over " + path + ": it exists"
                            : "cannot create " + path + ": " + std::strerror(errno);
    return false;
}

bool WriteText(const std::string& path, const std::string& text, std::string& error)
{
    UniqueFd fd;
    if (!CreateNew(path, fd, error))
        return false;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd.Get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = "cannot write " + path + ": " + std::strerror(errno);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd.Release()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// An output to be written later: refused now if it exists or its folder does not, so that a
// refusal leaves nothing behind.
bool CheckOutput(const std::string& option, const std::string& path, std::string& error)
{
    std::error_code ec;
    if (std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found) {
        error = "refusing to write over " + path + " (" + option + "): it exists";
        return false;
    }
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty())
        folder = ".";
    if (!std::filesystem::is_directory(folder, ec)) {
        error = "cannot write " + path + " (" + option + "): no folder " + folder.string();
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

    // Every input first: nothing is created until all of them have been read and checked.
    std::string recording;
    if (!ReadAll(args.input, recording, error))
        return Refuse(error);
    // The vehicle type, for a GPS log: given, else the run's (a log named, or the one found
    // beside a raw log), else the dialog's default.
    std::string vehicleTypeFrom = "--vehicle-type";
    if (!args.vehicleTypeGiven) {
        args.options.vehicleType = kDefaultVehicleType;
        vehicleTypeFrom = "the default";
        if (!args.runGpsLog.empty()) {
            if (!VehicleTypeOf(args.runGpsLog, args.options.vehicleType, error))
                return Refuse(error);
            vehicleTypeFrom = args.runGpsLog;
        } else if (!args.gpsLogFolder.empty()) {
            const std::string beside = RunGpsLogBeside(args.input);
            std::error_code ec;
            if (!beside.empty() && std::filesystem::is_regular_file(beside, ec)) {
                if (VehicleTypeOf(beside, args.options.vehicleType, error))
                    vehicleTypeFrom = beside;
                else
                    std::fprintf(stderr, "ostrim-replay: %s; vehicle type \"%s\"\n", error.c_str(),
                                 kDefaultVehicleType);
            }
        }
    }

    std::string gpsLog;
    if (!args.gpsLogFolder.empty()) {
        if (!std::filesystem::is_directory(args.gpsLogFolder))
            return Refuse("--gps-log needs an existing folder, not \"" + args.gpsLogFolder + "\"");
        args.options.logTime = RunStart(args.input);
        gpsLog = MakeLogPath(args.gpsLogFolder, kReplayGpsLogFormat, args.options.logTime);
        args.options.gpsLogPath = gpsLog;
    }
    args.options.events = !args.events.empty();
    replay::Replayer replayer(args.options);
    if (!replayer.LoadSensors(args.sensorFile, error))
        return Refuse(error);
    for (const std::string& warning : replayer.SensorWarnings())
        std::fprintf(stderr, "ostrim-replay: %s: %s\n", args.sensorFile.c_str(), warning.c_str());

    // Then the outputs, so that a refusal leaves nothing behind.
    const std::pair<const char*, std::string> outputs[] = {
        {"--gps-log", gpsLog}, {"--csv", args.csv}, {"--svg", args.svg}, {"--events", args.events}};
    for (std::size_t i = 0; i < std::size(outputs); ++i) {
        if (outputs[i].second.empty())
            continue;
        if (!CheckOutput(outputs[i].first, outputs[i].second, error))
            return Refuse(error);
        for (std::size_t j = 0; j < i; ++j) {
            if (outputs[j].second == outputs[i].second)
                return Refuse(std::string(outputs[i].first) + " names the same file as " + outputs[j].first + ": " +
                              outputs[i].second);
        }
    }
    if (!gpsLog.empty()) {
        UniqueFd created;
        if (!CreateNew(gpsLog, created, error))
            return Refuse(error);
    }
    replayer.Feed(recording);
    const replay::Result result = replayer.Finish();
    const replay::Summary summary = replay::Summarise(result);
    std::printf("%zu sensors, %s mode, threshold %.1f m, rule %s\n", result.sensors.size(),
                args.options.backAndForth ? "back-and-forth" : "loop", args.options.threshold,
                args.options.predictive ? "predictive" : "on-fix");
    std::fputs(replay::TextReport(result, summary).c_str(), stdout);
    if (!gpsLog.empty()) {
        std::printf("GPS log: %s (vehicle type \"%s\" from %s)\n", gpsLog.c_str(),
                    args.options.vehicleType.c_str(), vehicleTypeFrom.c_str());
        const std::string logError = replayer.GpsLogError();
        if (!logError.empty())
            return Refuse("cannot write " + gpsLog + ": " + logError);
    }
    std::fflush(stdout);

    if (!args.csv.empty() && !WriteText(args.csv, replay::CsvReport(result), error))
        return Refuse(error);
    if (!args.svg.empty() && !WriteText(args.svg, replay::SvgMap(result), error))
        return Refuse(error);
    if (!args.events.empty() && !WriteText(args.events, replayer.EventLog(), error))
        return Refuse(error);
    return summary.misses > 0 ? 1 : 0;
}
