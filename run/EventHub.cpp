#include "run/EventHub.h"

#include <cmath>

namespace ostrim {

EventHub::EventHub(const RunState& state, GpsLogs& logs, WallClock clock)
    : state_(state), logs_(logs), clock_(std::move(clock))
{
}

void EventHub::OnFix(double latitude, double longitude, std::int64_t utcMs)
{
    std::lock_guard lock(mutex_);
    track_.OnFix(latitude, longitude, utcMs, std::chrono::steady_clock::now());
}

void EventHub::OnEvent(const RunEvent& raised)
{
    RunEvent event = raised;
    std::lock_guard lock(mutex_);
    if (event.wall == std::chrono::system_clock::time_point{})
        event.wall = clock_();
    event.predictiveRule = state_.predictive.load() != 0;

    const std::thread::id thread = std::this_thread::get_id();
    if (event.type == EventType::NodeOn || event.type == EventType::NodeOff) {
        auto firing = firings_.find(thread);
        if (firing != firings_.end() && firing->second.nodeId == event.nodeId) {
            const RunEvent& f = firing->second;
            if (event.sensor < 0) {
                event.sensor = f.sensor;
                event.sensorLatitude = f.sensorLatitude;
                event.sensorLongitude = f.sensorLongitude;
            }
            if (event.kind == FiringKind::None)
                event.kind = f.kind;
            // The vehicle as it was at the firing: the off frame goes out 100 ms later, but it
            // belongs to the same place on the track.
            if (std::isnan(event.latitude)) {
                event.latitude = f.latitude;
                event.longitude = f.longitude;
                event.speed = f.speed;
                event.heading = f.heading;
                event.distance = f.distance;
                event.pastEntry = f.pastEntry;
                event.fixUtcMs = f.fixUtcMs;
            }
            // Nothing more of this switch comes after its off frame, or after an on frame that
            // found no port.
            if (event.type == EventType::NodeOff || event.result != EventResult::Written)
                firings_.erase(firing);
        }
    }
    const auto now = std::chrono::steady_clock::now();
    if (!std::isnan(event.sensorLatitude) && !std::isnan(event.sensorLongitude))
        track_.Describe(event, event.sensorLatitude, event.sensorLongitude, state_.distanceThreshold, now);
    else
        track_.Describe(event, now);
    if (event.type == EventType::Firing)
        firings_[thread] = event; // its frames are the rows
    else if (event.type != EventType::PassFired)
        logs_.AppendEventLog(FormatEventRow(event));
    for (EventSink* listener : listeners_)
        listener->OnEvent(event);
}

} // namespace ostrim
