#pragma once
// Passes of the track by each sensor, decided one fix at a time, for the replay and the live run
// alike, so that both say the same of the same drive.
//
// A pass of a sensor is a stretch of the track within the pass radius of it: consecutive fixes
// joined by straight lines that come within the radius, or a lone fix within it. A pass ends
// when the track leaves the radius, when two fixes lie further apart in time than kPassGapMs
// (the receiver lost its fix; a straight line between them says nothing), or when the drive
// ends. It is reported then: fired or missed, the closest approach (between fixes, not only at
// them) and, for a miss, the reason, as a code and in words.
//
// Units: positions are unsigned decimal degrees, as the trigger engine gets them; distances are
// metres, measured in the plane of each sensor's meridian and parallel on the WGS-84 ellipsoid
// (good to millimetres over a pass); whether a fix lies inside the firing region is decided by
// the engine's own test (GeodesicDistance below the threshold, both coordinate numbers below the
// sensor's). The hemisphere letters only turn the closest approach into compass words.
//
// Cost: linear in the fixes. A fix costs each far sensor one subtraction (the distance the track
// may still go before it could come near), a near one a few multiplications; a line between
// fixes is measured only where it can come within the radius, the geodesic distance only near
// the firing region.
//
// Wiring, as the replay and the live run (run/Session) do it: GpsInput::SetFixHook gives every
// accepted fix (quality 0 and switching off included) to Fix before the engine gets it, so the hold
// reasons are the engine's state for that fix; TriggerEngine::SetFiringHook gives each firing to
// Firing; TriggerEngine::HeldReason answers the HoldQuery; TrackedSensorsOf(table) gives the
// sensors, again after a reload.
//
// Thread rule: Fix, End and SetSensors run on one thread (live: the GPS reader thread), which is
// also where the HoldQuery and OnPass callbacks are made. Firing may be called from any thread
// (the predictive rule fires from its timer thread): it is queued, and taken at the next Fix or
// End, before that call's own work, as belonging to the last fix given.

#include "runstate/RunEvents.h"
#include "sensors/SensorTable.h"
#include "trigger/PathPrediction.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace ostrim {

// The track within this of a sensor is one pass of it.
inline constexpr double kPassRadius = 50.0;
// Fixes further apart in time than this are not joined.
inline constexpr std::int64_t kPassGapMs = 5000;

// Why a pass did not fire, from the most to the least telling: a pass that meets several
// reasons is given the first of them.
enum class PassMiss {
    None,
    NotArmed,        // the sensor's node id is unreadable: it is never switched
    NotDue,          // a fix inside the firing region, but the engine held the sensor (or did not fire)
    SwitchingOff,    // inside the region, or crossed into it, while switching was off
    QualityZero,     // inside the region, or crossed into it, by a fix of quality 0
    NoFixInside,     // the path between fixes crossed the firing region; no fix landed in it
    WrongSide,       // within the threshold, but never in the firing quarter
    BeyondThreshold, // never within the threshold
};

// The reason's name for a short display: "switching off", "fixes too sparse for the speed",
// "quality 0", "the path stayed outside the firing region" (wrong side and beyond the threshold
// alike), "not due", "not armed"; empty for None.
const char* PassMissName(PassMiss miss);

// "hh:mm:ss.ss" of a time of the UTC day in milliseconds; "--:--:--" for none.
std::string UtcText(std::int64_t utcMs);
// "north", "north-east", ... for a bearing in degrees.
std::string CompassWord(double bearing);

// The fixes' own clock in milliseconds: their UTC times of day, unwrapped at midnight. A fix
// without a time, or one whose time steps back, holds the clock, so it joins the fix before it.
class FixClock {
public:
    // The time of a fix on this clock; `utcMs` is the UTC time of day, -1 when the fix has none.
    std::int64_t Advance(std::int64_t utcMs);

private:
    std::int64_t lastUtcMs_ = -1;
    std::int64_t elapsedMs_ = 0;
};

struct TrackedSensor {
    double latitude = 0.0;  // unsigned decimal degrees
    double longitude = 0.0;
    // Why the sensor is never switched (NotArmedText), empty when it may be. Its passes are
    // reported as missed with this reason.
    std::string notArmed{};
};

// The sensors of a loaded table, as the tracker takes them.
std::vector<TrackedSensor> TrackedSensorsOf(const SensorTable& table);

// An accepted fix, given before the trigger engine sees it.
struct TrackedFix {
    double latitude = 0.0;  // unsigned decimal degrees; a NaN is in no pass and ends those open
    double longitude = 0.0;
    std::int64_t utcMs = -1; // UTC time of day in ms, -1 when none (see FixClock)
    int quality = -1;        // the GGA fix quality; 0: the receiver had no position; -1: not given
    bool switching = true;   // switching was on at this fix (the engine gets the fix)
    bool south = false;      // hemisphere letters, for compass words only
    bool west = false;
};

