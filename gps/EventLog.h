#pragma once
// The event log's rows, and the vehicle's state that goes into them. The live run writes one
// row for every switch and every change of the run's state; the replay can write the same rows
// for its firings, so a run and its replay compare line by line.
//
// Example row:
// 2026-12-08 14:03:12.345,14:03:11.900,node on,2,403BA38B,on-fix,on-fix,written,,52.240012,
//     6.851301,54.3,89.9,4.2,1.8,
// (one line; CR LF at its end). docs/LOG-FORMAT.md describes each column.

#include "runstate/RunEvents.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <thread>

namespace ostrim {

// The header row, CR LF included.
extern const char kEventLogHeader[];

// "node on", "switching off", "missed": the event column's word for a type.
const char* EventName(EventType type);

// One row, CR LF included. Local time with milliseconds; numbers with a point in every locale;
// a field holding a comma, a quote or a line break is quoted as CSV quotes it.
std::string FormatEventRow(const RunEvent& event);

// The vehicle as the last two fixes show it: position, speed and heading, and where it stands
// towards a sensor's firing region.
//
// Thread rule: none of its own; one caller at a time (the event hub calls it under its lock).
class VehicleTrack {
public:
    using Steady = std::chrono::steady_clock::time_point;

    // An accepted fix: unsigned decimal degrees, its UTC time of day in ms (-1 for none), and
    // when it arrived on the computer's steady clock.
    void OnFix(double latitude, double longitude, std::int64_t utcMs, Steady arrived);

    // Fills the event's vehicle columns that the source left unknown: position, speed, heading,
    // the UTC time of the fix behind it. With a sensor position also the distance to it and,
    // where the path from the last fix shows where it entered the firing region of radius
    // `threshold`, the distance driven since. A predicted firing happens between fixes: the
    // position then runs on from the last fix at its speed and heading until `now`.
    void Describe(RunEvent& event, Steady now) const;
    void Describe(RunEvent& event, double sensorLatitude, double sensorLongitude, double threshold,
                  Steady now) const;

    bool HasFix() const { return fixes_ > 0; }

private:
    struct Fix {
        double latitude = 0;
        double longitude = 0;
        std::int64_t utcMs = -1;
        Steady arrived{};
    };
    // Metres a millisecond east and north; false when the last two fixes give no speed.
    bool Velocity(double& east, double& north) const;

    Fix last_;
    Fix before_;
    int fixes_ = 0;
};

// Makes rows of events as the live run's event log and the replay's both write them: a node's
// frames take the sensor, kind and vehicle of the firing they were made for, and every event
// the vehicle's columns that its source left unknown. One piece of code for both, so that a run
// and its replay compare on these columns.
//
// Thread rule: none of its own; one caller at a time.
class EventRows {
public:
    using Steady = VehicleTrack::Steady;

    void OnFix(double latitude, double longitude, std::int64_t utcMs, Steady arrived)
    {
        track_.OnFix(latitude, longitude, utcMs, arrived);
    }

    // Completes `event`, raised on `thread` at `now`, with a firing region of radius `threshold`.
    // False for an event with no row of its own: a firing (its frames are the rows) and a pass
    // that fired.
    bool Complete(RunEvent& event, std::thread::id thread, double threshold, Steady now);

private:
    VehicleTrack track_;
    // The firing each thread is switching a node for. A thread makes one switch at a time.
    std::map<std::thread::id, RunEvent> firings_;
};

} // namespace ostrim
