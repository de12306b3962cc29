#pragma once
// One program run's logic wired together: run state, sensor table, logs, the GPS chain, the
// trigger engine, the base-station commands, the GPS port reader, and what the operator sees of
// it (the run monitor and the event log, both fed by the run's events). The Qt dialog, the
// Windows dialog and the headless front end each own one and differ only in how they show
// fields and run timers; each calls Tick about once a second.

#include "runstate/DialogFields.h"
#include "run/EventHub.h"
#include "run/RunControl.h"
#include "run/RunMonitor.h"
#include "run/SilenceWatch.h"
#include "runstate/RunState.h"
#include "basestation/BaseStationCommands.h"
#include "gps/GgaParser.h"
#include "gps/LogFiles.h"
#include "sensors/SensorTable.h"
#include "trigger/FixSpacing.h"
#include "trigger/PassTracker.h"
#include "trigger/TriggerEngine.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <future>
#include <memory>
#include <string>

namespace ostrim {

class PortMonitor;
class ThreadTimerService;

// Thread rule: Start, Tick, the control handlers, OnTimer, Stop, Rescue and Summary run on the
// front end's GUI thread (headless: its main thread); the GPS chain runs on the reader's thread.
// `onDisconnected` is called on the reader's thread. Monitor() may be read from any thread.
class Session {
public:
    struct Hooks {
        std::function<std::string()> selectedBasePort; // device path, empty for none
        TriggerEngine::Trace trace;                    // empty: standard output
        std::function<void()> onDisconnected;          // the receiver went away during a run
        FixSpacingWatch::OnChange onSpacing = {};      // fixes too far apart, or close again
        // Nobody is there to press Start when the receiver's device comes back (headless): the
        // run starts again by itself, with new logs and a new base-station check.
        bool restartWhenReceiverBack = false;
    };

    // Often enough that a base station plugged in late is used within seconds; rarely enough
    // that its exclusive open seldom meets a node switch of the reader thread.
    static constexpr std::chrono::seconds kRecheckEvery{3};

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
    RunMonitor& Monitor() { return monitor_; }
    const RunMonitor& Monitor() const { return monitor_; }
    EventHub& Events() { return events_; }
    // The front end's fields as the run writes them: every status text also in the history.
    DialogFields& Fields() { return fields_; }
    const FixSpacingWatch& Spacing() const { return spacing_; }

    // Start: `gpsPort` the device to open, `basePort` the Base Station entry, empty for none.
    // A reader that runs afterwards is watched for silence under the name `gpsName`.
    RunControl::StartOutcome Start(const std::string& gpsPort, const std::string& basePort,
                                   const std::string& gpsName);

    struct TickResult {
        bool gpsFellSilent = false; // the GPS port has just been silent for SilenceWatch::kLimit
    };
    // About once a second: tells a GPS port silent for SilenceWatch::kLimit; while a failed
    // base-station check holds switching off, checks again every kRecheckEvery (off this
    // thread: a base station that does not answer takes 600 ms) and switches on when it
    // answers; with restartWhenReceiverBack, starts again once the receiver's device is back.
    TickResult Tick();
    bool GpsSilent() const { return silence_.Silent(); }

    // The run summary's line on the predictive rule's late firings; empty under the on-fix rule.
    std::string LateFiringsText() const;
    // The paragraph for the end of a run, with the late firings' line when there is one.
    std::string Summary() const;

    // Raises the base station's stop, so a switch in progress ends at once, then stops the GPS
    // reader and joins its thread; after it no callback reaches the fields.
    void Stop();

    // After Stop: the held records, once more tried in their own files first.
    HeldRecords Held();
    // Writes what is still held into `folder`; the summary says where, or what was lost.
    RescueResult Rescue(const std::string& folder);
    // Where held records go when nobody chooses: $XDG_STATE_HOME/ostrim/rescue/<start>, else
    // ~/.local/state/ostrim/rescue/<start>; on Windows %LOCALAPPDATA%\Ostrim\rescue\<start>;
    // <start> the run's start time as 2026-12-08_14-03-12.
    std::string DefaultRescueFolder() const;

private:
    class ReaderLink;
    class PingCheck;
    class EngineFields;
    class PassFeed;
    void OnFixAccepted(const AcceptedFix& fix);
    // A pass has ended: a miss becomes a run event, with its reason and closest approach.
    void OnPass(const PassReport& pass);

    DialogFields& frontFields_;
    Hooks hooks_;
    RunMonitor monitor_;
    MonitoredFields fields_{frontFields_, monitor_}; // every status text also in the history
    RunState state_;
    SensorTable table_;
    GpsLogs logs_{state_.logPaths};
    EventHub events_{state_, logs_};
    BaseStationCommands baseStation_;
    // Set while the receiver is gone; cleared when a reader opens.
    std::atomic<bool> receiverLost_{false};
    std::atomic<bool> restartPending_{false};
    std::unique_ptr<EngineFields> engineFields_;
    TriggerEngine engine_;
    FixSpacingWatch spacing_;
    GpsInput input_;
    std::unique_ptr<ReaderLink> reader_;
    std::unique_ptr<PingCheck> pingCheck_;
    RunControl control_;
    // Passes and misses, decided as the replay decides them: fed on the reader thread, from
    // Stop on the GUI thread once the reader is joined.
    PassTracker passes_;
    std::atomic<bool> tableLoaded_{false}; // a table loaded on the GUI thread, not tracked yet
    std::unique_ptr<PassFeed> passFeed_;

    // The GUI thread's own.
    SilenceWatch silence_;
    std::string gpsPort_;
    std::string basePort_;
    std::time_t startedAt_ = 0;
    std::chrono::steady_clock::time_point nextRecheck_{};
    std::future<BaseStationCheck::Result> recheck_;
};

// The end of a run whose timers run on a thread of their own (headless, the tests): the base
// station's stop is raised before any thread is joined, so a switch hung on a device that takes
// no bytes ends at once and neither the reader's join nor the timer thread's waits it out.
void EndRun(Session& session, ThreadTimerService& timers);

} // namespace ostrim
