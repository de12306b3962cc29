// The predictive rule of the trigger engine: firings at the predicted entry into a firing region.

#include "sensors/Distance.h"
#include "trigger/PathPrediction.h"
#include "trigger/TriggerEngine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace ostrim {

namespace {

constexpr std::int64_t kDayMs = 24LL * 3600 * 1000;
// A planned switch needs the predicted path to reach this many times the typical recent
// prediction error into the region: a noisy course must not fire a region it only seems to
// graze; the pass is then caught at the next fix instead. The typical error is the median of the
// last seven, so that a change of speed or course, which takes three fixes to settle, does not
// raise it: noise-free, it is a few centimetres and costs nothing.
constexpr double kDepthPerError = 1.0;
// What a clean receiver's fixes (to 2 cm) and the model's settling leave: no margin for that.
constexpr double kCleanError = 0.2;
// Moving less than this many times the noise in a fix interval is standing still.
constexpr double kStillPerError = 2.0;

double Length(PlanePoint p) { return std::hypot(p.x, p.y); }

double PathLength(const std::vector<PlanePoint>& path, std::size_t from = 0, double fraction = 0.0)
{
    double length = 0.0;
    for (std::size_t k = from; k + 1 < path.size(); ++k) {
        const double step = Length({path[k + 1].x - path[k].x, path[k + 1].y - path[k].y});
        length += k == from ? step * (1.0 - fraction) : step;
    }
    return length;
}

std::string RefusedText(double metres, double seconds)
{
    char text[96];
    std::snprintf(text, sizeof text, "Fix ignored by the predictive trigger: %.0f m from the last in %.1f s", metres,
                  seconds);
    return text;
}

std::string OffCourseText(double metres)
{
    char text[96];
    std::snprintf(text, sizeof text, "Fix ignored by the predictive trigger: %.0f m off the course of the last fixes",
                  metres);
    return text;
}

} // namespace

int TriggerEngine::TriggerOnFix(double latitude, double longitude, std::int64_t utcMs)
{
    if (state_.predictive.load() == 0)
        return TriggerOnPosition(latitude, longitude);
    return Predictive(LoadedCount(), latitude, longitude, utcMs);
}

bool TriggerEngine::Due(int n, int i) const
{
    if (i < 0 || i >= n || !table_.Armable(i))
        return false;
    if (state_.loopMode.load() != 0)
        return table_.triggered[i].load() == 0;
    const std::int32_t k = state_.nextIndex.load();
    if (k < 0)
        return true;
    return k == i && (i != FirstArmable(n) || state_.rearmed.load() != 0);
}

bool TriggerEngine::FireDue(int n, int i, Firing kind)
{
    if (!Due(n, i))
        return false;
    if (firingHook_)
        firingHook_(i, kind);
    RaiseFiring(i, kind == Firing::Late        ? FiringKind::Late
                   : kind == Firing::Predicted ? FiringKind::Predicted
                                               : FiringKind::OnFix);
    if (kind == Firing::Late)
        lateFirings_.fetch_add(1);
    if (state_.loopMode.load() != 0) {
        switcher_.SwitchNode(table_.nodeId[i]);
        table_.triggered[i].store(1);
        CheckAllTriggered(n);
        return true;
    }
    if (state_.nextIndex.load() < 0) {
        // Found by the search: as at a fix, no nearer-sensor text and rearmed untouched.
        state_.nextIndex.store(i);
        switcher_.SwitchNode(table_.nodeId[i]);
        StepNextIndex(n, i);
        return true;
    }
    fields_.SetText(Field::Status, NearerSensorText(table_.nodeId[i]));
    switcher_.SwitchNode(table_.nodeId[i]);
    if (StepNextIndex(n, i))
        state_.rearmed.store(0);
    return true;
}

void TriggerEngine::CancelPlan()
{
    if (plannedTimer_ >= 0)
        timers_.KillTimer(plannedTimer_);
    plannedTimer_ = -1;
    planned_ = {};
}

