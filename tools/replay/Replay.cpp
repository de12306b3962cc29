#include "tools/replay/Replay.h"

#include "basestation/RadioFrameBuilder.h"
#include "sensors/Distance.h"
#include "trigger/PathPrediction.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>

namespace ostrim::replay {

namespace {

constexpr std::int64_t kDayMs = 24LL * 3600 * 1000;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

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

// The point of segment p0-p1 nearest the sensor (the origin), as a parameter from 0 to 1,
// kept within [lo, hi].
double NearestParameter(Offset p0, Offset p1, double lo = 0.0, double hi = 1.0)
{
    const double dx = p1.x - p0.x;
    const double dy = p1.y - p0.y;
    const double length2 = dx * dx + dy * dy;
    const double t = length2 > 0 ? -(p0.x * dx + p0.y * dy) / length2 : 0.0;
    return std::clamp(t, lo, hi);
}

Offset PointAt(Offset p0, Offset p1, double t)
{
    return {p0.x + t * (p1.x - p0.x), p0.y + t * (p1.y - p0.y)};
}

// True when the open segment passes through the firing region: closer than `threshold` with
// both coordinate numbers below the sensor's.
bool CrossesRegion(Offset p0, Offset p1, double threshold)
{
    double lo = 0.0;
    double hi = 1.0;
    for (auto [c0, c1] : {std::pair{p0.x, p1.x}, std::pair{p0.y, p1.y}}) {
        if (c0 >= 0 && c1 >= 0)
            return false;
        if (c0 < 0 && c1 >= 0)
            hi = std::min(hi, c0 / (c0 - c1));
        else if (c0 >= 0 && c1 < 0)
            lo = std::max(lo, c0 / (c0 - c1));
    }
    if (lo >= hi)
        return false;
    return Length(PointAt(p0, p1, NearestParameter(p0, p1, lo, hi))) < threshold;
}

std::string Metres(double metres)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", metres);
    return text;
}

// The time field of a sentence, as the parser reads it; -1 when it gives none.
std::int64_t ParseUtcField(std::string_view line)
{
    std::size_t comma = line.find(',');
    if (comma == std::string_view::npos)
        return -1;
    std::string_view field = line.substr(comma + 1);
    return UtcMilliseconds(field.substr(0, field.find(',')));
}

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

std::string UtcText(std::int64_t utcMs)
{
    if (utcMs < 0)
        return "--:--:--";
    const long long cs = utcMs / 10;
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%02lld", cs / 360000 % 24, cs / 6000 % 60,
                  cs / 100 % 60, cs % 100);
    return text;
}

std::string CompassWord(double bearing)
{
    static const char* const kWords[] = {"north", "north-east", "east", "south-east",
                                         "south", "south-west", "west", "north-west"};
    double b = std::fmod(bearing, 360.0);
    if (b < 0)
        b += 360.0;
    return kWords[static_cast<int>(std::floor((b + 22.5) / 45.0)) % 8];
}

// The dialog as the replay needs it: the hemisphere letters of each fix, the vehicle type for
// the GPS log, and the sensor file's message should it not open.
class Replayer::Fields : public DialogFields {
public:
    explicit Fields(std::string vehicleType) : vehicleType_(std::move(vehicleType)) {}
    void SetText(Field field, const std::string& text) override
    {
        if (field == Field::LatitudeHemisphere)
            south = !text.empty() && (text[0] == 'S' || text[0] == 's');
        else if (field == Field::LongitudeHemisphere)
            west = !text.empty() && (text[0] == 'W' || text[0] == 'w');
    }
    std::string GetText(Field field) const override
    {
        return field == Field::VehicleType ? vehicleType_ : std::string();
    }
    void ShowMessage(const std::string& text) override { message = text; }

