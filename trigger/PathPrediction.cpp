#include "trigger/PathPrediction.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace ostrim {

namespace {

PlanePoint Minus(PlanePoint a, PlanePoint b) { return {a.x - b.x, a.y - b.y}; }
double Length(PlanePoint p) { return std::hypot(p.x, p.y); }
double Cross(PlanePoint a, PlanePoint b) { return a.x * b.y - a.y * b.x; }
double Dot(PlanePoint a, PlanePoint b) { return a.x * b.x + a.y * b.y; }

// The length of the arc of curvature k over a chord of length `chord`.
double ArcLength(double chord, double k)
{
    const double half = std::min(std::fabs(k) * chord / 2.0, 1.0);
    return half < 1e-9 ? chord : chord * std::asin(half) / half;
}

} // namespace

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

double RegionEntry(PlanePoint p0, PlanePoint p1, double threshold, double inset)
{
    // The region is convex, so the segment meets it in one interval: intersect the parameter
    // ranges of the disc and of both half-planes.
    double lo = 0.0;
    double hi = 1.0;
    const double dx = p1.x - p0.x;
    const double dy = p1.y - p0.y;
    for (auto [c, d] : {std::pair{p0.x + inset, dx}, std::pair{p0.y + inset, dy}}) {
        if (d == 0.0) {
            if (!(c < 0.0))
                return -1.0;
        } else if (d > 0.0) {
            hi = std::min(hi, -c / d);
        } else {
            lo = std::max(lo, -c / d);
        }
    }
    const double radius = threshold - inset;
    const double a = dx * dx + dy * dy;
    const double c = p0.x * p0.x + p0.y * p0.y - radius * radius;
    if (!(radius > 0.0))
        return -1.0;
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

double PolylineEntry(const std::vector<PlanePoint>& path, PlanePoint sensor, double threshold, double depth)
{
    if (path.empty())
        return -1.0;
    auto from = [&](std::size_t k) { return Minus(path[k], sensor); };
    if (path.size() == 1) {
        const PlanePoint p = from(0);
        return RegionEntry(p, p, threshold, depth) >= 0.0 ? 0.0 : -1.0;
    }
    double entry = -1.0;
    for (std::size_t k = 0; k + 1 < path.size(); ++k) {
        if (entry < 0.0) {
            const double t = RegionEntry(from(k), from(k + 1), threshold);
            if (t < 0.0)
                continue;
            entry = static_cast<double>(k) + t;
        }
        if (depth <= 0.0 || RegionEntry(from(k), from(k + 1), threshold, depth) >= 0.0)
            return entry;
    }
    return -1.0;
}

Motion Motion::Fit(const TimedPoint* fixes, int count)
{
    Motion m;
    if (count < 2)
        return m;
    const TimedPoint& p0 = fixes[count - 1];
    const TimedPoint& p1 = fixes[count - 2];
    m.origin_ = p0.at;
    m.before_ = p1.at;
    const PlanePoint c0 = Minus(p0.at, p1.at);
    const double l0 = Length(c0);
    const double dt0 = (p0.ms - p1.ms) / 1000.0;
    if (!(dt0 > 0.0))
        return m;
    if (l0 > 0.0)
        m.tangent_ = {c0.x / l0, c0.y / l0};
    m.speed_ = l0 / dt0;
    if (count < 3 || l0 < kMinChord)
        return m;

    const TimedPoint& p2 = fixes[count - 3];
    const PlanePoint c1 = Minus(p1.at, p2.at);
    const double l1 = Length(c1);
    const double dt1 = (p1.ms - p2.ms) / 1000.0;
    // A vehicle that turned back, or steps too short to see a turn in: the last two fixes.
    if (l1 < kMinChord || !(dt1 > 0.0) || !(Dot(c0, c1) > 0.0))
        return m;
    // The circle through the three fixes: curvature 4 * area / (product of the sides).
    const double k = 2.0 * Cross(c1, c0) / (l1 * l0 * Length(Minus(p0.at, p2.at)));
    if (!(std::fabs(k) <= kMaxCurvature))
        return m;
    const double a0 = ArcLength(l0, k);
    const double a1 = ArcLength(l1, k);
    // The tangent at the last fix is the chord turned by half the arc it spans.
    const double turn = k * a0 / 2.0;
    m.tangent_ = {m.tangent_.x * std::cos(turn) - m.tangent_.y * std::sin(turn),
                  m.tangent_.x * std::sin(turn) + m.tangent_.y * std::cos(turn)};
    m.curvature_ = k;
    // Mean speeds over the two steps belong to their middles; the speed changes linearly.
    const double v0 = a0 / dt0;
    const double v1 = a1 / dt1;
    m.acceleration_ = std::clamp((v0 - v1) / ((dt0 + dt1) / 2.0), -kMaxAcceleration, kMaxAcceleration);
    m.speed_ = std::max(0.0, v0 + m.acceleration_ * dt0 / 2.0);
    return m;
}

double Motion::Travelled(double ms) const
{
    double t = std::max(ms, 0.0) / 1000.0;
    if (acceleration_ < 0.0)
        t = std::min(t, speed_ / -acceleration_); // stopped, and stays
    return speed_ * t + acceleration_ * t * t / 2.0;
}

PlanePoint Motion::At(double ms) const
{
    const double s = Travelled(ms);
    const PlanePoint normal{-tangent_.y, tangent_.x};
    if (std::fabs(curvature_) < 1e-9)
        return {origin_.x + tangent_.x * s, origin_.y + tangent_.y * s};
    const double along = std::sin(curvature_ * s) / curvature_;
    const double across = (1.0 - std::cos(curvature_ * s)) / curvature_;
    return {origin_.x + tangent_.x * along + normal.x * across, origin_.y + tangent_.y * along + normal.y * across};
}

std::vector<PlanePoint> Motion::Path(double fromMs, double toMs, double spacing) const
{
    const double length = Travelled(toMs) - Travelled(fromMs);
    // A straight path at constant speed is one segment; otherwise points in equal steps of time,
    // which a caller turns back into times.
    const bool straight = std::fabs(curvature_) < 1e-9 && acceleration_ == 0.0;
    const int steps = straight ? 1 : std::clamp(static_cast<int>(std::ceil(length / spacing)), 1, 500);
    std::vector<PlanePoint> points;
    points.reserve(static_cast<std::size_t>(steps) + 1);
    for (int i = 0; i <= steps; ++i)
        points.push_back(At(fromMs + (toMs - fromMs) * i / steps));
    return points;
}

std::vector<PlanePoint> Motion::LastStep(double spacing) const
{
    const PlanePoint chord = Minus(origin_, before_);
    const double length = Length(chord);
    if (std::fabs(curvature_) < 1e-9 || length == 0.0)
        return {before_, origin_};
    // The arc bulges away from its centre: to the right of the chord in a left turn.
    const PlanePoint left{-chord.y / length, chord.x / length};
    const int steps = std::clamp(static_cast<int>(std::ceil(length / spacing)), 1, 500);
    std::vector<PlanePoint> points;
    points.reserve(static_cast<std::size_t>(steps) + 1);
    for (int i = 0; i <= steps; ++i) {
        const double u = static_cast<double>(i) / steps;
        const double bulge = -curvature_ * length * length * u * (1.0 - u) / 2.0;
        points.push_back({before_.x + chord.x * u + left.x * bulge, before_.y + chord.y * u + left.y * bulge});
    }
    return points;
}

} // namespace ostrim
