#pragma once
// Decides, for every fix, which sensor's node to switch: Loop mode (every sensor once, all
// re-armed 5 s after the last) and Back and Forth mode (strictly in table order, sensor 0 held
// after a full pass until the re-arm timer has run out).
//
// A sensor is in range of a fix when the fix is closer than RunState::distanceThreshold (strictly;
// a NaN distance is never closer) and both of the fix's coordinate numbers are strictly smaller
// than the sensor's: the vehicle is admitted from one side only.
//
// A sensor whose node id could not be read (SensorTable::Armable false) is never switched by
// either rule. It keeps its place in the table: Loop mode re-arms once every other sensor has
// fired; Back and Forth steps over it in the pass order, so the first armable sensor is the one
// held after a full pass (the re-arm period still follows the table's count).

#include "runstate/DialogFields.h"
#include "runstate/RunEvents.h"
#include "runstate/RunState.h"
#include "sensors/SensorTable.h"
#include "trigger/PathPrediction.h"
#include "trigger/TriggerInterfaces.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>

namespace ostrim {

inline constexpr std::chrono::milliseconds kRearmPeriod{5000};
inline constexpr std::chrono::milliseconds kOneSensorRearmPeriod{45000};
inline constexpr std::chrono::milliseconds kAllTriggeredPeriod{5000};

// Fixes further apart in time than this give no speed to predict from.
inline constexpr std::int64_t kPredictionGapMs = 5000;

// What a fix may show of a road vehicle before the predictive rule takes it for a receiver's
// error. 250 km/h is beyond what the vehicles on a test track drive; 12 m/s^2 is a little over
// what tyres give on dry asphalt, braking or cornering. The tolerance lets a receiver's noise
// through: a fix may lie that much further than those bounds allow. So a fix 100 m off is
// refused at every fix rate; at 1 fix/s, one 22 m off the course of the two fixes before it.
inline constexpr double kMaxSpeed = 250.0 / 3.6;                     // metres a second
inline constexpr double kMaxAcceleration = Motion::kMaxAcceleration; // metres a second squared
inline constexpr double kFixTolerance = 10.0;                        // metres

// With RunState::predictive set, the engine also fires between fixes. From the last three fixes
// it knows speed, its change and the turn of the path (from two, speed and heading), predicts the
// path for the next fix interval and one more, should that fix be lost, and where that path enters
// the firing region of a sensor that is due, starts a timer for the entry, timed on the timer
// service's clock from the fix's arrival less the receiver delay (RunState::receiverDelayMs).
// The next fix confirms or replaces the plan; a fix of the same or an earlier time (a receiver
// that sends each epoch twice) keeps it; Trigger Off voids it. A fix that shows the path since
// the previous one crossed a due sensor's region without a firing fires it at once, late.
// A fix that implies an impossible motion (kMaxSpeed, kMaxAcceleration) fires nothing and is
// not used; the status line says so once for each run of such fixes. With a noisy receiver a
// plan needs the path to reach into the region by the recent prediction error. All else is the
// on-fix rule's: one firing per arming, the order of Back and Forth, the re-arm timers.
//
// Thread rule: TriggerOnPosition, TriggerOnFix and CheckAllTriggered run on the GPS reader
// thread, OnTimer on the threads that deliver timer expiries (a dialog's window timers for the
// re-arm timers, a thread of their own for the predictive plans). They share only atomics of RunState
// and SensorTable, and, in predictive mode, the engine's own state under one mutex, which is also
// held across every node switch of that mode: a switch from a timer and one from a fix never
// overlap on the base-station port. Each call reads the sensor count once, and reads no entry at
// or past it. The GUI thread may set nextIndex to -1 at any time; the engine never leaves it
// outside -1 to count - 1.
class TriggerEngine : public PositionConsumer {
public:
    // Receives each trace line, "Distance is: %d\n"; standard output by default.
    using Trace = std::function<void(const std::string&)>;

