#pragma once
// A recorded drive run offline through the program's own core: sentence assembly and GGA
// parsing (GpsInput), the trigger engine in Loop or Back and Forth mode, and, when asked, the
// GPS log. No port is opened: node switches are recorded, and the engine's timers run on the
// fixes' own UTC times, so an hour of driving replays in a fraction of a second.
//
// A switch takes as long as it does live: the on frame, the pulse, the off frame on the line.
//
// Every pass of the track by a sensor is worked out as the drive goes, by trigger/PassTracker,
// so that a live run fed the same fixes says the same: whether it fired, the closest approach
// (between fixes, not only at them) and, for a miss, why. Every accepted fix counts, those of
// quality 0 too (the engine never gets them; a pass driven under them is missed for that reason).
//
// Positions are unsigned decimal degrees, as the engine sees them; the hemisphere letters of the
// fixes turn them into true compass directions for the words and the map.

#include "runstate/DialogFields.h"
#include "runstate/RunState.h"
#include "gps/GgaParser.h"
#include "gps/LogFiles.h"
#include "sensors/SensorFile.h"
#include "sensors/SensorTable.h"
#include "trigger/PassTracker.h"
#include "trigger/TriggerEngine.h"

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ostrim::replay {

struct Options {
    bool backAndForth = false;
    bool predictive = false;   // fire at the predicted entry into the region, not at a fix in it
    double threshold = 10.0;   // metres: the live program's distanceThreshold
    // Milliseconds from a fix's UTC time to its arrival, as the live program is told it
    // (--receiver-delay): the replay's fixes arrive that late, and the prediction allows for it.
    int receiverDelayMs = 0;
    double passRadius = kPassRadius; // metres: the track within this of a sensor is one pass of it
    std::string vehicleType;   // first column of the GPS log
    std::string gpsLogPath;    // empty: no GPS log is written
    std::time_t logTime = 0;   // the local date of the GPS log's records
    bool events = false;       // keep an event log of the firings and misses (EventLog)
};

struct Fix {
    std::int64_t timeMs;    // since the first fix, from the fixes' UTC times
    std::int64_t utcMs;     // time of the UTC day the sentence gives, -1 when it gives none
    double latitude;        // unsigned decimal degrees
    double longitude;
    bool south;             // hemisphere letters, for true directions
    bool west;
    int quality = -1;       // GGA fix quality; 0: no position, the engine did not get the fix
};

struct Firing {
    std::size_t fix;            // the last fix at or before the firing
    int sensor;
    std::uint32_t nodeId;
    std::int64_t timeMs = 0;    // on the clock of Fix::timeMs: when the on frame had gone out
    std::int64_t utcMs = -1;
    TriggerEngine::Firing kind = TriggerEngine::Firing::AtFix;
    double latitude = 0;        // where the track was then, between the fixes around it
    double longitude = 0;
};

using Miss = PassMiss;
// Fix numbers index Result::fixes, firing numbers Result::firings.
using Pass = PassReport;

struct Result {
    std::vector<SensorEntry> sensors;
    std::vector<Fix> fixes;
    std::vector<Firing> firings;
    std::vector<Pass> passes;     // by fix order of their start
    std::vector<double> nearest;  // per sensor, the closest the whole drive came (metres)
    double threshold = 10.0;
    double passRadius = 50.0;
};

struct Summary {
    std::size_t fixes = 0;
    std::size_t qualityZeroFixes = 0; // fixes the engine never got: the receiver had no position
    double durationSeconds = 0;
    double fixRate = 0;         // fixes a second
    double medianSpeed = 0;     // metres a second, between consecutive fixes
    double maximumSpeed = 0;
    int passes = 0;
    int hits = 0;
    int misses = 0;
};
Summary Summarise(const Result& result);

// Fixes further apart in time than this are not joined: the receiver lost its fix, or two
// recordings follow each other, and a straight line between them says nothing.
inline constexpr std::int64_t kMaxGapMs = kPassGapMs;

using ostrim::CompassWord;
using ostrim::UtcText;

// Planar metres from a sensor to a position, along the sensor's meridian and parallel on the
// WGS-84 ellipsoid, in the direction the coordinate numbers grow (not true directions). Good to
// millimetres over the few tens of metres a pass spans.
struct Offset {
    double x; // longitude number growing
    double y; // latitude number growing
};
Offset LocalOffset(double sensorLatitude, double sensorLongitude, double latitude, double longitude);
// Metres a degree of longitude (x) and of latitude (y) at a latitude.
Offset MetresPerDegree(double latitude);

class Replayer : private PositionConsumer {
public:
    explicit Replayer(const Options& options);
    ~Replayer() override;
    Replayer(const Replayer&) = delete;
    Replayer& operator=(const Replayer&) = delete;

    // The sensor file, read as the live program reads it. False, with the reason in `error`,
    // when it cannot be read or holds no sensor. The lines not read as written are in
    // SensorWarnings().
    bool LoadSensors(const std::string& path, std::string& error);
    void SetSensors(const std::vector<SensorEntry>& sensors);
    const std::vector<std::string>& SensorWarnings() const { return sensorWarnings_; }

    // Recorded bytes, in pieces of any size. A sentence counts at its line feed, as live.
    void Feed(std::string_view bytes);
    // Ends the drive and gives what it did.
    Result Finish();

    // Why the GPS log of Options::gpsLogPath lacks records, empty when it holds them all. Ask
    // after Finish.
    std::string GpsLogError() const;

    // With Options::events, the event log's text as the live run writes it, header row first:
    // the sensors loaded, each node's on and off frames (result "replayed": no device took
    // them), the misses, quality 0 begins and ends. The local time is empty: the replay has no
    // clock of the run. Empty without Options::events. Ask after Finish.
    const std::string& EventLog() const;

private:
    class Fields;
    class Timers;
    class Switcher;
    class Events;

    int TriggerOnPosition(double latitude, double longitude) override;
    int TriggerOnFix(double latitude, double longitude, std::int64_t utcMs) override;
    void Line(std::string_view line);
    // Every accepted fix, before the engine gets it (if it does).
    void OnFix(const AcceptedFix& fix);
    // Hands the firings recorded since the last call to the pass tracker.
    void FeedFirings();
    int SensorOfNode(std::uint32_t nodeId) const;

    Options options_;
    RunState state_;
    SensorTable table_;
    std::unique_ptr<Fields> fields_;
    std::unique_ptr<Timers> timers_;
    std::unique_ptr<Switcher> switcher_;
    std::unique_ptr<Events> events_; // null without Options::events
    std::unique_ptr<GpsLogs> logs_;
    std::unique_ptr<TriggerEngine> engine_;
    std::unique_ptr<GpsInput> input_;
    std::unique_ptr<PassTracker> tracker_;

    std::vector<SensorEntry> sensors_;
    std::vector<std::string> sensorWarnings_;
    std::string partial_;           // a line not yet ended
    FixClock clock_;
    std::vector<Fix> fixes_;
    std::vector<Firing> firings_;
    std::size_t firingsFed_ = 0;    // firings_ handed to the tracker
    std::vector<Pass> passes_;      // as the tracker ends them
    int firingSensor_ = -1; // told by the engine just before its switch
    TriggerEngine::Firing firingKind_ = TriggerEngine::Firing::AtFix;
};

} // namespace ostrim::replay
