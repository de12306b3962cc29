#include "tools/sim/Nmea.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>

namespace ostrim::sim {
namespace {

// Degrees as ddmm.mmmm (or dddmm.mmmm), rounded in whole ten-thousandths of a minute so a
// value just under a whole degree never prints as 60.0000 minutes.
std::string DegreesMinutes(double degrees, int degreeDigits)
{
    constexpr std::int64_t kPerMinute = 10000;
    std::int64_t units = std::llround(std::fabs(degrees) * 60.0 * kPerMinute);
    std::int64_t wholeDegrees = units / (60 * kPerMinute);
    std::int64_t rest = units % (60 * kPerMinute);
    char text[32];
    std::snprintf(text, sizeof text, "%0*lld%02lld.%04lld", degreeDigits,
                  static_cast<long long>(wholeDegrees), static_cast<long long>(rest / kPerMinute),
                  static_cast<long long>(rest % kPerMinute));
    return text;
}

} // namespace

std::string NmeaChecksum(std::string_view body)
{
    unsigned char sum = 0;
    for (char c : body)
        sum ^= static_cast<unsigned char>(c);
    char text[3];
    std::snprintf(text, sizeof text, "%02X", sum);
    return text;
}

std::string FormatGga(std::chrono::system_clock::time_point utc, double latitude, double longitude,
                      double altitudeMetres)
{
    using namespace std::chrono;
    std::time_t seconds = system_clock::to_time_t(time_point_cast<system_clock::duration>(
        floor<std::chrono::seconds>(utc)));
    std::tm t{};
    ::gmtime_r(&seconds, &t);
    auto hundredths = duration_cast<milliseconds>(utc.time_since_epoch()).count() % 1000 / 10;

    char time[16];
    std::snprintf(time, sizeof time, "%02d%02d%02d.%02d", t.tm_hour, t.tm_min, t.tm_sec,
                  static_cast<int>(hundredths));
    char altitude[16];
    std::snprintf(altitude, sizeof altitude, "%.1f", altitudeMetres);

    std::string body = std::string("GPGGA,") + time + "," + DegreesMinutes(latitude, 2) + "," +
                       (latitude < 0 ? "S" : "N") + "," + DegreesMinutes(longitude, 3) + "," +
                       (longitude < 0 ? "W" : "E") + ",1,08,0.9," + altitude + ",M,46.9,M,,";
    return "$" + body + "*" + NmeaChecksum(body) + "\r\n";
}

} // namespace ostrim::sim
