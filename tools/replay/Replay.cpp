#include "tools/replay/Replay.h"

#include "basestation/RadioFrameBuilder.h"
#include "gps/EventLog.h"
#include "sensors/Distance.h"
#include "trigger/PathPrediction.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>
#include <thread>

namespace ostrim::replay {

namespace {

constexpr std::int64_t kDayMs = 24LL * 3600 * 1000;

// Offsets from one sensor, its scale worked out once.
struct Frame {
    double latitude;
    double longitude;
    PlanePoint scale; // metres a degree: x of longitude, y of latitude

    explicit Frame(const SensorEntry& s)
        : latitude(s.latitude), longitude(s.longitude), scale(MetresPerDegreeAt(s.latitude))
    {
    }
    Offset At(double lat, double lon) const
    {
        return {(lon - longitude) * scale.x, (lat - latitude) * scale.y};
    }
};

double Length(Offset p) { return std::hypot(p.x, p.y); }

} // namespace

Offset LocalOffset(double sensorLatitude, double sensorLongitude, double latitude, double longitude)
{
    return Frame(SensorEntry{sensorLatitude, sensorLongitude, 0}).At(latitude, longitude);
}

Offset MetresPerDegree(double latitude)
{
    const PlanePoint scale = MetresPerDegreeAt(latitude);
    return {scale.x, scale.y};
}

// The dialog as the replay needs it: the vehicle type for the GPS log, the sensor file's message
// should it not open, and the GPS log's failures.
class Replayer::Fields : public DialogFields {
public:
    explicit Fields(std::string vehicleType) : vehicleType_(std::move(vehicleType)) {}
    void SetText(Field field, const std::string& text) override
    {
        const std::string failed = "GPS log write failed: ";
        if (field == Field::Status && text.rfind(failed, 0) == 0)
            logFailure = text.substr(failed.size(), text.find(';') - failed.size());
    }
    std::string GetText(Field field) const override
    {
        return field == Field::VehicleType ? vehicleType_ : std::string();
    }
    void ShowMessage(const std::string& text) override { message = text; }

    std::string message;
    std::string logFailure; // the reason of the last "GPS log write failed: ..." text

private:
    std::string vehicleType_;
};

// Timers on the drive's own clock: they expire when a fix's time passes their deadline. The
// clock counts microseconds, so that switches of 108.85 ms add up as they do live.
class Replayer::Timers : public TimerService {
public:
    void StartTimer(int id, std::chrono::milliseconds period) override { due_[id] = now_ + period.count() * 1000; }
    void KillTimer(int id) override { due_.erase(id); }
    std::chrono::milliseconds Now() const override { return std::chrono::milliseconds(now_ / 1000); }
    // The drive's clock, as the live run's steady clock.
    std::chrono::steady_clock::time_point Steady() const
    {
        return std::chrono::steady_clock::time_point(std::chrono::microseconds(now_));
    }

    // A node switch from now, on the base-station line as the live program makes it: after the
    // switch under way (the engine's lock holds a second one back), the on frame, the pulse and
    // the off frame. The switching thread is busy until the end. Gives the time, milliseconds,
    // at which the on frame has gone out.
    std::int64_t Switch()
    {
        constexpr std::int64_t kFrame = kNodeFrameLineTime.count();
        constexpr std::int64_t kPulse = std::chrono::microseconds(kNodePulse).count();
        const std::int64_t start = std::max(now_, busyUntil_);
        busyUntil_ = start + kFrame + kPulse + kFrame;
        now_ = busyUntil_;
        return (start + kFrame) / 1000;
    }

    // Expires, earliest first, every timer due at or before `time`, each on its own thread's time:
    // a timer that runs out while a switch holds the line waits for it in Switch. Then the clock
    // is at `time`, when the fix arrives, also should a switch still hold the line.
    void AdvanceTo(std::int64_t time, TriggerEngine& engine)
    {
        for (;;) {
            auto next = std::min_element(due_.begin(), due_.end(),
                                         [](const auto& a, const auto& b) { return a.second < b.second; });
            if (next == due_.end() || next->second > time * 1000)
                break;
            const int id = next->first;
            now_ = next->second;
            due_.erase(next); // one-shot, as the engine uses them
            engine.OnTimer(id);
        }
        now_ = time * 1000;
    }

