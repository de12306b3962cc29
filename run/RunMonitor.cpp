#include "run/RunMonitor.h"

#include "run/PanelText.h"

#include "gps/GgaParser.h"
#include "platform/LocalTime.h"
#include "sensors/Distance.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

namespace ostrim {

namespace {

using SteadyClock = std::chrono::steady_clock;
using WallClock = std::chrono::system_clock;

// Field n of a sentence, counted from 1 as NMEA counts them; the checksum is not part of the last.
std::string_view NthField(std::string_view sentence, std::size_t n)
{
    std::size_t star = sentence.find('*');
    if (star != std::string_view::npos)
        sentence = sentence.substr(0, star);
    while (!sentence.empty() && (sentence.back() == '\n' || sentence.back() == '\r'))
        sentence.remove_suffix(1);
    std::size_t start = 0;
    for (std::size_t i = 1; i < n; ++i) {
        std::size_t comma = sentence.find(',', start);
        if (comma == std::string_view::npos)
            return {};
        start = comma + 1;
    }
    std::size_t end = sentence.find(',', start);
    return sentence.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

int SmallNumber(std::string_view field)
{
    int value = -1;
    auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
    return ec == std::errc() && end == field.data() + field.size() && value >= 0 ? value : -1;
}

std::string Plural(std::uint64_t n, const char* one, const char* many)
{
    return std::to_string(n) + ' ' + (n == 1 ? one : many);
}

} // namespace

std::string HistoryLine(const HistoryEntry& entry)
{
    std::string line = ClockText(entry.first);
    if (entry.repeats > 1)
        line += '-' + ClockText(entry.last);
    line += "  ";
    line += entry.text;
    if (entry.repeats > 1)
        line += " (x" + std::to_string(entry.repeats) + ')';
    return line;
}

std::string QualityName(int quality)
{
    switch (quality) {
    case 0: return "no fix";
    case 1: return "GPS";
    case 2: return "DGPS";
    case 3: return "PPS";
    case 4: return "RTK fixed";
    case 5: return "RTK float";
    case 6: return "estimated";
    case 7: return "manual";
    case 8: return "simulated";
    default: return "unknown";
    }
}

RunMonitor::RunMonitor(Clock clock) : clock_(std::move(clock)) {}

RunMonitor::Clock RunMonitor::SystemClock()
{
    return [] { return MonitorTime{SteadyClock::now(), WallClock::now(), SystemClockSync()}; };
}

void RunMonitor::Attach(const RunState& state, const SensorTable& table, GpsInput& input,
                        const GpsLogs* logs)
{
    Attach(state, table, logs);
    input.SetAcceptedHook([this](std::string_view sentence) { OnAcceptedSentence(sentence); });
}

void RunMonitor::Attach(const RunState& state, const SensorTable& table, const GpsLogs* logs)
{
    std::lock_guard lock(mutex_);
    state_ = &state;
    table_ = &table;
    logs_ = logs;
}

void RunMonitor::AddHistory(WallClock::time_point at, const std::string& text)
{
    if (!history_.empty() && history_.back().text == text) {
        history_.back().last = at;
        ++history_.back().repeats;
    } else {
        history_.push_back({nextSequence_++, at, at, text, 1});
        if (history_.size() > kHistoryLimit)
            history_.pop_front();
    }
}

void RunMonitor::OnStatus(const std::string& text)
{
    const MonitorTime now = clock_();
    std::lock_guard lock(mutex_);
    AddHistory(now.wall, text);
    if (IsAlarmText(text)) {
        ++failureCount_;
        auto it = std::find_if(failures_.begin(), failures_.end(),
                               [&text](const auto& f) { return f.first == text; });
        if (it == failures_.end())
            failures_.emplace_back(text, 1);
        else
            ++it->second;
    }
}

void RunMonitor::OnEvent(const RunEvent& event)
{
    const MonitorTime now = clock_();
    const WallClock::time_point at = event.wall == WallClock::time_point{} ? now.wall : event.wall;
    std::lock_guard lock(mutex_);
    SensorFacts* facts = event.sensor >= 0 && event.sensor < SensorTable::kCapacity
                             ? &sensorFacts_[static_cast<std::size_t>(event.sensor)]
                             : nullptr;
    switch (event.type) {
    case EventType::PassFired:
        if (facts != nullptr)
            ++facts->fired;
        break;
    case EventType::NodeOn:
        if (facts != nullptr) {
            facts->switched = true;
            facts->switchedAt = at;
            facts->switchFailed = event.result != EventResult::Written;
        }
        if (event.result == EventResult::Written) {
            onFrames_[event.nodeId] = event.result;
        } else {
            // Nothing more comes of this switch: the port did not open, or nothing was sent.
            onFrames_.erase(event.nodeId);
            ++nodeFailures_;
        }
        break;
    case EventType::NodeOff: {
        auto on = onFrames_.find(event.nodeId);
        const bool ok = on != onFrames_.end() && event.result == EventResult::Written;
        if (on != onFrames_.end())
            onFrames_.erase(on);
        ++(ok ? nodesSwitched_ : nodeFailures_);
        if (facts != nullptr && !ok)
            facts->switchFailed = true;
        break;
    }
    case EventType::Missed: {
        if (facts != nullptr) {
            ++facts->missed;
            facts->missedAt = at;
            facts->missReason = event.detail;
            facts->closest = event.closest;
        }
        RunEvent timed = event;
        timed.wall = at;
        AddHistory(at, MissLine(timed));
        break;
    }
    case EventType::SensorsApplied:
        AddHistory(at, "Sensor table reloaded: in force from this fix");
        break;
    default:
        break;
    }
}

void RunMonitor::NoteRescue(const RescueResult& rescue, const std::string& folder)
{
    std::lock_guard lock(mutex_);
    rescued_ = true;
    rescueLost_ = rescue.lost;
    if (rescue.written > 0)
        rescues_.emplace_back(folder, rescue.written);
}

// $GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*69
void RunMonitor::OnAcceptedSentence(std::string_view sentence)
{
    const MonitorTime now = clock_();
    const double latitude = NmeaToDegrees(NthField(sentence, 3));
    const double longitude = NmeaToDegrees(NthField(sentence, 5));
    const int quality = SmallNumber(NthField(sentence, 7));
    const int satellites = SmallNumber(NthField(sentence, 8));
    std::lock_guard lock(mutex_);
    if (fixes_ == 0)
        firstFix_ = now.steady;
    ++fixes_;
    lastFix_ = now.steady;
    recentFixes_.push_back(now.steady);
    while (recentFixes_.front() < now.steady - kRateWindow)
        recentFixes_.pop_front();
    latitude_ = latitude;
    longitude_ = longitude;
    quality_ = quality;
    satellites_ = satellites;
    lag_.OnFix(UtcMilliseconds(NthField(sentence, 2)), now.wall);
}

RunSnapshot RunMonitor::Take() const
{
    const MonitorTime now = clock_();
    std::lock_guard lock(mutex_);
    return TakeLocked(now);
}

RunSnapshot RunMonitor::TakeLocked(const MonitorTime& now) const
{
    RunSnapshot s;
    s.fixes = fixes_;
    s.haveFix = fixes_ > 0;
    if (s.haveFix) {
        const auto age = now.steady - lastFix_;
        s.lastFixAge = std::chrono::duration<double>(age).count();
        s.fixStale = age > kStaleAfter;
        // Over the window, or over the time since the first fix while the run is younger.
        const auto span = std::min<SteadyClock::duration>(kRateWindow, now.steady - firstFix_);
        std::size_t inWindow = 0;
        for (auto t : recentFixes_)
            inWindow += t >= now.steady - kRateWindow ? 1 : 0;
        const double seconds = std::chrono::duration<double>(span).count();
        s.fixRate = seconds > 0.0 ? static_cast<double>(inWindow) / seconds : 0.0;
    }
    s.quality = quality_;
    s.satellites = satellites_;
    s.historyEnd = nextSequence_;
    s.nodesSwitched = nodesSwitched_;
    s.nodeFailures = nodeFailures_;
    s.failures = failureCount_;
    if (logs_ != nullptr) {
        // The logs take their own lock inside ours; nothing takes them the other way round.
        s.fixesLogged = logs_->GpsRecordsWritten();
        s.held = logs_->Held();
        s.dropped = logs_->Dropped();
        s.files = logs_->Files();
    }
    s.receiverLag = lag_.Reading(now.sync);
    if (state_ == nullptr || table_ == nullptr)
        return s;

    s.gpsLog = state_->logPaths.Gps();
    s.rawLog = state_->logPaths.Raw();
    s.eventLog = state_->logPaths.Events();
    s.predictive = state_->predictive.load() != 0;
    const bool loop = state_->loopMode.load() != 0;
    const std::int32_t next = state_->nextIndex.load();
    std::lock_guard replacing(table_->replacing);
    const int count = std::clamp(table_->count.load(std::memory_order_acquire), 0,
                                 SensorTable::kCapacity);
    if (s.gpsLog.empty())
        s.switching = Switching::NotStarted;
    else if (count == 0)
        s.switching = Switching::OffNoSensors;
    else if (state_->triggerEnabled.load() != 0)
        s.switching = Switching::On;
    else if (state_->baseStationHold.load() != 0)
        s.switching = Switching::OffNoBaseStation;
    else
        s.switching = Switching::OffByOperator;
    const bool canFire = s.switching == Switching::On || s.switching == Switching::NotStarted;

    for (int i = 0; i < count; ++i) {
        const SensorFacts& facts = sensorFacts_[static_cast<std::size_t>(i)];
        SensorRow row;
        row.number = i + 1;
        row.nodeId = table_->nodeId[i];
        row.switched = facts.switched;
        row.switchedAt = facts.switchedAt;
        row.switchFailed = facts.switchFailed;
        row.missedAt = facts.missedAt;
        row.missReason = facts.missReason;
        row.closest = facts.closest;
        row.passesFired = facts.fired;
        row.passesMissed = facts.missed;
        const bool missedLast = facts.missed > 0 && (!facts.switched || facts.missedAt > facts.switchedAt);
        if (!table_->Armable(i)) {
            row.state = SensorRow::State::NotArmed;
            row.unreadableNodeId = table_->unreadableNodeId[static_cast<std::size_t>(i)].data();
        } else if (!canFire)
            row.state = SensorRow::State::Held;
        else if (loop && table_->triggered[i].load() != 0)
            row.state = SensorRow::State::Fired;
        else if (!loop && next == i)
            row.state = SensorRow::State::Next;
        else if (missedLast)
            row.state = SensorRow::State::Missed;
        else if (!loop && row.switched)
            row.state = SensorRow::State::Fired;
        else
            row.state = SensorRow::State::Armed;
        row.distance = s.haveFix ? GeodesicDistance(latitude_, longitude_, table_->latitude[i],
                                                    table_->longitude[i])
                                 : std::numeric_limits<double>::quiet_NaN();
        s.sensors.push_back(row);
    }
    return s;
}

std::vector<HistoryEntry> RunMonitor::HistoryFrom(std::uint64_t from) const
{
    std::lock_guard lock(mutex_);
    if (history_.empty())
        return {};
    // Sequences are consecutive from the oldest entry kept.
    const std::uint64_t oldest = history_.front().sequence;
    const std::size_t skip = from > oldest ? static_cast<std::size_t>(from - oldest) : 0;
    if (skip >= history_.size())
        return {};
    return {history_.begin() + static_cast<std::ptrdiff_t>(skip), history_.end()};
}

bool RunMonitor::RunStarted() const
{
    std::lock_guard lock(mutex_);
    return state_ != nullptr && !state_->logPaths.Gps().empty();
}

std::string RunMonitor::Summary() const
{
    const MonitorTime now = clock_();
    std::lock_guard lock(mutex_);
    const RunSnapshot s = TakeLocked(now);

    // "A (3 records), B (0 records) and C (2 records)"
    auto list = [&s](LogKind kind, std::size_t& count) {
        std::string text;
        std::vector<const LogFileCount*> files;
        for (const LogFileCount& f : s.files)
            if (f.kind == kind)
                files.push_back(&f);
        count = files.size();
        for (std::size_t i = 0; i < files.size(); ++i) {
            text += (i == 0 ? "" : i + 1 == files.size() ? " and " : ", ") + files[i]->path + " (" +
                    Plural(files[i]->records, kind == LogKind::Events ? "row" : "record",
                           kind == LogKind::Events ? "rows" : "records") + ")";
        }
        return text;
    };
    std::string text = "Run summary: " + Plural(s.fixesLogged, "fix", "fixes") + " logged";
    std::size_t gpsFiles = 0;
    std::size_t rawFiles = 0;
    std::size_t eventFiles = 0;
    const std::string gps = list(LogKind::Gps, gpsFiles);
    const std::string raw = list(LogKind::Raw, rawFiles);
    const std::string events = list(LogKind::Events, eventFiles);
    if (gpsFiles > 0)
        text += (gpsFiles == 1 ? " to the GPS log " : " to the GPS logs ") + gps;
    if (rawFiles > 0)
        text += (rawFiles == 1 ? " and the raw log " : " and the raw logs ") + raw;
    if (eventFiles > 0)
        text += "; events to " + events;
    text += "; " + Plural(static_cast<std::uint64_t>(s.nodesSwitched), "node", "nodes")
        + " switched, " + Plural(static_cast<std::uint64_t>(s.nodeFailures), "switch", "switches")
        + " failed";
    std::string passes;
    for (const SensorRow& row : s.sensors) {
        if (row.passesFired == 0 && row.passesMissed == 0)
            continue;
        passes += (passes.empty() ? "" : ", ") + std::string("sensor ") + std::to_string(row.number) +
                  " fired " + std::to_string(row.passesFired) + " missed " + std::to_string(row.passesMissed);
    }
    if (!passes.empty())
        text += "; passes: " + passes;
    for (const auto& [folder, written] : rescues_)
        text += "; " + Plural(written, "record", "records") + " not written during the run, written to " + folder;
    const std::size_t lost = (rescued_ ? rescueLost_ : s.held.records) + s.dropped;
    if (lost > 0)
        text += "; " + Plural(lost, "record", "records") + " lost";
    if (failures_.empty()) {
        text += "; no failures.";
        return text;
    }
    text += "; " + Plural(static_cast<std::uint64_t>(failureCount_), "failure", "failures") + ": ";
    constexpr std::size_t kListed = 5;
    for (std::size_t i = 0; i < failures_.size() && i < kListed; ++i) {
        if (i > 0)
            text += ", ";
        text += '"' + failures_[i].first + '"';
        if (failures_[i].second > 1)
            text += " x" + std::to_string(failures_[i].second);
    }
    if (failures_.size() > kListed)
        text += " and " + Plural(failures_.size() - kListed, "other", "others");
    text += '.';
    return text;
}

void MonitoredFields::SetText(Field field, const std::string& text)
{
    if (field == Field::Status)
        monitor_.OnStatus(text);
    fields_.SetText(field, text);
}

void MonitoredFields::ShowMessage(const std::string& text)
{
    monitor_.OnStatus(text);
    fields_.ShowMessage(text);
}

} // namespace ostrim
