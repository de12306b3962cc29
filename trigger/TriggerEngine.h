#pragma once
// Decides, for every fix, which sensor's node to switch: Loop mode (every sensor once, all
// re-armed 5 s after the last) and Back and Forth mode (strictly in table order, sensor 0 held
// after a full pass until the re-arm timer has run out).

#include "app/DialogFields.h"
#include "app/RunState.h"
#include "sensors/SensorTable.h"
#include "trigger/TriggerInterfaces.h"

#include <cstdint>
#include <functional>
#include <string>

namespace ostrim {

// Thread rule: TriggerOnPosition and CheckAllTriggered run on the GPS reader thread, OnTimer on
// the thread that delivers timer expiries. They share only atomics of RunState and SensorTable.
class TriggerEngine : public PositionConsumer {
public:
    // Receives each trace line, "Distance is: %d\n"; standard output by default.
    using Trace = std::function<void(const std::string&)>;

    TriggerEngine(RunState& state, SensorTable& table, DialogFields& fields, TimerService& timers,
                  NodeSwitcher& switcher, Trace trace = {});

    // 1 when, in Back and Forth mode, the call fired a sensor or started the re-arm timer.
    int TriggerOnPosition(double latitude, double longitude) override;
    int CheckAllTriggered();
    void OnTimer(int timerId);

private:
    int LoopMode(double latitude, double longitude);
    int BackAndForthMode(double latitude, double longitude);
    bool InRange(int i, double latitude, double longitude, bool trace);

    RunState& state_;
    SensorTable& table_;
    DialogFields& fields_;
    TimerService& timers_;
    NodeSwitcher& switcher_;
    Trace trace_;
};

// The status text shown just before a Back and Forth firing.
std::string NearerSensorText(std::uint32_t nodeId);

} // namespace ostrim
