#pragma once
// A TimerService on a fake clock. Tests move the clock with Advance; a timer that comes due
// expires through `onExpiry` (point it at the engine's OnTimer). Like a window timer, a timer
// that is not killed on expiry fires again one period later, so a missing kill shows.

#include "trigger/TriggerInterfaces.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace ostrim::test {

class FakeTimers : public TimerService {
public:
    using ms = std::chrono::milliseconds;

    struct Call {
        enum Kind { Start, Kill } kind;
        int id;
        ms period; // for Start
        bool operator==(const Call&) const = default;
    };

    std::function<void(int)> onExpiry;

    void StartTimer(int id, ms period) override
    {
        std::lock_guard lock(mutex_);
        calls_.push_back({Call::Start, id, period});
        timers_[id] = Timer{period, now_ + period};
    }
    void KillTimer(int id) override
    {
        std::lock_guard lock(mutex_);
        calls_.push_back({Call::Kill, id, ms{0}});
        timers_.erase(id);
    }

    ms Now() const override
    {
        std::lock_guard lock(mutex_);
        return now_;
    }
    // Moves the clock on without expiring anything, as a switch does that holds the thread that
    // would deliver the expiry.
    void Spend(ms time)
    {
        std::lock_guard lock(mutex_);
        now_ += time;
    }

    bool Running(int id) const
    {
        std::lock_guard lock(mutex_);
        return timers_.count(id) != 0;
    }
    // The period a running timer was last started with; 0 when it is not running.
    ms Period(int id) const
    {
        std::lock_guard lock(mutex_);
        auto it = timers_.find(id);
        return it == timers_.end() ? ms{0} : it->second.period;
    }
    // Time left until a running timer expires; 0 when it is not running.
    ms Remaining(int id) const
    {
        std::lock_guard lock(mutex_);
        auto it = timers_.find(id);
        return it == timers_.end() ? ms{0} : it->second.due - now_;
    }
    std::vector<Call> Calls() const
    {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    void ClearCalls()
    {
        std::lock_guard lock(mutex_);
        calls_.clear();
    }

    // Moves the clock on; every timer due meanwhile expires, earliest first.
    void Advance(ms step)
    {
        std::unique_lock lock(mutex_);
        const ms until = now_ + step;
        for (;;) {
            auto next = timers_.end();
            for (auto it = timers_.begin(); it != timers_.end(); ++it) {
                const ms due = it->second.due;
                if (due <= until && (next == timers_.end() || due < next->second.due))
                    next = it;
            }
            if (next == timers_.end())
                break;
            now_ = std::max(now_, next->second.due); // after a Spend, a late expiry
            next->second.due += next->second.period; // fires again unless killed
            const int id = next->first;
            lock.unlock();
            if (onExpiry)
                onExpiry(id);
            lock.lock();
        }
        now_ = std::max(now_, until);
    }

private:
    struct Timer {
        ms period;
        ms due;
    };
    mutable std::mutex mutex_;
    ms now_{0};
    std::map<int, Timer> timers_;
    std::vector<Call> calls_;
};

} // namespace ostrim::test
