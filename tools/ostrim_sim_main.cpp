// ostrim-sim: a GPS receiver and a radio base station on pseudo-terminals, for rehearsing a run
// at a desk and for tests. Prints the two device paths, then one line per base-station event,
// until SIGINT or SIGTERM.

#include "tools/sim/BaseStationSim.h"
#include "tools/sim/GpsReceiverSim.h"
#include "tools/sim/Track.h"

#include <signal.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>
#include <string>

namespace {

using namespace ostrim::sim;

constexpr const char* kHelp =
    "Usage: ostrim-sim [--gps-file FILE [--rate HZ]]\n"
    "                  [--track builtin|FILE [--speed M/S] [--fix-rate HZ]]\n"
    "                  [--base] [--sensor-file FILE [--sensors N]]\n"
    "\n"
    "Simulates the devices Ostrim talks to, each on a pseudo-terminal whose path is printed;\n"
    "give those paths to Ostrim as its GPS port and base-station port.\n"
    "\n"
    "GPS receiver (one of):\n"
    "  --gps-file FILE     play an NMEA capture, line by line, bytes as in the file; lines\n"
    "                      starting with '#' are skipped. Played once.\n"
    "  --rate HZ           lines a second for --gps-file (default 10)\n"
    "  --track builtin|FILE\n"
    "                      drive a track round and round, sending a $GPGGA fix at the fix\n"
    "                      rate. builtin: a 1.1 km loop (400 m by 150 m). FILE: one waypoint a\n"
    "                      line, \"latitude longitude\" in decimal degrees, '#' comments.\n"
    "  --speed M/S         speed along the track (default 13.9, 50 km/h)\n"
    "  --fix-rate HZ       fixes a second (default 10)\n"
    "\n"
    "Base station:\n"
    "  --base              answer the ping (0x01 with 0x01) and print one line per node\n"
    "                      command: time, node id in hex, on or off. Bad checksums, cut-off\n"
    "                      frames and stray bytes are reported, never ignored.\n"
    "\n"
    "  --sensor-file FILE  write a sensor file with four sensors beside the built-in track\n"
    "  --sensors N         with --sensor-file: N sensors (1 to 24) spread evenly round it\n"
    "  --help              show this text\n"
    "\n"
    "With neither a GPS option nor --base, both run: the built-in track and the base station.\n"
    "Runs until interrupted (Ctrl-C) or terminated, then prints what the devices sent and saw.\n"
    "SIGUSR1 makes the receiver stop sending while its port stays open, so a program reading\n"
    "it can take the last sentence before the line goes.\n";

struct Options {
    std::string gpsFile;
    double rate = 0;
    std::string track;
    double speed = 13.9;
    double fixRate = 10.0;
    bool base = false;
    std::string sensorFile;
    int sensors = 0; // 0: the four sensors of the demo
};

bool ParseNumber(const char* text, double* value)
{
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !std::isfinite(v) || v <= 0)
        return false;
    *value = v;
    return true;
}

// 0 to run, 1 for a usage error, 2 after --help.
int ParseOptions(int argc, char** argv, Options* options)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char** out) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "ostrim-sim: %s needs a value\n", arg.c_str());
                return false;
            }
            *out = argv[++i];
            return true;
        };
        auto number = [&](double* out) {
            const char* text = nullptr;
            if (!value(&text))
                return false;
            if (!ParseNumber(text, out)) {
                std::fprintf(stderr, "ostrim-sim: %s needs a positive number, not \"%s\"\n",
                             arg.c_str(), text);
                return false;
            }
            return true;
        };
        const char* text = nullptr;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return 2;
        } else if (arg == "--gps-file") {
            if (!value(&text))
                return 1;
            options->gpsFile = text;
        } else if (arg == "--rate") {
            if (!number(&options->rate))
                return 1;
        } else if (arg == "--track") {
            if (!value(&text))
                return 1;
            options->track = text;
        } else if (arg == "--speed") {
            if (!number(&options->speed))
                return 1;
        } else if (arg == "--fix-rate") {
            if (!number(&options->fixRate))
                return 1;
        } else if (arg == "--base") {
            options->base = true;
        } else if (arg == "--sensors") {
            double count = 0;
            if (!number(&count))
                return 1;
            if (count != std::floor(count) || count > 24) {
                std::fprintf(stderr, "ostrim-sim: --sensors needs a whole number from 1 to 24\n");
                return 1;
            }
            options->sensors = static_cast<int>(count);
        } else if (arg == "--sensor-file") {
            if (!value(&text))
                return 1;
            options->sensorFile = text;
        } else {
            std::fprintf(stderr, "ostrim-sim: unknown option %s (see --help)\n", arg.c_str());
            return 1;
        }
    }
    if (!options->gpsFile.empty() && !options->track.empty()) {
        std::fprintf(stderr, "ostrim-sim: give --gps-file or --track, not both\n");
        return 1;
    }
    if (options->sensors != 0 && options->sensorFile.empty()) {
        std::fprintf(stderr, "ostrim-sim: --sensors goes with --sensor-file\n");
        return 1;
    }
    if (options->gpsFile.empty() && options->track.empty() && !options->base) {
        options->track = "builtin";
        options->base = true;
    }
    return 0;
}

