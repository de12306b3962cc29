// field_table: straight simulated passes by one sensor, replayed through the program's core under
// both firing rules, written as the Markdown table of docs/FIELD.md. Each cell drives several
// passes with the fixes landing at different points of the path, so a hit rate means something.
// Firing positions are measured against the path as driven, not against the fixes.

#include "sensors/SensorTable.h"
#include "tools/replay/Replay.h"
#include "tools/sim/Nmea.h"
#include "trigger/PathPrediction.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace ostrim;

constexpr double kLatitude = 52.24;
constexpr double kLongitude = 6.85;
constexpr double kThreshold = 10.0;
constexpr int kPhases = 12; // passes a cell, the fixes shifted by a twelfth of their spacing each

struct Path {
    const char* name;
    double heading;     // degrees clockwise from north
    double offset;      // metres left of the sensor, across the path
    bool enters;        // the path enters the firing region
};

// Heading 0 at offset 0 would run along the sensor's own longitude, which the strict comparison
// leaves outside the region: "0 m" is driven 0.2 m west of it.
const Path kPaths[] = {
    {"0 deg, 0 m", 0, 0.2, true},  {"0 deg, 3 m", 0, 3, true},   {"0 deg, 6 m", 0, 6, true},
    {"45 deg, 0 m", 45, 0, true},  {"45 deg, 3 m", 45, 3, true}, {"45 deg, 6 m", 45, 6, true},
    {"45 deg, 9 m", 45, 9, false}, {"0 deg, 3 m east (wrong side)", 0, -3, false},
};
const double kSpeeds[] = {50, 90, 130};
const int kRates[] = {1, 5, 10};

struct Outcome {
    int passes = 0;
    int hits = 0;
    int late = 0;
    double sumAfterEntry = 0;  // metres along the path from the entry point to the firing
    double worstAfterEntry = 0;
    double sumBeforeSensor = 0; // metres along the path from the firing to abeam the sensor
    bool any = false;
};

// Along-path distance (from abeam the sensor, growing forward) at which the path enters the
// region, or NaN.
double EntryAlong(const Path& path)
{
    const double h = path.heading * M_PI / 180.0;
    const PlanePoint dir{std::sin(h), std::cos(h)};
    const PlanePoint left{-dir.y, dir.x};
    const double far = 100.0;
    const PlanePoint p0{left.x * path.offset - dir.x * far, left.y * path.offset - dir.y * far};
    const PlanePoint p1{left.x * path.offset + dir.x * far, left.y * path.offset + dir.y * far};
    const double t = RegionEntry(p0, p1, kThreshold);
    return t < 0 ? NAN : -far + 2 * far * t;
}

void Drive(const Path& path, double kmh, int rate, bool predictive, Outcome& out)
{
    const double speed = kmh / 3.6;
    const double step = speed / rate;
    const PlanePoint scale = MetresPerDegreeAt(kLatitude);
    const double h = path.heading * M_PI / 180.0;
    const PlanePoint dir{std::sin(h), std::cos(h)};
    const PlanePoint left{-dir.y, dir.x};
    const double entry = EntryAlong(path);
    const auto start = std::chrono::system_clock::from_time_t(1714557600); // 10:00:00 UTC

    for (int phase = 0; phase < kPhases; ++phase) {
        const double s0 = -150.0 - step * phase / kPhases;
        std::string nmea;
        for (int k = 0;; ++k) {
            const double s = s0 + step * k;
            if (s > 100.0)
                break;
            const double x = left.x * path.offset + dir.x * s;
            const double y = left.y * path.offset + dir.y * s;
            nmea += sim::FormatGga(start + std::chrono::milliseconds(1000 * k / rate), kLatitude + y / scale.y,
                                   kLongitude + x / scale.x);
        }
        replay::Options options;
        options.predictive = predictive;
        replay::Replayer replayer(options);
        replayer.SetSensors({SensorEntry{kLatitude, kLongitude, 0x40A00001}});
        replayer.Feed(nmea);
        const replay::Result result = replayer.Finish();
        ++out.passes;
        if (result.firings.empty())
            continue;
        ++out.hits;
        const replay::Firing& firing = result.firings.front();
        if (firing.kind == TriggerEngine::Firing::Late)
            ++out.late;
        const double at = s0 + speed * static_cast<double>(firing.timeMs) / 1000.0;
        const double after = std::isnan(entry) ? NAN : at - entry;
        out.sumAfterEntry += after;
        if (!out.any || std::fabs(after) > std::fabs(out.worstAfterEntry))
            out.worstAfterEntry = after;
        out.sumBeforeSensor += -at;
        out.any = true;
    }
}