    enum class Firing { AtFix, Predicted, Late };
    // Told of each firing under either rule, just before its switch, on the thread that makes it.
    using FiringHook = std::function<void(int sensor, Firing kind)>;
    // Where the vehicle was taken to be at a firing: at the fix for one made at a fix, on the
    // predicted path for a planned one. `pastEntry` is the distance along the path from where
    // it entered the firing region, NaN where that is not known (the fix before was inside).
    struct FiringPlace {
        double latitude = std::numeric_limits<double>::quiet_NaN();
        double longitude = std::numeric_limits<double>::quiet_NaN();
        double pastEntry = std::numeric_limits<double>::quiet_NaN(); // metres
    };

    TriggerEngine(RunState& state, SensorTable& table, DialogFields& fields, TimerService& timers,
                  NodeSwitcher& switcher, Trace trace = {});

    // 1 when, in Back and Forth mode, the call fired a sensor or started the re-arm timer.
    int TriggerOnPosition(double latitude, double longitude) override;
    // The fix with its UTC time of day: the on-fix rule ignores the time, the predictive rule
    // needs it for speed and the time of entry.
    int TriggerOnFix(double latitude, double longitude, std::int64_t utcMs) override;
    // Starts the all-triggered timer when every loaded sensor has fired. Always 1.
    int CheckAllTriggered();
    void OnTimer(int timerId);
    // Triggering has been switched off: a planned switch is void at once. Any thread; it waits
    // for no switch under way.
    void VoidPlans();

    // Set before the first fix.
    void SetFiringHook(FiringHook hook) { firingHook_ = std::move(hook); }
    // Told of each firing (EventType::Firing: sensor, node, kind), just before its switch, on
    // the thread that makes it. Set before the first fix.
    void SetEventSink(EventSink* events) { events_ = events; }

    // A reloaded sensor table, whole, to be put in force at the next fix. Any thread; a later
    // offer replaces one not yet in force.
    void OfferTable(std::unique_ptr<SensorTable> table);
    // On the GPS reader thread, before a fix reaches the engine: puts an offered table in
    // place of the current one. A sensor whose node id and position are unchanged keeps its
    // fired flag; a Back and Forth pass starts again with a search; a planned firing is
    // dropped. True when a table was put in force.
    bool ApplyOfferedTable();
    // Off: no trace line is written, and a distance is measured only where it can decide (the
    // replay, which has no use for the trace). On by default. Set before the first fix.
    void SetTracing(bool on) { tracing_ = on; }

    // Why the engine, as it stands, will not fire `sensor` at a fix inside its firing region
    // ("sensor 3 was due next (table order)", "held until the re-arm timer runs out", ...); empty
    // when it will. `firstInRegion` is the first armable sensor, in table order, whose region
    // holds the fix (the Back and Forth search fires only that one), -1 when unknown. Reads only
    // atomics: any thread may ask, and the answer holds for the next fix the engine is given.
    std::string HeldReason(int sensor, int firstInRegion) const;
    // Inside the firing hook only: where this firing happens.
    const FiringPlace& CurrentFiringPlace() const { return firingPlace_; }
    // Predictive firings made at a fix because the path had crossed the region unseen.
    int LateFirings() const { return lateFirings_.load(); }

private:
    struct Planned {
        int sensor = -1;
        std::int64_t dueMs = 0;      // on the fixes' clock
        std::uint32_t triggerOffs = 0; // RunState::triggerOffs when it was made
    };
    struct TrackFix {
        double latitude = 0;
        double longitude = 0;
        std::int64_t ms = 0; // on the fixes' clock
    };
    enum class Verdict { Trusted, Fresh, Old, Refused };