std::mutex printMutex;

void PrintLine(const std::string& line)
{
    std::lock_guard lock(printMutex);
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (int parsed = ParseOptions(argc, argv, &options))
        return parsed == 2 ? 0 : 2;

    if (!options.sensorFile.empty()) {
        std::ofstream out(options.sensorFile);
        out << (options.sensors > 0 ? BuiltinSensorFileText(options.sensors)
                                    : BuiltinSensorFileText());
        if (!out.flush()) {
            std::fprintf(stderr, "ostrim-sim: cannot write %s\n", options.sensorFile.c_str());
            return 1;
        }
    }

    Track track;
    if (options.track == "builtin") {
        track = BuiltinTrack();
    } else if (!options.track.empty()) {
        std::string error;
        if (!LoadTrackFile(options.track, &track, &error)) {
            std::fprintf(stderr, "ostrim-sim: %s\n", error.c_str());
            return 1;
        }
        track.closed = true;
    }

    // The simulators' threads inherit this mask, so the signals reach only sigtimedwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    GpsReceiverSim gps;
    BaseStationSim base;
    std::string error;
    bool gpsOn = !options.gpsFile.empty() || !options.track.empty();
    if (gpsOn) {
        if (!gps.Start(&error)) {
            std::fprintf(stderr, "ostrim-sim: %s\n", error.c_str());
            return 1;
        }
        if (!options.gpsFile.empty() && !gps.PlayFile(options.gpsFile, options.rate, &error)) {
            std::fprintf(stderr, "ostrim-sim: %s\n", error.c_str());
            return 1;
        }
        if (!options.track.empty())
            gps.DriveTrack(track, options.speed, options.fixRate);
        PrintLine("GPS receiver: " + gps.DevicePath());
    }
    if (options.base) {
        base.SetOnLine(PrintLine);
        if (!base.Start(&error)) {
            std::fprintf(stderr, "ostrim-sim: %s\n", error.c_str());
            return 1;
        }
        PrintLine("Base station: " + base.DevicePath());
    }

    bool reportedEnd = false;
    for (;;) {
        timespec look{0, 200'000'000};
        int signal = sigtimedwait(&stopSignals, nullptr, &look);
        if (signal == SIGINT || signal == SIGTERM)
            break;
        if (signal == SIGUSR1 && gpsOn && !reportedEnd) {
            gps.Halt();
            PrintLine("GPS receiver: stopped sending, " + std::to_string(gps.SentencesSent()) +
                      " lines sent");
            reportedEnd = true;
        }
        if (gpsOn && !reportedEnd && gps.Finished()) {
            PrintLine("GPS receiver: file played, " + std::to_string(gps.SentencesSent()) +
                      " lines sent");
            reportedEnd = true;
        }
    }
    gps.Stop();
    base.Stop();
    if (gpsOn)
        PrintLine("GPS receiver: " + std::to_string(gps.SentencesSent()) + " lines sent");
    if (options.base) {
        PrintLine("Base station: " + std::to_string(base.Commands().size()) + " commands, " +
                  std::to_string(base.Pings()) + " pings, " + std::to_string(base.BadFrames()) +
                  " bad frames, " + std::to_string(base.StrayBytes()) + " stray bytes");
    }
    return 0;
}
