#pragma once
// What the operator sees of a run besides the status line: fix count, rate and age, the last
// GGA's quality and satellites, the logs, each sensor's state and distance, and every status
// text with its time, so nothing shown is lost when the next text replaces it.
//
// It counts facts, never texts: the fixes logged are the records the logs put on disk (GpsLogs),
// a switch is the two frames the base station commands wrote (RunEvent NodeOn, NodeOff), a miss
// is a pass that ended without a firing. MonitoredFields passes every status text on and records
// it for the history; GpsInput's accepted-sentence hook gives rate, age and quality. It only
// reads the run's state, sensor table and logs.
//
// Thread rule: OnStatus and OnEvent run on any thread (the GUI thread, the GPS reader, the timer
// threads); OnAcceptedSentence on the GPS reader; Attach once, on the owner's thread before the
// run starts. Take, HistoryFrom and Summary return copies made under the one lock; Take and
// Summary read the sensor table under its `replacing` lock, so any thread may call them.

#include "platform/ClockSync.h"
#include "run/ReceiverLag.h"
#include "runstate/DialogFields.h"
#include "runstate/RunEvents.h"
#include "runstate/RunState.h"
#include "gps/LogFiles.h"
#include "sensors/SensorTable.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace ostrim {

class GpsInput;

struct MonitorTime {
    std::chrono::steady_clock::time_point steady; // for ages and rates
    std::chrono::system_clock::time_point wall;   // for the times the operator reads
    ClockSync sync = ClockSync::Unknown;          // whether `wall` is synchronised
};

// One status text, or a run of the same text repeated back to back (a receiver sending
// nothing but bad sentences would otherwise push everything else out).
struct HistoryEntry {
    std::uint64_t sequence = 0; // counts from 0 over the whole run; never reused
    std::chrono::system_clock::time_point first;
    std::chrono::system_clock::time_point last;
    std::string text;
    std::uint64_t repeats = 1;
};

// "14:03:12  text", or "14:03:12-14:03:20  text (x80)" for a repeated text; local time.
std::string HistoryLine(const HistoryEntry& entry);

// What the trigger engine will do with the next fix, as far as the operator can change it.
enum class Switching {
    NotStarted,       // no run yet: no fix reaches the engine
    On,               // sensors that are due fire
    OffByOperator,    // Trigger On/Off (or --trigger off)
    OffNoBaseStation, // a failed base-station check; checked again every 3 s
    OffNoSensors,     // the table holds no sensor
};

struct SensorRow {
    enum class State {
        Armed,    // fires when the vehicle reaches it
        Fired,    // fired since it was last armed (Loop), or this pass (Back and Forth)
        Next,     // Back and Forth: the one due next
        Held,     // switching is off: nothing can fire
        Missed,   // the last pass by it ended without a firing
        NotArmed, // its node id could not be read: never switched
    };
    int number = 0; // 1-based, as the sensor file's order
    std::uint32_t nodeId = 0;
    State state = State::Armed;
    bool switched = false; // the node has been switched (on and off) at `switchedAt`
    std::chrono::system_clock::time_point switchedAt;
    bool switchFailed = false; // that switch's frames did not all go out
    std::chrono::system_clock::time_point missedAt; // the last miss, if any
    std::string missReason;
    double closest = 0.0; // metres, the last miss's closest approach; NaN unknown
    int passesFired = 0;
    int passesMissed = 0;
    std::string unreadableNodeId{}; // the node id field as written, when it is no hex number
    double distance = 0.0; // metres from the last fix; NaN before the first fix
};

struct RunSnapshot {
    std::uint64_t fixes = 0;       // accepted fixes
    std::uint64_t fixesLogged = 0; // GPS-log records on disk, every lap
    HeldRecords held;              // records of the three logs not on disk yet
    std::size_t dropped = 0;       // records a full backlog had to give up
    double fixRate = 0.0;          // fixes a second over the last kRateWindow
    bool haveFix = false;
    double lastFixAge = 0.0;      // seconds; meaningful with haveFix
    bool fixStale = false;        // the last fix is older than kStaleAfter
    int quality = -1;             // of the last GGA; -1 when the field was empty
    int satellites = -1;
    std::string gpsLog;           // the logs named now (End of Lap names a new GPS log)
    std::string rawLog;
    std::string eventLog;
    std::vector<LogFileCount> files; // every file the run named, with its records
    Switching switching = Switching::NotStarted;
    bool predictive = false;      // the rule in force
    std::vector<SensorRow> sensors;
    std::uint64_t historyEnd = 0; // sequence the next history entry will have
    int nodesSwitched = 0;        // both frames written
    int nodeFailures = 0;         // a frame not written, or the port not opened
    int failures = 0;             // status texts that report a failure
    LagReading receiverLag;       // from the fixes' arrival times
};

