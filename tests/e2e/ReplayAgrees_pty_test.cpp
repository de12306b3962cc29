// The program drives past the sensors against the simulator; the raw log that run wrote, replayed
// offline, must switch the same nodes in the same order.

#include "tests/support/ChildProcess.h"
#include "tests/support/DriveScript.h"
#include "tests/support/ScopedTimeZone.h"
#include "tests/support/ScratchFolder.h"
#include "tools/replay/Replay.h"
#include "tools/sim/BaseStationSim.h"
#include "tools/sim/GpsReceiverSim.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace ostrim {
namespace {

using namespace std::chrono_literals;

#ifdef OSTRIM_EXECUTABLE
constexpr const char* kOstrim = OSTRIM_EXECUTABLE;
#else
constexpr const char* kOstrim = nullptr;
#endif

#ifdef OSTRIM_REPLAY_EXECUTABLE
constexpr const char* kReplay = OSTRIM_REPLAY_EXECUTABLE;
#else
constexpr const char* kReplay = nullptr;
#endif

struct LiveRun {
    std::string sensors; // the sensor file
    std::string logs;    // the log folder
    std::string rawLog;
    std::vector<std::uint32_t> switched; // each node the base station was told to switch on
};

// Headless, against the simulator: `drive` played in `mode` past the script's sensors, until
// the raw log holds every fix and the run has ended.
void DriveLive(const test::ScratchFolder& folder, const test::DriveScript& drive, bool backAndForth, LiveRun& run)
{
    run.logs = folder / "logs";
    std::filesystem::create_directory(run.logs);
    run.sensors = folder / "sensors.txt";
    test::WriteFile(run.sensors, test::DriveScript::SensorFileText());
    ASSERT_TRUE(drive.WriteCapture(folder / "drive.nmea"));

    sim::GpsReceiverSim gps;
    sim::BaseStationSim base;
    std::string error;
    ASSERT_TRUE(gps.Start(&error)) << error;
    ASSERT_TRUE(base.Start(&error)) << error;
    test::ChildProcess ostrim;
    ASSERT_TRUE(ostrim.Start({kOstrim, "--headless", "--gps-port", gps.DevicePath(), "--base-port",
                              base.DevicePath(), "--sensor-file", run.sensors, "--folder", run.logs,
                              "--mode", backAndForth ? "back-and-forth" : "loop"},
                             {{"TZ", "UTC"}}));
    const std::string started = backAndForth ? "Back and Forth mode" : "Trigger on";
    std::vector<test::OutputLine> lines =
        ostrim.ReadLinesUntil([&](const std::string& line) { return line == started; }, 10s);
    ASSERT_FALSE(lines.empty());
    ASSERT_EQ(lines.back().text, started) << ostrim.Errors();
    for (auto end = std::chrono::steady_clock::now() + 10s; test::FindLog(run.logs, "-Raw-GPS-Data.txt").empty();) {
        ASSERT_LT(std::chrono::steady_clock::now(), end) << "no raw log: " << ostrim.Errors();
        std::this_thread::sleep_for(10ms);
    }

    ASSERT_TRUE(gps.PlayFile(folder / "drive.nmea", test::DriveScript::kRate, &error)) << error;
    run.rawLog = test::FindLog(run.logs, "-Raw-GPS-Data.txt");
    for (auto end = std::chrono::steady_clock::now() + 40s;
         !gps.Finished() || test::CountLines(test::ReadFile(run.rawLog)) < drive.Fixes();) {
        ASSERT_LT(std::chrono::steady_clock::now(), end) << "the drive did not reach the raw log";
        ostrim.ReadLine(100ms);
    }
    ostrim.Signal(SIGTERM);
    EXPECT_EQ(ostrim.Wait(10s), 0) << ostrim.Errors();
    for (const sim::NodeCommand& command : base.Commands()) {
        if (command.on)
            run.switched.push_back(command.nodeId);
    }
}

// Back and Forth: a pass in table order, the hold at sensor 0 and its re-arm. The drive keeps
// its fixes seconds away from every timer deadline, so the live timers (wall clock) and the
// replay's (fix times) cannot disagree by a jitter.
TEST(ReplayAgrees, RawLogOfALiveRun_SwitchesTheSameNodesInTheSameOrder)
{
    if (kOstrim == nullptr)
        GTEST_SKIP() << "the ostrim program is not built (OSTRIM_BUILD_GUI=OFF)";
    test::ScopedTimeZone utc("UTC");
    test::ScratchFolder folder;
    const test::DriveScript drive = test::BackAndForthDrive();
    LiveRun live;
    DriveLive(folder, drive, true, live);
    if (HasFatalFailure())
        return;
    ASSERT_EQ(live.switched.size(), test::kBackAndForthFirings.size()) << "the live run itself went wrong";

    replay::Options options;
    options.backAndForth = true;
    replay::Replayer replayer(options);
    std::string error;
    ASSERT_TRUE(replayer.LoadSensors(live.sensors, error)) << error;
    replayer.Feed(test::ReadFile(live.rawLog));
    const replay::Result result = replayer.Finish();
    std::vector<std::uint32_t> replayed;
    for (const replay::Firing& firing : result.firings)
        replayed.push_back(firing.nodeId);
    EXPECT_EQ(replayed, live.switched);
    EXPECT_EQ(result.fixes.size(), drive.Fixes());
}

// The node rows of a run's event log, on the columns that describe the vehicle and the sensor:
// fix UTC, event, sensor, node id, rule, kind, latitude to past entry. Local time, result,
// reason and detail are the run's own.
std::vector<std::string> NodeRows(const std::string& text)
{
    std::vector<std::string> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> columns;
        std::size_t at = 0;
        for (std::size_t comma; (comma = line.find(',', at)) != std::string::npos; at = comma + 1)
            columns.push_back(line.substr(at, comma - at));
        columns.push_back(line.substr(at));
        if (columns.size() < 16 || (columns[2] != "node on" && columns[2] != "node off"))
            continue;
        std::string row;
        for (std::size_t c : {1, 2, 3, 4, 5, 6, 9, 10, 11, 12, 13, 14})
            row += columns[c] + ",";
        rows.push_back(row);
    }
    return rows;
}

TEST(ReplayAgrees, EventLogOfTheReplay_MatchesTheRunsNodeRows)
{
    if (kOstrim == nullptr || kReplay == nullptr)
        GTEST_SKIP() << "the ostrim program is not built (OSTRIM_BUILD_GUI=OFF)";
    test::ScopedTimeZone utc("UTC");
    test::ScratchFolder folder;
    LiveRun live;
    DriveLive(folder, test::LoopDrive(), false, live);
    if (HasFatalFailure())
        return;
    ASSERT_EQ(live.switched.size(), test::kLoopFirings.size()) << "the live run itself went wrong";

    const std::string events = folder / "replay-events.csv";
    test::ChildProcess replay;
    ASSERT_TRUE(replay.Start({kReplay, "--sensor-file", live.sensors, "--events", events, live.rawLog},
                             {{"TZ", "UTC"}}));
    // 1: the script drives past some sensors where they do not fire, which the replay reports.
    EXPECT_EQ(replay.Wait(20s), 1) << replay.Errors();
    const std::vector<std::string> replayed = NodeRows(test::ReadFile(events));
    const std::vector<std::string> run = NodeRows(test::ReadFile(test::FindLog(live.logs, "-Events.csv")));
    ASSERT_EQ(run.size(), 2 * live.switched.size());
    EXPECT_EQ(replayed, run);
}

} // namespace
} // namespace ostrim
