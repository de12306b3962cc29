#pragma once

namespace ostrim {

// Distance in metres along the WGS-84 ellipsoid between (latitude1, longitude1) and
// (latitude2, longitude2), all in decimal degrees, by Vincenty's inverse formula.
// Both positions must use the same sign convention; only differences of longitude enter.
// Identical positions give 0. Positions the iteration cannot resolve give NaN.
double GeodesicDistance(double latitude1, double longitude1, double latitude2, double longitude2);

} // namespace ostrim
