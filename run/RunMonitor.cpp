#include "run/RunMonitor.h"

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

// "Node %d success" / "Node %d failed": the node id as a signed decimal. False for other texts.
bool ParseNodeStatus(const std::string& text, std::uint32_t& nodeId, bool& ok)
{
    constexpr std::string_view kPrefix = "Node ";
    if (text.compare(0, kPrefix.size(), kPrefix) != 0)
        return false;
    const char* first = text.data() + kPrefix.size();
    const char* last = text.data() + text.size();
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc())
        return false;
    std::string_view rest(end, static_cast<std::size_t>(last - end));
    if (rest == " success")
        ok = true;
    else if (rest == " failed")
        ok = false;
    else
        return false;
    nodeId = static_cast<std::uint32_t>(value);
    return true;
}

bool Contains(const std::string& text, std::string_view word)
{
    return text.find(word) != std::string::npos;
}

// The texts that tell of something that did not work. "$GPGGA missing" is not among them:
// every sentence of another type says it.
bool IsFailure(const std::string& text)
{
    return Contains(text, "fail") || Contains(text, "Fail") || Contains(text, "error")
        || Contains(text, "Error") || Contains(text, "Unable") || Contains(text, "disconnected")
        || Contains(text, "too long") || Contains(text, "No data");
}

std::string ClockText(WallClock::time_point time)
{
    std::time_t t = WallClock::to_time_t(time);
    std::tm local{};
    if (!ToLocalTime(t, &local))
        return "--:--:--";
    char buffer[16];
    std::strftime(buffer, sizeof buffer, "%H:%M:%S", &local);
    return buffer;
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

void RunMonitor::Attach(const RunState& state, const SensorTable& table, GpsInput& input)
{
    Attach(state, table);
    input.SetAcceptedHook([this](std::string_view sentence) { OnAcceptedSentence(sentence); });
}

void RunMonitor::Attach(const RunState& state, const SensorTable& table)
{
    std::lock_guard lock(mutex_);
    state_ = &state;
    table_ = &table;
}

void RunMonitor::OnStatus(const std::string& text)
{
    const MonitorTime now = clock_();
    std::lock_guard lock(mutex_);
    if (!history_.empty() && history_.back().text == text) {
        history_.back().last = now.wall;
        ++history_.back().repeats;
    } else {
        history_.push_back({nextSequence_++, now.wall, now.wall, text, 1});
        if (history_.size() > kHistoryLimit)
            history_.pop_front();
    }

    std::uint32_t nodeId = 0;
    bool ok = false;
    if (ParseNodeStatus(text, nodeId, ok)) {
        switchedAt_[nodeId] = now.wall;
        ++(ok ? nodesSwitched_ : nodeFailures_);
    }
    if (IsFailure(text)) {
        ++failureCount_;
        auto it = std::find_if(failures_.begin(), failures_.end(),
                               [&text](const auto& f) { return f.first == text; });
        if (it == failures_.end())
            failures_.emplace_back(text, 1);
        else
            ++it->second;
    }
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
    // LogPaths takes its own lock inside ours; nothing takes them the other way round.
    const std::string gpsLog = state_ != nullptr ? state_->logPaths.Gps() : std::string();
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
    if (!gpsLog.empty() && (gpsLogs_.empty() || gpsLogs_.back() != gpsLog))
        gpsLogs_.push_back(gpsLog);
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
    s.receiverLag = lag_.Reading(now.sync);
    if (state_ == nullptr || table_ == nullptr)
        return s;

    s.gpsLog = state_->logPaths.Gps();
    s.rawLog = state_->logPaths.Raw();
    const bool loop = state_->loopMode.load() != 0;
    const std::int32_t next = state_->nextIndex.load();
    const int count = std::clamp(table_->count.load(std::memory_order_acquire), 0,
                                 SensorTable::kCapacity);
    for (int i = 0; i < count; ++i) {
        SensorRow row;
        row.number = i + 1;
        row.nodeId = table_->nodeId[i];
        auto switched = switchedAt_.find(row.nodeId);
        row.switched = switched != switchedAt_.end();
        if (row.switched)
            row.switchedAt = switched->second;
        if (loop)
            row.state = table_->triggered[i].load() != 0 ? SensorRow::State::Fired
                                                         : SensorRow::State::Armed;
        else if (next == i)
            row.state = SensorRow::State::Next;
        else
            row.state = row.switched ? SensorRow::State::Fired : SensorRow::State::Armed;
        if (!table_->Armable(i)) {
            row.state = SensorRow::State::NotArmed;
            row.unreadableNodeId = table_->unreadableNodeId[i].data();
        }
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

    std::string text = "Run summary: " + Plural(s.fixes, "fix", "fixes") + " logged";
    std::vector<std::string> logs = gpsLogs_;
    if (logs.empty() && !s.gpsLog.empty())
        logs.push_back(s.gpsLog);
    if (!logs.empty()) {
        text += logs.size() == 1 ? " to the GPS log " : " to the GPS logs ";
        for (std::size_t i = 0; i < logs.size(); ++i)
            text += (i == 0 ? "" : i + 1 == logs.size() ? " and " : ", ") + logs[i];
    }
    if (!s.rawLog.empty())
        text += " and the raw log " + s.rawLog;
    text += "; " + Plural(static_cast<std::uint64_t>(s.nodesSwitched), "node", "nodes")
        + " switched, " + Plural(static_cast<std::uint64_t>(s.nodeFailures), "switch", "switches")
        + " failed";
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
