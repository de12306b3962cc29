#pragma once
// The run's flags and values, shared by the GUI thread (the handlers, the timer expiries) and the
// GPS reader thread (parsing, logging, the trigger engine).
//
// Thread rule: every flag and nextIndex is an atomic 32-bit word, read and written whole, so
// either thread may read or write it at any time. distanceThreshold is set before a run starts
// and never changes after. The log paths are texts; LogPaths hands out copies under a lock, so an
// append never reads a path while End of Lap replaces it.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace ostrim {

// The largest receiver delay taken: two seconds is past any receiver's output delay.
inline constexpr int kMaxReceiverDelayMs = 2000;

class LogPaths {
public:
    std::string Gps() const
    {
        std::lock_guard lock(mutex_);
        return gps_;
    }
    std::string Raw() const
    {
        std::lock_guard lock(mutex_);
        return raw_;
    }
    // The event log beside them: every switch on record.
    std::string Events() const
    {
        std::lock_guard lock(mutex_);
        return events_;
    }
    void SetGps(std::string path)
    {
        std::lock_guard lock(mutex_);
        gps_ = std::move(path);
    }
    void SetRaw(std::string path)
    {
        std::lock_guard lock(mutex_);
        raw_ = std::move(path);
    }
    void SetEvents(std::string path)
    {
        std::lock_guard lock(mutex_);
        events_ = std::move(path);
    }

private:
    mutable std::mutex mutex_;
    std::string gps_;
    std::string raw_;
    std::string events_;
};

struct RunState {
    std::atomic<std::int32_t> triggerEnabled{1};
    std::atomic<std::int32_t> sensorsLoaded{0};
    std::atomic<std::int32_t> loopMode{1};
    // Back and Forth: index of the sensor due next; -1 until a search has found one.
    std::atomic<std::int32_t> nextIndex{-1};
    // Back and Forth: the re-arm timer has run out since the last full pass.
    std::atomic<std::int32_t> rearmed{0};
    // 1: a sensor fires where the path from the last two fixes is predicted to enter its firing
    // region, not at the first fix inside it. Set at Start.
    std::atomic<std::int32_t> predictive{0};
    // Counts the times triggering was switched off: the predictive rule joins no fix after one
    // to a fix before it, as the path between went unwatched.
    std::atomic<std::uint32_t> triggerOffs{0};
    // 1 while a failed base-station check holds triggering off that the operator wants on: the
    // run checks again every few seconds and switches on when the base station answers.
    std::atomic<std::int32_t> baseStationHold{0};
    // Milliseconds from the time a fix was measured (its UTC time) to its arrival here, as the
    // operator set it: the predictive rule fires that much sooner. Read at every fix.
    std::atomic<std::int32_t> receiverDelayMs{0};
    double distanceThreshold = 10.0; // metres
    LogPaths logPaths;               // gpsLogPath, rawLogPath, and the event log's
};

} // namespace ostrim
