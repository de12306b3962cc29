// Drives past a sensor replayed offline: which passes fire, and what a miss is put down to.

#include "tests/support/ChildProcess.h"
#include "tests/support/FakeDialogFields.h"
#include "tests/support/FakeTimers.h"
#include "tests/support/RecordingNodeSwitcher.h"
#include "tests/support/ScopedMount.h"
#include "tests/support/ScratchFolder.h"
#include "tools/replay/Replay.h"
#include "tools/replay/Report.h"
#include "trigger/PassTracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

namespace ostrim {
namespace {

using namespace std::chrono_literals;

// A drive written as sentences. Positions are metres from an origin, along the directions in
// which the coordinate numbers grow (x: longitude, y: latitude), so the hemisphere letters
// change only what those directions are called.
class Drive {
public:
    static constexpr double kLatitude = 52.24;
    static constexpr double kLongitude = 6.85;

    explicit Drive(int startCentiseconds = 10 * 360000, const char* letters = "NE")
        : cs_(startCentiseconds), latLetter_(letters[0]), lonLetter_(letters[1])
    {
    }

    // 10 fixes a second from x0 to x1 along y, `step` metres apart (time steps `tenths` each).
    Drive& Along(double y, double x0, double x1, double step, int tenths = 1)
    {
        for (double x = x0; x <= x1 + 1e-9; x += step)
            Fix(x, y, tenths);
        return *this;
    }
    // Straight from (x0, y0) along the unit direction (dx, dy), `count` fixes `step` apart.
    Drive& Line(double x0, double y0, double dx, double dy, int count, double step, int tenths = 1)
    {
        for (int k = 0; k < count; ++k)
            Fix(x0 + dx * step * k, y0 + dy * step * k, tenths);
        return *this;
    }
    // One fix, the next `tenths` tenths of a second later.
    Drive& At(double x, double y, int tenths = 10)
    {
        Fix(x, y, tenths);
        return *this;
    }
    // The fix quality of the fixes that follow.
    Drive& Quality(int quality)
    {
        quality_ = quality;
        return *this;
    }
    // Far from every sensor for a while.
    Drive& Away(double seconds)
    {
        for (int i = 0; i < static_cast<int>(seconds * 10); ++i)
            Fix(5000, 5000, 1);
        return *this;
    }

    static SensorEntry Sensor(double x, double y, std::uint32_t node = 0x40A00001)
    {
        return {kLatitude + y / kMetresPerDegree,
                kLongitude + x / (kMetresPerDegree * std::cos(kLatitude * std::numbers::pi / 180)), node};
    }

    const std::string& Text() const { return text_; }

private:
    // Mean-sphere degrees: a few parts in a thousand off the ellipsoid, well inside each case's margin.
    static constexpr double kMetresPerDegree = 6371008.8 * std::numbers::pi / 180;

    static std::string Minutes(double degrees, int width)
    {
        const int whole = static_cast<int>(degrees);
        char text[32];
        std::snprintf(text, sizeof text, "%0*d%09.6f", width, whole, (degrees - whole) * 60);
        return text;
    }

    void Fix(double x, double y, int tenths)
    {
        const SensorEntry p = Sensor(x, y);
        const int cs = cs_ % 8640000;
        char body[160];
        std::snprintf(body, sizeof body, "GPGGA,%02d%02d%02d.%02d,%s,%c,%s,%c,%d,08,0.9,100.0,M,46.9,M,,",
                      cs / 360000, cs / 6000 % 60, cs / 100 % 60, cs % 100, Minutes(p.latitude, 2).c_str(),
                      latLetter_, Minutes(p.longitude, 3).c_str(), lonLetter_, quality_);
        unsigned sum = 0;
        for (const char* c = body; *c != '\0'; ++c)
            sum ^= static_cast<unsigned char>(*c);
        char sentence[200];
        std::snprintf(sentence, sizeof sentence, "$%s*%02X\r\n", body, sum);
        text_ += sentence;
        cs_ += 10 * tenths;
    }

