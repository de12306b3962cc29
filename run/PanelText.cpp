#include "run/PanelText.h"

#include "platform/LocalTime.h"
#include "run/ReceiverLag.h"
#include "sensors/SensorTable.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <string_view>

namespace ostrim {

namespace {

bool Contains(const std::string& text, std::string_view word)
{
    return text.find(word) != std::string::npos;
}

std::string Fixed(double value, const char* format)
{
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

std::string ClockText(std::chrono::system_clock::time_point time)
{
    std::time_t t = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    if (!ToLocalTime(t, &local))
        return "--:--:--";
    char buffer[16];
    std::strftime(buffer, sizeof buffer, "%H:%M:%S", &local);
    return buffer;
}

// The texts that tell of something that did not work. "$GPGGA missing" is not among them:
// every sentence of another type says it.
bool IsAlarmText(const std::string& text)
{
    return Contains(text, "fail") || Contains(text, "Fail") || Contains(text, "error")
        || Contains(text, "Error") || Contains(text, "Unable") || Contains(text, "disconnected")
        || Contains(text, "too long") || Contains(text, "No data") || Contains(text, "no sensors loaded")
        || Contains(text, "not reloaded");
}

std::string MissLine(const RunEvent& miss)
{
    std::string line = "Sensor " + std::to_string(miss.sensor + 1) + " missed";
    if (!miss.detail.empty())
        line += ": " + miss.detail;
    if (!std::isnan(miss.closest))
        line += Fixed(miss.closest, ", closest %.1f m");
    return line;
}

PanelColours IndicatorColours(PanelLevel level)
{
    switch (level) {
    case PanelLevel::Good:
        return {0x1b7a2e, 0xffffff};
    case PanelLevel::Warning:
        return {0xe8a200, 0x000000};
    case PanelLevel::Alarm:
        return {kAlarmTextRgb, 0xffffff};
    case PanelLevel::Normal:
        break;
    }
    return {0, 0};
}

HistoryFeed::Update HistoryFeed::Next(const RunMonitor& monitor)
{
    Update update;
    for (const HistoryEntry& entry : monitor.HistoryFrom(lastShown_.value_or(0))) {
        if (lastShown_ && entry.sequence == *lastShown_) {
            update.last = HistoryLine(entry);
            continue;
        }
        update.added.push_back(HistoryLine(entry));
        lastShown_ = entry.sequence;
    }
    return update;
}

PanelLine SwitchingText(const RunSnapshot& s)
{
    switch (s.switching) {
    case Switching::NotStarted:
        return {};
    case Switching::On:
        return {s.predictive ? "Switching on (predictive rule)" : "Switching on (on-fix rule)",
                PanelLevel::Good};
    case Switching::OffByOperator:
        return {"Off: turned off by the operator", PanelLevel::Warning};
    case Switching::OffNoBaseStation:
        return {"Off: base station did not answer, checking every 3 s", PanelLevel::Alarm};
    case Switching::OffNoSensors:
        return {"Off: no sensors loaded", PanelLevel::Alarm};
    }
    return {};
}

PanelLine SensorStateText(const SensorRow& row)
{
    switch (row.state) {
    case SensorRow::State::NotArmed:
        return {NotArmedText(row.unreadableNodeId), PanelLevel::Alarm};
    case SensorRow::State::Held:
        return {"held: switching off", PanelLevel::Warning};
    case SensorRow::State::Next:
        return {"next", PanelLevel::Normal};
    case SensorRow::State::Fired:
        if (!row.switched)
            return {"fired", PanelLevel::Normal};
        if (row.switchFailed)
            return {"fired " + ClockText(row.switchedAt) + ", switch failed", PanelLevel::Alarm};
        return {"fired " + ClockText(row.switchedAt), PanelLevel::Normal};
    case SensorRow::State::Missed: {
        std::string text = "missed " + ClockText(row.missedAt);
        if (!row.missReason.empty())
            text += ": " + row.missReason;
        if (!std::isnan(row.closest))
            text += Fixed(row.closest, ", closest %.1f m");
        return {text, PanelLevel::Alarm};
    }
    case SensorRow::State::Armed:
        break;
    }
    return {"armed", PanelLevel::Normal};
}

PanelTexts MakePanelTexts(const RunSnapshot& s)
{
    PanelTexts p;
    p.state = SwitchingText(s);
    if (s.held.records > 0) {
        p.logsState = {"Logs not written since " + ClockText(s.held.since), PanelLevel::Alarm};
        p.held = {std::to_string(s.held.records) + " held, not yet written (since " +
                      ClockText(s.held.since) + ")",
                  PanelLevel::Alarm};
    }
    p.fixesLogged = {std::to_string(s.fixesLogged), PanelLevel::Normal};
    p.fixRate = {s.haveFix ? Fixed(s.fixRate, "%.1f a second") : std::string("-"), PanelLevel::Normal};
    if (!s.haveFix)
        p.fixAge = {"none yet", PanelLevel::Normal};
    else
        p.fixAge = {Fixed(s.lastFixAge, "%.1f s ago") + (s.fixStale ? ", none since" : ""),
                    s.fixStale ? PanelLevel::Alarm : PanelLevel::Normal};
    if (s.quality < 0 && s.satellites < 0) {
        p.quality = {"-", PanelLevel::Normal};
    } else {
        std::string quality = s.quality < 0 ? std::string("quality -")
                                            : "quality " + std::to_string(s.quality) + " (" +
                                                  QualityName(s.quality) + ")";
        quality += s.satellites < 0 ? std::string(", satellites -")
                                    : ", " + std::to_string(s.satellites) + " satellites";
        // Quality 0: the receiver itself says the position is not to be trusted.
        p.quality = {quality, s.quality == 0 ? PanelLevel::Alarm : PanelLevel::Normal};
    }
    p.receiverLag = {ReceiverLagText(s.receiverLag), PanelLevel::Normal};
    p.gpsLog = s.gpsLog.empty() ? "-" : s.gpsLog;
    p.rawLog = s.rawLog.empty() ? "-" : s.rawLog;
    p.eventLog = s.eventLog.empty() ? "-" : s.eventLog;
    for (const SensorRow& row : s.sensors) {
        PanelSensorRow out;
        out.number = std::to_string(row.number);
        char node[16];
        std::snprintf(node, sizeof node, "%08X", static_cast<unsigned>(row.nodeId));
        out.nodeId = row.state == SensorRow::State::NotArmed ? row.unreadableNodeId : node;
        out.state = SensorStateText(row);
        out.distance = std::isnan(row.distance) ? std::string("-") : Fixed(row.distance, "%.1f m");
        p.sensors.push_back(std::move(out));
    }
    return p;
}

} // namespace ostrim
