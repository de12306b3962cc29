#pragma once
// One program run's logic wired together: run state, sensor table, logs, the GPS chain, the
// trigger engine, the base-station commands and the GPS port reader. The Qt dialog and the
// headless front end each own one and differ only in how they show fields and run timers.

#include "runstate/DialogFields.h"
#include "run/RunControl.h"
#include "runstate/RunState.h"
#include "basestation/BaseStationCommands.h"
#include "gps/GgaParser.h"
#include "gps/LogFiles.h"
#include "sensors/SensorTable.h"
#include "trigger/FixSpacing.h"
#include "trigger/TriggerEngine.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace ostrim {

class PortMonitor;

// Thread rule: the control handlers, OnTimer and Stop run on the front end's GUI thread; the GPS
// chain runs on the reader's thread. `onDisconnected` is called on the reader's thread.
class Session {
public:
    struct Hooks {
        std::function<std::string()> selectedBasePort; // device path, empty for none
        TriggerEngine::Trace trace;                    // empty: standard output
        std::function<void()> onDisconnected;          // the receiver went away during a run
        FixSpacingWatch::OnChange onSpacing = {};      // fixes too far apart, or close again
    };

    Session(DialogFields& fields, TimerService& timers, Hooks hooks);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    RunControl& Control() { return control_; }
    BaseStationCommands& BaseStation() { return baseStation_; }
    TriggerEngine& Engine() { return engine_; }
    RunState& State() { return state_; }
    SensorTable& Table() { return table_; }
    GpsLogs& Logs() { return logs_; }
    GpsInput& Input() { return input_; }
    const FixSpacingWatch& Spacing() const { return spacing_; }

    // The run summary's line on the predictive rule's late firings; empty under the on-fix rule.
    std::string LateFiringsText() const;

    // Stops the GPS reader and joins its thread; after it no callback reaches the fields.
    void Stop();

private:
    class ReaderLink;
    class PingCheck;
    class EngineFields;

    DialogFields& fields_;
    Hooks hooks_;
    RunState state_;
    SensorTable table_;
    GpsLogs logs_{state_.logPaths};
    BaseStationCommands baseStation_;
    // Set while the receiver is gone; cleared when a reader opens.
    std::atomic<bool> receiverLost_{false};
    std::unique_ptr<EngineFields> engineFields_;
    TriggerEngine engine_;
    FixSpacingWatch spacing_;
    GpsInput input_;
    std::unique_ptr<ReaderLink> reader_;
    std::unique_ptr<PingCheck> pingCheck_;
    RunControl control_;
};

} // namespace ostrim
