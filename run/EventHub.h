#pragma once
// Where a run's facts meet. Every source raises its events here; the hub completes each with
// what the source cannot know (the time, the rule in force, the vehicle's position, speed and
// heading, the sensor a frame was for), writes it to the event log and hands it on to the
// listeners: the run monitor, a front end's own (headless prints some), the pass tracker.
//
// Thread rule: OnEvent and OnFix from any thread; each event is completed, written and handed
// on whole under one lock, so the event log and every listener see the events in one order.
// Listeners must not raise events from inside OnEvent. Listeners are added before the run starts.

#include "gps/EventLog.h"
#include "gps/LogFiles.h"
#include "runstate/RunEvents.h"
#include "runstate/RunState.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

namespace ostrim {

class EventHub : public EventSink {
public:
    using WallClock = std::function<std::chrono::system_clock::time_point()>;

    EventHub(const RunState& state, GpsLogs& logs,
             WallClock clock = [] { return std::chrono::system_clock::now(); });

    void AddListener(EventSink& listener) { listeners_.push_back(&listener); }

    // An accepted fix, on the GPS reader thread, before the events it gives rise to.
    void OnFix(double latitude, double longitude, std::int64_t utcMs);

    void OnEvent(const RunEvent& event) override;

private:
    const RunState& state_;
    GpsLogs& logs_;
    WallClock clock_;
    std::vector<EventSink*> listeners_;
    std::mutex mutex_;
    EventRows rows_;
};

} // namespace ostrim
