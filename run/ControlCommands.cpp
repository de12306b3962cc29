#include "run/ControlCommands.h"

#include "platform/LocalTime.h"
#include "run/ControlProtocol.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace ostrim {
namespace {

std::string Clock(std::chrono::system_clock::time_point time)
{
    std::tm local{};
    if (!ToLocalTime(std::chrono::system_clock::to_time_t(time), &local))
        return "--:--:--";
    char buffer[16];
    std::strftime(buffer, sizeof buffer, "%H:%M:%S", &local);
    return buffer;
}

std::string Fixed(double value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", value);
    return buffer;
}

std::string Row(const char* label, const std::string& value)
{
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%-16s", label);
    return buffer + value + "\n";
}

std::string SensorState(const SensorRow& row)
{
    switch (row.state) {
    case SensorRow::State::Next:
        return "next";
    case SensorRow::State::Fired:
        return row.switched ? "fired " + Clock(row.switchedAt) : "fired";
    case SensorRow::State::NotArmed:
        return NotArmedText(row.unreadableNodeId);
    case SensorRow::State::Armed:
        break;
    }
    return "armed";
}

} // namespace

std::string SwitchingText(const RunState& state, bool heldByCheck)
{
    if (state.triggerEnabled.load() != 0)
        return "on";
    if (heldByCheck)
        return "off until the base station answers (checked again every few seconds)";
    return "off";
}

std::string StatusText(const RunSnapshot& run, std::string_view switching,
                       const std::vector<HistoryEntry>& lastEvents)
{
    std::string text;
    std::string fixes = std::to_string(run.fixes);
    if (run.haveFix)
        fixes += ", " + Fixed(run.fixRate) + " a second";
    text += Row("Fixes logged", fixes);
    std::string last = "none yet";
    if (run.haveFix) {
        last = Fixed(run.lastFixAge) + " s ago";
        if (run.fixStale)
            last += ", none since";
        last += run.quality < 0 ? ", quality -"
                                : ", quality " + std::to_string(run.quality) + " (" +
                                      QualityName(run.quality) + ")";
        last += run.satellites < 0 ? ", satellites -"
                                   : ", " + std::to_string(run.satellites) + " satellites";
    }
    text += Row("Last fix", last);
    text += Row("Switching", std::string(switching));
    text += Row("GPS log", run.gpsLog.empty() ? "-" : run.gpsLog);
    text += Row("Raw log", run.rawLog.empty() ? "-" : run.rawLog);
    text += Row("Nodes switched", std::to_string(run.nodesSwitched) + ", " +
                                      std::to_string(run.nodeFailures) + " failed");
    text += Row("Sensors", std::to_string(run.sensors.size()));
    for (const SensorRow& row : run.sensors) {
        char line[96];
        std::snprintf(line, sizeof line, "  %-3d node %08X  %-16s %s\n", row.number,
                      static_cast<unsigned>(row.nodeId), SensorState(row).c_str(),
                      std::isnan(row.distance) ? "-" : (Fixed(row.distance) + " m").c_str());
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
        return ControlOk(StatusText(run, SwitchingText(state_, control_.TriggeringHeldByCheck()),
                                    monitor_.HistoryFrom(from)));
    }
    case ControlVerb::TriggerOn:
        return Trigger(true);
    case ControlVerb::TriggerOff:
        return Trigger(false);
    case ControlVerb::Lap:
        return Lap();
    case ControlVerb::ReloadSensors:
        // Its place once the run can load its sensor file again.
        return ControlError("reload-sensors is not available in this version");
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

std::string ControlCommands::Lap()
{
    if (!control_.OnEndOfLap())
        return ControlError(fields_.GetText(Field::Status));
    // The text SIGUSR2 prints, so the journal holds each new log whichever way it was asked for.
    const std::string text = "End of Lap: " + state_.logPaths.Gps();
    fields_.SetText(Field::Status, text);
    return ControlOk(text);
}

} // namespace ostrim