void TriggerEngine::VoidPlans()
{
    // Without the lock, which a switch under way holds: an expiry already on its way finds its
    // plan made before the Trigger Off and drops it.
    for (int k = 0; k < kPredictedTimerIds; ++k)
        timers_.KillTimer(kPredictedTimer + k);
}

PlanePoint TriggerEngine::OnPlane(double latitude, double longitude) const
{
    const TrackFix& newest = track_[trackSize_ - 1];
    return {(longitude - newest.longitude) * scale_.x, (latitude - newest.latitude) * scale_.y};
}

TriggerEngine::Verdict TriggerEngine::Judge(double latitude, double longitude, std::int64_t utcMs,
                                            std::int64_t& fixMs, bool& watched)
{
    watched = false;
    std::int64_t step = 0;
    if (utcMs >= 0 && newestUtcMs_ >= 0) {
        step = utcMs - newestUtcMs_;
        if (step < -kDayMs / 2)
            step += kDayMs; // past midnight
        else if (step > kDayMs / 2)
            step -= kDayMs;
    }
    const bool newer = utcMs >= 0 && (newestUtcMs_ < 0 || step > 0);
    fixMs = clockMs_ + (newer ? step : std::min<std::int64_t>(step, 0));
    const double seconds = trackSize_ > 0 ? static_cast<double>(fixMs - track_[trackSize_ - 1].ms) / 1000.0 : 0.0;
    const double metres = trackSize_ > 0 ? Length(OnPlane(latitude, longitude)) : 0.0;
    auto refuse = [&](const std::string& text) {
        if (!refusing_)
            fields_.SetText(Field::Status, text);
        refusing_ = true;
        return Verdict::Refused;
    };

    if (!newer) {
        // The same epoch again (another talker's sentence), an older one, or one without a time:
        // it adds nothing to the track, but may still be where a region is.
        if (trackSize_ > 0 && !(metres <= kMaxSpeed * std::fabs(seconds) + kFixTolerance))
            return refuse(RefusedText(metres, seconds));
        return Verdict::Old;
    }
    clockMs_ = fixMs;
    newestUtcMs_ = utcMs;

    const std::uint32_t offs = state_.triggerOffs.load();
    const TrackFix fix{latitude, longitude, fixMs};
    auto startTrack = [&](int kept) {
        if (kept > 0)
            track_[0] = refused_;
        track_[kept] = fix;
        trackSize_ = kept + 1;
        haveRefused_ = false;
        refusing_ = false;
        trackOffs_ = offs;
        scale_ = MetresPerDegreeAt(latitude);
        return Verdict::Fresh;
    };
    // Too long ago to say anything about this fix: a new track.
    if (trackSize_ == 0 || seconds * 1000.0 > static_cast<double>(kPredictionGapMs))
        return startTrack(0);

    bool plausible = metres <= kMaxSpeed * seconds + kFixTolerance;
    double offCourse = 0.0;
    if (plausible && trackSize_ >= 2) {
        // Against the course of the last step, held on: the distance off it that the largest
        // acceleration explains, from the middle of that step on.
        const TrackFix& previous = track_[trackSize_ - 2];
        const PlanePoint before = OnPlane(previous.latitude, previous.longitude);
        const double lastSeconds = static_cast<double>(track_[trackSize_ - 1].ms - previous.ms) / 1000.0;
        const PlanePoint here = OnPlane(latitude, longitude);
        const PlanePoint expected{-before.x / lastSeconds * seconds, -before.y / lastSeconds * seconds};
        offCourse = Length({here.x - expected.x, here.y - expected.y});
        plausible = offCourse <= kMaxAcceleration * seconds * (seconds + lastSeconds) / 2.0 + kFixTolerance;
    }
    if (!plausible) {
        // The receiver's position moved for good (a new solution): two fixes that agree with
        // each other start a track of their own, with no path from the old one.
        if (haveRefused_ && fixMs > refused_.ms) {
            const PlanePoint scale = MetresPerDegreeAt(latitude);
            const double apart = Length({(longitude - refused_.longitude) * scale.x,
                                         (latitude - refused_.latitude) * scale.y});
            if (apart <= kMaxSpeed * static_cast<double>(fixMs - refused_.ms) / 1000.0 + kFixTolerance)
                return startTrack(1);
        }
        refused_ = fix;
        haveRefused_ = true;
        return refuse(offCourse > 0.0 ? OffCourseText(offCourse) : RefusedText(metres, seconds));
    }

    // How far the fix lies to the side of where the last prediction put it, for the next fix
    // interval. Along the path, a change of speed moves it as much as noise does, but it only
    // moves the time of a switch, not whether the path enters a region.
    if (moving_) {
        const PlanePoint predicted = motion_.At(static_cast<double>(fixMs - track_[trackSize_ - 1].ms));
        const PlanePoint here = OnPlane(latitude, longitude);
        const double travelled = Length(predicted);
        double error = Length({here.x - predicted.x, here.y - predicted.y});
        if (travelled > 0.0)
            error = std::fabs((here.x - predicted.x) * predicted.y - (here.y - predicted.y) * predicted.x) / travelled;
        const double interval = static_cast<double>(NominalStepMs());
        if (seconds * 1000.0 > interval)
            error *= interval / (seconds * 1000.0);
        errors_[static_cast<std::size_t>(errorCount_++ % static_cast<int>(errors_.size()))] = error;
    }
    steps_[static_cast<std::size_t>(stepCount_++ % static_cast<int>(steps_.size()))] =
        fixMs - track_[trackSize_ - 1].ms;
    watched = offs == trackOffs_;
    trackOffs_ = offs;
    if (trackSize_ == static_cast<int>(track_.size())) {
        std::rotate(track_.begin(), track_.begin() + 1, track_.end());
        --trackSize_;
    }
    track_[trackSize_++] = fix;
    haveRefused_ = false;
    refusing_ = false;
    scale_ = MetresPerDegreeAt(latitude);
    return Verdict::Trusted;
}

