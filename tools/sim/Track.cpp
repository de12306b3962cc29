#include "tools/sim/Track.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numbers>

namespace ostrim::sim {
namespace {

constexpr double kEarthRadius = 6371008.8; // mean radius, metres

struct Leg {
    std::pair<double, double> from;
    std::pair<double, double> to;
    double length;
};

double LegLength(std::pair<double, double> a, std::pair<double, double> b)
{
    constexpr double kRad = std::numbers::pi / 180.0;
    double meanLat = (a.first + b.first) / 2 * kRad;
    double north = (b.first - a.first) * kRad * kEarthRadius;
    double east = (b.second - a.second) * kRad * kEarthRadius * std::cos(meanLat);
    return std::hypot(north, east);
}

std::vector<Leg> Legs(const Track& track)
{
    std::vector<Leg> legs;
    const auto& w = track.waypoints;
    for (std::size_t i = 0; i + 1 < w.size(); ++i)
        legs.push_back({w[i], w[i + 1], LegLength(w[i], w[i + 1])});
    if (track.closed && w.size() > 1)
        legs.push_back({w.back(), w.front(), LegLength(w.back(), w.front())});
    return legs;
}

} // namespace

Track BuiltinTrack()
{
    return Track{.waypoints = {{52.240000, 6.850000},
                               {52.240000, 6.855875},
                               {52.241349, 6.855875},
                               {52.241349, 6.850000}},
                 .closed = true};
}

namespace {

// "latitude longitude name node-id" for a sensor beside the built-in track, `along` metres from
// its start: 4 m north and east of the road, so the vehicle passes on its south-west side.
std::string SensorLine(double along, unsigned nodeId, int number)
{
    constexpr double kOffsetMetres = 4.0;
    constexpr double kDegreesPerMetre = 180.0 / (std::numbers::pi * kEarthRadius);
    auto [lat, lon] = PositionAlong(BuiltinTrack(), along);
    double sensorLat = lat + kOffsetMetres * kDegreesPerMetre;
    double sensorLon =
        lon + kOffsetMetres * kDegreesPerMetre / std::cos(lat * std::numbers::pi / 180.0);
    char line[96];
    std::snprintf(line, sizeof line, "%.7f %.7f S%d %08X\n", sensorLat, sensorLon, number, nodeId);
    return line;
}

} // namespace

std::string BuiltinSensorFileText()
{
    // Metres along the built-in track where the sensors stand, and their node ids.
    const std::pair<double, unsigned> sensors[] = {
        {100.0, 0x4070BF7B}, {300.0, 0x403BA38B}, {620.0, 0x40A1C2D3}, {1000.0, 0x40B4C5D6}};
    std::string text;
    int number = 1;
    for (auto [along, nodeId] : sensors)
        text += SensorLine(along, nodeId, number++);
    return text;
}

std::string BuiltinSensorFileText(int count)
{
    const double length = TrackLength(BuiltinTrack());
    std::string text;
    for (int i = 0; i < count; ++i)
        text += SensorLine((i + 0.5) * length / count, 0x40C00000u + static_cast<unsigned>(i),
                           i + 1);
    return text;
}

bool LoadTrackFile(const std::string& path, Track* track, std::string* error)
{
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read the track file " + path;
        return false;
    }
    Track loaded;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::string text = line.substr(0, line.find('#'));
        for (char& c : text) {
            if (c == ',' || c == '\t' || c == '\r')
                c = ' ';
        }
        if (text.find_first_not_of(' ') == std::string::npos)
            continue;
        const char* p = text.c_str();
        char* end = nullptr;
        double lat = std::strtod(p, &end);
        bool ok = end != p;
        p = end;
        double lon = std::strtod(p, &end);
        ok = ok && end != p;
        ok = ok && std::string(end).find_first_not_of(' ') == std::string::npos;
        ok = ok && std::isfinite(lat) && std::isfinite(lon) && std::fabs(lat) <= 90.0 &&
             std::fabs(lon) <= 180.0;
        if (!ok) {
            *error = path + ":" + std::to_string(number) +
                     ": expected \"latitude longitude\" in decimal degrees: " + line;
            return false;
        }
        loaded.waypoints.emplace_back(lat, lon);
    }
    if (loaded.waypoints.size() < 2) {
        *error = path + ": a track needs two waypoints at least";
        return false;
    }
    *track = std::move(loaded);
    return true;
}

double TrackLength(const Track& track)
{
    double total = 0;
    for (const Leg& leg : Legs(track))
        total += leg.length;
    return total;
}

std::pair<double, double> PositionAlong(const Track& track, double metres)
{
    if (track.waypoints.empty())
        return {0.0, 0.0};
    std::vector<Leg> legs = Legs(track);
    double total = TrackLength(track);
    if (legs.empty() || total <= 0)
        return track.waypoints.front();
    if (metres < 0)
        metres = 0;
    if (track.closed)
        metres = std::fmod(metres, total);
    for (const Leg& leg : legs) {
        if (metres <= leg.length && leg.length > 0) {
            double f = metres / leg.length;
            return {leg.from.first + (leg.to.first - leg.from.first) * f,
                    leg.from.second + (leg.to.second - leg.from.second) * f};
        }
        metres -= leg.length;
    }
    return legs.back().to;
}

} // namespace ostrim::sim
