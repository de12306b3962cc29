#pragma once
// A GPS receiver on a pseudo-terminal. It plays an NMEA capture line by line, or drives a track
// and sends a $GPGGA fix at a steady rate. A new PlayFile or DriveTrack replaces what it was
// doing. When the program does not read, the receiver waits rather than drop part of a sentence.
//
// Threads: Start, Stop, Halt, PlayFile and DriveTrack from the owner's thread; Finished and
// SentencesSent from any thread. The program may open and close the device as often as it
// likes; sentences sent while it is closed wait in the tty for its next open.

#include "tools/sim/Track.h"

#include <cstddef>
#include <memory>
#include <string>

namespace ostrim::sim {

class GpsReceiverSim {
public:
    // Lines a second when a capture is played at its own pace.
    static constexpr double kOwnPace = 10.0;

    GpsReceiverSim();
    ~GpsReceiverSim();
    GpsReceiverSim(const GpsReceiverSim&) = delete;
    GpsReceiverSim& operator=(const GpsReceiverSim&) = delete;

    bool Start(std::string* error);
    std::string DevicePath() const;
    // Plays a capture: every line but those starting with '#', bytes as in the file.
    // `sentencesPerSecond` 0 means the own pace. False with a reason when the file is unusable.
    bool PlayFile(const std::string& path, double sentencesPerSecond, std::string* error = nullptr);
    // Drives the track at the speed, one fix every 1/`fixesPerSecond` s, from its first waypoint.
    void DriveTrack(const Track& track, double speedMetresPerSecond, double fixesPerSecond);
    // Stops sending after the sentence under way; the device stays, and what was sent stays
    // in the tty for the program to read. Finished() tells when the sending has stopped.
    void Halt();
    // Stops and removes the device; to the program that is the receiver unplugged.
    void Stop();

    // The file or an open track has been sent to its end.
    bool Finished() const;
    std::size_t SentencesSent() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace ostrim::sim
