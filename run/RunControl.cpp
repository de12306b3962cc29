#include "run/RunControl.h"

#include "gps/LogFiles.h"
#include "sensors/Distance.h"
#include "sensors/SensorFile.h"
#include "text/Ascii.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
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

void RunControl::Raise(EventType type, std::string detail, EventResult result, std::string reason)
{
    if (links_.events == nullptr)
        return;
    RunEvent event;
    event.type = type;
    event.detail = std::move(detail);
    event.result = result;
    event.reason = std::move(reason);
    links_.events->OnEvent(event);
}

void RunControl::RaiseCheck(BaseStationCheck::Result check, const std::string& port)
{
    Raise(EventType::BaseStationCheck, port,
          check == BaseStationCheck::kOk           ? EventResult::Answered
          : check == BaseStationCheck::kOpenFailed ? EventResult::OpenFailed
                                                   : EventResult::NoAnswer);
}

int RunControl::CreateLog(LogKind kind, const std::string& path)
{
    return links_.logs != nullptr ? links_.logs->Create(kind, path) : CreateLogFile(path);
}

void RunControl::LoadSensorsOnce()
{
    // The whole text of the box: cutting it would read another file than the operator typed.
    if (state_.sensorsLoaded.load() == 0) {
        const std::string path = fields_.GetText(Field::SensorFile);
        const bool wasOn = state_.triggerEnabled.load() != 0;
        const SensorLoadResult result = LoadSensorFile(path, table_, state_, fields_);
        Raise(EventType::SensorsLoaded, path + ": " + (result.cause != FileErrorCause::None
                                                           ? result.message
                                                           : std::to_string(result.count) + " sensors"));
        if (wasOn && state_.triggerEnabled.load() == 0)
            Raise(EventType::SwitchingOff, "no sensors loaded");
        // A load that found no sensor (a misspelt name, an empty file) is tried again at the
        // next Start or Trigger on, so a corrected Sensor File box works without a restart.
        state_.sensorsLoaded.store(table_.count.load() > 0 ? 1 : 0);
    }
}

std::vector<std::string> RunControl::TableChanges(const SensorTable& before, const SensorTable& after)
{
    std::vector<std::string> changes;
    const int was = std::clamp(before.count.load(), 0, SensorTable::kCapacity);
    const int now = std::clamp(after.count.load(), 0, SensorTable::kCapacity);
    // As the sensor file writes it; an unreadable one as it was written.
    auto node = [](const SensorTable& table, int i) {
        if (!table.Armable(i))
            return std::string(table.unreadableNodeId[static_cast<std::size_t>(i)].data());
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(table.nodeId[static_cast<std::size_t>(i)]));
        return std::string(hex);
    };
    char line[160];
    for (int i = 0; i < std::max(was, now); ++i) {
        if (i >= was) {
            changes.push_back("sensor " + std::to_string(i + 1) + " added: node " + node(after, i));
            continue;
        }
        if (i >= now) {
            changes.push_back("sensor " + std::to_string(i + 1) + " removed: node " + node(before, i));
            continue;
        }
        if (node(before, i) != node(after, i))
            changes.push_back("sensor " + std::to_string(i + 1) + ": node id " + node(before, i) + " now " +
                              node(after, i));
        if (before.latitude[i] != after.latitude[i] || before.longitude[i] != after.longitude[i]) {
            const double moved = GeodesicDistance(before.latitude[i], before.longitude[i],
                                                  after.latitude[i], after.longitude[i]);
            std::snprintf(line, sizeof line, "sensor %d moved %.1f m", i + 1, moved);
            changes.push_back(line);
        }
    }
    return changes;
}

