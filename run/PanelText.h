#pragma once
// The run panel as words: every text a front end shows of a run besides its controls, made once
// from a RunMonitor snapshot, with whether it is an alarm. The Qt panel, the Windows dialog,
// headless's lines and the control command's `status` show these texts and nothing of their own,
// so every view says the same.
//
// The state indicator says what the trigger engine will do with the next fix:
//   "Switching on (on-fix rule)", "Switching on (predictive rule)"
//   "Off: turned off by the operator"
//   "Off: base station did not answer, checking every 3 s"
//   "Off: no sensors loaded"
// and, beside it while any record waits to be written, "Logs not written since hh:mm:ss".
// Before Start it is empty: no fix reaches the engine.
//
// Sensor rows: "armed", "next", "fired 14:03:12", "fired 14:03:12, switch failed",
// "missed 14:03:12: <reason>, closest 12.3 m", "held: switching off" (whenever nothing can fire),
// "not armed: node id 403BA38G unreadable".
//
// Times are the computer's local time, hh:mm:ss. Pure functions: any thread.

#include "run/RunMonitor.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrim {

// Four times a second: the age of the last fix reads smoothly, the GUI thread stays idle.
inline constexpr std::chrono::milliseconds kPanelRefreshPeriod{250};

enum class PanelLevel {
    Normal,
    Good,    // switching on: what the operator wants to see
    Warning, // a state the operator chose, but not the one a run is for
    Alarm,   // red: something is not as it should be
};

// The state indicator's block colours, 0xRRGGBB, and the red of every alarm text: the same in
// every view.
struct PanelColours {
    std::uint32_t background;
    std::uint32_t text;
};
inline constexpr std::uint32_t kAlarmTextRgb = 0xc00000;
PanelColours IndicatorColours(PanelLevel level); // Normal: no block, {0, 0}

// The panel's captions, the same in every view.
struct PanelLabels {
    static constexpr const char* kDetails = "Details";
    static constexpr const char* kFixesLogged = "Fixes logged";
    static constexpr const char* kFixRate = "Fix rate";
    static constexpr const char* kLastFix = "Last fix";
    static constexpr const char* kLastGga = "Last GGA";
    static constexpr const char* kGpsLog = "GPS log";
    static constexpr const char* kRawLog = "Raw log";
    static constexpr const char* kEventLog = "Event log";
    static constexpr const char* kSensorColumns[4] = {"Sensor", "Node Id", "State", "Distance"};
};

struct PanelLine {
    std::string text;
    PanelLevel level = PanelLevel::Normal;
};

struct PanelSensorRow {
    std::string number;   // "3"
    std::string nodeId;   // 8 hex digits, as the sensor file writes it
    PanelLine state;
    std::string distance; // "12.3 m", "-" before the first fix
};

struct PanelTexts {
    PanelLine state;     // the switching state; empty text before Start
    PanelLine logsState; // "Logs not written since hh:mm:ss" (alarm); empty text when all is written
    PanelLine fixesLogged; // records on disk: "561"
    PanelLine held;        // "41 held, not yet written (since 14:03:12)" (alarm); empty when none
    PanelLine fixRate;     // "10.0 a second", "-"
    PanelLine fixAge;      // "0.1 s ago", "2.5 s ago, none since" (alarm over 2 s), "none yet"
    PanelLine quality;     // "quality 1 (GPS), 8 satellites"; alarm at quality 0
    PanelLine receiverLag; // ReceiverLagText: how late fixes arrive after their own UTC time
    std::string gpsLog;    // full paths, "-" before Start
    std::string rawLog;
    std::string eventLog;
    std::vector<PanelSensorRow> sensors;
};

PanelTexts MakePanelTexts(const RunSnapshot& snapshot);

// The state indicator's text alone, and the sensor state of one row.
PanelLine SwitchingText(const RunSnapshot& snapshot);
PanelLine SensorStateText(const SensorRow& row);

// The line a miss gives in the history and on headless's output, whose lines carry their own
// times: "Sensor 2 missed: switching off, closest 12.3 m".
std::string MissLine(const RunEvent& miss);

// "14:03:12", local time.
std::string ClockText(std::chrono::system_clock::time_point time);

// The status line's text reports a failure (shown in red).
bool IsAlarmText(const std::string& status);

// Follows the monitor's history for a list that shows one line per entry (HistoryLine): each
// call tells what changed since the last. The newest entry's repeat count can still grow, so
// its line may come again as `last`. One per view; not thread-safe.
class HistoryFeed {
public:
    struct Update {
        std::optional<std::string> last; // the list's last line, rewritten
        std::vector<std::string> added;  // lines to append, oldest first
    };
    Update Next(const RunMonitor& monitor);

private:
    std::optional<std::uint64_t> lastShown_; // sequence of the list's last line
};

} // namespace ostrim
