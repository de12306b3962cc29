// A receiver unplugged and plugged in again during a headless run: nobody is there to press
// Start, so the run must pick the receiver up again by itself. The device is named through a
// link, as /dev/serial/by-id names a USB adapter that comes back under the same name.

#include "tests/support/ChildProcess.h"
#include "tests/support/DriveScript.h"
#include "tests/support/ScratchFolder.h"
#include "tools/sim/BaseStationSim.h"
#include "tools/sim/GpsReceiverSim.h"
#include "tools/sim/Track.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace ostrim {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

#ifdef OSTRIM_EXECUTABLE
constexpr const char* kOstrim = OSTRIM_EXECUTABLE;
#else
constexpr const char* kOstrim = nullptr;
#endif

std::size_t RawLogLines(const fs::path& folder)
{
    std::size_t lines = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().find("-Raw-GPS-Data.txt") == std::string::npos)
            continue;
        const std::string text = test::ReadFile(entry.path().string());
        lines += static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    }
    return lines;
}

bool WaitForLine(test::ChildProcess& program, const std::string& text)
{
    auto lines = program.ReadLinesUntil([&](const std::string& line) { return line == text; }, 15s);
    return !lines.empty() && lines.back().text == text;
}

TEST(HeadlessReconnect, ReceiverUnpluggedAndBack_RunGoesOnByItself)
{
    if (kOstrim == nullptr)
        GTEST_SKIP() << "the ostrim program is not built (OSTRIM_BUILD_GUI=OFF)";
    test::ScratchFolder dir;
    const std::string link = dir / "gps-receiver";
    test::WriteFile(dir / "sensors.txt", sim::BuiltinSensorFileText());

    sim::BaseStationSim base;
    sim::GpsReceiverSim first;
    std::string error;
    ASSERT_TRUE(base.Start(&error)) << error;
    ASSERT_TRUE(first.Start(&error)) << error;
    fs::create_symlink(first.DevicePath(), link);

    test::ChildProcess ostrim;
    ASSERT_TRUE(ostrim.Start({kOstrim, "--headless", "--gps-port", link, "--base-port", base.DevicePath(),
                              "--sensor-file", dir / "sensors.txt", "--folder", dir.Path().string()}));
    ASSERT_TRUE(WaitForLine(ostrim, "Trigger on")) << ostrim.Errors();

    first.DriveTrack(sim::BuiltinTrack(), 10.0, 10.0);
    std::this_thread::sleep_for(1s);
    first.Stop(); // unplugged
    ASSERT_TRUE(WaitForLine(ostrim, "GPS receiver disconnected")) << ostrim.Errors();
    const std::size_t before = RawLogLines(dir.Path());
    EXPECT_GT(before, 0u);

    sim::GpsReceiverSim second;
    ASSERT_TRUE(second.Start(&error)) << error;
    fs::remove(link);
    fs::create_symlink(second.DevicePath(), link); // plugged in again
    ASSERT_TRUE(WaitForLine(ostrim, "Trigger on")) << "no new start: " << ostrim.Errors();
    second.DriveTrack(sim::BuiltinTrack(), 10.0, 10.0);

    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (RawLogLines(dir.Path()) < before + 5 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(100ms);
    EXPECT_GE(RawLogLines(dir.Path()), before + 5) << "fixes after the receiver came back are logged";

    ostrim.Signal(SIGTERM);
    EXPECT_EQ(ostrim.Wait(10s), 0) << ostrim.Errors();
}

// A service started before the base station's adapter appears (or a receiver back before the
// base station on the same hub): the check fails, and nobody is there to switch triggering on.
TEST(HeadlessReconnect, BaseStationAppearsAfterStart_TriggeringComesOnByItself)
{
    if (kOstrim == nullptr)
        GTEST_SKIP() << "the ostrim program is not built (OSTRIM_BUILD_GUI=OFF)";
    test::ScratchFolder dir;
    const std::string link = dir / "base-station";
    test::WriteFile(dir / "sensors.txt", test::DriveScript::SensorFileText());
    const test::DriveScript drive({{test::kAway, 5}, {0, 5}});
    ASSERT_TRUE(drive.WriteCapture(dir / "drive.nmea"));

    sim::GpsReceiverSim gps;
    std::string error;
    ASSERT_TRUE(gps.Start(&error)) << error;
    test::ChildProcess ostrim;
    ASSERT_TRUE(ostrim.Start({kOstrim, "--headless", "--gps-port", gps.DevicePath(), "--base-port", link,
                              "--sensor-file", dir / "sensors.txt", "--folder", dir.Path().string()}));
    ASSERT_TRUE(WaitForLine(ostrim, "Base station failed to open")) << ostrim.Errors();

    sim::BaseStationSim base;
    ASSERT_TRUE(base.Start(&error)) << error;
    fs::create_symlink(base.DevicePath(), link);
    ASSERT_TRUE(WaitForLine(ostrim, "Trigger on")) << ostrim.Errors();

    ASSERT_TRUE(gps.PlayFile(dir / "drive.nmea", test::DriveScript::kRate, &error)) << error;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (base.Commands().size() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(base.Commands().size(), 2u) << "the node switched on and off";

    ostrim.Signal(SIGTERM);
    EXPECT_EQ(ostrim.Wait(10s), 0) << ostrim.Errors();
}

} // namespace
} // namespace ostrim
