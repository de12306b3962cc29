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
#include <filesystem>
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

// Back and Forth: a pass in table order, the hold at sensor 0 and its re-arm. The drive keeps
// its fixes seconds away from every timer deadline, so the live timers (wall clock) and the
// replay's (fix times) cannot disagree by a jitter.
TEST(ReplayAgrees, RawLogOfALiveRun_SwitchesTheSameNodesInTheSameOrder)
{
    if (kOstrim == nullptr)
        GTEST_SKIP() << "the ostrim program is not built (OSTRIM_BUILD_GUI=OFF)";
    test::ScopedTimeZone utc("UTC");
    test::ScratchFolder folder;
    const std::string logs = folder / "logs";
    std::filesystem::create_directory(logs);
    test::WriteFile(folder / "sensors.txt", test::DriveScript::SensorFileText());
    const test::DriveScript drive = test::BackAndForthDrive();
    ASSERT_TRUE(drive.WriteCapture(folder / "drive.nmea"));

    sim::GpsReceiverSim gps;
    sim::BaseStationSim base;
    std::string error;
    ASSERT_TRUE(gps.Start(&error)) << error;
    ASSERT_TRUE(base.Start(&error)) << error;
    test::ChildProcess ostrim;
    ASSERT_TRUE(ostrim.Start({kOstrim, "--headless", "--gps-port", gps.DevicePath(), "--base-port",
                              base.DevicePath(), "--sensor-file", folder / "sensors.txt", "--folder", logs,
                              "--mode", "back-and-forth"},
                             {{"TZ", "UTC"}}));
    std::vector<test::OutputLine> lines = ostrim.ReadLinesUntil(
        [](const std::string& line) { return line == "Back and Forth mode"; }, 10s);
    ASSERT_FALSE(lines.empty());
    ASSERT_EQ(lines.back().text, "Back and Forth mode") << ostrim.Errors();
    for (auto end = std::chrono::steady_clock::now() + 10s; test::FindLog(logs, "-Raw-GPS-Data.txt").empty();) {
        ASSERT_LT(std::chrono::steady_clock::now(), end) << "no raw log: " << ostrim.Errors();
        std::this_thread::sleep_for(10ms);
    }

    ASSERT_TRUE(gps.PlayFile(folder / "drive.nmea", test::DriveScript::kRate, &error)) << error;
    const std::string rawLog = test::FindLog(logs, "-Raw-GPS-Data.txt");
    for (auto end = std::chrono::steady_clock::now() + 40s;
         !gps.Finished() || test::CountLines(test::ReadFile(rawLog)) < drive.Fixes();) {
        ASSERT_LT(std::chrono::steady_clock::now(), end) << "the drive did not reach the raw log";
        ostrim.ReadLine(100ms);
    }
    ostrim.Signal(SIGTERM);
    EXPECT_EQ(ostrim.Wait(10s), 0) << ostrim.Errors();

    std::vector<std::uint32_t> live;
    for (const sim::NodeCommand& command : base.Commands()) {
        if (command.on)
            live.push_back(command.nodeId);
    }
    ASSERT_EQ(live.size(), test::kBackAndForthFirings.size()) << "the live run itself went wrong";

    replay::Options options;
    options.backAndForth = true;
    replay::Replayer replayer(options);
    ASSERT_TRUE(replayer.LoadSensors(folder / "sensors.txt", error)) << error;
    replayer.Feed(test::ReadFile(rawLog));
    const replay::Result result = replayer.Finish();
    std::vector<std::uint32_t> replayed;
    for (const replay::Firing& firing : result.firings)
        replayed.push_back(firing.nodeId);
    EXPECT_EQ(replayed, live);
    EXPECT_EQ(result.fixes.size(), drive.Fixes());
}

} // namespace
} // namespace ostrim
