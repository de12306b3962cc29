#pragma once

namespace ostrim {

// Distance in metres along the WGS-84 ellipsoid between (latitude1, longitude1) and
// (latitude2, longitude2), all in decimal degrees, by Vincenty's inverse formula
// (T. Vincenty, Survey Review 23(176), 1975).
//
// Arguments: latitudes in [-90, 90]; longitudes any finite value (they are reduced by whole turns
// towards zero). Both positions must use the same sign convention: the GPS input and the sensor
// file give unsigned degrees, and only the difference of the longitudes enters.
//
// Accuracy: within 1 mm of the ellipsoidal distance for the short distances the trigger engine
// measures; the method itself is good to about 0.5 mm wherever it converges.
//
// Special cases:
// - Identical positions give 0.
// - A latitude within 1e-10 rad (about 0.6 mm) of a pole is moved 1e-10 rad away from it, so the
//   reduced latitude stays finite; the result stays finite.
// - Nearly antipodal positions: Vincenty's iteration does not converge there. It stops as soon as
//   a pass makes the longitude on the auxiliary sphere exceed pi, or after 50 passes, and the
//   distance comes from that pass, without the accuracy above. No track is that long.
// - NaN or infinite arguments give NaN; nothing is reported and nothing loops.
//
// Pure: keeps no state; any thread may call it.
double GeodesicDistance(double latitude1, double longitude1, double latitude2, double longitude2);

} // namespace ostrim