    bool south = false;
    bool west = false;
    std::string message;

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
    engine_->SetFiringHook([this](int sensor, TriggerEngine::Firing kind) {
        firingSensor_ = sensor;
        firingKind_ = kind;
    });
    const std::time_t logTime = options_.logTime != 0 ? options_.logTime : std::time(nullptr);
    PositionConsumer& consumer = *this;
    input_ = std::make_unique<GpsInput>(state_, *fields_, *logs_, consumer, [logTime] { return logTime; });
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
    std::vector<SensorEntry> sensors;
    for (int i = 0; i < loaded.count; ++i)
        sensors.push_back({table_.latitude[i], table_.longitude[i], table_.nodeId[i]});
    SetSensors(sensors);
    return true;
}

void Replayer::SetSensors(const std::vector<SensorEntry>& sensors)
{
    const int n = std::min<int>(static_cast<int>(sensors.size()), SensorTable::kCapacity);
    sensors_.assign(sensors.begin(), sensors.begin() + n);
    sensorCos_.clear();
    sensorScale_.clear();
    for (int i = 0; i < n; ++i) {
        table_.latitude[i] = sensors_[i].latitude;
        table_.longitude[i] = sensors_[i].longitude;
        table_.nodeId[i] = sensors_[i].nodeId;
        table_.triggered[i].store(0);
        sensorCos_.push_back(std::cos(sensors_[i].latitude * std::numbers::pi / 180.0));
        sensorScale_.push_back(MetresPerDegree(sensors_[i].latitude));
    }
    table_.count.store(n, std::memory_order_release);
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
    lineUtcMs_ = ParseUtcField(line);
    input_->AssembleSentence(static_cast<int>(line.size()), line.data());
}

int Replayer::TriggerOnPosition(double latitude, double longitude)
{
    return TriggerOnFix(latitude, longitude, lineUtcMs_);
}

int Replayer::TriggerOnFix(double latitude, double longitude, std::int64_t utcMs)
{
    const std::int64_t utc = utcMs;
    if (utc >= 0 && lastUtcMs_ >= 0) {
        std::int64_t step = utc - lastUtcMs_;
        if (step < -kDayMs / 2)
            step += kDayMs; // past midnight
        elapsedMs_ += std::max<std::int64_t>(step, 0); // a step back holds the clock
    }
    if (utc >= 0)
        lastUtcMs_ = utc;
    // Live, the fix reaches the engine the receiver's delay after it was measured.
    timers_->AdvanceTo(elapsedMs_ + options_.receiverDelayMs, *engine_);
    fixes_.push_back({elapsedMs_, utc, latitude, longitude, fields_->south, fields_->west});

    // Which sensors this fix is inside the firing region of, measured as the engine measures.
    // A cheap flat-earth bound first: most sensors are far from most fixes.
    currentInRegion_.clear();
    constexpr double kMetresPerDegree = 111320.0;
    const double bound = (options_.threshold + 1.0) * 1.01 / kMetresPerDegree;
    for (int i = 0; i < static_cast<int>(sensors_.size()); ++i) {
        const SensorEntry& s = sensors_[i];
        if (!(latitude < s.latitude && longitude < s.longitude))
            continue;
        const double dLat = s.latitude - latitude;
        const double dLon = (s.longitude - longitude) * sensorCos_[i];
        // Longitudes a turn apart are near for the distance: leave those to it.
        if (s.longitude - longitude < 180.0 && dLat * dLat + dLon * dLon >= bound * bound)
            continue;
        if (GeodesicDistance(latitude, longitude, s.latitude, s.longitude) < options_.threshold)
            currentInRegion_.push_back(i);
    }
    for (int i : currentInRegion_) {
        std::string note = HeldNote(i, currentInRegion_);
        if (!note.empty())
            heldNotes_[{i, fixes_.size() - 1}] = std::move(note);
    }
    if (!options_.predictive && fixes_.size() > 1)
        NoteCrossingsHeld();
    // The predictive rule needs every fix for the speed and heading.
    if (options_.predictive)
        return engine_->TriggerOnFix(latitude, longitude, utc);
    // The on-fix rule acts only on a fix in range of some sensor, decided by the very test above;
    // a fix out of range of all would cost it a distance to every sensor and change nothing.
    if (currentInRegion_.empty())
        return 0;
    return engine_->TriggerOnPosition(latitude, longitude);
}

