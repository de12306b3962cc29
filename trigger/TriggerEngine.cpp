#include "trigger/TriggerEngine.h"

#include "sensors/Distance.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

namespace ostrim {

namespace {

// Buffered, not flushed: 24 lines a fix would otherwise cost 24 system calls. Nothing reads the
// trace as it comes, and the status lines that share standard output flush it in order.
void WriteToStandardOutput(const std::string& line)
{
    std::fputs(line.c_str(), stdout);
}

} // namespace

std::string NearerSensorText(std::uint32_t nodeId)
{
    char text[32];
    std::snprintf(text, sizeof text, "%X sensor is nearer ", static_cast<unsigned>(nodeId));
    return text;
}

std::string DistanceTraceLine(double metres)
{
    int whole = -1;
    if (!std::isnan(metres)) {
        // Compared as doubles, so the conversion below only sees values that fit.
        constexpr double kLowest = std::numeric_limits<int>::min();
        constexpr double kHighest = std::numeric_limits<int>::max();
        whole = static_cast<int>(std::clamp(std::trunc(metres), kLowest, kHighest));
    }
    // As "%d" writes it; to_chars because this runs for every sensor on every fix and snprintf
    // was a fifth of the reader thread's instructions.
    char text[40] = "Distance is: ";
    char* end = std::to_chars(text + 13, text + sizeof text - 1, whole).ptr;
    *end++ = '\n';
    return std::string(text, end);
}

TriggerEngine::TriggerEngine(RunState& state, SensorTable& table, DialogFields& fields,
                             TimerService& timers, NodeSwitcher& switcher, Trace trace)
    : state_(state), table_(table), fields_(fields), timers_(timers), switcher_(switcher),
      trace_(trace ? std::move(trace) : Trace(WriteToStandardOutput))
{
}

void TriggerEngine::RaiseFiring(int i, FiringKind kind)
{
    if (events_ == nullptr)
        return;
    RunEvent event;
    event.type = EventType::Firing;
    event.sensor = i;
    event.sensorLatitude = table_.latitude[i];
    event.sensorLongitude = table_.longitude[i];
    event.nodeId = table_.nodeId[i];
    event.hasNode = true;
    event.kind = kind;
    // Where the rule took the vehicle to be; the hub fills in what it leaves unknown.
    event.latitude = firingPlace_.latitude;
    event.longitude = firingPlace_.longitude;
    event.pastEntry = firingPlace_.pastEntry;
    events_->OnEvent(event);
}

void TriggerEngine::OfferTable(std::unique_ptr<SensorTable> table)
{
    std::lock_guard lock(offerMutex_);
    offered_ = std::move(table);
}

bool TriggerEngine::ApplyOfferedTable()
{
    std::unique_ptr<SensorTable> next;
    {
        std::lock_guard lock(offerMutex_);
        next = std::move(offered_);
    }
    if (!next)
        return false;
    // The predictive timer reads the entries under mutex_, the panel under `replacing`; the
    // re-arm timers touch only the atomics.
    std::lock_guard lock(mutex_);
    std::lock_guard replacing(table_.replacing);
    CancelPlan();
    const int oldCount = LoadedCount();
    const int newCount = std::clamp(next->count.load(), 0, SensorTable::kCapacity);
    std::array<std::int32_t, SensorTable::kCapacity> fired{};
    for (int i = 0; i < newCount; ++i) {
        for (int j = 0; j < oldCount; ++j) {
            if (table_.nodeId[j] == next->nodeId[i] && table_.latitude[j] == next->latitude[i]
                && table_.longitude[j] == next->longitude[i] && table_.Armable(j) && next->Armable(i))
                fired[i] = table_.triggered[j].load();
        }
    }
    // Entries past the new count are never read again; those below it are written before the
    // count that covers them is raised.
    table_.count.store(std::min(oldCount, newCount), std::memory_order_release);
    for (int i = 0; i < newCount; ++i) {
        table_.latitude[i] = next->latitude[i];
        table_.longitude[i] = next->longitude[i];
        table_.nodeId[i] = next->nodeId[i];
        table_.unreadableNodeId[i] = next->unreadableNodeId[i];
        table_.triggered[i].store(fired[i]);
    }
    table_.count.store(newCount, std::memory_order_release);
    state_.nextIndex.store(-1);
    return true;
}

int TriggerEngine::LoadedCount() const
{
    // The clamp guards the arrays even against a count written by something other than the loader.
    return std::clamp(table_.count.load(std::memory_order_acquire), 0, SensorTable::kCapacity);
}

bool TriggerEngine::InRange(int i, double latitude, double longitude, bool trace)
{
    const double sensorLatitude = table_.latitude[i];
    const double sensorLongitude = table_.longitude[i];
    trace = trace && tracing_;
    // With no trace line to write, what is cheap decides first: the side, and the latitudes alone
    // (no degree of latitude is shorter than 110.5 km).
    if (!trace && !(latitude < sensorLatitude && longitude < sensorLongitude &&
                    (sensorLatitude - latitude) * 110000.0 < state_.distanceThreshold))
        return false;
    const double d = GeodesicDistance(latitude, longitude, sensorLatitude, sensorLongitude);
    if (trace)
        trace_(DistanceTraceLine(d));
    // Written so that a NaN anywhere fails every comparison.
    return d < state_.distanceThreshold && latitude < sensorLatitude && longitude < sensorLongitude;
}

int TriggerEngine::TriggerOnPosition(double latitude, double longitude)
{
    const int n = LoadedCount();
    if (state_.loopMode.load() != 0)
        return LoopMode(n, latitude, longitude);
    return BackAndForthMode(n, latitude, longitude);
}

void TriggerEngine::TellFiringAtFix(int sensor, double latitude, double longitude)
{
    firingPlace_ = {latitude, longitude, std::numeric_limits<double>::quiet_NaN()};
    if (firingHook_)
        firingHook_(sensor, Firing::AtFix);
}

int TriggerEngine::LoopMode(int n, double latitude, double longitude)
{
    for (int i = 0; i < n; ++i) {
        if (InRange(i, latitude, longitude, true) && table_.triggered[i].load() == 0 && table_.Armable(i)) {
            TellFiringAtFix(i, latitude, longitude);
            RaiseFiring(i, FiringKind::OnFix);
            switcher_.SwitchNode(table_.nodeId[i]);
            // Fired whatever the base station said: a failed switch is not retried.
            table_.triggered[i].store(1);
            CheckAllTriggered(n);
        }
    }
    return 0;
}

int TriggerEngine::CheckAllTriggered()
{
    return CheckAllTriggered(LoadedCount());
}

int TriggerEngine::CheckAllTriggered(int n)
{
    int fired = 0;
    int armable = 0;
    for (int i = 0; i < n; ++i) {
        if (!table_.Armable(i))
            continue;
        ++armable;
        if (table_.triggered[i].load() != 0)
            ++fired;
    }
    // A table with nothing armable has nothing to re-arm: "All sensors triggered" would be untrue.
    if (armable > 0 && fired == armable)
        timers_.StartTimer(kAllTriggeredTimer, kAllTriggeredPeriod);
    return 1;
}

int TriggerEngine::FirstArmable(int n) const
{
    for (int i = 0; i < n; ++i) {
        if (table_.Armable(i))
            return i;
    }
    return -1;
}

bool TriggerEngine::StepNextIndex(int n, std::int32_t fired)
{
    // Step on from the sensor just fired, over sensors that are never armed. Should the operator
    // have reset the pass (Trigger off, the Back and Forth radio) while the node was switching,
    // the reset stands: the next firing is found by a fresh search, as it would be had the button
    // been pressed a moment later.
    std::int32_t next = fired + 1;
    while (next < n && !table_.Armable(next))
        ++next;
    const bool wrapped = next >= n;
    if (wrapped)
        next = FirstArmable(n);
    std::int32_t expected = fired;
    return state_.nextIndex.compare_exchange_strong(expected, next) && wrapped;
}

int TriggerEngine::BackAndForthMode(int n, double latitude, double longitude)
{
    const std::int32_t k = state_.nextIndex.load();

    if (k < 0) {
        if (n < 1)
            return 0;
        int found = -1;
        for (int i = 0; i < n; ++i) {
            if (InRange(i, latitude, longitude, true) && table_.Armable(i)) {
                found = i;
                break;
            }
        }
        if (found < 0)
            return 0;
        state_.nextIndex.store(found);
        TellFiringAtFix(found, latitude, longitude);
        RaiseFiring(found, FiringKind::OnFix);
        switcher_.SwitchNode(table_.nodeId[found]);
        StepNextIndex(n, found);
        return 1;
    }

    if (k >= n || !table_.Armable(k)) {
        // Only a table that changed under us gets here: search again rather than read past it.
        std::int32_t expected = k;
        state_.nextIndex.compare_exchange_strong(expected, -1);
        return 0;
    }

    if (!InRange(k, latitude, longitude, false))
        return 0;

    if (k != FirstArmable(n) || state_.rearmed.load() != 0) {
        fields_.SetText(Field::Status, NearerSensorText(table_.nodeId[k]));
        TellFiringAtFix(k, latitude, longitude);
        RaiseFiring(k, FiringKind::OnFix);
        switcher_.SwitchNode(table_.nodeId[k]);
        if (StepNextIndex(n, k))
            state_.rearmed.store(0);
        return 1;
    }

    // The first sensor after a full pass: held until the re-arm timer runs out, counted from the
    // last fix in range (each one restarts it).
    HoldSensorZero(n);
    return 1;
}

void TriggerEngine::HoldSensorZero(int n)
{
    if (n == 1) {
        fields_.SetText(Field::Status, "One Cell: Back and Forth timer set");
        timers_.StartTimer(kRearmTimer, kOneSensorRearmPeriod);
    } else {
        fields_.SetText(Field::Status, "Back and Forth timer set");
        timers_.StartTimer(kRearmTimer, kRearmPeriod);
    }
}

std::string TriggerEngine::HeldReason(int sensor, int firstInRegion) const
{
    const int n = LoadedCount();
    if (sensor < 0 || sensor >= n)
        return {};
    if (!table_.Armable(sensor))
        return NotArmedText(table_.unreadableNodeId[sensor].data());
    if (state_.loopMode.load() != 0)
        return table_.triggered[sensor].load() != 0 ? "it had fired and was not re-armed yet" : "";
    const std::int32_t next = state_.nextIndex.load();
    if (next < 0) {
        if (firstInRegion < 0 || firstInRegion == sensor)
            return {};
        return "sensor " + std::to_string(firstInRegion + 1) + ", also in range, came first in table order";
    }
    if (next != sensor)
        return "sensor " + std::to_string(next + 1) + " was due next (table order)";
    if (sensor == FirstArmable(n) && state_.rearmed.load() == 0)
        return "held until the re-arm timer runs out";
    return {};
}

void TriggerEngine::OnTimer(int timerId)
{
    if (timerId == kRearmTimer) {
        state_.rearmed.store(1);
        fields_.SetText(Field::Status, "Back and forth timer reset");
        timers_.KillTimer(kRearmTimer);
    } else if (timerId == kAllTriggeredTimer) {
        fields_.SetText(Field::Status, "All sensors triggered");
        const int n = LoadedCount();
        for (int i = 0; i < n; ++i)
            table_.triggered[i].store(0);
        timers_.KillTimer(kAllTriggeredTimer);
    } else if (timerId >= kPredictedTimer && timerId < kPredictedTimer + kPredictedTimerIds) {
        OnPredictedTimer(timerId);
    }
}

} // namespace ostrim
