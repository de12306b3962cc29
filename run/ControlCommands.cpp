#include "run/ControlCommands.h"

#include "run/ControlProtocol.h"
#include "run/PanelText.h"

#include <cstdio>

namespace ostrim {
namespace {

std::string Row(const char* label, const std::string& value)
{
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%-16s", label);
    return buffer + value + "\n";
}

} // namespace

std::string StatusText(const RunSnapshot& run, const std::vector<HistoryEntry>& lastEvents)
{
    const PanelTexts panel = MakePanelTexts(run);
    std::string text;
    text += Row("State", panel.state.text.empty() ? "-" : panel.state.text);
    if (!panel.logsState.text.empty())
        text += Row("Logs", panel.logsState.text);
    std::string fixes = panel.fixesLogged.text;
    if (run.haveFix)
        fixes += ", " + panel.fixRate.text;
    text += Row("Fixes logged", fixes);
    if (!panel.held.text.empty())
        text += Row("Held", panel.held.text);
    text += Row("Last fix", run.haveFix ? panel.fixAge.text + ", " + panel.quality.text : panel.fixAge.text);
    if (run.predictive)
        text += Row("Receiver lag", panel.receiverLag.text);
    text += Row("GPS log", panel.gpsLog);
    text += Row("Raw log", panel.rawLog);
    text += Row("Event log", panel.eventLog);
    text += Row("Nodes switched", std::to_string(run.nodesSwitched) + ", " +
                                      std::to_string(run.nodeFailures) + " failed");
    text += Row("Sensors", std::to_string(panel.sensors.size()));
    for (const PanelSensorRow& row : panel.sensors) {
        char line[160];
        std::snprintf(line, sizeof line, "  %-3s node %-8s  %s, %s\n", row.number.c_str(), row.nodeId.c_str(),
                      row.state.text.c_str(), row.distance.c_str());
        text += line;
    }
    text += "Last events\n";
    for (const HistoryEntry& entry : lastEvents)
        text += "  " + HistoryLine(entry) + "\n";
    return text;
}

std::string ControlCommands::Answer(std::string_view line)
{
    const ControlCommand command = ParseControlCommand(line);
    if (!command.verb)
        return ControlError(command.error);
    switch (*command.verb) {
    case ControlVerb::Status: {
        const RunSnapshot run = monitor_.Take();
        const std::uint64_t from = run.historyEnd > kStatusEvents ? run.historyEnd - kStatusEvents : 0;
        return ControlOk(StatusText(run, monitor_.HistoryFrom(from)));
    }
    case ControlVerb::TriggerOn:
        return Trigger(true);
    case ControlVerb::TriggerOff:
        return Trigger(false);
    case ControlVerb::Lap:
        return Lap();
    case ControlVerb::ReloadSensors:
        return ReloadSensors();
    }
    return ControlError("unknown command");
}

std::string ControlCommands::Trigger(bool on)
{
    const bool was = state_.triggerEnabled.load() != 0;
    const bool held = control_.TriggeringHeldByCheck();
    const std::uint64_t before = monitor_.Take().historyEnd;
    control_.OnTrigger(on);
    const bool now = state_.triggerEnabled.load() != 0;
    if (now != on) {
        // Switching on loads the sensor file; one that gave no sensor keeps triggering off,
        // and what the load said is the reason.
        std::string said;
        for (const HistoryEntry& entry : monitor_.HistoryFrom(before))
            said += (said.empty() ? "" : "; ") + entry.text;
        return ControlError("triggering stays off: " + said);
    }
    std::string text = on ? "Trigger on" : "Trigger off";
    if (was == now && !held)
        text += " (it was already)";
    return ControlOk(text);
}

std::string ControlCommands::ReloadSensors()
{
    const std::uint64_t before = monitor_.Take().historyEnd;
    control_.OnReloadSensors();
    // What the reload said in the history: what changed, or why the table in force stays.
    std::string said;
    for (const HistoryEntry& entry : monitor_.HistoryFrom(before))
        said += (said.empty() ? "" : "\n") + entry.text;
    if (said.find("Sensors not reloaded") != std::string::npos)
        return ControlError(said);
    return ControlOk(said);
}

std::string ControlCommands::Lap()
{
    if (!control_.OnEndOfLap())
        return ControlError(fields_.GetText(Field::Status));
    // The words of the status line End of Lap has printed; read from the run state, as the
    // reader thread may have written another status line since.
    return ControlOk("End of Lap: " + state_.logPaths.Gps());
}

} // namespace ostrim