std::int64_t TriggerEngine::NominalStepMs() const
{
    // The receiver's interval: the shortest recent step, as a lost fix only lengthens one.
    const int count = std::min(stepCount_, static_cast<int>(steps_.size()));
    std::int64_t shortest = 0;
    for (int k = 0; k < count; ++k) {
        const std::int64_t step = steps_[static_cast<std::size_t>(k)];
        if (step > 0 && (shortest == 0 || step < shortest))
            shortest = step;
    }
    return shortest;
}

double TriggerEngine::TypicalError() const
{
    // The median; a receiver is taken as clean until its errors fill most of the window, so a
    // model settling on its first fixes does not count as noise.
    std::array<double, kErrorWindow> sorted = errors_;
    for (std::size_t i = 1; i < sorted.size(); ++i) {
        for (std::size_t j = i; j > 0 && sorted[j] < sorted[j - 1]; --j)
            std::swap(sorted[j], sorted[j - 1]);
    }
    return sorted[sorted.size() / 2];
}

double TriggerEngine::Depth() const
{
    return std::clamp(kDepthPerError * (TypicalError() - kCleanError), 0.0, state_.distanceThreshold / 2.0);
}

void TriggerEngine::FitMotion()
{
    std::array<TimedPoint, 3> points{};
    for (int k = 0; k < trackSize_; ++k) {
        const TrackFix& fix = track_[static_cast<std::size_t>(k)];
        points[static_cast<std::size_t>(k)] = {OnPlane(fix.latitude, fix.longitude), static_cast<double>(fix.ms)};
    }
    motion_ = Motion::Fit(points.data(), trackSize_);
    const std::int64_t interval = NominalStepMs();
    // A vehicle that moves less in a fix interval than the receiver's noise moves its fixes is
    // standing, as far as anyone can tell: a stop just short of a region must not be driven on.
    const double noise = std::max(0.0, TypicalError() - kCleanError);
    moving_ = trackSize_ >= 2 && interval > 0 &&
              motion_.Speed() * static_cast<double>(interval) / 1000.0 > kStillPerError * noise;
    // The next fix is due an interval on; should it be lost, the plan reaches one more.
    horizonMs_ = track_[trackSize_ - 1].ms + std::min<std::int64_t>(2 * interval, kPredictionGapMs);
}

