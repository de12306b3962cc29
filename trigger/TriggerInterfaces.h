#pragma once
// What the trigger engine needs from the outside: timers it can start by id and a way to switch a
// node. Tests drive both with fakes; the dialog and the headless front end supply real ones.

#include <chrono>
#include <cstdint>

namespace ostrim {

inline constexpr int kRearmTimer = 101;        // Back and Forth: hold sensor 0 until it runs out
inline constexpr int kAllTriggeredTimer = 102; // Loop: re-arm every sensor when it runs out
// Predictive rule: the vehicle reaches a firing region. Each plan takes the next of these ids,
// so an expiry already on its way when a fix replaced its plan is told apart and dropped.
inline constexpr int kPredictedTimer = 103;
inline constexpr int kPredictedTimerIds = 8;

// Thread rule: StartTimer, KillTimer and Now may be called from any thread; expiries are
// delivered on one thread (the GUI thread in the dialog) by calling the engine's OnTimer.
class TimerService {
public:
    virtual ~TimerService() = default;
    // Starts the timer, or restarts it from zero with the new period if it is running.
    virtual void StartTimer(int id, std::chrono::milliseconds period) = 0;
    virtual void KillTimer(int id) = 0;
    // The clock the timers run on, from an arbitrary start; it never goes back.
    virtual std::chrono::milliseconds Now() const = 0;
};

class NodeSwitcher {
public:
    virtual ~NodeSwitcher() = default;
    // Switches the node on and, 100 ms later, off; returns only after the whole exchange.
    // 1 when the base-station port opened, 0 when it did not. Sets its own status text.
    virtual int SwitchNode(std::uint32_t nodeId) = 0;
};

// Receives each accepted fix; the trigger engine is the one in the program.
class PositionConsumer {
public:
    virtual ~PositionConsumer() = default;
    virtual int TriggerOnPosition(double latitude, double longitude) = 0;
    // The same fix with its own UTC time of day in milliseconds (-1 when it gives none), for a
    // consumer that needs speed and heading; the others see the position only.
    virtual int TriggerOnFix(double latitude, double longitude, std::int64_t utcMs)
    {
        (void)utcMs;
        return TriggerOnPosition(latitude, longitude);
    }
};

} // namespace ostrim
