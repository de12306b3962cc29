#pragma once
// Plane geometry of a straight path near one sensor, for the predictive rule. Positions are
// metres from the sensor along the directions in which the coordinate numbers grow; over the
// few tens of metres of a pass the plane is good to millimetres.
//
// The firing region of a sensor is the open quarter disc of radius `threshold` on the side where
// both coordinate numbers are the smaller: |p| < threshold, x < 0, y < 0.

namespace ostrim {

struct PlanePoint {
    double x; // longitude number growing
    double y; // latitude number growing
};

// Metres a degree of longitude (x) and of latitude (y) at a latitude, WGS-84.
PlanePoint MetresPerDegreeAt(double latitude);

// The earliest t in [0, 1] at which p0 + t (p1 - p0) lies in the firing region or on its edge
// going in; -1 when the segment never enters it. 0 when p0 is inside already.
double RegionEntry(PlanePoint p0, PlanePoint p1, double threshold);

} // namespace ostrim
