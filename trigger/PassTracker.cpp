#include "trigger/PassTracker.h"

#include "sensors/Distance.h"
#include "trigger/PathPrediction.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>
#include <utility>

namespace ostrim {

namespace {

constexpr std::int64_t kDayMs = 24LL * 3600 * 1000;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

double Length(PlanePoint p) { return std::sqrt(p.x * p.x + p.y * p.y); }

// The point of segment p0-p1 nearest the sensor (the origin), as a parameter from 0 to 1,
// kept within [lo, hi].
double NearestParameter(PlanePoint p0, PlanePoint p1, double lo = 0.0, double hi = 1.0)
{
    const double dx = p1.x - p0.x;
    const double dy = p1.y - p0.y;
    const double length2 = dx * dx + dy * dy;
    const double t = length2 > 0 ? -(p0.x * dx + p0.y * dy) / length2 : 0.0;
    return std::clamp(t, lo, hi);
}

PlanePoint PointAt(PlanePoint p0, PlanePoint p1, double t)
{
    return {p0.x + t * (p1.x - p0.x), p0.y + t * (p1.y - p0.y)};
}

// True when the segment passes through the firing region: closer than `threshold` with both
// coordinate numbers below the sensor's.
bool CrossesRegion(PlanePoint p0, PlanePoint p1, double threshold)
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

} // namespace

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

const char* PassMissName(PassMiss miss)
{
    switch (miss) {
    case PassMiss::None: return "";
    case PassMiss::NotArmed: return "not armed";
    case PassMiss::NotDue: return "not due";
    case PassMiss::SwitchingOff: return "switching off";
    case PassMiss::QualityZero: return "quality 0";
    case PassMiss::NoFixInside: return "fixes too sparse for the speed";
    case PassMiss::WrongSide:
    case PassMiss::BeyondThreshold: return "the path stayed outside the firing region";
    }
    return "";
}

std::int64_t FixClock::Advance(std::int64_t utcMs)
{
    if (utcMs >= 0 && lastUtcMs_ >= 0) {
        std::int64_t step = utcMs - lastUtcMs_;
        if (step < -kDayMs / 2)
            step += kDayMs; // past midnight
        elapsedMs_ += std::max<std::int64_t>(step, 0);
    }
    if (utcMs >= 0)
        lastUtcMs_ = utcMs;
    return elapsedMs_;
}

std::vector<TrackedSensor> TrackedSensorsOf(const SensorTable& table)
{
    std::vector<TrackedSensor> sensors;
    const int count = std::clamp(table.count.load(std::memory_order_acquire), 0, SensorTable::kCapacity);
    for (int i = 0; i < count; ++i) {
        sensors.push_back({table.latitude[i], table.longitude[i],
                           table.Armable(i) ? std::string() : NotArmedText(table.unreadableNodeId[i].data())});
    }
    return sensors;
}

PassTracker::PassTracker(Options options, OnPass onPass, HoldQuery held)
    : options_(options), radius_(std::max(options.passRadius, 2.0 * options.threshold)),
      onPass_(std::move(onPass)), held_(std::move(held))
{
}

void PassTracker::SetSensors(const std::vector<TrackedSensor>& sensors)
{
    End();
    tracks_.clear();
    for (const TrackedSensor& sensor : sensors) {
        Track track;
        track.sensor = sensor;
        track.scale = MetresPerDegreeAt(sensor.latitude);
        track.nearest = kInfinity;
        track.slack = -kInfinity;
        tracks_.push_back(std::move(track));
    }
    now_.assign(tracks_.size(), PlanePoint{0, 0});
    squared_.assign(tracks_.size(), 0.0);
    far_.assign(tracks_.size(), 0);
    maxScale_ = {0, 0};
    for (const Track& track : tracks_) {
        maxScale_.x = std::max(maxScale_.x, track.scale.x);
        maxScale_.y = std::max(maxScale_.y, track.scale.y);
    }
    inside_.assign(tracks_.size(), 0);
    inRegion_.clear();
}

double PassTracker::Nearest(int sensor) const
{
    if (sensor < 0 || sensor >= static_cast<int>(tracks_.size()))
        return kInfinity;
    return tracks_[static_cast<std::size_t>(sensor)].nearest;
}

void PassTracker::Firing(int sensor)
{
    std::lock_guard lock(firingsMutex_);
    firings_.push_back(sensor);
}

void PassTracker::TakeFirings()
{
    std::vector<int> taken;
    {
        std::lock_guard lock(firingsMutex_);
        taken.swap(firings_);
    }
    for (int sensor : taken) {
        const std::size_t number = firingsTaken_++;
        if (!haveLast_ || sensor < 0 || sensor >= static_cast<int>(tracks_.size()))
            continue;
        Track& track = tracks_[static_cast<std::size_t>(sensor)];
        (track.open ? track.pass.report.firings : track.pending).push_back(number);
    }
}

void PassTracker::Start(Track& track, int sensor, std::size_t fix, std::int64_t utcMs, bool south,
                        bool west, PlanePoint at, double distance)
{
    track.open = true;
    track.pass = Open{};
    PassReport& r = track.pass.report;
    r.sensor = sensor;
    r.firstFix = r.lastFix = fix;
    r.firstUtcMs = r.lastUtcMs = utcMs;
    r.closest = distance;
    r.spacing = kNaN;
    r.firings = std::move(track.pending);
    track.pending.clear();
    track.pass.closestPoint = at;
    track.pass.south = south;
    track.pass.west = west;
}

void PassTracker::Fix(const TrackedFix& fix)
{
    TakeFirings();
    const std::int64_t timeMs = clock_.Advance(fix.utcMs);
    const bool joined = haveLast_ && timeMs - last_.timeMs <= kPassGapMs;
    const std::size_t number = fixes_++;
    if (fix.quality == 0)
        ++qualityZero_;
    const double threshold = options_.threshold;
    const double lat = fix.latitude;
    const double lon = fix.longitude;
    // Whether the engine gets this fix and the one before: a fix it never sees is no hold of its.
    const bool seen = fix.switching && fix.quality != 0;
    const bool lastSeen = last_.switching && last_.quality != 0;
    // How far the track moved, at least, as any sensor's plane measures it.
    const double step = haveLast_ ? Length({(lon - last_.longitude) * maxScale_.x, (lat - last_.latitude) * maxScale_.y})
                                  : kInfinity;

    // Inside the firing region by the engine's own test, after a cheap planar bound. A sensor
    // whose slack outlasts this step is far and left alone: most sensors are far from most fixes.
    inRegion_.clear();
    int firstArmed = -1;
    const double near = (threshold + 1.0) * 1.01;
    const double near2 = near * near;
    for (std::size_t i = 0; i < tracks_.size(); ++i) {
        Track& t = tracks_[i];
        t.slack -= step;
        far_[i] = t.slack > 0 && !t.open && t.pending.empty() ? 1 : 0;
        inside_[i] = 0;
        if (far_[i])
            continue;
        const TrackedSensor& s = t.sensor;
        const PlanePoint p{(lon - s.longitude) * t.scale.x, (lat - s.latitude) * t.scale.y};
        now_[i] = p;
        squared_[i] = p.x * p.x + p.y * p.y;
        // Longitudes a turn apart are near for the geodesic distance: leave those to it.
        if (lat < s.latitude && lon < s.longitude && (squared_[i] < near2 || s.longitude - lon >= 180.0) &&
            GeodesicDistance(lat, lon, s.latitude, s.longitude) < threshold) {
            inside_[i] = 1;
            inRegion_.push_back(static_cast<int>(i));
            if (firstArmed < 0 && s.notArmed.empty())
                firstArmed = static_cast<int>(i);
        }
    }

    for (std::size_t i = 0; i < tracks_.size(); ++i) {
        Track& t = tracks_[i];
        if (far_[i]) {
            t.lastInside = false;
            continue;
        }
        const int sensor = static_cast<int>(i);
        const PlanePoint p = now_[i];
        const PlanePoint q{(last_.longitude - t.sensor.longitude) * t.scale.x,
                           (last_.latitude - t.sensor.latitude) * t.scale.y};
        const double d = std::sqrt(squared_[i]);
        if (d < t.nearest)
            t.nearest = d;

        // The line from the last fix, measured only where it may come within the radius or
        // closer than the track came so far: a line with both ends beyond the same side of the
        // square round the sensor does neither.
        double segment = kInfinity;
        PlanePoint closestPoint = p;
        double length = 0;
        if (joined) {
            const double reach = std::max(radius_, t.nearest);
            const bool away = (p.x >= reach && q.x >= reach) || (p.x <= -reach && q.x <= -reach) ||
                              (p.y >= reach && q.y >= reach) || (p.y <= -reach && q.y <= -reach);
            if (!away) {
                length = Length({p.x - q.x, p.y - q.y});
                closestPoint = PointAt(q, p, NearestParameter(q, p));
                segment = std::hypot(closestPoint.x, closestPoint.y);
                if (segment < t.nearest)
                    t.nearest = segment;
            }
        }

        if (segment < radius_) {
            if (!t.open)
                Start(t, sensor, last_.number, last_.utcMs, last_.south, last_.west, q, Length(q));
            Open& o = t.pass;
            if (segment <= o.report.closest || std::isnan(o.report.spacing)) {
                o.report.closest = segment;
                o.closestPoint = closestPoint;
                o.report.spacing = length;
            }
            o.report.lastFix = number;
            o.report.lastUtcMs = fix.utcMs;
            if (CrossesRegion(q, p, threshold)) {
                if (!o.crossed) {
                    o.crossed = true;
                    o.crossingSpacing = length;
                }
                // A fix inside at either end tells more, and is told below (or was).
                const bool fixInside = inside_[i] != 0 || t.lastInside;
                if (!fixInside && t.sensor.notArmed.empty()) {
                    if (!fix.switching || !last_.switching) {
                        if (!o.off) {
                            o.off = o.offCrossed = true;
                            o.offUtcMs = fix.utcMs;
                        }
                    } else if (fix.quality == 0 || last_.quality == 0) {
                        if (!o.zero) {
                            o.zero = o.zeroCrossed = true;
                            o.zeroUtcMs = fix.utcMs;
                        }
                    } else if (seen && lastSeen && o.crossedHeld.empty() && held_) {
                        o.crossedHeld = held_(sensor, sensor);
                    }
                }
            }
        } else {
            if (t.open)
                Close(t);
            t.pending.clear();
            if (d < radius_)
                Start(t, sensor, number, fix.utcMs, fix.south, fix.west, p, d);
        }

        if (t.open && inside_[i] && t.sensor.notArmed.empty()) {
            Open& o = t.pass;
            if (!fix.switching) {
                if (!o.off) {
                    o.off = true;
                    o.offCrossed = false;
                    o.offUtcMs = fix.utcMs;
                }
            } else if (fix.quality == 0) {
                if (!o.zero) {
                    o.zero = true;
                    o.zeroCrossed = false;
                    o.zeroUtcMs = fix.utcMs;
                }
            } else if (o.held.empty()) {
                std::string held = held_ ? held_(sensor, firstArmed) : std::string();
                if (!held.empty()) {
                    o.held = std::move(held);
                    o.heldUtcMs = fix.utcMs;
                } else if (!o.clean) {
                    o.clean = true;
                    o.cleanUtcMs = fix.utcMs;
                }
            }
        }
        t.lastInside = inside_[i] != 0;
        // Until the track has gone this far it cannot come within the radius, nor closer than
        // it came so far, nor into the firing region.
        t.slack = t.open ? 0.0 : d - std::max(radius_, t.nearest);
    }

    haveLast_ = true;
    last_ = {number, timeMs, fix.utcMs, fix.quality, fix.switching, fix.south, fix.west, lat, lon};
}

void PassTracker::End()
{
    TakeFirings();
    for (Track& t : tracks_) {
        if (t.open)
            Close(t);
        t.pending.clear();
        t.lastInside = false;
    }
    inRegion_.clear();
    haveLast_ = false;
}

void PassTracker::Close(Track& track)
{
    track.open = false;
    Open& o = track.pass;
    PassReport& r = o.report;
    r.closestNorth = o.south ? -o.closestPoint.y : o.closestPoint.y;
    r.closestEast = o.west ? -o.closestPoint.x : o.closestPoint.x;
    r.bearing = std::atan2(r.closestEast, r.closestNorth) * 180.0 / std::numbers::pi;
    if (r.bearing < 0)
        r.bearing += 360.0;
    if (r.firings.empty())
        r.reason = Words(track, r.miss);
    if (onPass_)
        onPass_(r);
}

std::string PassTracker::Words(const Track& track, PassMiss& miss) const
{
    const Open& o = track.pass;
    const PassReport& r = o.report;
    if (!track.sensor.notArmed.empty()) {
        miss = PassMiss::NotArmed;
        return track.sensor.notArmed;
    }
    if (!o.held.empty()) {
        miss = PassMiss::NotDue;
        return "inside the firing region at " + UtcText(o.heldUtcMs) + ", but " + o.held;
    }
    auto where = [](bool crossed, std::int64_t utcMs) {
        return crossed ? "the path between fixes crossed the firing region before " + UtcText(utcMs)
                       : "inside the firing region at " + UtcText(utcMs);
    };
    if (o.off) {
        miss = PassMiss::SwitchingOff;
        return "switching off: " + where(o.offCrossed, o.offUtcMs);
    }
    if (o.zero) {
        miss = PassMiss::QualityZero;
        return "quality 0, the receiver had no position: " + where(o.zeroCrossed, o.zeroUtcMs);
    }
    if (o.clean) {
        miss = PassMiss::NotDue;
        return "inside the firing region at " + UtcText(o.cleanUtcMs) + ", but no switch was made";
    }
    if (o.crossed) {
        miss = PassMiss::NoFixInside;
        std::string words = "no fix inside the firing region (fixes " + Metres(o.crossingSpacing) +
                            " m apart); the path between fixes crossed it";
        if (!o.crossedHeld.empty())
            words += ", but " + o.crossedHeld;
        else if (!options_.predictive)
            words += ": would fire with --rule predictive";
        return words;
    }
    if (r.closest < options_.threshold) {
        miss = PassMiss::WrongSide;
        return "passed " + CompassWord(r.bearing) + " of the sensor (wrong side)";
    }
    miss = PassMiss::BeyondThreshold;
    return "closest approach " + Metres(r.closest) + " m, beyond the threshold";
}

RunEvent PassEvent(const PassReport& pass, const SensorTable& table)
{
    RunEvent event;
    event.sensor = pass.sensor;
    event.fixUtcMs = pass.lastUtcMs;
    if (pass.miss == PassMiss::None) {
        event.type = EventType::PassFired;
    } else {
        event.type = EventType::Missed;
        // The panel's short words; the event log keeps the replay's whole sentence as the reason.
        event.detail = pass.miss == PassMiss::NotDue ? "not due" : pass.miss == PassMiss::NotArmed
                                                                     ? "not armed"
                                                                     : PassMissName(pass.miss);
        event.reason = pass.reason;
        event.closest = pass.closest;
    }
    if (pass.sensor >= 0 && pass.sensor < SensorTable::kCapacity) {
        event.sensorLatitude = table.latitude[static_cast<std::size_t>(pass.sensor)];
        event.sensorLongitude = table.longitude[static_cast<std::size_t>(pass.sensor)];
        const int count = table.count.load(std::memory_order_acquire);
        if (pass.sensor < count && table.Armable(pass.sensor)) {
            event.nodeId = table.nodeId[static_cast<std::size_t>(pass.sensor)];
            event.hasNode = true;
        }
    }
    return event;
}

} // namespace ostrim
