#pragma once
// The demo: a rehearsal without devices. A simulated GPS receiver drives the bundled track past
// the bundled sensors and a simulated base station answers, both on pseudo-terminals inside the
// program; the run behind them is the real one, with real logs in the demo folder.

#include "app/CommandLine.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace ostrim {

// The bundled files (res/demo/), compiled into the program.
std::string_view DemoTrackText();
std::string_view DemoSensorFileText();

// $XDG_STATE_HOME/ostrim/demo, else $HOME/.local/state/ostrim/demo, else /tmp/ostrim-demo.
std::string DefaultDemoFolder();

// The simulated devices and the files the demo writes for the operator to open.
//
// Threads: everything from the owner's thread, except the counters, which any thread may read.
// The base-station callback runs on the simulator's thread.
class Demo {
public:
    static constexpr double kSpeed = 25.0;   // metres a second (90 km/h): a lap in 28 s
    static constexpr double kFixRate = 10.0; // fixes a second, as a typical receiver sends
    static constexpr const char* kGpsPortName = "simulated GPS receiver";
    static constexpr const char* kBasePortName = "simulated base station";
    static constexpr const char* kSensorFileName = "demo-sensors.txt";
    static constexpr const char* kTrackFileName = "demo-track.txt";

    Demo();
    ~Demo();
    Demo(const Demo&) = delete;
    Demo& operator=(const Demo&) = delete;

    // Every line the simulated base station prints (node commands, pings). Set before Prepare.
    void SetOnBaseStationLine(std::function<void(const std::string&)> onLine);

    // Makes the folder (and its parents), writes the sensor and track files into it and starts
    // both devices. The vehicle stands still until Drive. False with a reason when it cannot.
    bool Prepare(const std::string& folder, std::string* error);

    // Sets the vehicle moving from the start of the track: `laps` rounds, then it stops at the
    // start; 0 drives round and round. Only the first call counts, so a second Start in the
    // dialog does not send the vehicle back.
    void Drive(int laps);
    // Stops sending after the fix under way (the vehicle parks); DriveFinished() tells when.
    void Halt();
    // Every lap driven, or halted.
    bool DriveFinished() const;
    // Seconds a lap takes.
    double LapSeconds() const;

    std::size_t FixesSent() const;
    // "On" commands the base station received intact: one per node switched.
    int NodesSwitched() const;

    std::string Folder() const { return folder_; }
    std::string SensorFile() const;
    std::string TrackFile() const;
    std::string GpsPort() const;
    std::string BasePort() const;

    // Removes both devices. Stop the run first: to the run this is both devices unplugged.
    void Stop();

private:
    struct Devices;
    std::unique_ptr<Devices> devices_;
    std::string folder_;
    bool driving_ = false;
};

// `ostrim --demo` without a window: starts the devices and the run, presses Start, prints the
// status lines and the base station's lines, drives `line.laps` laps (or until SIGINT or
// SIGTERM), then prints a summary. 0 when every fix sent reached both logs.
int RunDemoHeadless(const CommandLine& line);

} // namespace ostrim