    int cs_;
    int quality_ = 1;
    char latLetter_;
    char lonLetter_;
    std::string text_;
};

replay::Result Replay(const std::string& nmea, const std::vector<SensorEntry>& sensors,
                      replay::Options options = {})
{
    replay::Replayer replayer(options);
    replayer.SetSensors(sensors);
    // In uneven pieces, as a pipe delivers them.
    for (std::size_t at = 0; at < nmea.size(); at += 97)
        replayer.Feed(std::string_view(nmea).substr(at, 97));
    return replayer.Finish();
}

struct PassCase {
    const char* name;
    const char* letters;
    double sensorY;    // metres from the road, in the direction the latitude number grows
    double step;       // metres between fixes
    int tenths;        // tenths of a second between fixes
    double threshold;
    bool fired;
    replay::Miss miss;
    const char* reason;
    double closest;
};

TEST(ReplayPasses, EachPassFiresOrSaysWhyNot)
{
    const PassCase cases[] = {
        {"approach side", "NE", 4, 1.4, 1, 10, true, replay::Miss::None, "", 4.0},
        {"latitude number above the sensor's", "NE", -4, 1.4, 1, 10, false, replay::Miss::WrongSide,
         "passed north of the sensor (wrong side)", 4.0},
        // The same numbers south of the equator: a larger latitude number lies further south.
        {"southern hemisphere", "SW", -4, 1.4, 1, 10, false, replay::Miss::WrongSide,
         "passed south of the sensor (wrong side)", 4.0},
        {"beyond the threshold", "NE", 12, 1.4, 1, 10, false, replay::Miss::BeyondThreshold,
         "closest approach 12.0 m, beyond the threshold", 12.0},
        {"a wider threshold", "NE", 12, 1.4, 1, 15, true, replay::Miss::None, "", 12.0},
        // Fixes at x = 72 and 108: the firing region spans x from 90.5 to 100 on this road.
        {"fixes too far apart", "NE", 3, 36, 10, 10, false, replay::Miss::NoFixInside,
         "no fix inside the firing region (fixes 36.", 3.0},
    };
    for (const PassCase& c : cases) {
        SCOPED_TRACE(c.name);
        replay::Options options;
        options.threshold = c.threshold;
        const replay::Result result =
            Replay(Drive(10 * 360000, c.letters).Along(0, 0, 200, c.step, c.tenths).Text(),
                   {Drive::Sensor(100, c.sensorY)}, options);
        ASSERT_EQ(result.passes.size(), 1u);
        const replay::Pass& pass = result.passes[0];
        EXPECT_EQ(!pass.firings.empty(), c.fired);
        EXPECT_EQ(pass.miss, c.miss);
        EXPECT_EQ(pass.reason.rfind(c.reason, 0), 0u) << pass.reason;
        EXPECT_NEAR(pass.closest, c.closest, 0.05);
    }
}

struct RuleCase {
    const char* name;
    bool predictive;
    Drive drive;
    bool fired;
    TriggerEngine::Firing kind;
    double entryX; // where the path enters the firing region, metres along x from the origin
    double within; // metres: the firing's distance from the entry point at most
};

// Both rules over a sensor at (100, 3): the path along y = 0 enters its firing region at
// x = 100 - sqrt(91) = 90.46. At 1 fix/s and 130 km/h the fixes lie 36 m apart.
TEST(ReplayPasses, PredictiveRule_FiresAtTheEntryNotAtTheNextFix)
{
    const double entry = 100 - std::sqrt(91.0);
    const double d = std::sqrt(0.5);
    const RuleCase cases[] = {
        {"on-fix, 10 Hz", false, Drive().Along(0, 0, 200, 3.6), true, TriggerEngine::Firing::AtFix, entry, 3.6},
        {"predictive, 10 Hz", true, Drive().Along(0, 0, 200, 3.6), true, TriggerEngine::Firing::Predicted, entry,
         3.0},
        {"on-fix, 1 Hz, no fix inside", false, Drive().Along(0, 0, 200, 36, 10), false, {}, entry, 0},
        {"predictive, 1 Hz", true, Drive().Along(0, 0, 200, 36, 10), true, TriggerEngine::Firing::Predicted, entry,
         0.5},
        // A lone fix gives no speed to predict from; the next fix shows the region crossed.
        {"predictive, crossed unseen", true, Drive().At(60, 0).At(110, 0), true, TriggerEngine::Firing::Late,
         entry, 21},
        // Heading for the region, the vehicle brakes at 4 m/s^2 and stops 2.5 m short of it.
        {"predictive, stopped short", true, Drive().At(56, 0).At(70, 0).At(80, 0).At(86, 0).At(88, 0).At(88, 0),
         false, {}, entry, 0},
        // 45 degrees, 9 m north-west of the sensor at (100, 0): never inside the quarter disc.
        {"predictive, 9 m at 45 degrees", true, Drive().Line(100 - 60 * d - 9 * d, -60 * d + 9 * d, d, d, 40, 3.6),
         false, {}, 0, 0},
        {"predictive, wrong side", true, Drive().Along(6, 0, 200, 3.6), false, {}, 0, 0},
        // The recording ends with the plan made: live, its timer would still have switched.
        {"predictive, drive ends before the entry", true, Drive().Along(0, 0, 72, 36, 10), true,
         TriggerEngine::Firing::Predicted, entry, 0.5},
    };
    for (const RuleCase& c : cases) {
        SCOPED_TRACE(c.name);
        replay::Options options;
        options.predictive = c.predictive;
        const bool diagonal = std::string(c.name).find("45") != std::string::npos;
        const replay::Result result =
            Replay(c.drive.Text(), {diagonal ? Drive::Sensor(100, 0) : Drive::Sensor(100, 3)}, options);
        ASSERT_EQ(!result.firings.empty(), c.fired);
        if (!c.fired)
            continue;
        ASSERT_EQ(result.firings.size(), 1u);
        const replay::Firing& firing = result.firings[0];
        EXPECT_EQ(firing.kind, c.kind);
        const SensorEntry origin = Drive::Sensor(0, 0);
        const double x = replay::LocalOffset(origin.latitude, origin.longitude, firing.latitude, firing.longitude).x;
        EXPECT_NEAR(x, c.entryX, c.within);
        if (c.kind == TriggerEngine::Firing::Predicted) {
            EXPECT_GE(x, c.entryX - 0.5) << "fired before the entry";
        }
    }
}

// Back and Forth, sensors in table order at x = 100, 500 and 300: after the first fires, the
// second is due, so the third, crossed between fixes 36 m apart, would not fire under the
// predictive rule either; the report must not promise that it would.
TEST(ReplayPasses, CrossedBetweenFixesWhileNotDue_NoPromiseOfThePredictiveRule)
{
    replay::Options options;
    options.backAndForth = true;
    const replay::Result result =
        Replay(Drive().Along(0, 0, 150, 1.4).Along(0, 170, 400, 36, 10).Text(),
               {Drive::Sensor(100, 3), Drive::Sensor(500, 3), Drive::Sensor(300, 3)}, options);
    ASSERT_EQ(result.passes.size(), 2u);
    EXPECT_FALSE(result.passes[0].firings.empty());
    const replay::Pass& crossed = result.passes[1];
    EXPECT_EQ(crossed.sensor, 2);
    EXPECT_EQ(crossed.miss, replay::Miss::NoFixInside);
    EXPECT_NE(crossed.reason.find("but sensor 2 was due next (table order)"), std::string::npos) << crossed.reason;
    EXPECT_EQ(crossed.reason.find("would fire"), std::string::npos) << crossed.reason;
}

struct TimerCase {
    const char* name;
    bool backAndForth;
    int start; // centiseconds of the UTC day
    std::vector<double> waits; // seconds away between passes of the one sensor
    std::vector<bool> fired;
    const char* held; // the reason of the pass that did not fire
};

// The re-arm timers run on the fixes' times, so an hour replays in no time and still re-arms.
TEST(ReplayPasses, TimersRunOnTheFixesOwnTimes)
{
    const int ten = 10 * 360000;
    const TimerCase cases[] = {
        {"loop, back within 5 s", false, ten, {1}, {true, false}, "it had fired and was not re-armed yet"},
        {"loop, back after 5 s", false, ten, {4}, {true, true}, ""},
        {"loop, across midnight", false, 8640000 - 200, {4}, {true, true}, ""},
        // One sensor: held for 45 s after the last fix in range.
        {"back and forth, one sensor", true, ten, {10, 50}, {true, false, true},
         "held until the re-arm timer runs out"},
    };
    for (const TimerCase& c : cases) {
        SCOPED_TRACE(c.name);
        Drive drive(c.start);
        drive.Along(0, 80, 120, 1.4);
        for (double wait : c.waits)
            drive.Away(wait).Along(0, 80, 120, 1.4);
        replay::Options options;
        options.backAndForth = c.backAndForth;
        const replay::Result result = Replay(drive.Text(), {Drive::Sensor(100, 4)}, options);
        ASSERT_EQ(result.passes.size(), c.fired.size());
        for (std::size_t i = 0; i < c.fired.size(); ++i) {
            EXPECT_EQ(!result.passes[i].firings.empty(), c.fired[i]) << "pass " << i + 1;
            if (!c.fired[i]) {
                EXPECT_NE(result.passes[i].reason.find(c.held), std::string::npos) << result.passes[i].reason;
            }
        }
    }
}

// A drive under quality 0 past a sensor: the engine never gets those fixes, yet the pass is
// reported with its reason, and the fixes are counted.
TEST(ReplayPasses, QualityZero_PassReportedAndFixesCounted)
{
    const replay::Result result =
        Replay(Drive().Along(0, 0, 60, 1.4).Quality(0).Along(0, 61.4, 140, 1.4).Quality(1).Along(0, 141.4, 200, 1.4)
                   .Text(),
               {Drive::Sensor(100, 4)});
    ASSERT_EQ(result.passes.size(), 1u);
    EXPECT_TRUE(result.firings.empty());
    EXPECT_EQ(result.passes[0].miss, replay::Miss::QualityZero);
    EXPECT_EQ(result.passes[0].reason.rfind("quality 0", 0), 0u) << result.passes[0].reason;
    const replay::Summary summary = replay::Summarise(result);
    EXPECT_EQ(summary.fixes, 142u);
    EXPECT_EQ(summary.qualityZeroFixes, 57u);
    EXPECT_NE(replay::TextReport(result, summary).find("142 fixes over 14.1 s (10.0 fixes/s), 57 of them quality 0"),
              std::string::npos);
}

// The pass tracker wired as the live run wires it (the GPS input's fix hook, the engine's firing
// hook and hold reasons, the timers on the fixes' clock) says of a recording what the replay
// says, pass for pass and word for word.
TEST(ReplayPasses, LiveWiringAgreesWithTheReplay)
{
    const std::string nmea = test::ReadFile(OSTRIM_TEST_DATA_DIR "/drives/track.nmea");
    const std::string sensors = OSTRIM_TEST_DATA_DIR "/drives/track-sensors.txt";
    const struct {
        const char* name;
        bool backAndForth;
        bool predictive;
        double threshold;
    } cases[] = {
        {"loop", false, false, 10},
        {"back and forth", true, false, 10},
        {"loop, predictive, 15 m", false, true, 15},
        {"back and forth, predictive", true, true, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        replay::Options options;
        options.backAndForth = c.backAndForth;
        options.predictive = c.predictive;
        options.threshold = c.threshold;
        replay::Replayer replayer(options);
        std::string error;
        ASSERT_TRUE(replayer.LoadSensors(sensors, error)) << error;
        replayer.Feed(nmea);
        const replay::Result replayed = replayer.Finish();

        RunState state;
        state.loopMode = c.backAndForth ? 0 : 1;
        state.predictive = c.predictive ? 1 : 0;
        state.distanceThreshold = c.threshold;
        SensorTable table;
        test::FakeDialogFields fields;
        LoadSensorFile(sensors, table, state, fields);
        test::FakeTimers timers;
        test::RecordingNodeSwitcher switcher{fields};
        TriggerEngine engine(state, table, fields, timers, switcher, [](const std::string&) {});
        timers.onExpiry = [&engine](int id) { engine.OnTimer(id); };
        std::vector<PassReport> live;
        PassTracker tracker({c.threshold, kPassRadius, c.predictive},
                            [&live](const PassReport& pass) { live.push_back(pass); },
                            [&engine](int sensor, int first) { return engine.HeldReason(sensor, first); });
        tracker.SetSensors(TrackedSensorsOf(table));
        engine.SetFiringHook([&tracker](int sensor, TriggerEngine::Firing) { tracker.Firing(sensor); });
        GpsLogs logs(state.logPaths);
        GpsInput input(state, fields, logs, engine);
        FixClock clock;
        std::int64_t now = 0;
        input.SetFixHook([&](const AcceptedFix& fix) {
            const std::int64_t t = clock.Advance(fix.utcMs);
            timers.Advance(std::chrono::milliseconds(t - now));
            now = t;
            tracker.Fix({fix.latitude, fix.longitude, fix.utcMs, fix.quality, fix.switching,
                         fix.latitudeHemisphere == 'S', fix.longitudeHemisphere == 'W'});
        });
        for (std::size_t at = 0; at < nmea.size(); at += 4096)
            input.AssembleSentence(static_cast<int>(std::min<std::size_t>(4096, nmea.size() - at)), nmea.data() + at);
        timers.Advance(std::chrono::milliseconds(kPassGapMs)); // a switch planned before the end still comes
        tracker.End();
        std::sort(live.begin(), live.end(), [](const PassReport& a, const PassReport& b) {
            return a.firstFix != b.firstFix ? a.firstFix < b.firstFix : a.sensor < b.sensor;
        });

        ASSERT_EQ(live.size(), replayed.passes.size());
        for (std::size_t i = 0; i < live.size(); ++i) {
            const replay::Pass& r = replayed.passes[i];
            SCOPED_TRACE("pass " + std::to_string(i) + ": " + r.reason);
            EXPECT_EQ(live[i].sensor, r.sensor);
            EXPECT_EQ(live[i].firstFix, r.firstFix);
            EXPECT_EQ(live[i].lastFix, r.lastFix);
            EXPECT_EQ(live[i].firings.size(), r.firings.size());
            EXPECT_EQ(live[i].miss, r.miss);
            EXPECT_EQ(live[i].reason, r.reason);
            EXPECT_EQ(live[i].closest, r.closest);
        }
    }
}

#ifdef OSTRIM_REPLAY_EXECUTABLE
struct CliCase {
    const char* name;
    std::vector<std::string> args; // after the program; "S" is the sensor file, "D" the drive
    int status;
    const char* says; // on standard output or standard error
};

TEST(ReplayCli, ExitStatusSaysWhetherEveryPassFired)
{
    test::ScratchFolder folder;
    const std::string sensors = folder / "sensors.txt";
    char line[96];
    const SensorEntry s = Drive::Sensor(100, 4);
    std::snprintf(line, sizeof line, "%.8f %.8f S1 40A00001\n", s.latitude, s.longitude);
    test::WriteFile(sensors, line);
    test::WriteFile(folder / "hit.nmea", Drive().Along(0, 0, 200, 1.4).Text());
    test::WriteFile(folder / "miss.nmea", Drive().Along(8, 0, 200, 1.4).Text());
    test::WriteFile(folder / "text.txt", "not a drive\n");
    test::WriteFile(folder / "sparse.nmea", Drive().Along(0, 0, 200, 36, 10).Text());
    const CliCase cases[] = {
        {"every pass fired", {"--sensor-file", sensors, folder / "hit.nmea"}, 0, "1 passes: 1 fired, 0 missed"},
        {"a pass missed", {"--sensor-file", sensors, folder / "miss.nmea"}, 1, "MISSED, passed north"},
        {"not NMEA", {"--sensor-file", sensors, folder / "text.txt"}, 0, "0 fixes"},
        {"no sensor file", {"--sensor-file", folder / "none.txt", folder / "hit.nmea"}, 2, "none.txt was not found."},
        {"no input", {"--sensor-file", sensors, folder / "none.nmea"}, 2, "cannot read"},
        {"on-fix, fixes 36 m apart", {"--sensor-file", sensors, folder / "sparse.nmea"}, 1,
         "would fire with --rule predictive"},
        {"predictive, fixes 36 m apart", {"--sensor-file", sensors, "--rule", "predictive", folder / "sparse.nmea"},
         0, "(predicted)"},
        {"unknown rule", {"--sensor-file", sensors, "--rule", "early", folder / "hit.nmea"}, 2, "--rule"},
        {"bad threshold", {"--sensor-file", sensors, "--threshold", "-1", folder / "hit.nmea"}, 2, "--threshold"},
    };
    for (const CliCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {OSTRIM_REPLAY_EXECUTABLE};
        args.insert(args.end(), c.args.begin(), c.args.end());
        test::ChildProcess replay;
        ASSERT_TRUE(replay.Start(args));
        std::vector<test::OutputLine> lines;
        EXPECT_EQ(replay.Wait(20s, &lines), c.status);
        std::string out = replay.Errors();
        for (const test::OutputLine& l : lines)
            out += l.text + "\n";
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
    }
}

// The GPS log a replay writes is the one the run would have written, a record a fix, under a name
// that is never a run's; without --vehicle-type, the run's own GPS log beside the raw log gives
// the vehicle type.
TEST(ReplayCli, GpsLog_ARecordPerFixUnderItsOwnName)
{
    test::ScratchFolder folder;
    const SensorEntry s = Drive::Sensor(100, 4);
    char line[96];
    std::snprintf(line, sizeof line, "%.8f %.8f S1 40A00001\n", s.latitude, s.longitude);
    test::WriteFile(folder / "sensors.txt", line);
    const std::string raw = folder / "14_05-07-12-2026-Raw-GPS-Data.txt";
    test::WriteFile(raw, Drive().Along(0, 0, 20, 10).Text()); // 3 fixes
    const std::string runLog = folder / "14_05-07-12-2026-GPS-Data.txt";
    const std::string runRecord = "Test van, blue,12/07/2026,10,00,00.00,52.240000,N,6.850000,E,100.0M\r\n";
    test::WriteFile(runLog, runRecord);
    const struct {
        const char* name;
        std::vector<std::string> args;
        const char* vehicleType;
    } cases[] = {
        {"--vehicle-type", {"--vehicle-type", "Dunrel 80k truck"}, "Dunrel 80k truck"},
        {"the run's GPS log beside the raw log", {}, "Test van, blue"},
        {"--run-gps-log", {"--run-gps-log", folder / "other.txt"}, "Other"},
    };
    test::WriteFile(folder / "other.txt", "Other," + runRecord.substr(runRecord.find(',', 10) + 1));
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = folder / ("out" + std::to_string(++n));
        std::filesystem::create_directory(out);
        std::vector<std::string> args = {OSTRIM_REPLAY_EXECUTABLE, "--sensor-file", folder / "sensors.txt",
                                         "--gps-log", out};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(raw);
        test::ChildProcess replay;
        ASSERT_TRUE(replay.Start(args, {{"TZ", "UTC"}}));
        EXPECT_EQ(replay.Wait(20s), 0) << replay.Errors();
        const std::string log = test::ReadFile(out + "/14_05-07-12-2026-Replay-GPS-Data.txt");
        EXPECT_EQ(log.rfind(std::string(c.vehicleType) + ",12/07/2026,10,00,00.00,52.240000,N,6.850000,E,100.0M\r\n", 0),
                  0u)
            << log;
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3);
    }
    EXPECT_EQ(test::ReadFile(runLog), runRecord);
}

// Every input is checked before anything is written, and no file that exists is written over:
// the run's folder keeps every byte, and gains no file.
TEST(ReplayCli, BadInputOrExistingOutput_LeavesEveryFileAsItWas)
{
    test::ScratchFolder folder;
    const SensorEntry s = Drive::Sensor(100, 4);
    char line[96];
    std::snprintf(line, sizeof line, "%.8f %.8f S1 40A00001\n", s.latitude, s.longitude);
    const std::string sensors = folder / "sensors.txt";
    test::WriteFile(sensors, line);
    const std::string raw = folder / "14_05-07-12-2026-Raw-GPS-Data.txt";
    test::WriteFile(raw, Drive().Along(0, 0, 200, 1.4).Text());
    test::WriteFile(folder / "14_05-07-12-2026-GPS-Data.txt", "Test van,12/07/2026,10,00,00.00,52.240000,N,6.850000,E,100.0M\r\n");
    test::WriteFile(folder / "14_05-07-12-2026-Replay-GPS-Data.txt", "an earlier replay\n");
    test::WriteFile(folder / "passes.csv", "an earlier table\n");
    test::WriteFile(folder / "map.svg", "an earlier map\n");
    test::WriteFile(folder / "events.csv", "an earlier event log\n");
    std::filesystem::create_directory(folder / "new");
    auto snapshot = [&folder] {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.Path()))
            files[entry.path().string()] = entry.is_directory() ? "(folder)" : test::ReadFile(entry.path().string());
        return files;
    };
    const auto before = snapshot();
    const std::string dir = folder.Path().string();
    const struct {
        const char* name;
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {"sensor file misspelt", {"--sensor-file", folder / "sensor.txt", "--gps-log", dir, "--csv", folder / "new.csv", raw},
         "sensor.txt was not found."},
        {"no sensor in the file", {"--sensor-file", raw, "--gps-log", dir, raw}, "no sensor in"},
        {"recording missing", {"--sensor-file", sensors, "--gps-log", dir, folder / "none.txt"}, "cannot read"},
        {"replay's GPS log exists", {"--sensor-file", sensors, "--gps-log", dir, "--vehicle-type", "x", raw},
         "refusing to write over"},
        {"CSV exists", {"--sensor-file", sensors, "--csv", folder / "passes.csv", raw}, "refusing to write over"},
        {"map exists", {"--sensor-file", sensors, "--svg", folder / "map.svg", raw}, "refusing to write over"},
        {"event log exists", {"--sensor-file", sensors, "--csv", folder / "new.csv", "--events", folder / "events.csv", raw},
         "refusing to write over"},
        {"one output twice", {"--sensor-file", sensors, "--csv", folder / "new.txt", "--svg", folder / "new.txt", raw},
         "the same file"},
        {"run's GPS log unreadable", {"--sensor-file", sensors, "--gps-log", folder / "new", "--run-gps-log",
                                      folder / "none.txt", raw}, "none.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {OSTRIM_REPLAY_EXECUTABLE};
        args.insert(args.end(), c.args.begin(), c.args.end());
        test::ChildProcess replay;
        ASSERT_TRUE(replay.Start(args, {{"TZ", "UTC"}}));
        std::vector<test::OutputLine> lines;
        EXPECT_EQ(replay.Wait(20s, &lines), 2);
        EXPECT_NE(replay.Errors().find(c.says), std::string::npos) << replay.Errors();
        EXPECT_EQ(snapshot(), before);
    }
}

// A GPS log that cannot be written all through says why, and the replay fails.
TEST(ReplayCli, GpsLogWriteFails_ReasonAndExit2)
{
    test::ScratchFolder folder;
    std::filesystem::create_directory(folder / "full");
    test::ScopedMount disk(folder / "full", 4096); // a page: about 60 records
    if (!disk.Mounted())
        GTEST_SKIP() << disk.Error();
    const SensorEntry s = Drive::Sensor(100, 4);
    char line[96];
    std::snprintf(line, sizeof line, "%.8f %.8f S1 40A00001\n", s.latitude, s.longitude);
    test::WriteFile(folder / "sensors.txt", line);
    test::WriteFile(folder / "drive.nmea", Drive().Along(0, 0, 200, 1.4).Text());
    test::ChildProcess replay;
    ASSERT_TRUE(replay.Start({OSTRIM_REPLAY_EXECUTABLE, "--sensor-file", folder / "sensors.txt", "--gps-log",
                              folder / "full", folder / "drive.nmea"}));
    EXPECT_EQ(replay.Wait(20s), 2);
    EXPECT_NE(replay.Errors().find("No space left on device"), std::string::npos) << replay.Errors();
}
#endif

} // namespace
} // namespace ostrim