// The receiver's fix quality as NMEA names it, e.g. "GPS", "DGPS", "no fix".
std::string QualityName(int quality);

class RunMonitor : public EventSink {
public:
    using Clock = std::function<MonitorTime()>;

    static constexpr std::chrono::seconds kRateWindow{5};
    // A receiver sends at 1 Hz or faster: two missed fixes mean something is wrong.
    static constexpr std::chrono::seconds kStaleAfter{2};
    // At one distinct text a second, nearly three hours; older entries go first.
    static constexpr std::size_t kHistoryLimit = 10000;

    explicit RunMonitor(Clock clock = SystemClock());

    // Reads the run's state, table and logs from now on, and has `input` report each accepted
    // sentence.
    void Attach(const RunState& state, const SensorTable& table, GpsInput& input,
                const GpsLogs* logs = nullptr);
    void Attach(const RunState& state, const SensorTable& table, const GpsLogs* logs = nullptr);

    void OnStatus(const std::string& text);
    // A fact of the run: switches, firings, misses; a few become history lines of their own.
    void OnEvent(const RunEvent& event) override;
    // What became of the records still held when the run ended, for the summary.
    void NoteRescue(const RescueResult& rescue, const std::string& folder);
    // An accepted GGA sentence, exactly as received and logged.
    void OnAcceptedSentence(std::string_view sentence);

    RunSnapshot Take() const;
    // The history entries with a sequence at or past `from`, oldest first. The newest entry's
    // repeat count can still grow, so a viewer asks again from it.
    std::vector<HistoryEntry> HistoryFrom(std::uint64_t from) const;
    // A run has been under way: the logs have been named.
    bool RunStarted() const;
    // One paragraph for the end of a run: the fixes on disk, every file with its records, the
    // nodes switched, each sensor's passes fired and missed, held records rescued or lost,
    // failures.
    std::string Summary() const;

    static Clock SystemClock();

private:
    struct SensorFacts {
        bool switched = false;
        std::chrono::system_clock::time_point switchedAt;
        bool switchFailed = false;
        std::chrono::system_clock::time_point missedAt;
        std::string missReason;
        double closest = 0.0;
        int fired = 0;
        int missed = 0;
    };
    RunSnapshot TakeLocked(const MonitorTime& now) const;
    void AddHistory(std::chrono::system_clock::time_point at, const std::string& text);

    Clock clock_;
    mutable std::mutex mutex_;
    const RunState* state_ = nullptr;
    const SensorTable* table_ = nullptr;
    const GpsLogs* logs_ = nullptr;

    std::uint64_t fixes_ = 0;
    std::deque<std::chrono::steady_clock::time_point> recentFixes_; // within kRateWindow
    std::chrono::steady_clock::time_point firstFix_;
    std::chrono::steady_clock::time_point lastFix_;
    double latitude_ = 0.0;
    double longitude_ = 0.0;
    int quality_ = -1;
    int satellites_ = -1;

    std::deque<HistoryEntry> history_;
    std::uint64_t nextSequence_ = 0;
    std::array<SensorFacts, SensorTable::kCapacity> sensorFacts_{};
    // The on frame's result, by node, until its off frame comes.
    std::map<std::uint32_t, EventResult> onFrames_;
    int nodesSwitched_ = 0;
    int nodeFailures_ = 0;
    bool rescued_ = false;
    std::size_t rescueLost_ = 0; // after the last rescue
    std::vector<std::pair<std::string, std::size_t>> rescues_; // folder, records written there
    // Each failure text once, in the order first seen, with its count.
    std::vector<std::pair<std::string, int>> failures_;
    int failureCount_ = 0;
    ReceiverLag lag_;
};

// Passes every call on to the front end's fields and records each status text in the monitor.
// Thread rule: as the fields it wraps.
class MonitoredFields : public DialogFields {
public:
    MonitoredFields(DialogFields& fields, RunMonitor& monitor) : fields_(fields), monitor_(monitor) {}

    void SetText(Field field, const std::string& text) override;
    std::string GetText(Field field) const override { return fields_.GetText(field); }
    void ShowMessage(const std::string& text) override;

private:
    DialogFields& fields_;
    RunMonitor& monitor_;
};

} // namespace ostrim
