#pragma once
// Time-outs against the monotonic clock, so a change of the wall clock never stretches or cuts
// a wait. poll() takes whole milliseconds; the time left is rounded up so a wait never ends
// before its deadline.

#include <algorithm>
#include <chrono>

namespace ostrim {

class Deadline {
public:
    using Clock = std::chrono::steady_clock; // CLOCK_MONOTONIC

    static Deadline Never() { return Deadline(Clock::time_point::max()); }
    static Deadline After(Clock::duration timeFromNow)
    {
        return Deadline(Clock::now() + timeFromNow);
    }
    static Deadline At(Clock::time_point when) { return Deadline(when); }

    bool IsNever() const { return when_ == Clock::time_point::max(); }
    bool Expired() const { return !IsNever() && Clock::now() >= when_; }
    Clock::time_point When() const { return when_; }

    // Milliseconds left for poll(): -1 for never, 0 once expired, otherwise rounded up.
    int PollTimeoutMs() const
    {
        if (IsNever())
            return -1;
        auto left = when_ - Clock::now();
        if (left <= Clock::duration::zero())
            return 0;
        auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        return static_cast<int>(std::min<decltype(ms)>(ms, 24 * 3600 * 1000));
    }

    static Deadline Earlier(const Deadline& a, const Deadline& b)
    {
        return a.when_ <= b.when_ ? a : b;
    }

private:
    explicit Deadline(Clock::time_point when) : when_(when) {}
    Clock::time_point when_;
};

} // namespace ostrim
