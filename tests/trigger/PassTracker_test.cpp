// Passes decided one fix at a time: where a pass starts and ends, and what a miss is put down to.

#include "trigger/PassTracker.h"

#include "trigger/PathPrediction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>
#include <vector>

namespace ostrim {
namespace {

constexpr double kLatitude = 52.24;
constexpr double kLongitude = 6.85;
constexpr std::int64_t kTen = 10LL * 3600 * 1000; // 10:00 UTC

// A drive past the one sensor at (kLatitude, kLongitude), in metres from it along the
// directions in which the coordinate numbers grow.
struct Drive {
    double y = -4;            // the road's offset from the sensor
    double step = 1.4;        // metres between fixes
    int stepMs = 100;
    int quality = 1;
    bool switching = true;
};

struct Outcome {
    std::vector<PassReport> passes;
};

// Drives x from -100 to 100 m; `fire` says whether to fire at the first fix inside the region.
Outcome DriveBy(const Drive& drive, bool fire, const std::string& held = "", const std::string& notArmed = "")
{
    Outcome out;
    PassTracker tracker({}, [&out](const PassReport& pass) { out.passes.push_back(pass); },
                        [&held](int, int) { return held; });
    tracker.SetSensors({{kLatitude, kLongitude, notArmed}});
    const PlanePoint scale = MetresPerDegreeAt(kLatitude);
    std::int64_t t = kTen;
    bool fired = false;
    for (double x = -100; x <= 100 + 1e-9; x += drive.step, t += drive.stepMs) {
        tracker.Fix({kLatitude + drive.y / scale.y, kLongitude + x / scale.x, t, drive.quality, drive.switching});
        if (fire && !fired && !tracker.InRegion().empty()) {
            tracker.Firing(0);
            fired = true;
        }
    }
    tracker.End();
    return out;
}

struct ReasonCase {
    const char* name;
    Drive drive;
    bool fire;
    const char* held;
    const char* notArmed;
    PassMiss miss;
    const char* reason; // the words start so
};

TEST(PassTracker, EachMissSaysWhy)
{
    const ReasonCase cases[] = {
        {"fired", {}, true, "", "", PassMiss::None, ""},
        {"switching off", {.switching = false}, false, "", "", PassMiss::SwitchingOff,
         "switching off: inside the firing region at 10:00:06.50"},
        {"switching off, fixes 36 m apart", {.step = 36, .stepMs = 1000, .switching = false}, false, "", "",
         PassMiss::SwitchingOff, "switching off: the path between fixes crossed the firing region before 10:00:03.00"},
        {"quality 0", {.quality = 0}, false, "", "", PassMiss::QualityZero,
         "quality 0, the receiver had no position: inside the firing region at 10:00:06.50"},
        // Fixes at x = -28 and 8: the firing region spans x from -9.2 to 0 on this road.
        {"fixes too sparse", {.step = 36, .stepMs = 1000}, false, "", "", PassMiss::NoFixInside,
         "no fix inside the firing region (fixes 36.0 m apart); the path between fixes crossed it: would fire "
         "with --rule predictive"},
        {"fixes too sparse, held", {.step = 36, .stepMs = 1000}, false, "sensor 2 was due next (table order)", "",
         PassMiss::NoFixInside,
         "no fix inside the firing region (fixes 36.0 m apart); the path between fixes crossed it, but sensor 2"},
        {"held by the engine", {}, false, "sensor 2 was due next (table order)", "", PassMiss::NotDue,
         "inside the firing region at 10:00:06.50"},
        {"not armed", {}, false, "", "not armed: node id 403BA38G unreadable", PassMiss::NotArmed,
         "not armed: node id 403BA38G unreadable"},
        {"wrong side", {.y = 4}, false, "", "", PassMiss::WrongSide, "passed north of the sensor (wrong side)"},
        {"beyond the threshold", {.y = -12}, false, "", "", PassMiss::BeyondThreshold,
         "closest approach 12.0 m, beyond the threshold"},
    };
    for (const ReasonCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome out = DriveBy(c.drive, c.fire, c.held, c.notArmed);
        ASSERT_EQ(out.passes.size(), 1u);
        const PassReport& pass = out.passes[0];
        EXPECT_EQ(pass.firings.size(), c.fire ? 1u : 0u);
        EXPECT_EQ(pass.miss, c.miss);
        EXPECT_EQ(pass.reason.rfind(c.reason, 0), 0u) << pass.reason;
        EXPECT_NEAR(pass.closest, std::fabs(c.drive.y), 0.01);
        // The track within 50 m, and the fix either side whose line comes within it.
        const double within = 2 * std::sqrt(50 * 50 - c.drive.y * c.drive.y);
        EXPECT_NEAR(static_cast<double>(pass.lastFix - pass.firstFix) * c.drive.step, within + c.drive.step,
                    c.drive.step + 0.01);
    }
}

// A pass ends where the track leaves the radius, at a gap in time, or where the drive ends; a
// firing from another thread counts for the pass of the fix before it.
TEST(PassTracker, PassesEndOnLeavingOnAGapAndAtTheEnd)
{
    std::vector<PassReport> passes;
    PassTracker tracker({}, [&passes](const PassReport& pass) { passes.push_back(pass); });
    tracker.SetSensors({{kLatitude, kLongitude}});
    const PlanePoint scale = MetresPerDegreeAt(kLatitude);
    auto at = [&](double x, double y, std::int64_t ms) {
        tracker.Fix({kLatitude + y / scale.y, kLongitude + x / scale.x, kTen + ms, 1});
    };
    at(-80, -4, 0); // its line to the next fix comes within 50 m
    at(-30, -4, 1000);
    at(-5, -4, 2000);
    std::thread([&tracker] { tracker.Firing(0); }).join();
    at(20, -4, 3000);
    EXPECT_TRUE(passes.empty());
    at(-20, -4, 9000); // 6 s later: not joined
    ASSERT_EQ(passes.size(), 1u);
    EXPECT_EQ(passes[0].firstFix, 0u);
    EXPECT_EQ(passes[0].lastFix, 3u);
    EXPECT_EQ(passes[0].firings, std::vector<std::size_t>{0});
    at(-20, -200, 10000);
    at(-20, -300, 11000); // the line from the fix before stays outside the radius
    ASSERT_EQ(passes.size(), 2u);
    EXPECT_EQ(passes[1].firstFix, 4u);
    EXPECT_EQ(passes[1].lastFix, 5u);
    at(-10, -4, 20000);
    tracker.End();
    ASSERT_EQ(passes.size(), 3u);
    EXPECT_EQ(passes[2].firstFix, 7u);
    EXPECT_EQ(passes[2].lastFix, 7u);
    EXPECT_EQ(passes[2].miss, PassMiss::BeyondThreshold); // a lone fix, 10.8 m away
}

} // namespace
} // namespace ostrim
