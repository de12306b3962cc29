#pragma once
// A radio base station on a pseudo-terminal: answers the ping 0x01 with 0x01, decodes every
// node command frame and prints one line per command (time, node id in hex, on or off). A
// frame with a bad checksum, a frame cut off and bytes outside a frame are reported too.
//
// Threads: Start, Stop and the setters from the owner's thread; the counters and Commands from
// any thread. The callbacks run on the simulator's own thread, one at a time; set them before
// Start. The program may open and close the device as often as it likes.

#include "tools/sim/FrameDecoder.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ostrim::sim {

class BaseStationSim {
public:
    BaseStationSim();
    ~BaseStationSim();
    BaseStationSim(const BaseStationSim&) = delete;
    BaseStationSim& operator=(const BaseStationSim&) = delete;

    // Creates the device and starts answering. False with a reason when it cannot.
    bool Start(std::string* error);
    // The path the program opens, as it would open /dev/ttyUSB0.
    std::string DevicePath() const;
    // Stops and removes the device; to the program that is the base station unplugged.
    void Stop();

    void SetOnCommand(std::function<void(const NodeCommand&)> onCommand);
    // Every line the base station prints: commands, pings and faults.
    void SetOnLine(std::function<void(const std::string&)> onLine);
    // A base station that hears but does not answer (pings then time out). Any thread.
    void SetAnswering(bool answering);

    std::vector<NodeCommand> Commands() const;
    int Pings() const;
    // Frames reported as faulty: bad checksum, cut off, impossible length, not a node command.
    int BadFrames() const;
    int StrayBytes() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace ostrim::sim