int TriggerEngine::Predictive(int n, double latitude, double longitude, std::int64_t utcMs)
{
    // Read before the lock, which a switch under way holds: the fix arrived now.
    const std::int64_t arrived = timers_.Now().count();
    std::lock_guard lock(mutex_);
    std::int64_t fixMs = 0;
    bool watched = false;
    const Verdict verdict = Judge(latitude, longitude, utcMs, fixMs, watched);
    if (verdict == Verdict::Refused)
        return 0;
    if (verdict != Verdict::Old) {
        // What this fix shows replaces a plan not carried out yet: it is made again below if the
        // path still enters the region, later or sooner.
        CancelPlan();
        arrivedMs_ = arrived;
        receiverDelayMs_ = std::max<std::int32_t>(0, state_.receiverDelayMs.load());
        FitMotion();
    }

    // The path since the previous fix, in the plane of this one: a crossing found only now is
    // late, the plan of the last fix did not catch it. What the fixes show counts as it is, noise
    // and all, as a fix inside counts for the on-fix rule.
    std::vector<PlanePoint> lastStep;
    double stepLength = 0.0;
    if (verdict == Verdict::Trusted && watched) {
        lastStep = motion_.LastStep();
        stepLength = PathLength(lastStep);
    }
    const double threshold = state_.distanceThreshold;
    const PlanePoint scale = MetresPerDegreeAt(latitude);
    auto hit = [&](int i, Firing& kind) {
        kind = Firing::AtFix;
        firingPlace_ = {latitude, longitude, std::numeric_limits<double>::quiet_NaN()};
        // From this fix; a sensor further than the way since the last one cannot have been met.
        const PlanePoint sensor{(table_.longitude[i] - longitude) * scale.x, (table_.latitude[i] - latitude) * scale.y};
        const double distance = Length(sensor);
        if (!(distance < threshold + stepLength + 1.0))
            return false;
        if (!lastStep.empty()) {
            const double entry = PolylineEntry(lastStep, sensor, threshold);
            if (entry > 0.0) {
                kind = Firing::Late;
                const auto k = static_cast<std::size_t>(entry);
                firingPlace_.pastEntry = PathLength(lastStep, k, entry - static_cast<double>(k));
                return true;
            }
        }
        return InRange(i, latitude, longitude, false);
    };

    // The trace the on-fix rule writes for the same fix: each distance its scans measure.
    auto trace = [&](int i) {
        if (tracing_)
            trace_(DistanceTraceLine(GeodesicDistance(latitude, longitude, table_.latitude[i], table_.longitude[i])));
    };
    int result = 0;
    Firing kind = Firing::AtFix;
    if (state_.loopMode.load() != 0) {
        for (int i = 0; i < n; ++i) {
            trace(i);
            if (table_.triggered[i].load() == 0 && table_.Armable(i) && hit(i, kind))
                FireDue(n, i, kind);
        }
    } else {
        // Several sensors may have been crossed since the last fix; each fires in turn.
        for (int round = 0; round <= n; ++round) {
            const std::int32_t k = state_.nextIndex.load();
            if (k >= n || (k >= 0 && !table_.Armable(k))) {
                std::int32_t expected = k;
                state_.nextIndex.compare_exchange_strong(expected, -1);
                break;
            }
            if (k < 0) {
                int found = -1;
                for (int i = 0; i < n && found < 0; ++i) {
                    if (round == 0)
                        trace(i);
                    if (table_.Armable(i) && hit(i, kind))
                        found = i;
                }
                if (found < 0 || !FireDue(n, found, kind))
                    break;
                result = 1;
                continue;
            }
            if (!hit(k, kind))
                break;
            result = 1;
            if (k != FirstArmable(n) || state_.rearmed.load() != 0) {
                if (!FireDue(n, k, kind))
                    break;
                continue;
            }
            HoldSensorZero(n);
            break;
        }
    }
    if (verdict != Verdict::Old)
        Plan(n, fixMs);
    return result;
}

