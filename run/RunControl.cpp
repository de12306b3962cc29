#include "run/RunControl.h"

#include "gps/LogFiles.h"
#include "sensors/SensorFile.h"
#include "text/Ascii.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ostrim {

RunControl::RunControl(RunState& state, SensorTable& table, DialogFields& fields,
                       GpsReceiverLink& gps, BaseStationCheck& baseStation, Clock clock)
    : state_(state), table_(table), fields_(fields), gps_(gps), baseStation_(baseStation),
      clock_(std::move(clock))
{
}

std::string RunControl::GpsPortErrorText(int error)
{
    std::string text = "Error opening GPS receiver port";
    switch (error) {
    case 0:
        return text;
    case EACCES:
    case EPERM:
        return text + "\nPermission denied: add your user to the dialout group "
                      "(sudo usermod -aG dialout $USER), then log in again.";
    case EBUSY:
        return text + "\nThe port is in use by another program.";
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return text + "\nNo such device: is the receiver plugged in?";
    default:
        return text + "\n" + std::strerror(error);
    }
}

void RunControl::LoadSensorsOnce()
{
    // The whole text of the box: cutting it would read another file than the operator typed.
    if (state_.sensorsLoaded.load() == 0) {
        LoadSensorFile(fields_.GetText(Field::SensorFile), table_, state_, fields_);
        // A load that found no sensor (a misspelt name, an empty file) is tried again at the
        // next Start or Trigger on, so a corrected Sensor File box works without a restart.
        state_.sensorsLoaded.store(table_.count.load() > 0 ? 1 : 0);
    }
}

bool RunControl::RefuseEmptyFolder(const std::string& folder)
{
    // An empty folder would put the logs at the file-system root.
    if (std::any_of(folder.begin(), folder.end(), [](char c) { return !IsSpace(c); }))
        return false;
    fields_.SetText(Field::Status, "No log folder given: the Folder box is empty");
    fields_.SetText(Field::Status, "Failed to create log file");
    return true;
}

RunControl::StartOutcome RunControl::OnStart(const std::string& gpsPort, const std::string& basePort)
{
    state_.predictive.store(predictiveChosen_ ? 1 : 0);
    if (state_.triggerEnabled.load() != 0) {
        LoadSensorsOnce();
        // A file without sensors has just switched triggering off; say so, not "Trigger on".
        fields_.SetText(Field::Status, state_.triggerEnabled.load() != 0 ? "Trigger on" : "Trigger off");
    }

    // A reader of an earlier Start still holds the port: go on with it rather than fail on our
    // own exclusive open and leave the operator stuck; but only while it reads the port now
    // selected, else the run would log the wrong receiver.
    if (gps_.Running() && gpsPort != readerPort_)
        gps_.Stop();
    if (!gps_.Running()) {
        int error = 0;
        if (gpsPort.empty()) {
            fields_.ShowMessage("Error opening GPS receiver port\nNo GPS port is selected.");
            return StartOutcome::GpsPortFailed;
        }
        if (gps_.Open(gpsPort, error) != 0) {
            fields_.ShowMessage(GpsPortErrorText(error));
            return StartOutcome::GpsPortFailed;
        }
        readerPort_ = gpsPort;
    }

    const std::string folder = fields_.GetText(Field::Folder);
    if (RefuseEmptyFolder(folder))
        return StartOutcome::LogFailed;
    const std::time_t now = clock_();
    state_.logPaths.SetGps(MakeLogPath(folder, kGpsLogFormat, now));
    state_.logPaths.SetRaw(MakeLogPath(folder, kRawLogFormat, now));
    if (CreateLogFile(state_.logPaths.Gps()) != 0) {
        fields_.SetText(Field::Status, "Failed to create log file");
        return StartOutcome::LogFailed;
    }
    if (CreateLogFile(state_.logPaths.Raw()) != 0) {
        fields_.SetText(Field::Status, "Failed to create raw log file");
        return StartOutcome::LogFailed;
    }

    // Triggering held off by an earlier failed check counts as on: a restart keeps it as it was.
    const bool wanted = state_.triggerEnabled.load() != 0 || heldByCheck_;
    const BaseStationCheck::Result check =
        basePort.empty() ? BaseStationCheck::kOpenFailed : baseStation_.Check(basePort);
    if (check != BaseStationCheck::kOk) {
        ShowCheckFailure(check);
        SwitchTriggeringOff();
        heldByCheck_ = wanted && !basePort.empty();
    } else if (heldByCheck_) {
        heldByCheck_ = false;
        state_.triggerEnabled.store(1);
        fields_.SetText(Field::Status, "Trigger on");
    }

    // Only a passed check may be covered: the operator must see why triggering is off.
    if (state_.loopMode.load() == 0 && check == BaseStationCheck::kOk)
        fields_.SetText(Field::Status, "Back and Forth mode");
    return StartOutcome::Running;
}

void RunControl::ShowCheckFailure(BaseStationCheck::Result check)
{
    lastCheck_ = check;
    fields_.SetText(Field::Status, check == BaseStationCheck::kOpenFailed
                                       ? "Base station failed to open"
                                       : "Base station failed to ping");
}

void RunControl::RecheckBaseStation(const std::string& basePort)
{
    if (!heldByCheck_)
        return;
    const BaseStationCheck::Result check = baseStation_.Check(basePort);
    if (check == BaseStationCheck::kOk) {
        heldByCheck_ = false;
        state_.triggerEnabled.store(1);
        fields_.SetText(Field::Status, "Trigger on");
    } else if (check != lastCheck_) {
        ShowCheckFailure(check);
    }
}

void RunControl::OnTriggerOnOff()
{
    heldByCheck_ = false;
    if (state_.triggerEnabled.load() != 0) {
        SwitchTriggeringOff();
        state_.nextIndex.store(-1);
        fields_.SetText(Field::Status, "Trigger off");
        return;
    }
    state_.triggerEnabled.store(1);
    fields_.SetText(Field::Status, "Trigger on");
    LoadSensorsOnce();
}

void RunControl::SwitchTriggeringOff()
{
    state_.triggerEnabled.store(0);
    state_.triggerOffs.fetch_add(1);
    if (onTriggerOff_)
        onTriggerOff_();
}

void RunControl::OnTrigger(bool on)
{
    if ((state_.triggerEnabled.load() != 0) != on) {
        OnTriggerOnOff();
    } else if (heldByCheck_) {
        // Off already, but held to come on when the base station answers: it stays off now.
        heldByCheck_ = false;
        fields_.SetText(Field::Status, "Trigger off");
    }
}

void RunControl::OnLoop()
{
    state_.loopMode.store(1);
}

void RunControl::OnBackAndForth()
{
    state_.loopMode.store(0);
    state_.rearmed.store(0);
    state_.nextIndex.store(-1);
}

bool RunControl::OnEndOfLap()
{
    const std::string folder = fields_.GetText(Field::Folder);
    if (RefuseEmptyFolder(folder))
        return false; // the records go on into the lap's file
    const std::string path = MakeLogPath(folder, kGpsLogFormat, clock_());
    state_.logPaths.SetGps(path);
    if (CreateLogFile(path) != 0) {
        fields_.SetText(Field::Status, "Failed to create log file");
        return false;
    }
    return true;
}

} // namespace ostrim
