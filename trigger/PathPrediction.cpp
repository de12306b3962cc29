#include "trigger/PathPrediction.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace ostrim {

PlanePoint MetresPerDegreeAt(double latitude)
{
    constexpr double a = 6378137.0;
    constexpr double e2 = 0.00669437999014; // first eccentricity squared
    constexpr double kRad = std::numbers::pi / 180.0;
    const double s = std::sin(latitude * kRad);
    const double w = 1.0 - e2 * s * s;
    const double meridian = a * (1.0 - e2) / (w * std::sqrt(w));
    const double primeVertical = a / std::sqrt(w);
    return {primeVertical * std::cos(latitude * kRad) * kRad, meridian * kRad};
}

double RegionEntry(PlanePoint p0, PlanePoint p1, double threshold)
{
    // The region is convex, so the segment meets it in one interval: intersect the parameter
    // ranges of the disc and of both half-planes.
    double lo = 0.0;
    double hi = 1.0;
    const double dx = p1.x - p0.x;
    const double dy = p1.y - p0.y;
    for (auto [c, d] : {std::pair{p0.x, dx}, std::pair{p0.y, dy}}) {
        if (d == 0.0) {
            if (!(c < 0.0))
                return -1.0;
        } else if (d > 0.0) {
            hi = std::min(hi, -c / d);
        } else {
            lo = std::max(lo, -c / d);
        }
    }
    const double a = dx * dx + dy * dy;
    const double c = p0.x * p0.x + p0.y * p0.y - threshold * threshold;
    if (a == 0.0) {
        if (!(c < 0.0))
            return -1.0;
    } else {
        const double b = p0.x * dx + p0.y * dy;
        const double discriminant = b * b - a * c;
        if (!(discriminant > 0.0))
            return -1.0;
        const double root = std::sqrt(discriminant);
        lo = std::max(lo, (-b - root) / a);
        hi = std::min(hi, (-b + root) / a);
    }
    return lo < hi ? lo : -1.0;
}

} // namespace ostrim
