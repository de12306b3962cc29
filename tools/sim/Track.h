#pragma once
// A route for the simulated receiver to drive: waypoints in decimal degrees (north and east
// positive), joined by straight lines.

#include <string>
#include <utility>
#include <vector>

namespace ostrim::sim {

struct Track {
    std::vector<std::pair<double, double>> waypoints; // latitude, longitude
    // Closed: the last waypoint leads back to the first and driving goes round for ever.
    bool closed = false;
};

// A closed loop of about 1.1 km on flat land (400 m by 150 m), the demo's test track.
Track BuiltinTrack();
// A sensor file for the built-in track: four sensors each a few metres north-east of the
// road, so the vehicle passes on their south-west side within range.
std::string BuiltinSensorFileText();
// `count` sensors spread evenly round the built-in track, node ids 40C00000 upwards.
std::string BuiltinSensorFileText(int count);

// One waypoint a line, "latitude longitude" (space or comma between); '#' starts a comment.
// Needs two waypoints at least; the track comes back open. False with a reason naming the
// line when the file is unusable.
bool LoadTrackFile(const std::string& path, Track* track, std::string* error);

// Length in metres, and the position `metres` along the track (past the end: the last
// waypoint, or round again when the track is closed). Local flat-earth distances: an error
// far below a metre over a test track's few kilometres.
double TrackLength(const Track& track);
std::pair<double, double> PositionAlong(const Track& track, double metres);

} // namespace ostrim::sim
