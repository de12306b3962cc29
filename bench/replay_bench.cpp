// replay_bench: how long ostrim-replay's core takes over an hour's drive at ten fixes a second
// past 24 sensors (the table's capacity), in each mode and under each firing rule, with the goal
// of half a second on one core; then over 200,000 fixes of a drive that makes many passes and
// firings (three times the speed round the same track, so a pass by each of the 24 sensors every
// 27 s), with the goal of one second: the pass analysis must grow with the fixes alone, not with
// passes times firings.
// Prints figures; not a test.

#include "sensors/SensorFile.h"
#include "tools/replay/Replay.h"
#include "tools/replay/Report.h"
#include "tools/sim/Nmea.h"
#include "tools/sim/Track.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace {

using namespace ostrim;
using Clock = std::chrono::steady_clock;

constexpr int kFixes = 36000;      // one hour at 10 fixes a second
constexpr double kSpeed = 13.9;    // m/s, 50 km/h: a lap of the built-in track every 80 s
constexpr int kRepeats = 5;

double CpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct Drive {
    const char* name;
    int fixes;
    double speed; // m/s
    double goal;  // seconds
};

// Replays the drive in each mode and under each rule; false if a report came out empty.
bool Measure(const Drive& drive, const std::vector<SensorEntry>& sensors)
{
    const sim::Track track = sim::BuiltinTrack();
    const auto start = std::chrono::system_clock::from_time_t(1714557600); // 2024-05-01 10:00 UTC
    std::string nmea;
    nmea.reserve(static_cast<std::size_t>(drive.fixes) * 80);
    for (int k = 0; k < drive.fixes; ++k) {
        auto [lat, lon] = sim::PositionAlong(track, drive.speed * k / 10.0);
        nmea += sim::FormatGga(start + std::chrono::milliseconds(100 * k), lat, lon);
    }

    std::printf("replay_bench: %s, %d fixes (%.1f MB of NMEA), %zu sensors, goal <= %.3f s\n", drive.name,
                drive.fixes, static_cast<double>(nmea.size()) / 1e6, sensors.size(), drive.goal);
    for (bool predictive : {false, true}) {
        for (bool backAndForth : {false, true}) {
            std::vector<double> wall;
            std::vector<double> cpu;
            replay::Summary summary;
            double reportSeconds = 0;
            for (int r = 0; r < kRepeats; ++r) {
                const double cpu0 = CpuSeconds();
                const auto t0 = Clock::now();
                replay::Options options;
                options.backAndForth = backAndForth;
                options.predictive = predictive;
                replay::Replayer replayer(options);
                replayer.SetSensors(sensors);
                replayer.Feed(nmea);
                const replay::Result result = replayer.Finish();
                summary = replay::Summarise(result);
                wall.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
                cpu.push_back(CpuSeconds() - cpu0);

                const auto t1 = Clock::now();
                const std::size_t bytes = replay::TextReport(result, summary).size() +
                                          replay::CsvReport(result).size() + replay::SvgMap(result).size();
                reportSeconds = std::chrono::duration<double>(Clock::now() - t1).count();
                if (bytes == 0)
                    return false;
            }
            std::sort(wall.begin(), wall.end());
            std::sort(cpu.begin(), cpu.end());
            const std::string name = std::string(backAndForth ? "back-and-forth" : "loop") +
                                     (predictive ? ", predictive" : ", on-fix");
            std::printf("  %-26s replay: wall min %.3f s, median %.3f s; cpu median %.3f s; %.0f fixes/s\n",
                        name.c_str(), wall.front(), wall[kRepeats / 2], cpu[kRepeats / 2],
                        drive.fixes / wall[kRepeats / 2]);
            std::printf("  %-26s %zu fixes, %d passes, %d fired, %d missed; report, CSV and SVG %.3f s\n", "",
                        summary.fixes, summary.passes, summary.hits, summary.misses, reportSeconds);
        }
    }
    return true;
}

} // namespace

int main()
{
    const std::vector<SensorEntry> sensors = ParseSensorText(sim::BuiltinSensorFileText(24));
    const Drive drives[] = {{"an hour at 50 km/h", kFixes, kSpeed, 0.5},
                            {"200,000 fixes at 150 km/h", 200000, 3 * kSpeed, 1.0}};
    for (const Drive& drive : drives) {
        if (!Measure(drive, sensors))
            return 1;
    }
    return 0;
}