    // The drive ends: a switch the predictive rule planned still happens, as it would live.
    // No plan reaches past the fix interval after next, so no later fix was needed.
    void ExpirePlans(TriggerEngine& engine)
    {
        auto isPlan = [](const auto& timer) {
            return timer.first >= kPredictedTimer && timer.first < kPredictedTimer + kPredictedTimerIds;
        };
        for (;;) {
            auto next = due_.end();
            for (auto it = due_.begin(); it != due_.end(); ++it) {
                if (isPlan(*it) && (next == due_.end() || it->second < next->second))
                    next = it;
            }
            if (next == due_.end())
                break;
            const int id = next->first;
            now_ = std::max(now_, next->second);
            due_.erase(next);
            engine.OnTimer(id);
        }
    }

private:
    std::int64_t now_ = 0;       // microseconds
    std::int64_t busyUntil_ = 0; // the line is free again, microseconds
    std::map<int, std::int64_t> due_;
};

// The event log's rows of the drive, completed and written as the live run's are; at the drive's
// clock, on the one thread that replays.
class Replayer::Events : public EventSink {
public:
    Events(const Options& options, const Timers& timers)
        : options_(options), timers_(timers), text_(kEventLogHeader)
    {
    }
    void OnEvent(const RunEvent& raised) override
    {
        // The replay's own GPS log is not the run's: its outages are no fact of the drive.
        if (raised.type == EventType::LogOutageBegin || raised.type == EventType::LogOutageEnd)
            return;
        RunEvent event = raised;
        event.predictiveRule = options_.predictive;
        if (rows_.Complete(event, std::this_thread::get_id(), options_.threshold, timers_.Steady()))
            text_ += FormatEventRow(event);
    }
    // An accepted fix with a position, arriving the receiver's delay after it was measured.
    void OnFix(double latitude, double longitude, std::int64_t utcMs)
    {
        rows_.OnFix(latitude, longitude, utcMs, timers_.Steady());
    }
    const std::string& Text() const { return text_; }

private:
    const Options& options_;
    const Timers& timers_;
    EventRows rows_;
    std::string text_;
};

// Records each switch instead of talking to a base station, timed as it would go out.
class Replayer::Switcher : public NodeSwitcher {
public:
    explicit Switcher(Replayer& replayer) : replayer_(replayer) {}
    int SwitchNode(std::uint32_t nodeId) override
    {
        Replayer& r = replayer_;
        const int sensor = r.firingSensor_ >= 0 ? r.firingSensor_ : r.SensorOfNode(nodeId);
        const std::int64_t on = r.timers_->Switch();
        const Fix& fix = r.fixes_.back();
        const std::int64_t utc = fix.utcMs < 0 ? -1 : (fix.utcMs + (on - fix.timeMs)) % kDayMs;
        r.firings_.push_back({r.fixes_.size() - 1, sensor, nodeId, on, utc, r.firingKind_,
                              fix.latitude, fix.longitude});
        r.firingSensor_ = -1;
        r.firingKind_ = TriggerEngine::Firing::AtFix;
        if (r.events_) {
            RunEvent frame;
            frame.nodeId = nodeId;
            frame.hasNode = true;
            frame.result = EventResult::Replayed;
            frame.type = EventType::NodeOn;
            r.events_->OnEvent(frame);
            frame.type = EventType::NodeOff;
            r.events_->OnEvent(frame);
        }
        return 1;
    }

private:
    Replayer& replayer_;
};

Replayer::Replayer(const Options& options)
    : options_(options), fields_(std::make_unique<Fields>(options.vehicleType)),
      timers_(std::make_unique<Timers>()), switcher_(std::make_unique<Switcher>(*this))
{
    state_.distanceThreshold = options_.threshold;
    state_.loopMode.store(options_.backAndForth ? 0 : 1);
    state_.predictive.store(options_.predictive ? 1 : 0);
    state_.receiverDelayMs.store(options_.receiverDelayMs);
    if (!options_.gpsLogPath.empty()) {
        state_.logPaths.SetGps(options_.gpsLogPath);
        state_.logPaths.SetRaw("/dev/null"); // the input is the raw log already
    }
    logs_ = std::make_unique<GpsLogs>(state_.logPaths);
    engine_ = std::make_unique<TriggerEngine>(state_, table_, *fields_, *timers_, *switcher_,
                                              [](const std::string&) {});
    engine_->SetTracing(false);
    engine_->SetFiringHook([this](int sensor, TriggerEngine::Firing kind) {
        firingSensor_ = sensor;
        firingKind_ = kind;
    });
    const std::time_t logTime = options_.logTime != 0 ? options_.logTime : std::time(nullptr);
    PositionConsumer& consumer = *this;
    input_ = std::make_unique<GpsInput>(state_, *fields_, *logs_, consumer, [logTime] { return logTime; });
    input_->SetFixHook([this](const AcceptedFix& fix) { OnFix(fix); });
    input_->SetLogging(!options_.gpsLogPath.empty());
    if (options_.events) {
        events_ = std::make_unique<Events>(options_, *timers_);
        engine_->SetEventSink(events_.get());
        input_->SetEventSink(events_.get());
    }
    tracker_ = std::make_unique<PassTracker>(
        PassTracker::Options{options_.threshold, options_.passRadius, options_.predictive},
        [this](const PassReport& pass) {
            passes_.push_back(pass);
            if (events_)
                events_->OnEvent(PassEvent(pass, table_));
        },
        [this](int sensor, int firstInRegion) { return engine_->HeldReason(sensor, firstInRegion); });
}

Replayer::~Replayer() = default;

bool Replayer::LoadSensors(const std::string& path, std::string& error)
{
    SensorLoadResult loaded = LoadSensorFile(path, table_, state_, *fields_);
    state_.triggerEnabled.store(1);
    if (loaded.cause != FileErrorCause::None) {
        error = loaded.message;
        return false;
    }
    if (loaded.count == 0) {
        error = "no sensor in " + path + " (one a line: latitude longitude name node-id)";
        return false;
    }
    sensorWarnings_ = std::move(loaded.warnings);
    if (events_) {
        RunEvent event;
        event.type = EventType::SensorsLoaded;
        event.detail = path + ": " + std::to_string(loaded.count) + " sensors";
        events_->OnEvent(event);
    }
    std::vector<SensorEntry> sensors;
    for (int i = 0; i < loaded.count; ++i)
        sensors.push_back({table_.latitude[i], table_.longitude[i], table_.nodeId[i],
                           table_.unreadableNodeId[i].data()});
    SetSensors(sensors);
    return true;
}

void Replayer::SetSensors(const std::vector<SensorEntry>& sensors)
{
    const int n = std::min<int>(static_cast<int>(sensors.size()), SensorTable::kCapacity);
    sensors_.assign(sensors.begin(), sensors.begin() + n);
    for (int i = 0; i < n; ++i) {
        const SensorEntry& s = sensors_[i];
        table_.latitude[i] = s.latitude;
        table_.longitude[i] = s.longitude;
        table_.nodeId[i] = s.nodeId;
        table_.SetUnreadableNodeId(i, s.unreadableNodeId);
        table_.triggered[i].store(0);
    }
    table_.count.store(n, std::memory_order_release);
    tracker_->SetSensors(TrackedSensorsOf(table_));
}

void Replayer::Feed(std::string_view bytes)
{
    while (!bytes.empty()) {
        const std::size_t lf = bytes.find('\n');
        if (lf == std::string_view::npos) {
            partial_.append(bytes);
            return;
        }
        if (partial_.empty()) {
            Line(bytes.substr(0, lf + 1));
        } else {
            partial_.append(bytes.substr(0, lf + 1));
            Line(partial_);
            partial_.clear();
        }
        bytes.remove_prefix(lf + 1);
    }
}

void Replayer::Line(std::string_view line)
{
    input_->AssembleSentence(static_cast<int>(line.size()), line.data());
}

void Replayer::OnFix(const AcceptedFix& fix)
{
    const std::int64_t elapsed = clock_.Advance(fix.utcMs);
    // Live, the fix reaches the engine the receiver's delay after it was measured.
    timers_->AdvanceTo(elapsed + options_.receiverDelayMs, *engine_);
    FeedFirings(); // the plans that came due before this fix
    const bool south = fix.latitudeHemisphere == 'S' || fix.latitudeHemisphere == 's';
    const bool west = fix.longitudeHemisphere == 'W' || fix.longitudeHemisphere == 'w';
    fixes_.push_back({elapsed, fix.utcMs, fix.latitude, fix.longitude, south, west, fix.quality});
    // Under quality 0 the receiver says it has no position, whatever the fields hold.
    if (events_ && fix.quality != 0)
        events_->OnFix(fix.latitude, fix.longitude, fix.utcMs);
    tracker_->Fix({fix.latitude, fix.longitude, fix.utcMs, fix.quality, fix.switching, south, west});
}

void Replayer::FeedFirings()
{
    for (; firingsFed_ < firings_.size(); ++firingsFed_)
        tracker_->Firing(firings_[firingsFed_].sensor);
}

int Replayer::TriggerOnPosition(double latitude, double longitude)
{
    return TriggerOnFix(latitude, longitude, fixes_.empty() ? -1 : fixes_.back().utcMs);
}

int Replayer::TriggerOnFix(double latitude, double longitude, std::int64_t utcMs)
{
    int result = 0;
    // The predictive rule needs every fix for the speed and heading. The on-fix rule acts only on
    // a fix in range of some sensor, decided by the engine's own test in the tracker; a fix out of
    // range of all would cost it a distance to every sensor and change nothing.
    if (options_.predictive)
        result = engine_->TriggerOnFix(latitude, longitude, utcMs);
    else if (!tracker_->InRegion().empty())
        result = engine_->TriggerOnPosition(latitude, longitude);
    FeedFirings();
    return result;
}

int Replayer::SensorOfNode(std::uint32_t nodeId) const
{
    // Sensors may share a node: take the one this fix is in range of and that has not been
    // counted at this fix yet.
    const std::size_t fix = fixes_.size() - 1;
    int fallback = -1;
    for (int i = 0; i < static_cast<int>(sensors_.size()); ++i) {
        if (sensors_[i].nodeId != nodeId || !sensors_[i].unreadableNodeId.empty())
            continue;
        if (fallback < 0)
            fallback = i;
        const auto& region = tracker_->InRegion();
        bool inRange = std::find(region.begin(), region.end(), i) != region.end();
        bool counted = std::any_of(firings_.begin(), firings_.end(),
                                   [&](const Firing& f) { return f.fix == fix && f.sensor == i; });
        if (inRange && !counted)
            return i;
    }
    return fallback;
}

Result Replayer::Finish()
{
    if (!fixes_.empty())
        timers_->ExpirePlans(*engine_);
    FeedFirings();
    tracker_->End();
    // Where the track was at each firing between fixes: on the straight line to the next fix;
    // after the last fix, on the line of the last two, as the plan was made.
    for (Firing& firing : firings_) {
        const std::size_t k = firing.fix;
        if (firing.timeMs <= fixes_[k].timeMs)
            continue;
        const bool last = k + 1 >= fixes_.size();
        if (last && k == 0)
            continue;
        const Fix& a = last ? fixes_[k - 1] : fixes_[k];
        const Fix& b = last ? fixes_[k] : fixes_[k + 1];
        const double span = static_cast<double>(b.timeMs - a.timeMs);
        double t = span > 0 ? static_cast<double>(firing.timeMs - a.timeMs) / span : 0.0;
        t = last ? std::min(t, 2.0) : std::min(t, 1.0);
        firing.latitude = a.latitude + t * (b.latitude - a.latitude);
        firing.longitude = a.longitude + t * (b.longitude - a.longitude);
    }
    Result result;
    result.sensors = sensors_;
    result.fixes = fixes_;
    result.firings = firings_;
    result.threshold = options_.threshold;
    result.passRadius = tracker_->PassRadius();
    for (int s = 0; s < static_cast<int>(sensors_.size()); ++s)
        result.nearest.push_back(tracker_->Nearest(s));
    result.passes = passes_;
    std::sort(result.passes.begin(), result.passes.end(), [](const Pass& a, const Pass& b) {
        return a.firstFix != b.firstFix ? a.firstFix < b.firstFix : a.sensor < b.sensor;
    });
    return result;
}

std::string Replayer::GpsLogError() const
{
    if (options_.gpsLogPath.empty() || logs_->GpsBacklog() == 0)
        return {};
    const std::string records = std::to_string(logs_->GpsBacklog()) + " records not written";
    return fields_->logFailure.empty() ? records : fields_->logFailure + " (" + records + ")";
}

const std::string& Replayer::EventLog() const
{
    static const std::string none;
    return events_ ? events_->Text() : none;
}

Summary Summarise(const Result& result)
{
    Summary summary;
    const std::vector<Fix>& fixes = result.fixes;
    summary.fixes = fixes.size();
    summary.qualityZeroFixes = static_cast<std::size_t>(
        std::count_if(fixes.begin(), fixes.end(), [](const Fix& f) { return f.quality == 0; }));
    if (fixes.size() > 1) {
        summary.durationSeconds = static_cast<double>(fixes.back().timeMs - fixes.front().timeMs) / 1000.0;
        if (summary.durationSeconds > 0)
            summary.fixRate = static_cast<double>(fixes.size() - 1) / summary.durationSeconds;
    }
    std::vector<double> speeds;
    for (std::size_t k = 0; k + 1 < fixes.size(); ++k) {
        const std::int64_t dt = fixes[k + 1].timeMs - fixes[k].timeMs;
        // A fix of quality 0 may repeat an old position, or give none.
        if (dt <= 0 || dt > kMaxGapMs || fixes[k].quality == 0 || fixes[k + 1].quality == 0)
            continue;
        const Offset step =
            LocalOffset(fixes[k].latitude, fixes[k].longitude, fixes[k + 1].latitude, fixes[k + 1].longitude);
        speeds.push_back(Length(step) * 1000.0 / static_cast<double>(dt));
    }
    if (!speeds.empty()) {
        auto middle = speeds.begin() + static_cast<std::ptrdiff_t>(speeds.size() / 2);
        std::nth_element(speeds.begin(), middle, speeds.end());
        summary.medianSpeed = *middle;
        summary.maximumSpeed = *std::max_element(speeds.begin(), speeds.end());
    }
    for (const Pass& pass : result.passes) {
        ++summary.passes;
        if (pass.firings.empty())
            ++summary.misses;
        else
            ++summary.hits;
    }
    return summary;
}

} // namespace ostrim::replay
