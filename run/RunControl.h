#pragma once
// The controls that start and steer a run: Start, Trigger On/Off, the mode radios, End of Lap.
// The front ends (Qt dialog, headless) call these on their GUI thread; the logic lives here.

#include "runstate/DialogFields.h"
#include "runstate/RunState.h"
#include "sensors/SensorTable.h"

#include <ctime>
#include <functional>
#include <string>

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

class RunControl {
public:
    using Clock = std::function<std::time_t()>;

    RunControl(RunState& state, SensorTable& table, DialogFields& fields, GpsReceiverLink& gps,
               BaseStationCheck& baseStation, Clock clock = [] { return std::time(nullptr); });

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
    // True when the new GPS log was created.
    bool OnEndOfLap();

    // For a run that nobody watches, who cannot press Trigger On/Off after a failed
    // base-station check. True while the failed check of the last Start holds off triggering
    // that was on; Trigger On/Off ends the hold, as the operator has decided.
    bool TriggeringHeldByCheck() const { return heldByCheck_; }
    // Start's base-station check once more, while the hold lasts: when the base station
    // answers, triggering comes back on ("Trigger on"); otherwise the status line changes only
    // when the reason does.
    void RecheckBaseStation(const std::string& basePort);

    // The message shown when the GPS port does not open, with the system's reason.
    static std::string GpsPortErrorText(int error);

private:
    void LoadSensorsOnce();
    void SwitchTriggeringOff();
    void ShowCheckFailure(BaseStationCheck::Result check);
    // True, with the status texts set, when the Folder box holds nothing to put the logs in.
    bool RefuseEmptyFolder(const std::string& folder);

    RunState& state_;
    SensorTable& table_;
    DialogFields& fields_;
    GpsReceiverLink& gps_;
    BaseStationCheck& baseStation_;
    Clock clock_;
    std::string readerPort_; // the port the running reader opened
    bool heldByCheck_ = false;
    bool predictiveChosen_ = false;
    std::function<void()> onTriggerOff_;
    BaseStationCheck::Result lastCheck_ = BaseStationCheck::kOk;
};

} // namespace ostrim
