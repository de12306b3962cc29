#pragma once
// Facts of a run, raised where they happen: a frame written to the base station, a firing of the
// trigger engine, a log that stops being written, Start, End of Lap. The event log, the run
// monitor (panel and summary) and headless's printed lines all listen to the same facts, so
// nothing the operator reads is worked out again from a status text.
//
// Thread rule: a source raises an event on the thread where the fact happens (the GPS reader,
// a timer thread, the GUI thread). An EventSink takes events from any thread, in any order
// between threads, and must not raise events back into the source from OnEvent.

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>

namespace ostrim {

enum class EventType {
    Start,            // Start named the logs; detail: the folder
    BaseStationCheck, // Start's check or a recheck; result and reason
    SwitchingOn,      // detail: why
    SwitchingOff,     // detail: why
    Firing,           // the engine (or Test Node) is about to switch a node; no row of its own
    NodeOn,           // the "on" frame: result written, failed to open, write failed
    NodeOff,          // the "off" frame
    EndOfLap,         // detail: the new GPS log
    ReceiverLost,
    ReceiverBack,
    LogOutageBegin,   // detail: which log; reason: the system's
    LogOutageEnd,
    QualityZeroBegin,
    QualityZeroEnd,
    SensorsLoaded,    // detail: the file and the count
    SensorsReloaded,  // detail: the file, the count and what changed
    SensorsApplied,   // a reloaded table is in force from this fix
    Missed,           // a pass ended without a firing; detail: the reason
    PassFired,        // a pass ended with a firing; no row of its own (its frames are)
};

// What a firing is: which rule made it and how.
enum class FiringKind { None, OnFix, Predicted, Late, TestNode };

// How the exchange behind an event went. Replayed: a replay's frame, which went to no device, so
// how it would have gone is not known.
enum class EventResult { None, Written, OpenFailed, WriteFailed, Answered, NoAnswer, Replayed };

struct RunEvent {
    static constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();

    EventType type = EventType::Start;
    // The computer's clock when it happened; left at its epoch by a source, the sink fills it in.
    // A replay leaves it there: it has no clock of the run, and the row's local time is empty.
    std::chrono::system_clock::time_point wall{};
    std::int64_t fixUtcMs = -1;  // UTC time of day of the fix behind the event; -1 unknown
    int sensor = -1;             // index into the sensor table; -1 none
    double sensorLatitude = kUnknown; // the sensor's position, as the table holds it
    double sensorLongitude = kUnknown;
    std::uint32_t nodeId = 0;
    bool hasNode = false;
    bool predictiveRule = false; // the rule in force when the event happened
    FiringKind kind = FiringKind::None;
    EventResult result = EventResult::None;
    std::string reason;          // why the result is what it is, in the system's words
    std::string detail;          // a file name, the cause of a change, a miss's reason
    // The vehicle at that moment, where known: decimal degrees without sign, km/h, degrees
    // clockwise from north, metres.
    double latitude = kUnknown;
    double longitude = kUnknown;
    double speed = kUnknown;
    double heading = kUnknown;
    double distance = kUnknown;  // to the event's sensor
    double pastEntry = kUnknown; // along the path since it entered the sensor's firing region
    double closest = kUnknown;   // a miss: the closest approach of the pass
};

class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void OnEvent(const RunEvent& event) = 0;
};

} // namespace ostrim
