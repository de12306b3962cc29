#pragma once
// The sentences the simulated receiver sends.
//
//   $GPGGA,123519.00,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,*76

#include <chrono>
#include <string>
#include <string_view>

namespace ostrim::sim {

// The two hex digits after '*': XOR of every character between '$' and '*'.
std::string NmeaChecksum(std::string_view body);

// A $GPGGA fix with fix quality 1, ending CR LF. Latitude and longitude are signed decimal
// degrees; the fields carry them unsigned, as ddmm.mmmm and dddmm.mmmm, with the N/S and E/W
// letters. The time field is the UTC time of `utc`, to the hundredth of a second.
std::string FormatGga(std::chrono::system_clock::time_point utc, double latitude, double longitude,
                      double altitudeMetres = 100.0);

} // namespace ostrim::sim