// Sensors whose firing region the path since the last fix crossed, unseen by the on-fix rule,
// while the engine's state held them: a miss there is not one the predictive rule would mend.
void Replayer::NoteCrossingsHeld()
{
    const Fix& before = fixes_[fixes_.size() - 2];
    const Fix& now = fixes_.back();
    if (now.timeMs - before.timeMs > kMaxGapMs || now.timeMs <= before.timeMs)
        return;
    for (int i = 0; i < static_cast<int>(sensors_.size()); ++i) {
        const SensorEntry& s = sensors_[i];
        const Offset scale = sensorScale_[i];
        const Offset p0{(before.longitude - s.longitude) * scale.x, (before.latitude - s.latitude) * scale.y};
        const Offset p1{(now.longitude - s.longitude) * scale.x, (now.latitude - s.latitude) * scale.y};
        if (!(Length(p1) < options_.threshold + Length({p1.x - p0.x, p1.y - p0.y})))
            continue;
        if (!CrossesRegion(p0, p1, options_.threshold))
            continue;
        std::string note = HeldNote(i, {i});
        if (!note.empty())
            crossedHeldNotes_[{i, fixes_.size() - 1}] = std::move(note);
    }
}

// Why the engine, in its present state, will not fire this sensor although the fix is inside
// its firing region; empty when it will.
std::string Replayer::HeldNote(int sensor, const std::vector<int>& inRegion) const
{
    if (state_.loopMode.load() != 0)
        return table_.triggered[sensor].load() != 0 ? "it had fired and was not re-armed yet" : "";
    const int next = state_.nextIndex.load();
    if (next < 0) {
        const int first = inRegion.front();
        return first == sensor ? ""
                               : "sensor " + std::to_string(first + 1) +
                                     ", also in range, came first in table order";
    }
    if (next != sensor)
        return "sensor " + std::to_string(next + 1) + " was due next (table order)";
    if (sensor == 0 && state_.rearmed.load() == 0)
        return "held until the re-arm timer runs out";
    return "";
}

