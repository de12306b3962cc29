#include "app/Demo.h"

#include "app/Headless.h"
#include "run/Session.h"
#include "run/ThreadTimerService.h"
#include "platform/Signals.h"
#include "tools/sim/BaseStationSim.h"
#include "tools/sim/GpsReceiverSim.h"
#include "tools/sim/Track.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

namespace ostrim {

namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

bool WriteTextFile(const std::string& path, std::string_view text, std::string* error)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out.flush()) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

// Line feeds in the file; 0 when it cannot be read.
std::size_t CountLines(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::size_t lines = 0;
    char buffer[8192];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        lines += static_cast<std::size_t>(std::count(buffer, buffer + in.gcount(), '\n'));
        if (!in)
            break;
    }
    return lines;
}

std::string Seconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f s", seconds);
    return text;
}

} // namespace

std::string DefaultDemoFolder()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && *state == '/')
        return std::string(state) + "/ostrim/demo";
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0')
        return std::string(home) + "/.local/state/ostrim/demo";
    return "/tmp/ostrim-demo";
}

struct Demo::Devices {
    sim::GpsReceiverSim gps;
    sim::BaseStationSim base;
    sim::Track track;
};

Demo::Demo() : devices_(std::make_unique<Devices>()) {}

Demo::~Demo()
{
    Stop();
}

void Demo::SetOnBaseStationLine(std::function<void(const std::string&)> onLine)
{
    devices_->base.SetOnLine(std::move(onLine));
}

bool Demo::Prepare(const std::string& folder, std::string* error)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        *error = "cannot make the demo folder " + folder + ": " + ec.message();
        return false;
    }
    folder_ = folder;
    if (!WriteTextFile(SensorFile(), DemoSensorFileText(), error) ||
        !WriteTextFile(TrackFile(), DemoTrackText(), error)) {
        return false;
    }
    // Read back as the operator would give it to ostrim-sim, so the file shown is the one driven.
    if (!sim::LoadTrackFile(TrackFile(), &devices_->track, error))
        return false;
    return devices_->gps.Start(error) && devices_->base.Start(error);
}

void Demo::Drive(int laps)
{
    if (driving_)
        return;
    driving_ = true;
    sim::Track track = devices_->track;
    if (laps <= 0) {
        track.closed = true;
    } else {
        // Laps unrolled into one open track, which ends back at the start.
        const auto lap = track.waypoints;
        for (int i = 1; i < laps; ++i)
            track.waypoints.insert(track.waypoints.end(), lap.begin(), lap.end());
        track.waypoints.push_back(lap.front());
        track.closed = false;
    }
    devices_->gps.DriveTrack(track, kSpeed, kFixRate);
}

void Demo::Halt()
{
    devices_->gps.Halt();
}

bool Demo::DriveFinished() const
{
    return driving_ && devices_->gps.Finished();
}

double Demo::LapSeconds() const
{
    sim::Track lap = devices_->track;
    lap.closed = true;
    return sim::TrackLength(lap) / kSpeed;
}

std::size_t Demo::FixesSent() const
{
    return devices_->gps.SentencesSent();
}

int Demo::NodesSwitched() const
{
    int switched = 0;
    for (const sim::NodeCommand& command : devices_->base.Commands()) {
        if (command.on && command.checksumOk)
            ++switched;
    }
    return switched;
}

std::string Demo::SensorFile() const
{
    return folder_ + "/" + kSensorFileName;
}

std::string Demo::TrackFile() const
{
    return folder_ + "/" + kTrackFileName;
}

std::string Demo::GpsPort() const
{
    return devices_->gps.DevicePath();
}

std::string Demo::BasePort() const
{
    return devices_->base.DevicePath();
}

void Demo::Stop()
{
    devices_->gps.Stop();
    devices_->base.Stop();
}