    int Predictive(int n, double latitude, double longitude, std::int64_t utcMs);
    // Places a fix on the fixes' clock and judges it against the track; may start a new track.
    // `watched`: the path from the track's last fix to this one was driven with triggering on.
    Verdict Judge(double latitude, double longitude, std::int64_t utcMs, std::int64_t& fixMs,
                  bool& watched);
    // The receiver's fix interval: the shortest recent step between track fixes; 0 before one.
    std::int64_t NominalStepMs() const;
    // The median of the recent prediction errors, metres.
    double TypicalError() const;
    // How far a predicted path must reach into a region to count, for the noise.
    double Depth() const;
    // Fits the motion to the track, its newest fix the origin of the plane.
    void FitMotion();
    // The fix's offset from the newest fix of the track, metres.
    PlanePoint OnPlane(double latitude, double longitude) const;
    // True when sensor i may fire now under the mode's rules (armed, or due in the pass).
    bool Due(int n, int i) const;
    // Fires sensor i as its mode fires it; false when it no longer may.
    bool FireDue(int n, int i, Firing kind);
    // Plans the earliest entry into a due sensor's region on the predicted path from `fromMs`
    // to the end of the prediction, on the next of the kPredictedTimer ids.
    void Plan(int n, std::int64_t fromMs);
    void OnPredictedTimer(int timerId);
    void CancelPlan();
    // The on-fix rule's firing of `sensor` at the fix, told to the firing hook.
    void TellFiringAtFix(int sensor, double latitude, double longitude);
    int LoopMode(int n, double latitude, double longitude);
    int BackAndForthMode(int n, double latitude, double longitude);
    int CheckAllTriggered(int n);
    bool InRange(int i, double latitude, double longitude, bool trace);
    // Starts (or restarts) the re-arm timer that holds the first armable sensor after a full Back
    // and Forth pass.
    void HoldSensorZero(int n);
    // The first sensor that may be switched, -1 for none.
    int FirstArmable(int n) const;
    // Moves nextIndex past the sensor just fired to the next armable one, wrapping to the first
    // after the last, unless the operator reset it meanwhile. True when it wrapped.
    bool StepNextIndex(int n, std::int32_t fired);
    int LoadedCount() const;
    void RaiseFiring(int i, FiringKind kind);

    RunState& state_;
    SensorTable& table_;
    DialogFields& fields_;
    TimerService& timers_;
    NodeSwitcher& switcher_;
    Trace trace_;
    FiringHook firingHook_;
    EventSink* events_ = nullptr;

    std::mutex offerMutex_;
    std::unique_ptr<SensorTable> offered_;
    bool tracing_ = true;
    FiringPlace firingPlace_;

    // Predictive mode, under mutex_.
    std::mutex mutex_;
    std::int64_t newestUtcMs_ = -1; // UTC time of day of the newest fix
    std::int64_t clockMs_ = 0;      // the fixes' clock: UTC time of day, unwrapped at midnight
    std::uint32_t trackOffs_ = 0;   // RunState::triggerOffs at the track's newest fix
    // The last fixes the rule trusts, oldest first, all on one stretch of watched path.
    std::array<TrackFix, 3> track_{};
    int trackSize_ = 0;
    std::array<std::int64_t, 4> steps_{}; // the last time steps between track fixes
    int stepCount_ = 0;
    bool refusing_ = false;         // a run of refused fixes, told once
    bool haveRefused_ = false;      // the last fix was refused: where it lay
    TrackFix refused_;
    Motion motion_;                 // fitted to the track, in the plane of its newest fix
    bool moving_ = false;           // the motion may be predicted from
    PlanePoint scale_{1, 1};        // metres a degree at the newest fix
    std::int64_t horizonMs_ = 0;    // the end of the prediction, on the fixes' clock
    std::int64_t arrivedMs_ = 0;    // the timers' clock when the newest fix arrived
    std::int64_t receiverDelayMs_ = 0;
    static constexpr std::size_t kErrorWindow = 7;
    std::array<double, kErrorWindow> errors_{}; // the last prediction errors at the next fix, metres
    int errorCount_ = 0;
    Planned planned_;
    int plannedTimer_ = -1;         // the id of the timer running for planned_, or -1
    int nextTimer_ = 0;             // offset of the next plan's id from kPredictedTimer
    std::atomic<int> lateFirings_{0};
};

// The status text shown just before a Back and Forth firing: the node id as the sensor file
// writes it, e.g. "4070BF7B sensor is nearer ".
std::string NearerSensorText(std::uint32_t nodeId);

// "Distance is: %d\n" with the distance in whole metres, the fraction cut off. A NaN distance
// (no distance could be computed) is written as -1, which no real distance gives; a distance
// beyond the range of int is written as the nearest int.
std::string DistanceTraceLine(double metres);

} // namespace ostrim