int Replayer::SensorOfNode(std::uint32_t nodeId) const
{
    // Sensors may share a node: take the one this fix is in range of and that has not been
    // counted at this fix yet.
    const std::size_t fix = fixes_.size() - 1;
    int fallback = -1;
    for (int i = 0; i < static_cast<int>(sensors_.size()); ++i) {
        if (sensors_[i].nodeId != nodeId)
            continue;
        if (fallback < 0)
            fallback = i;
        const auto& region = currentInRegion_;
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
    result.passRadius = std::max(options_.passRadius, 2.0 * options_.threshold);
    const double radius = result.passRadius;
    const double threshold = options_.threshold;
    const std::size_t n = fixes_.size();

    for (int s = 0; s < static_cast<int>(sensors_.size()); ++s) {
        const Frame frame(sensors_[s]);
        std::vector<Offset> p(n);
        std::vector<double> d(n);
        for (std::size_t k = 0; k < n; ++k) {
            p[k] = frame.At(fixes_[k].latitude, fixes_[k].longitude);
            d[k] = Length(p[k]);
        }
        // segment[k] joins fix k to fix k + 1; NaN when they are too far apart in time.
        std::vector<double> segment(n, kNaN);
        double nearest = std::numeric_limits<double>::infinity();
        for (std::size_t k = 0; k < n; ++k) {
            nearest = std::min(nearest, d[k]);
            if (k + 1 < n && fixes_[k + 1].timeMs - fixes_[k].timeMs <= kMaxGapMs) {
                segment[k] = Length(PointAt(p[k], p[k + 1], NearestParameter(p[k], p[k + 1])));
                nearest = std::min(nearest, segment[k]);
            }
        }
        result.nearest.push_back(nearest);

        for (std::size_t k = 0; k < n;) {
            if (!(d[k] < radius || segment[k] < radius)) {
                ++k;
                continue;
            }
            Pass pass;
            pass.sensor = s;
            pass.firstFix = k;
            while (k + 1 < n && segment[k] < radius)
                ++k;
            pass.lastFix = k;
            ++k;

            // Closest approach: at a lone fix, else on the nearest segment.
            Offset closest = p[pass.firstFix];
            pass.closest = d[pass.firstFix];
            pass.spacing = kNaN;
            double crossingSpacing = kNaN;
            for (std::size_t j = pass.firstFix; j < pass.lastFix; ++j) {
                if (segment[j] <= pass.closest || std::isnan(pass.spacing)) {
                    pass.closest = segment[j];
                    closest = PointAt(p[j], p[j + 1], NearestParameter(p[j], p[j + 1]));
                    pass.spacing = Length({p[j + 1].x - p[j].x, p[j + 1].y - p[j].y});
                }
                if (std::isnan(crossingSpacing) && CrossesRegion(p[j], p[j + 1], threshold))
                    crossingSpacing = Length({p[j + 1].x - p[j].x, p[j + 1].y - p[j].y});
            }
            const Fix& at = fixes_[pass.firstFix];
            pass.closestNorth = at.south ? -closest.y : closest.y;
            pass.closestEast = at.west ? -closest.x : closest.x;
            pass.bearing = std::atan2(pass.closestEast, pass.closestNorth) * 180.0 / std::numbers::pi;
            if (pass.bearing < 0)
                pass.bearing += 360.0;

            for (std::size_t f = 0; f < firings_.size(); ++f) {
                const Firing& firing = firings_[f];
                if (firing.sensor == s && firing.fix >= pass.firstFix && firing.fix <= pass.lastFix)
                    pass.firings.push_back(f);
            }
            if (pass.firings.empty()) {
                auto held = heldNotes_.lower_bound({s, pass.firstFix});
                const bool heldInPass = held != heldNotes_.end() && held->first.first == s &&
                                        held->first.second <= pass.lastFix;
                if (heldInPass) {
                    pass.miss = Miss::NotDue;
                    pass.reason = "inside the firing region at " + UtcText(fixes_[held->first.second].utcMs) +
                                  ", but " + held->second;
                } else if (!std::isnan(crossingSpacing)) {
                    pass.miss = Miss::NoFixInside;
                    pass.reason = "no fix inside the firing region (fixes " + Metres(crossingSpacing) +
                                  " m apart); the path between fixes crossed it";
                    auto crossed = crossedHeldNotes_.lower_bound({s, pass.firstFix});
                    if (crossed != crossedHeldNotes_.end() && crossed->first.first == s &&
                        crossed->first.second <= pass.lastFix)
                        pass.reason += ", but " + crossed->second;
                    else if (!options_.predictive)
                        pass.reason += ": would fire with --rule predictive";
                } else if (pass.closest < threshold) {
                    pass.miss = Miss::WrongSide;
                    pass.reason = "passed " + CompassWord(pass.bearing) + " of the sensor (wrong side)";
                } else {
                    pass.miss = Miss::BeyondThreshold;
                    pass.reason = "closest approach " + Metres(pass.closest) + " m, beyond the threshold";
                }
            }
            result.passes.push_back(std::move(pass));
        }
    }
    std::stable_sort(result.passes.begin(), result.passes.end(),
                     [](const Pass& a, const Pass& b) { return a.firstFix < b.firstFix; });
    return result;
}

Summary Summarise(const Result& result)
{
    Summary summary;
    const std::vector<Fix>& fixes = result.fixes;
    summary.fixes = fixes.size();
    if (fixes.size() > 1) {
        summary.durationSeconds = static_cast<double>(fixes.back().timeMs - fixes.front().timeMs) / 1000.0;
        if (summary.durationSeconds > 0)
            summary.fixRate = static_cast<double>(fixes.size() - 1) / summary.durationSeconds;
    }
    std::vector<double> speeds;
    for (std::size_t k = 0; k + 1 < fixes.size(); ++k) {
        const std::int64_t dt = fixes[k + 1].timeMs - fixes[k].timeMs;
        if (dt <= 0 || dt > kMaxGapMs)
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
