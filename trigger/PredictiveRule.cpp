// The predictive rule of the trigger engine: firings at the predicted entry into a firing region.

#include "sensors/Distance.h"
#include "trigger/PathPrediction.h"
#include "trigger/TriggerEngine.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ostrim {

namespace {

constexpr std::int64_t kDayMs = 24LL * 3600 * 1000;

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

int TriggerEngine::Predictive(int n, double latitude, double longitude, std::int64_t utcMs)
{
    std::lock_guard lock(mutex_);
    // What this fix shows replaces a plan not carried out yet: it is made again below if the
    // path still enters the region, later or sooner.
    CancelPlan();

    std::int64_t stepMs = 0;
    if (utcMs >= 0 && lastUtcMs_ >= 0) {
        stepMs = utcMs - lastUtcMs_;
        if (stepMs < -kDayMs / 2)
            stepMs += kDayMs; // past midnight
        clockMs_ += std::max<std::int64_t>(stepMs, 0);
    }
    // Triggering switched off and on since the last fix: what the vehicle passed meanwhile is not
    // to fire now.
    const std::uint32_t offs = state_.triggerOffs.load();
    const bool watched = offs == triggerOffs_;
    triggerOffs_ = offs;
    const bool havePath = haveFix_ && watched && stepMs > 0 && stepMs <= kPredictionGapMs;

    const PlanePoint scale = MetresPerDegreeAt(latitude);
    const double threshold = state_.distanceThreshold;
    const double stepLength =
        havePath ? std::hypot((longitude - lastLongitude_) * scale.x, (latitude - lastLatitude_) * scale.y) : 0.0;

    // Inside the region at this fix, or crossed into it since the last one. A crossing found
    // only now is late: the plan of the last fix did not catch it.
    auto hit = [&](int i, Firing& kind) {
        const double sensorLatitude = table_.latitude[i];
        const double sensorLongitude = table_.longitude[i];
        const PlanePoint now{(longitude - sensorLongitude) * scale.x, (latitude - sensorLatitude) * scale.y};
        if (!(std::hypot(now.x, now.y) < threshold + stepLength))
            return false;
        kind = Firing::AtFix;
        if (havePath) {
            const PlanePoint before{(lastLongitude_ - sensorLongitude) * scale.x,
                                    (lastLatitude_ - sensorLatitude) * scale.y};
            if (RegionEntry(before, now, threshold) > 0.0) {
                kind = Firing::Late;
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

    moving_ = havePath;
    if (havePath) {
        velocityLatitude_ = (latitude - lastLatitude_) / static_cast<double>(stepMs);
        velocityLongitude_ = (longitude - lastLongitude_) / static_cast<double>(stepMs);
    }
    fixMs_ = clockMs_;
    // The next fix is expected as far after this one as this one came after the last.
    horizonMs_ = clockMs_ + stepMs;
    haveFix_ = true;
    lastLatitude_ = latitude;
    lastLongitude_ = longitude;
    lastUtcMs_ = utcMs;
    Plan(n, clockMs_);
    return result;
}

void TriggerEngine::Plan(int n, std::int64_t fromMs)
{
    if (!moving_ || fromMs >= horizonMs_)
        return;
    auto at = [this](std::int64_t ms) {
        const double dt = static_cast<double>(ms - fixMs_);
        return std::pair{lastLatitude_ + velocityLatitude_ * dt, lastLongitude_ + velocityLongitude_ * dt};
    };
    const auto [fromLatitude, fromLongitude] = at(fromMs);
    const auto [toLatitude, toLongitude] = at(horizonMs_);
    const PlanePoint scale = MetresPerDegreeAt(fromLatitude);
    const double threshold = state_.distanceThreshold;
    const double length =
        std::hypot((toLongitude - fromLongitude) * scale.x, (toLatitude - fromLatitude) * scale.y);

    Planned best;
    double bestEntry = std::numeric_limits<double>::infinity();
    for (int i = 0; i < n; ++i) {
        if (!Due(n, i))
            continue;
        const double sensorLatitude = table_.latitude[i];
        const double sensorLongitude = table_.longitude[i];
        const PlanePoint from{(fromLongitude - sensorLongitude) * scale.x, (fromLatitude - sensorLatitude) * scale.y};
        if (!(std::hypot(from.x, from.y) < threshold + length))
            continue;
        const PlanePoint to{(toLongitude - sensorLongitude) * scale.x, (toLatitude - sensorLatitude) * scale.y};
        const double entry = RegionEntry(from, to, threshold);
        if (entry >= 0.0 && entry < bestEntry) {
            bestEntry = entry;
            best.sensor = i;
        }
    }
    if (best.sensor < 0)
        return;
    const auto delay = static_cast<std::int64_t>(std::llround(bestEntry * static_cast<double>(horizonMs_ - fromMs)));
    best.dueMs = fromMs + delay;
    planned_ = best;
    plannedTimer_ = kPredictedTimer + nextTimer_;
    nextTimer_ = (nextTimer_ + 1) % kPredictedTimerIds;
    timers_.StartTimer(plannedTimer_, std::chrono::milliseconds(delay));
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
    // Trigger off acts at once: a plan made before it is void.
    if (state_.triggerEnabled.load() == 0 || state_.predictive.load() == 0)
        return;
    const int n = LoadedCount();
    FireDue(n, planned.sensor, Firing::Predicted);
    // Another due sensor may lie further along the same stretch of path.
    Plan(n, planned.dueMs);
}

} // namespace ostrim