namespace {

void PrintIntro(PrintingFields& out, const Demo& demo, const CommandLine& line)
{
    out.Print("demo: simulated GPS receiver on " + demo.GpsPort() + ", base station on " +
              demo.BasePort());
    out.Print("demo: sensor file " + demo.SensorFile() + ", track " + demo.TrackFile());
    out.Print("demo: logs in " + demo.Folder());
    const std::string mode = line.backAndForth ? "Back and Forth mode" : "Loop mode";
    if (line.laps > 0) {
        out.Print("demo: driving " + std::to_string(line.laps) +
                  (line.laps == 1 ? " lap in " : " laps in ") + mode + ", about " +
                  Seconds(line.laps * demo.LapSeconds()) + "; Ctrl-C ends it early");
    } else {
        out.Print("demo: driving round and round in " + mode + " until Ctrl-C");
    }
}

// Until the laps are driven (never, for 0 laps) or SIGINT or SIGTERM; a fix every 5 s.
void WatchTheDrive(PrintingFields& fields, const Demo& demo, int laps, Session& session)
{
    auto nextFix = SteadyClock::now() + 5s;
    auto nextTick = SteadyClock::now() + 1s;
    for (;;) {
        if (WaitForTerminationSignalFor(200ms) != 0) {
            fields.Print("demo: interrupted");
            return;
        }
        if (laps > 0 && demo.DriveFinished())
            return;
        if (SteadyClock::now() >= nextTick) {
            nextTick += 1s;
            session.Tick();
        }
        if (SteadyClock::now() >= nextFix) {
            nextFix += 5s;
            fields.Print("demo: fix " + fields.GetText(Field::Time) + " " +
                         fields.GetText(Field::Latitude) + " " +
                         fields.GetText(Field::LatitudeHemisphere) + " " +
                         fields.GetText(Field::Longitude) + " " +
                         fields.GetText(Field::LongitudeHemisphere) + " " +
                         fields.GetText(Field::Height));
        }
    }
}

// Lines a log has gained since it held `before`.
std::size_t Gained(const std::string& path, std::size_t before)
{
    return std::max(CountLines(path), before) - before;
}

} // namespace

int RunDemoHeadless(const CommandLine& line)
{
    BlockTerminationSignals(); // before the first thread, so only the waits see them

    PrintingFields fields(stdout, stderr);
    Demo demo;
    demo.SetOnBaseStationLine([&fields](const std::string& text) {
        fields.Print("base station: " + text);
    });
    std::string error;
    if (!demo.Prepare(line.folder.empty() ? DefaultDemoFolder() : line.folder, &error)) {
        std::fprintf(stderr, "ostrim: %s\n", error.c_str());
        return 1;
    }
    PrintIntro(fields, demo, line);

    fields.SetText(Field::VehicleType, line.vehicleType.value_or(kDefaultVehicleType));
    fields.SetText(Field::Folder, demo.Folder());
    fields.SetText(Field::SensorFile, demo.SensorFile());
    fields.SetText(Field::NodeId, kDefaultNodeId);

    ThreadTimerService timers;
    // The distance trace (forty lines a second here) would bury what the demo is there to show.
    Session session(fields, timers,
                    Session::Hooks{[port = demo.BasePort()] { return port; },
                                   [](const std::string&) {}, {}});
    timers.SetHandler([&session](int id) { session.Engine().OnTimer(id); });

    session.Control().ChooseRule(line.predictive);
    if (line.backAndForth)
        session.Control().OnBackAndForth();
    if (session.Start(demo.GpsPort(), demo.BasePort(), demo.GpsPort()) !=
        RunControl::StartOutcome::Running) {
        std::fprintf(stderr, "ostrim: the demo run did not start\n");
        EndRun(session, timers);
        return 1;
    }
    // A run started within the same minute as this one appends to the same logs.
    const std::string gpsLog = session.State().logPaths.Gps();
    const std::string rawLog = session.State().logPaths.Raw();
    const std::size_t gpsBefore = CountLines(gpsLog);
    const std::size_t rawBefore = CountLines(rawLog);

    demo.Drive(line.laps);
    WatchTheDrive(fields, demo, line.laps, session);

    // Park the vehicle, then let the run read what is still on its way before stopping it.
    demo.Halt();
    for (auto end = SteadyClock::now() + 2s; !demo.DriveFinished() && SteadyClock::now() < end;)
        std::this_thread::sleep_for(10ms);
    const std::size_t sent = demo.FixesSent();
    std::size_t gpsLines = 0;
    std::size_t rawLines = 0;
    for (auto end = SteadyClock::now() + 5s; SteadyClock::now() < end;) {
        gpsLines = Gained(gpsLog, gpsBefore);
        rawLines = Gained(rawLog, rawBefore);
        if (gpsLines >= sent && rawLines >= sent)
            break;
        std::this_thread::sleep_for(100ms);
    }
    EndRun(session, timers);
    demo.Stop();

    fields.Print("demo: summary");
    fields.Print("demo:   fixes sent by the simulated receiver: " + std::to_string(sent));
    fields.Print("demo:   GPS log lines: " + std::to_string(gpsLines) + " in " + gpsLog);
    fields.Print("demo:   raw log entries: " + std::to_string(rawLines) + " in " + rawLog);
    fields.Print("demo:   nodes switched: " + std::to_string(demo.NodesSwitched()));
    char spacing[64];
    std::snprintf(spacing, sizeof spacing, "demo:   largest fix spacing: %.1f m", session.Spacing().LargestSpacing());
    fields.Print(spacing);
    fields.Print(session.Summary());
    if (gpsLines != sent || rawLines != sent) {
        std::fprintf(stderr, "ostrim: the logs do not hold every fix the receiver sent\n");
        return 1;
    }
    return 0;
}

} // namespace ostrim