void TriggerEngine::Plan(int n, std::int64_t fromMs)
{
    if (!moving_ || fromMs >= horizonMs_)
        return;
    const TrackFix& newest = track_[trackSize_ - 1];
    const double from = static_cast<double>(fromMs - newest.ms);
    const double to = static_cast<double>(horizonMs_ - newest.ms);
    const std::vector<PlanePoint> path = motion_.Path(from, to);
    const double length = PathLength(path);
    const double threshold = state_.distanceThreshold;
    const double depth = Depth();

    int sensor = -1;
    double bestEntry = std::numeric_limits<double>::infinity();
    for (int i = 0; i < n; ++i) {
        if (!Due(n, i))
            continue;
        const PlanePoint s = OnPlane(table_.latitude[i], table_.longitude[i]);
        if (!(Length({path.front().x - s.x, path.front().y - s.y}) < threshold + length))
            continue;
        const double entry = PolylineEntry(path, s, threshold, depth);
        if (entry >= 0.0 && entry < bestEntry) {
            bestEntry = entry;
            sensor = i;
        }
    }
    if (sensor < 0)
        return;
    // The path's points lie at equal steps of time.
    const double segments = static_cast<double>(path.size() - 1);
    planned_.sensor = sensor;
    planned_.dueMs = newest.ms + std::llround(from + (to - from) * bestEntry / segments);
    planned_.triggerOffs = trackOffs_;
    // On the timers' clock: the fix was measured the receiver delay before it arrived. A switch
    // that made this plan late (a chained one) shortens the wait, not the other way round.
    const std::int64_t due = arrivedMs_ - receiverDelayMs_ + (planned_.dueMs - newest.ms);
    const std::int64_t wait = std::max<std::int64_t>(0, due - timers_.Now().count());
    plannedTimer_ = kPredictedTimer + nextTimer_;
    nextTimer_ = (nextTimer_ + 1) % kPredictedTimerIds;
    timers_.StartTimer(plannedTimer_, std::chrono::milliseconds(wait));
}

void TriggerEngine::OnPredictedTimer(int timerId)
{
    std::lock_guard lock(mutex_);
    if (timerId != plannedTimer_ || planned_.sensor < 0)
        return; // a plan that a fix has replaced meanwhile
    const Planned planned = planned_;
    plannedTimer_ = -1;
    planned_ = {};
    timers_.KillTimer(timerId);
    // Trigger off acts at once: a plan made before it is void, also once triggering is back on.
    if (state_.triggerEnabled.load() == 0 || state_.predictive.load() == 0 ||
        state_.triggerOffs.load() != planned.triggerOffs)
        return;
    const int n = LoadedCount();
    const TrackFix& newest = track_[trackSize_ - 1];
    const double dueMs = static_cast<double>(planned.dueMs - newest.ms);
    const double lateMs = static_cast<double>(
        timers_.Now().count() - (arrivedMs_ - receiverDelayMs_ + (planned.dueMs - newest.ms)));
    const PlanePoint at = motion_.At(dueMs + std::max(lateMs, 0.0));
    const PlanePoint entry = motion_.At(dueMs);
    firingPlace_ = {newest.latitude + at.y / scale_.y, newest.longitude + at.x / scale_.x,
                    Length({at.x - entry.x, at.y - entry.y})};
    FireDue(n, planned.sensor, Firing::Predicted);
    // Another due sensor may lie further along the same stretch of path.
    Plan(n, planned.dueMs);
}

} // namespace ostrim
