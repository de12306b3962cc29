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
#include "runstate/RunState.h"
#include "sensors/SensorTable.h"
#include "trigger/TriggerInterfaces.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace ostrim {

inline constexpr std::chrono::milliseconds kRearmPeriod{5000};
inline constexpr std::chrono::milliseconds kOneSensorRearmPeriod{45000};
inline constexpr std::chrono::milliseconds kAllTriggeredPeriod{5000};

// Fixes further apart in time than this give no speed to predict from.
inline constexpr std::int64_t kPredictionGapMs = 5000;

// With RunState::predictive set, the engine also fires between fixes: from the last two fixes it
// knows speed and heading, predicts the straight path until the next fix is due and, where that
// path enters the firing region of a sensor that is due, starts a timer for the entry;
// the next fix confirms or replaces the plan. A fix that shows the path since the previous one
// crossed a due sensor's region without a firing fires it at once, late. All else is the on-fix
// rule's: one firing per arming, the order of Back and Forth, the re-arm timers.
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

    // Set before the first fix.
    void SetFiringHook(FiringHook hook) { firingHook_ = std::move(hook); }
    // Off: no trace line is written, and a distance is measured only where it can decide (the
    // replay, which has no use for the trace). On by default. Set before the first fix.
    void SetTracing(bool on) { tracing_ = on; }

    // Why the engine, as it stands, will not fire `sensor` at a fix inside its firing region
    // ("sensor 3 was due next (table order)", "held until the re-arm timer runs out", ...); empty
    // when it will. `firstInRegion` is the first armable sensor, in table order, whose region
    // holds the fix (the Back and Forth search fires only that one), -1 when unknown. Reads only
    // atomics: any thread may ask, and the answer holds for the next fix the engine is given.
    std::string HeldReason(int sensor, int firstInRegion) const;
    // Predictive firings made at a fix because the path had crossed the region unseen.
    int LateFirings() const { return lateFirings_.load(); }

private:
    struct Planned {
        int sensor = -1;
        std::int64_t dueMs = 0; // on the fixes' clock
    };

    int Predictive(int n, double latitude, double longitude, std::int64_t utcMs);
    // True when sensor i may fire now under the mode's rules (armed, or due in the pass).
    bool Due(int n, int i) const;
    // Fires sensor i as its mode fires it; false when it no longer may.
    bool FireDue(int n, int i, Firing kind);
    // Plans the earliest entry into a due sensor's region on the straight path from `fromMs`
    // to the end of the prediction, on the next of the kPredictedTimer ids.
    void Plan(int n, std::int64_t fromMs);
    void OnPredictedTimer(int timerId);
    void CancelPlan();
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

    RunState& state_;
    SensorTable& table_;
    DialogFields& fields_;
    TimerService& timers_;
    NodeSwitcher& switcher_;
    Trace trace_;
    FiringHook firingHook_;
    bool tracing_ = true;

    // Predictive mode, under mutex_.
    std::mutex mutex_;
    bool haveFix_ = false;
    double lastLatitude_ = 0;
    double lastLongitude_ = 0;
    std::int64_t lastUtcMs_ = -1;
    std::uint32_t triggerOffs_ = 0; // RunState::triggerOffs at the last fix
    std::int64_t clockMs_ = 0;       // the fixes' clock: UTC time of day, unwrapped at midnight
    bool moving_ = false;            // the last two fixes gave a speed
    double velocityLatitude_ = 0;    // degrees a millisecond
    double velocityLongitude_ = 0;
    std::int64_t fixMs_ = 0;         // the last fix on that clock
    std::int64_t horizonMs_ = 0;     // when the next fix is due
    Planned planned_;
    int plannedTimer_ = -1;          // the id of the timer running for planned_, or -1
    int nextTimer_ = 0;              // offset of the next plan's id from kPredictedTimer
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
