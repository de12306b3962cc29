#pragma once
// Timers for a front end without an event loop: one thread waits for the earliest deadline and
// calls the expiry handler there.

#include "trigger/TriggerInterfaces.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace ostrim {

// Thread rule: StartTimer and KillTimer from any thread. The handler runs on the timer thread,
// never while a lock of this class is held, so it may start or kill timers itself.
class ThreadTimerService : public TimerService {
public:
    using Handler = std::function<void(int timerId)>;

    ThreadTimerService();
    ~ThreadTimerService() override;
    ThreadTimerService(const ThreadTimerService&) = delete;
    ThreadTimerService& operator=(const ThreadTimerService&) = delete;

    // Set before the first timer can run out.
    void SetHandler(Handler handler);
    void StartTimer(int id, std::chrono::milliseconds period) override;
    void KillTimer(int id) override;
    std::chrono::milliseconds Now() const override;
    // Ends the thread; no handler runs after it returns.
    void Stop();

private:
    using Clock = std::chrono::steady_clock;
    void Run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<int, Clock::time_point> deadlines_;
    Handler handler_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace ostrim