void RunControl::OnReloadSensors()
{
    const std::string path = fields_.GetText(Field::SensorFile);
    if (state_.sensorsLoaded.load() == 0 || !links_.offerTable) {
        // Nothing in force yet: the first load, into the table itself while its count is 0.
        LoadSensorsOnce();
        return;
    }

    // Read aside, so the table in force stays whole whatever the file holds. The load's own
    // status texts ("%d sensors", "Trigger off") are not this action's; its messages are.
    class MessagesOnly : public DialogFields {
    public:
        explicit MessagesOnly(DialogFields& fields) : fields_(fields) {}
        void SetText(Field, const std::string&) override {}
        std::string GetText(Field field) const override { return fields_.GetText(field); }
        void ShowMessage(const std::string& text) override { fields_.ShowMessage(text); }

    private:
        DialogFields& fields_;
    } quiet(fields_);
    auto next = std::make_unique<SensorTable>();
    RunState scratch;
    const SensorLoadResult result = LoadSensorFile(path, *next, scratch, quiet);
    if (result.cause != FileErrorCause::None || result.count == 0) {
        const std::string why = result.cause != FileErrorCause::None ? result.message
                                                                      : path + " holds no sensor";
        const std::string text = "Sensors not reloaded: " + why + "; the table in force stays";
        fields_.SetText(Field::Status, text);
        Raise(EventType::SensorsReloaded, text);
        return;
    }

    std::vector<std::string> changes;
    {
        std::lock_guard lock(table_.replacing);
        changes = TableChanges(table_, *next);
    }
    std::string detail = path + ": " + std::to_string(result.count) + " sensors";
    for (const std::string& change : changes) {
        fields_.SetText(Field::Status, change);
        detail += "; " + change;
    }
    if (changes.empty())
        detail += "; no change";
    fields_.SetText(Field::Status, "Sensors reloaded: " + std::to_string(result.count) +
                                       " sensors, " +
                                       (changes.empty() ? std::string("no change")
                                                        : std::to_string(changes.size()) +
                                                              (changes.size() == 1 ? " change" : " changes")) +
                                       ", in force from the next fix");
    Raise(EventType::SensorsReloaded, detail);
    links_.offerTable(std::move(next));
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
    const bool onBeforeLoad = state_.triggerEnabled.load() != 0;
    if (state_.triggerEnabled.load() != 0) {
        LoadSensorsOnce();
        // No sensor in the table (a file without one, or none read): nothing can fire, whatever
        // the flag says; "Trigger on" would be untrue.
        fields_.SetText(Field::Status, table_.count.load() > 0 ? "Trigger on" : kNoSensorsText);
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
    // Named with the others even when they fail: the rows it holds back keep their file's name.
    // Created first, so its header row comes before the rows that waited for it, and it is
    // named only once it holds its header: a row from the reader thread waits until then.
    const std::string events = MakeLogPath(folder, kEventLogFormat, now);
    const int eventsErr = links_.logs != nullptr ? links_.logs->Create(LogKind::Events, events) : 0;
    state_.logPaths.SetEvents(events);
    Raise(EventType::Start, folder);
    if (CreateLog(LogKind::Gps, state_.logPaths.Gps()) != 0) {
        fields_.SetText(Field::Status, "Failed to create log file");
        return StartOutcome::LogFailed;
    }
    if (CreateLog(LogKind::Raw, state_.logPaths.Raw()) != 0) {
        fields_.SetText(Field::Status, "Failed to create raw log file");
        return StartOutcome::LogFailed;
    }
    // The two logs the run is for are there; an event log that failed holds its rows back, as
    // a log does in an outage, and the run goes on.
    if (eventsErr != 0)
        fields_.SetText(Field::Status, "Failed to create event log");

    // Triggering held off by an earlier failed check counts as on: a restart keeps it as it was.
    const bool heldBefore = TriggeringHeldByCheck();
    const bool wanted = state_.triggerEnabled.load() != 0 || heldBefore;
    const BaseStationCheck::Result check =
        basePort.empty() ? BaseStationCheck::kOpenFailed : baseStation_.Check(basePort);
    RaiseCheck(check, basePort);
    if (check != BaseStationCheck::kOk) {
        ShowCheckFailure(check);
        if (state_.triggerEnabled.load() != 0)
            Raise(EventType::SwitchingOff, "the base station did not answer");
        SwitchTriggeringOff();
        // Also with no port selected: a dialog's recheck looks at the selection as it is then.
        state_.baseStationHold.store(wanted ? 1 : 0);
    } else if (TriggeringHeldByCheck()) {
        state_.baseStationHold.store(0);
        state_.triggerEnabled.store(1);
        fields_.SetText(Field::Status, "Trigger on");
        Raise(EventType::SwitchingOn, "the base station answered");
    } else if (state_.triggerEnabled.load() != 0) {
        // The event log opens with the state the run starts in, set before it existed.
        Raise(EventType::SwitchingOn, "at Start");
    } else if (!onBeforeLoad) { // else the load has just said "no sensors loaded"
        Raise(EventType::SwitchingOff, state_.sensorsLoaded.load() != 0 ? "turned off by the operator"
                                                                        : "no sensors loaded");
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
    if (!TriggeringHeldByCheck())
        return;
    ApplyRecheck(baseStation_.Check(basePort));
}

void RunControl::ApplyRecheck(BaseStationCheck::Result check)
{
    if (!TriggeringHeldByCheck())
        return; // the operator decided meanwhile
    if (check == BaseStationCheck::kOk) {
        state_.baseStationHold.store(0);
        RaiseCheck(check, {});
        state_.triggerEnabled.store(1);
        fields_.SetText(Field::Status, "Trigger on");
        Raise(EventType::SwitchingOn, "the base station answered");
    } else if (check != lastCheck_) {
        RaiseCheck(check, {});
        ShowCheckFailure(check);
    }
}

void RunControl::OnTriggerOnOff()
{
    state_.baseStationHold.store(0);
    if (state_.triggerEnabled.load() != 0) {
        SwitchTriggeringOff();
        state_.nextIndex.store(-1);
        fields_.SetText(Field::Status, "Trigger off");
        Raise(EventType::SwitchingOff, "turned off by the operator");
        return;
    }
    state_.triggerEnabled.store(1);
    fields_.SetText(Field::Status, "Trigger on");
    Raise(EventType::SwitchingOn, "turned on by the operator");
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
    } else if (state_.baseStationHold.load() != 0) {
        // Off already, but held to come on when the base station answers: it stays off now.
        state_.baseStationHold.store(0);
        fields_.SetText(Field::Status, "Trigger off");
        Raise(EventType::SwitchingOff, "turned off by the operator");
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
    const int err = CreateLog(LogKind::Gps, path);
    Raise(EventType::EndOfLap, path, err == 0 ? EventResult::Written : EventResult::OpenFailed,
          err == 0 ? std::string() : std::strerror(err));
    if (err != 0) {
        fields_.SetText(Field::Status, "Failed to create log file");
        return false;
    }
    fields_.SetText(Field::Status, "End of Lap: " + path);
    return true;
}

} // namespace ostrim
