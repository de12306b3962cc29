#include "run/ReceiverLag.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace ostrim {

namespace {
constexpr std::int64_t kDayMs = 24LL * 3600 * 1000;
} // namespace

std::string ReceiverLagText(const LagReading& reading)
{
    if (reading.clock == ClockSync::NotSynchronised)
        return "Receiver lag: not measured, the computer's clock is not synchronised";
    if (reading.fixes == 0)
        return "Receiver lag: no fix with a time yet";
    const std::string figure = std::to_string(std::lround(reading.medianMs)) + " ms";
    const std::string over = reading.fixes == 1 ? "(one fix)"
                                                : "(median of the last " + std::to_string(reading.fixes) + " fixes)";
    if (reading.clock == ClockSync::Unknown)
        return "Receiver lag: " + figure + " if the computer's clock is synchronised " + over;
    return "Receiver lag: " + figure + " " + over;
}

void ReceiverLag::OnFix(std::int64_t utcMs, std::chrono::system_clock::time_point arrival)
{
    if (utcMs < 0)
        return;
    const std::int64_t sinceEpoch =
        std::chrono::duration_cast<std::chrono::milliseconds>(arrival.time_since_epoch()).count();
    // Both as times of the UTC day; a fix from just before midnight arriving just after is late,
    // not a day early.
    std::int64_t lag = ((sinceEpoch % kDayMs + kDayMs) % kDayMs) - utcMs;
    if (lag > kDayMs / 2)
        lag -= kDayMs;
    else if (lag <= -kDayMs / 2)
        lag += kDayMs;
    lags_.push_back(static_cast<double>(lag));
    if (lags_.size() > kWindow)
        lags_.pop_front();
}

LagReading ReceiverLag::Reading(ClockSync clock) const
{
    LagReading reading;
    reading.clock = clock;
    reading.fixes = lags_.size();
    if (lags_.empty())
        return reading;
    // The median: a sentence held up now and then (a busy reader) does not move it.
    std::vector<double> sorted(lags_.begin(), lags_.end());
    std::sort(sorted.begin(), sorted.end());
    const std::size_t middle = sorted.size() / 2;
    reading.medianMs = sorted.size() % 2 == 1 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
    return reading;
}

} // namespace ostrim
