#pragma once
// Plane geometry of a vehicle's path near one sensor, for the predictive rule. Positions are
// metres along the directions in which the coordinate numbers grow; over the few hundred metres
// a prediction spans, the plane is good to millimetres.
//
// The firing region of a sensor is the open quarter disc of radius `threshold` on the side where
// both coordinate numbers are the smaller: |p| < threshold, x < 0, y < 0 (p from the sensor).

#include <vector>

namespace ostrim {

struct PlanePoint {
    double x; // longitude number growing
    double y; // latitude number growing
};

// Metres a degree of longitude (x) and of latitude (y) at a latitude, WGS-84.
PlanePoint MetresPerDegreeAt(double latitude);

// The earliest t in [0, 1] at which p0 + t (p1 - p0) lies in the firing region or on its edge
// going in; -1 when the segment never enters it. 0 when p0 is inside already. With `inset`
// above 0 the region is taken shrunk by that many metres on every side.
double RegionEntry(PlanePoint p0, PlanePoint p1, double threshold, double inset = 0.0);

struct TimedPoint {
    PlanePoint at; // metres
    double ms;     // on the fixes' clock
};

// The first point of a polyline inside the firing region of a sensor at `sensor` (same plane),
// as an index into the polyline plus the fraction of the segment after it; -1 when none is.
// A path that only reaches the region shrunk by `depth` metres is taken as not entering it.
double PolylineEntry(const std::vector<PlanePoint>& path, PlanePoint sensor, double threshold,
                     double depth = 0.0);

// A vehicle's motion fitted to its last fixes, for the one or two fix intervals to come: through
// three fixes, the circle they lie on, driven with a speed that changes at the constant rate it
// changed between them; through two, a straight line at constant speed. A braking vehicle stops
// where its speed runs out and stays there. Times are milliseconds after the last fix.
class Motion {
public:
    // Turns sharper than this (radius under 12 m) at speed are noise, not a road: two fixes then.
    static constexpr double kMaxCurvature = 1.0 / 12.0;
    // Fix steps shorter than this carry more noise than motion: no turn or speed change from them.
    static constexpr double kMinChord = 0.5;
    // About what tyres give: a fitted speed change beyond it is noise.
    static constexpr double kMaxAcceleration = 12.0;

    Motion() = default;
    // `fixes` oldest first, two or three, their times strictly increasing.
    static Motion Fit(const TimedPoint* fixes, int count);

    PlanePoint At(double ms) const;
    // The path from `fromMs` to `toMs`, as points no more than `spacing` metres apart.
    std::vector<PlanePoint> Path(double fromMs, double toMs, double spacing = 1.0) const;
    // The path between the second last fix and the last: on the fitted circle, or straight.
    std::vector<PlanePoint> LastStep(double spacing = 1.0) const;

    double Speed() const { return speed_; }               // metres a second at the last fix
    double Acceleration() const { return acceleration_; } // along the path, m/s²
    double Curvature() const { return curvature_; }       // 1/m, positive turning left

private:
    double Travelled(double ms) const; // metres along the path

    PlanePoint origin_{0, 0};  // the last fix
    PlanePoint tangent_{0, 1}; // unit direction of travel there
    PlanePoint before_{0, 0};  // the fix before it
    double speed_ = 0;
    double acceleration_ = 0;
    double curvature_ = 0;
};

} // namespace ostrim
