#pragma once
// The receiver's lag: how long after a fix's own UTC time the program has it, on the computer's
// clock. It is what the predictive rule's receiver delay should be set to, and it means something
// only when the computer's clock is synchronised.
//
// Thread rule: none of its own; the run monitor calls it under its lock.

#include "platform/ClockSync.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace ostrim {

struct LagReading {
    std::size_t fixes = 0; // fixes in the median, 0 before the first fix with a time
    double medianMs = 0;
    ClockSync clock = ClockSync::Unknown;
};

// One line for the run panel, e.g. "Receiver lag: 63 ms (median of the last 20 fixes)". No
// figure when the clock is known not to be synchronised.
std::string ReceiverLagText(const LagReading& reading);

class ReceiverLag {
public:
    static constexpr std::size_t kWindow = 20;

    // A fix with its UTC time of day (milliseconds, -1 for none) that arrived at `arrival`.
    void OnFix(std::int64_t utcMs, std::chrono::system_clock::time_point arrival);
    LagReading Reading(ClockSync clock) const;

private:
    std::deque<double> lags_; // the last kWindow, milliseconds
};

} // namespace ostrim
