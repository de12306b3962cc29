// The predictive rule live: the program, run headless with --rule predictive against the
// simulator, fires sensors that no fix lands inside of, in order, and its switches from the timer
// and from the reader never overlap on the base-station line.

#include "tests/support/ChildProcess.h"
#include "tests/support/DriveScript.h"
#include "tests/support/ScopedTimeZone.h"
#include "tests/support/ScratchFolder.h"
#include "tools/sim/BaseStationSim.h"
#include "tools/sim/GpsReceiverSim.h"
#include "tools/sim/Nmea.h"
#include "trigger/PathPrediction.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdio>
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

// Three sensors 55 m apart on a road driven north at 130 km/h, 2 fixes a second (18 m apart),
// 3 m west of them: every firing region is 9.5 m deep, and the fixes are placed to miss all three.
TEST(PredictiveLive, FiresBetweenFixesInOrder_SwitchesNeverOverlap)
{
    if (kOstrim == nullptr)
        GTEST_SKIP() << "the ostrim program is not built (OSTRIM_BUILD_GUI=OFF)";
    test::ScopedTimeZone utc("UTC");
    test::ScratchFolder folder;
    const std::string logs = folder / "logs";
    std::filesystem::create_directory(logs);

    constexpr double kLatitude = 52.24;
    constexpr double kLongitude = 6.85;
    const PlanePoint scale = MetresPerDegreeAt(kLatitude);
    const std::vector<std::uint32_t> nodes = {0x40A00001, 0x40A00002, 0x40A00003};
    std::string sensorText;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        char line[96];
        std::snprintf(line, sizeof line, "%.8f %.8f S%zu %08X\n", kLatitude + 55.0 * i / scale.y, kLongitude,
                      i + 1, static_cast<unsigned>(nodes[i]));
        sensorText += line;
    }
    test::WriteFile(folder / "sensors.txt", sensorText);
    std::string capture;
    const auto start = std::chrono::system_clock::from_time_t(1714557600);
    int fixes = 0;
    for (double y = -103; y < 210; y += 18, ++fixes)
        capture += sim::FormatGga(start + std::chrono::milliseconds(500 * fixes), kLatitude + y / scale.y,
                                  kLongitude - 3.0 / scale.x);
    test::WriteFile(folder / "drive.nmea", capture);

    sim::GpsReceiverSim gps;
    sim::BaseStationSim base;
    std::string error;
    ASSERT_TRUE(gps.Start(&error)) << error;
    ASSERT_TRUE(base.Start(&error)) << error;
    test::ChildProcess ostrim;
    ASSERT_TRUE(ostrim.Start({kOstrim, "--headless", "--gps-port", gps.DevicePath(), "--base-port",
                              base.DevicePath(), "--sensor-file", folder / "sensors.txt", "--folder", logs,
                              "--rule", "predictive"},
                             {{"TZ", "UTC"}}));
    for (auto end = std::chrono::steady_clock::now() + 10s; test::FindLog(logs, "-Raw-GPS-Data.txt").empty();) {
        ASSERT_LT(std::chrono::steady_clock::now(), end) << "no raw log: " << ostrim.Errors();
        std::this_thread::sleep_for(10ms);
    }

    ASSERT_TRUE(gps.PlayFile(folder / "drive.nmea", 2.0, &error)) << error;
    const std::string rawLog = test::FindLog(logs, "-Raw-GPS-Data.txt");
    for (auto end = std::chrono::steady_clock::now() + 40s;
         !gps.Finished() || test::CountLines(test::ReadFile(rawLog)) < static_cast<std::size_t>(fixes);) {
        ASSERT_LT(std::chrono::steady_clock::now(), end) << "the drive did not reach the raw log: " << ostrim.Errors();
        ostrim.ReadLine(100ms);
    }
    std::this_thread::sleep_for(300ms); // a switch still under way
    ostrim.Signal(SIGTERM);
    EXPECT_EQ(ostrim.Wait(10s), 0) << ostrim.Errors();

    // On, then Off of the same node, before the next On: one switch at a time on the line.
    const std::vector<sim::NodeCommand> commands = base.Commands();
    std::vector<std::uint32_t> fired;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        SCOPED_TRACE(commands[i].line);
        EXPECT_EQ(commands[i].on, i % 2 == 0);
        if (i % 2 == 1) {
            EXPECT_EQ(commands[i].nodeId, commands[i - 1].nodeId);
        }
        if (commands[i].on)
            fired.push_back(commands[i].nodeId);
    }
    EXPECT_EQ(fired, nodes);
}

} // namespace
} // namespace ostrim
