#pragma once
// Decides, for every fix, which sensor's node to switch: Loop mode (every sensor once, all
// re-armed 5 s after the last) and Back and Forth mode (strictly in table order, sensor 0 held
// after a full pass until the re-arm timer has run out).
//
// A sensor is in range of a fix when the fix is closer than RunState::distanceThreshold (strictly;
// a NaN distance is never closer) and both of the fix's coordinate numbers are strictly smaller
// than the sensor's: the vehicle is admitted from one side only.

#include "app/DialogFields.h"
#include "app/RunState.h"
#include "sensors/SensorTable.h"
#include "trigger/TriggerInterfaces.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace ostrim {

inline constexpr std::chrono::milliseconds kRearmPeriod{5000};
inline constexpr std::chrono::milliseconds kOneSensorRearmPeriod{45000};
inline constexpr std::chrono::milliseconds kAllTriggeredPeriod{5000};

// Thread rule: TriggerOnPosition and CheckAllTriggered run on the GPS reader thread, OnTimer on
// the thread that delivers timer expiries. They share only atomics of RunState and SensorTable.
// Each call reads the sensor count once, and reads no entry at or past it. The GUI thread may set
// nextIndex to -1 at any time; the engine never leaves it outside -1 to count - 1.
class TriggerEngine : public PositionConsumer {
public:
    // Receives each trace line, "Distance is: %d\n"; standard output by default.
    using Trace = std::function<void(const std::string&)>;

    TriggerEngine(RunState& state, SensorTable& table, DialogFields& fields, TimerService& timers,
                  NodeSwitcher& switcher, Trace trace = {});

    // 1 when, in Back and Forth mode, the call fired a sensor or started the re-arm timer.
    int TriggerOnPosition(double latitude, double longitude) override;
    // Starts the all-triggered timer when every loaded sensor has fired. Always 1.
    int CheckAllTriggered();
    void OnTimer(int timerId);

private:
    int LoopMode(int n, double latitude, double longitude);
    int BackAndForthMode(int n, double latitude, double longitude);
    int CheckAllTriggered(int n);
    bool InRange(int i, double latitude, double longitude, bool trace);
    // Moves nextIndex past the sensor just fired, wrapping to 0 after the last one, unless the
    // operator reset it meanwhile. True when it wrapped.
    bool StepNextIndex(int n, std::int32_t fired);
    int LoadedCount() const;

    RunState& state_;
    SensorTable& table_;
    DialogFields& fields_;
    TimerService& timers_;
    NodeSwitcher& switcher_;
    Trace trace_;
};

// The status text shown just before a Back and Forth firing: the node id as the sensor file
// writes it, e.g. "4070BF7B sensor is nearer ".
std::string NearerSensorText(std::uint32_t nodeId);

// "Distance is: %d\n" with the distance in whole metres, the fraction cut off. A NaN distance
// (no distance could be computed) is written as -1, which no real distance gives; a distance
// beyond the range of int is written as the nearest int.
std::string DistanceTraceLine(double metres);

} // namespace ostrim
