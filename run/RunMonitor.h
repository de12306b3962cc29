#pragma once
// What the operator sees of a run besides the status line: fix count, rate and age, the last
// GGA's quality and satellites, the logs, each sensor's state and distance, and every status
// text with its time, so nothing shown is lost when the next text replaces it.
//
// It is fed through the seams a run already has: MonitoredFields passes every status text on
// and records it; GpsInput's accepted-sentence hook reports each fix after it was logged. It
// only reads the run's state and sensor table.
//
// Thread rule: OnStatus runs on any thread (the GUI thread, the GPS reader, the timer thread);
// OnAcceptedSentence on the GPS reader; Attach once, on the owner's thread before the run starts.
// Take, HistoryFrom and Summary return copies made under the one lock; Take and Summary also
// read the sensor positions, so they run on the thread that loads the sensor file (the GUI
// thread), HistoryFrom on any.

#include "platform/ClockSync.h"
#include "run/ReceiverLag.h"
#include "runstate/DialogFields.h"
#include "runstate/RunState.h"
#include "sensors/SensorTable.h"

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

struct SensorRow {
    // NotArmed: the node id could not be read; never switched ("not armed: node id ... unreadable").
    enum class State { Armed, Fired, Next, NotArmed };
    int number = 0; // 1-based, as the sensor file's order
    std::uint32_t nodeId = 0;
    std::string unreadableNodeId{}; // the node id field as written, when it is no hex number
    State state = State::Armed;
    bool switched = false; // the node has been switched (on and off) at `switchedAt`
    std::chrono::system_clock::time_point switchedAt;
    double distance = 0.0; // metres from the last fix; NaN before the first fix
};

struct RunSnapshot {
    std::uint64_t fixes = 0;      // accepted fixes, each handed to both logs
    double fixRate = 0.0;         // fixes a second over the last kRateWindow
    bool haveFix = false;
    double lastFixAge = 0.0;      // seconds; meaningful with haveFix
    bool fixStale = false;        // the last fix is older than kStaleAfter
    int quality = -1;             // of the last GGA; -1 when the field was empty
    int satellites = -1;
    std::string gpsLog;           // the logs named now (End of Lap names a new GPS log)
    std::string rawLog;
    std::vector<SensorRow> sensors;
    std::uint64_t historyEnd = 0; // sequence the next history entry will have
    int nodesSwitched = 0;        // "Node %d success"
    int nodeFailures = 0;         // "Node %d failed"
    int failures = 0;             // status texts that report a failure, node failures included
    LagReading receiverLag;       // from the fixes' arrival times
};

// The receiver's fix quality as NMEA names it, e.g. "GPS", "DGPS", "no fix".
std::string QualityName(int quality);

class RunMonitor {
public:
    using Clock = std::function<MonitorTime()>;

    static constexpr std::chrono::seconds kRateWindow{5};
    // A receiver sends at 1 Hz or faster: two missed fixes mean something is wrong.
    static constexpr std::chrono::seconds kStaleAfter{2};
    // At one distinct text a second, nearly three hours; older entries go first.
    static constexpr std::size_t kHistoryLimit = 10000;

    explicit RunMonitor(Clock clock = SystemClock());

    // Reads the run's state and table from now on, and has `input` report each accepted sentence.
    void Attach(const RunState& state, const SensorTable& table, GpsInput& input);
    void Attach(const RunState& state, const SensorTable& table);

    void OnStatus(const std::string& text);
    // An accepted GGA sentence, exactly as received and logged.
    void OnAcceptedSentence(std::string_view sentence);

    RunSnapshot Take() const;
    // The history entries with a sequence at or past `from`, oldest first. The newest entry's
    // repeat count can still grow, so a viewer asks again from it.
    std::vector<HistoryEntry> HistoryFrom(std::uint64_t from) const;
    // A run has been under way: the logs have been named.
    bool RunStarted() const;
    // One paragraph for the end of a run: fixes, both logs, nodes switched, failures.
    std::string Summary() const;

    static Clock SystemClock();

private:
    RunSnapshot TakeLocked(const MonitorTime& now) const;

    Clock clock_;
    mutable std::mutex mutex_;
    const RunState* state_ = nullptr;
    const SensorTable* table_ = nullptr;

    std::uint64_t fixes_ = 0;
    std::deque<std::chrono::steady_clock::time_point> recentFixes_; // within kRateWindow
    std::chrono::steady_clock::time_point firstFix_;
    std::chrono::steady_clock::time_point lastFix_;
    double latitude_ = 0.0;
    double longitude_ = 0.0;
    int quality_ = -1;
    int satellites_ = -1;
    std::vector<std::string> gpsLogs_; // every GPS log a fix went to, in order

    std::deque<HistoryEntry> history_;
    std::uint64_t nextSequence_ = 0;
    std::map<std::uint32_t, std::chrono::system_clock::time_point> switchedAt_;
    int nodesSwitched_ = 0;
    int nodeFailures_ = 0;
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
