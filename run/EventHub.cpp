#include "run/EventHub.h"

#include <thread>

namespace ostrim {

EventHub::EventHub(const RunState& state, GpsLogs& logs, WallClock clock)
    : state_(state), logs_(logs), clock_(std::move(clock))
{
}

void EventHub::OnFix(double latitude, double longitude, std::int64_t utcMs)
{
    std::lock_guard lock(mutex_);
    rows_.OnFix(latitude, longitude, utcMs, std::chrono::steady_clock::now());
}

void EventHub::OnEvent(const RunEvent& raised)
{
    RunEvent event = raised;
    std::lock_guard lock(mutex_);
    if (event.wall == std::chrono::system_clock::time_point{})
        event.wall = clock_();
    event.predictiveRule = state_.predictive.load() != 0;
    if (rows_.Complete(event, std::this_thread::get_id(), state_.distanceThreshold,
                       std::chrono::steady_clock::now()))
        logs_.AppendEventLog(FormatEventRow(event));
    for (EventSink* listener : listeners_)
        listener->OnEvent(event);
}

} // namespace ostrim
