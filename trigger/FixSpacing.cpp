#include "trigger/FixSpacing.h"

#include "sensors/Distance.h"

#include <cmath>
#include <cstdio>

namespace ostrim {

std::string SparseFixesText(double metres)
{
    char text[64];
    std::snprintf(text, sizeof text, "Fixes %.0f m apart: sensors may be missed", metres);
    return text;
}

std::string DenseFixesText(double metres)
{
    char text[64];
    std::snprintf(text, sizeof text, "Fixes %.0f m apart again: closer than the threshold", metres);
    return text;
}

FixSpacingWatch::FixSpacingWatch(const RunState& state, DialogFields& fields, PositionConsumer& next,
                                 OnChange onChange)
    : state_(state), fields_(fields), next_(next), onChange_(std::move(onChange))
{
}

int FixSpacingWatch::TriggerOnPosition(double latitude, double longitude)
{
    Measure(latitude, longitude);
    return next_.TriggerOnPosition(latitude, longitude);
}

int FixSpacingWatch::TriggerOnFix(double latitude, double longitude, std::int64_t utcMs)
{
    Measure(latitude, longitude);
    return next_.TriggerOnFix(latitude, longitude, utcMs);
}

void FixSpacingWatch::Measure(double latitude, double longitude)
{
    if (havePrevious_) {
        const double step = GeodesicDistance(previousLatitude_, previousLongitude_, latitude, longitude);
        if (std::isfinite(step)) {
            if (step > largest_.load())
                largest_.store(step);
            // Both ways take kSpacingRun fixes, so a spacing near the threshold does not flicker.
            const bool wide = step > state_.distanceThreshold;
            run_ = wide != sparse_ ? run_ + 1 : 0;
            if (run_ == kSpacingRun) {
                sparse_ = wide;
                run_ = 0;
                fields_.SetText(Field::Status, sparse_ ? SparseFixesText(step) : DenseFixesText(step));
                if (onChange_)
                    onChange_(sparse_ ? SparseFixesText(step) : std::string());
            }
        }
    }
    havePrevious_ = true;
    previousLatitude_ = latitude;
    previousLongitude_ = longitude;
}

} // namespace ostrim