std::string Cell(const Outcome& o)
{
    char text[96];
    if (o.hits == 0) {
        std::snprintf(text, sizeof text, "%d/%d | | |", o.hits, o.passes);
    } else {
        std::snprintf(text, sizeof text, "%d/%d%s | %+.1f | %+.1f | %.1f", o.hits, o.passes,
                      o.late > 0 ? (" (" + std::to_string(o.late) + " late)").c_str() : "",
                      o.sumAfterEntry / o.hits, o.worstAfterEntry, o.sumBeforeSensor / o.hits);
    }
    return text;
}

void Add(Outcome& total, const Outcome& o)
{
    total.passes += o.passes;
    total.hits += o.hits;
    total.late += o.late;
    total.sumAfterEntry += o.sumAfterEntry;
    total.sumBeforeSensor += o.sumBeforeSensor;
    if (o.any && (!total.any || std::fabs(o.worstAfterEntry) > std::fabs(total.worstAfterEntry)))
        total.worstAfterEntry = o.worstAfterEntry;
    total.any = total.any || o.any;
}

} // namespace

int main()
{
    struct Row {
        const Path* path;
        double kmh;
        int rate;
        Outcome onFix;
        Outcome predictive;
    };
    std::vector<Row> rows;
    int failures = 0;
    std::vector<std::string> notes;
    for (const Path& path : kPaths) {
        for (double kmh : kSpeeds) {
            for (int rate : kRates) {
                Row row{&path, kmh, rate, {}, {}};
                Drive(path, kmh, rate, false, row.onFix);
                Drive(path, kmh, rate, true, row.predictive);
                const Outcome& p = row.predictive;
                char where[128];
                std::snprintf(where, sizeof where, "%s, %.0f km/h, %d fixes/s", path.name, kmh, rate);
                if (path.enters && p.hits != p.passes) {
                    notes.push_back(std::string(where) + ": predictive missed a pass that enters the region");
                    ++failures;
                }
                if (!path.enters && p.hits != 0) {
                    notes.push_back(std::string(where) + ": predictive fired on a pass that never enters");
                    ++failures;
                }
                if (path.enters && rate >= 5 && p.any && std::fabs(p.worstAfterEntry) > 3.0) {
                    notes.push_back(std::string(where) + ": predictive fired more than 3 m from the entry");
                    ++failures;
                }
                rows.push_back(row);
            }
        }
    }

    std::printf("Summary by fix rate, over the %d passes a rate that enter the region (all headings, "
                "offsets and speeds); \"never entering\" counts firings on the %d a rate that do not.\n\n",
                6 * 3 * kPhases, 2 * 3 * kPhases);
    std::printf("| rule | fixes/s | hits | after entry, mean m | worst m | before sensor, mean m | "
                "firings never entering |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|\n");
    for (bool predictive : {false, true}) {
        for (int rate : kRates) {
            Outcome entering;
            int wrong = 0;
            for (const Row& row : rows) {
                if (row.rate != rate)
                    continue;
                const Outcome& o = predictive ? row.predictive : row.onFix;
                if (row.path->enters)
                    Add(entering, o);
                else
                    wrong += o.hits;
            }
            std::printf("| %s | %d | %s | %d |\n", predictive ? "predictive" : "on-fix", rate, Cell(entering).c_str(),
                        wrong);
        }
    }

    std::printf("\nEvery cell, %d passes each:\n\n", kPhases);
    std::printf("| path | km/h | fixes/s | on-fix: hits | after entry, mean m | worst m | before sensor, mean m "
                "| predictive: hits | after entry, mean m | worst m | before sensor, mean m |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Row& row : rows)
        std::printf("| %s | %.0f | %d | %s | %s |\n", row.path->name, row.kmh, row.rate, Cell(row.onFix).c_str(),
                    Cell(row.predictive).c_str());
    std::printf("\n");
    if (failures == 0)
        std::printf("Checks: the predictive rule fired on every pass that enters the region, on none that "
                    "does not, and within 3 m of the entry point at 5 and 10 fixes/s.\n");
    for (const std::string& note : notes)
        std::printf("- FAILED: %s\n", note.c_str());
    return failures == 0 ? 0 : 1;
}
