#pragma once
// The controls that start and steer a run: Start, Trigger On/Off, the mode radios, End of Lap.
// The front ends (Qt dialog, headless) call these on their GUI thread; the logic lives here.

#include "runstate/DialogFields.h"
#include "runstate/RunEvents.h"
#include "runstate/RunState.h"
#include "sensors/SensorTable.h"

#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ostrim {

// What Start needs of the GPS port: a reader that feeds received characters into the chain.
class GpsReceiverLink {
public:
    virtual ~GpsReceiverLink() = default;
    // Opens the port and starts reading. 0 on success, else a PortMonitor result code; `error`
    // receives the errno of the failure (0 if none).
    virtual int Open(const std::string& path, int& error) = 0;
    // A reader of an earlier Start is still running.
    virtual bool Running() const = 0;
    // Ends the reader and releases its port; nothing more comes from it.
    virtual void Stop() = 0;
};

// Start's base-station check: open the port, ping, close.
class BaseStationCheck {
public:
    virtual ~BaseStationCheck() = default;
    enum Result { kOk = 0, kOpenFailed, kPingFailed };
    virtual Result Check(const std::string& port) = 0;
};

class GpsLogs;
enum class LogKind;

// The status text, and the state, of a run whose table holds no sensor.
inline constexpr char kNoSensorsText[] = "Off: no sensors loaded";

class RunControl {
public:
    using Clock = std::function<std::time_t()>;

    // What a run adds around the controls; each may be left out (the tests of the controls).
    struct Links {
        GpsLogs* logs = nullptr;     // creates the logs and counts their files
        EventSink* events = nullptr; // Start, the checks, switching on and off, laps, loads
        // A reloaded table, handed to the trigger engine, which puts it in force at the next fix.
        std::function<void(std::unique_ptr<SensorTable>)> offerTable;
    };

    RunControl(RunState& state, SensorTable& table, DialogFields& fields, GpsReceiverLink& gps,
               BaseStationCheck& baseStation, Clock clock = [] { return std::time(nullptr); });

    // Set before the first handler runs.
    void Link(Links links) { links_ = std::move(links); }

    enum class StartOutcome {
        GpsPortFailed,  // message shown; Start stays enabled
        LogFailed,      // status text set; reader runs; Start stays enabled
        Running,        // the run is under way; Start is to be disabled for good
    };
    // `gpsPort` and `basePort` are the selected entries' texts, empty for no selection.
    StartOutcome OnStart(const std::string& gpsPort, const std::string& basePort);
    // The firing rule the next Start puts in force: predictive or, by default, on-fix.
    void ChooseRule(bool predictive) { predictiveChosen_ = predictive; }
    // The receiver's delay from a fix's time to its arrival, milliseconds: the predictive rule
    // fires that much sooner. In force from the next fix, also in a run.
    void SetReceiverDelay(int ms) { state_.receiverDelayMs.store(ms); }
    void OnTriggerOnOff();
    // Called whenever triggering goes off (Trigger Off, a failed check at Start): the engine
    // voids its planned switches. Set before the run starts.
    void SetOnTriggerOff(std::function<void()> hook) { onTriggerOff_ = std::move(hook); }

    // Trigger On/Off as an explicit choice, which a repeated or late request cannot invert:
    // switches only when triggering is not already as asked. Either choice ends a hold of the
    // base-station check, as Trigger On/Off does.
    void OnTrigger(bool on);
    void OnLoop();
    void OnBackAndForth();
    // True when the new GPS log was created; the status line then names it.
    bool OnEndOfLap();
    // Reads the Sensor File box again. A table that holds sensors is offered to the engine for
    // the next fix, each change from the table in force a status text ("sensor 3 added: node
    // 40A00004"); a file that does not load (missing, no sensor in it) leaves the table in
    // force and says why. Before any table was loaded it is the ordinary first load.
    void OnReloadSensors();

    // For a run that nobody watches, who cannot press Trigger On/Off after a failed
    // base-station check. True while the failed check of the last Start holds off triggering
    // that was on; Trigger On/Off ends the hold, as the operator has decided.
    bool TriggeringHeldByCheck() const { return state_.baseStationHold.load() != 0; }
    // Start's base-station check once more, while the hold lasts: when the base station
    // answers, triggering comes back on ("Trigger on"); otherwise the status line changes only
    // when the reason does.
    void RecheckBaseStation(const std::string& basePort);
    // The second half of a recheck, for a check made elsewhere (off the GUI thread): takes its
    // result as RecheckBaseStation would. Nothing happens unless the hold still lasts.
    void ApplyRecheck(BaseStationCheck::Result check);
    BaseStationCheck& Checker() { return baseStation_; }

    // The message shown when the GPS port does not open, with the system's reason.
    static std::string GpsPortErrorText(int error);

    // Each difference between two tables, as a line for the operator, in sensor order.
    static std::vector<std::string> TableChanges(const SensorTable& before, const SensorTable& after);

private:
    void LoadSensorsOnce();
    void SwitchTriggeringOff();
    void ShowCheckFailure(BaseStationCheck::Result check);
    void Raise(EventType type, std::string detail, EventResult result = EventResult::None,
               std::string reason = {});
    void RaiseCheck(BaseStationCheck::Result check, const std::string& port);
    int CreateLog(LogKind kind, const std::string& path);
    // True, with the status texts set, when the Folder box holds nothing to put the logs in.
    bool RefuseEmptyFolder(const std::string& folder);

    RunState& state_;
    SensorTable& table_;
    DialogFields& fields_;
    GpsReceiverLink& gps_;
    BaseStationCheck& baseStation_;
    Clock clock_;
    Links links_;
    std::string readerPort_; // the port the running reader opened
    bool predictiveChosen_ = false;
    std::function<void()> onTriggerOff_;
    BaseStationCheck::Result lastCheck_ = BaseStationCheck::kOk;
};

} // namespace ostrim