struct PassReport {
    int sensor = 0;
    std::size_t firstFix = 0;         // fixes counted from 0 in the order given
    std::size_t lastFix = 0;
    std::int64_t firstUtcMs = -1;
    std::int64_t lastUtcMs = -1;
    std::vector<std::size_t> firings; // firings counted from 0 in the order given
    double closest = 0;               // metres, between fixes
    double closestNorth = 0;          // metres from the sensor to the closest approach, true north
    double closestEast = 0;           // and true east
    double bearing = 0;               // degrees clockwise from north, sensor to closest approach
    double spacing = 0;               // metres between the fixes around it; NaN for a lone fix
    PassMiss miss = PassMiss::None;
    std::string reason;               // for a miss, in words
};

// A pass as the event log has it: PassFired, or Missed with the panel's short words in the
// detail, the whole sentence as the reason and the closest approach; the sensor and node as
// `table` holds them.
RunEvent PassEvent(const PassReport& pass, const SensorTable& table);

class PassTracker {
public:
    struct Options {
        double threshold = 10.0;        // metres: the engine's distanceThreshold
        double passRadius = kPassRadius; // raised to twice the threshold when below it
        // Under the on-fix rule, a pass that the predictive rule would have fired says so.
        bool predictive = false;
    };
    // Why the engine will not fire `sensor` at the fix just given (TriggerEngine::HeldReason),
    // empty when it will. Asked only for a fix inside the sensor's firing region, or whose path
    // from the fix before crossed it, and only when switching was on and the quality not 0.
    using HoldQuery = std::function<std::string(int sensor, int firstInRegion)>;
    using OnPass = std::function<void(const PassReport&)>;

    PassTracker(Options options, OnPass onPass, HoldQuery held = {});

    // Ends the passes open (as End does) and tracks these sensors from the next fix on.
    void SetSensors(const std::vector<TrackedSensor>& sensors);
    void Fix(const TrackedFix& fix);
    // A firing of `sensor` at or after the last fix given.
    void Firing(int sensor);
    // The drive ends: every pass open is reported.
    void End();

    // The sensors whose firing region holds the last fix, in table order.
    const std::vector<int>& InRegion() const { return inRegion_; }
    // The closest the track came to a sensor so far, metres; infinite before any fix.
    double Nearest(int sensor) const;
    std::size_t Fixes() const { return fixes_; }
    std::size_t QualityZeroFixes() const { return qualityZero_; }
    double PassRadius() const { return radius_; }

private:
    // What a pass met so far; the first of each kind is kept, with the UTC time of its fix.
    struct Open {
        PassReport report;
        PlanePoint closestPoint{0, 0};
        bool south = false;
        bool west = false;
        std::string held;          // the engine held the sensor at a fix inside
        std::int64_t heldUtcMs = -1;
        bool off = false;          // inside, or crossed into, while switching was off
        bool offCrossed = false;
        std::int64_t offUtcMs = -1;
        bool zero = false;         // inside, or crossed into, under quality 0
        bool zeroCrossed = false;
        std::int64_t zeroUtcMs = -1;
        bool clean = false;        // inside, free to fire, and not fired
        std::int64_t cleanUtcMs = -1;
        bool crossed = false;      // a line between fixes crossed the region
        double crossingSpacing = 0;
        std::string crossedHeld;   // the engine held the sensor at such a crossing
    };
    struct Track {
        TrackedSensor sensor;
        PlanePoint scale{0, 0};    // metres a degree of longitude (x) and latitude (y)
        bool lastInside = false;
        bool open = false;
        Open pass;
        std::vector<std::size_t> pending; // firings at the last fix while no pass was open
        double nearest = 0;
        // Metres the track may still go before it can come within the radius: no need to look.
        double slack = 0;
    };
    struct Last {
        std::size_t number = 0;
        std::int64_t timeMs = 0;
        std::int64_t utcMs = -1;
        int quality = -1;
        bool switching = true;
        bool south = false;
        bool west = false;
        double latitude = 0;
        double longitude = 0;
    };

    void TakeFirings();
    void Start(Track& track, int sensor, std::size_t fix, std::int64_t utcMs, bool south, bool west,
               PlanePoint at, double distance);
    void Close(Track& track);
    std::string Words(const Track& track, PassMiss& miss) const;

    Options options_;
    double radius_;
    OnPass onPass_;
    HoldQuery held_;
    std::vector<Track> tracks_;
    std::vector<int> inRegion_;
    // Of the fix being taken, per sensor.
    std::vector<PlanePoint> now_;
    std::vector<double> squared_; // metres squared
    std::vector<char> far_;
    PlanePoint maxScale_{0, 0}; // the largest metres a degree among the sensors
    std::vector<char> inside_;
    FixClock clock_;
    bool haveLast_ = false;
    Last last_;
    std::size_t fixes_ = 0;
    std::size_t qualityZero_ = 0;
    std::size_t firingsTaken_ = 0;

    std::mutex firingsMutex_;
    std::vector<int> firings_; // queued by Firing, taken at the next Fix or End
};

} // namespace ostrim
