// The demo's bundled data and its devices, without the program around them.

#include "app/Demo.h"
#include "sensors/Distance.h"
#include "sensors/SensorFile.h"
#include "tests/support/ScratchFolder.h"
#include "tools/sim/Track.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>

namespace ostrim {
namespace {

using namespace std::chrono_literals;

class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value != nullptr)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(DemoFolder, FollowsTheStateFolderOfTheUser)
{
    struct Case {
        const char* xdgStateHome;
        const char* home;
        const char* folder;
    };
    const Case cases[] = {
        {"/var/state", "/home/op", "/var/state/ostrim/demo"},
        // A relative XDG path is not to be used, by the XDG rules.
        {"state", "/home/op", "/home/op/.local/state/ostrim/demo"},
        {"", "/home/op", "/home/op/.local/state/ostrim/demo"},
        {nullptr, "/home/op", "/home/op/.local/state/ostrim/demo"},
        {nullptr, nullptr, "/tmp/ostrim-demo"},
    };
    for (const Case& c : cases) {
        ScopedEnv state("XDG_STATE_HOME", c.xdgStateHome);
        ScopedEnv home("HOME", c.home);
        EXPECT_EQ(DefaultDemoFolder(), c.folder) << (c.xdgStateHome ? c.xdgStateHome : "(unset)");
    }
}

// Where along the demo track, driven at the demo's speed and fix rate, each sensor is first in
// range; nothing when never.
std::vector<std::optional<double>> FirstInRange(const sim::Track& track,
                                                const std::vector<SensorEntry>& sensors)
{
    std::vector<std::optional<double>> first(sensors.size());
    const double step = Demo::kSpeed / Demo::kFixRate;
    for (double along = 0; along < sim::TrackLength(track); along += step) {
        auto [lat, lon] = sim::PositionAlong(track, along);
        for (std::size_t i = 0; i < sensors.size(); ++i) {
            const SensorEntry& s = sensors[i];
            if (!first[i] && GeodesicDistance(lat, lon, s.latitude, s.longitude) < 10.0 &&
                lat < s.latitude && lon < s.longitude)
                first[i] = along;
        }
    }
    return first;
}

TEST(DemoData, EverySensorIsPassedInRangeAndTheLoopRearmsWithinALap)
{
    test::ScratchFolder folder;
    test::WriteFile(folder / "track.txt", std::string(DemoTrackText()));
    sim::Track track;
    std::string error;
    ASSERT_TRUE(sim::LoadTrackFile(folder / "track.txt", &track, &error)) << error;
    track.closed = true;
    const std::vector<SensorEntry> sensors = ParseSensorText(DemoSensorFileText());
    ASSERT_EQ(sensors.size(), 4u);
    EXPECT_EQ(sensors[0].nodeId, 0x4070BF7Bu); // the dialog's default Node Id: Test Node works

    const std::vector<std::optional<double>> first = FirstInRange(track, sensors);
    for (std::size_t i = 0; i < first.size(); ++i) {
        ASSERT_TRUE(first[i]) << "sensor " << i << " is never in range";
        if (i > 0) {
            EXPECT_GT(*first[i], *first[i - 1]) << "sensors out of track order";
        }
    }
    // "All sensors triggered" comes 5 s after the last firing: within the lap (2 s to spare), so
    // one lap shows it and the next lap fires all four again.
    const double rearmedAt = *first.back() + 5.0 * Demo::kSpeed;
    EXPECT_LT(rearmedAt + 2.0 * Demo::kSpeed, sim::TrackLength(track));
}

TEST(Demo, Prepare_WritesTheFilesAndTheVehicleMovesOnlyWhenDriven)
{
    test::ScratchFolder folder;
    Demo demo;
    std::string error;
    ASSERT_TRUE(demo.Prepare(folder / "a/b/demo", &error)) << error;
    EXPECT_EQ(test::ReadFile(demo.SensorFile()), std::string(DemoSensorFileText()));
    EXPECT_EQ(test::ReadFile(demo.TrackFile()), std::string(DemoTrackText()));
    EXPECT_NE(demo.GpsPort(), demo.BasePort());
    EXPECT_NEAR(demo.LapSeconds(), 28.0, 0.1);

    // The vehicle stands until Drive; Halt parks it and the count stands still.
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(demo.FixesSent(), 0u);
    EXPECT_FALSE(demo.DriveFinished());
    demo.Drive(1);
    std::this_thread::sleep_for(500ms);
    demo.Halt();
    for (int i = 0; i < 200 && !demo.DriveFinished(); ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(demo.DriveFinished());
    const std::size_t sent = demo.FixesSent();
    EXPECT_GE(sent, 3u);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(demo.FixesSent(), sent);
}

TEST(Demo, PrepareWhereNoFolderCanBe_SaysWhy)
{
    test::ScratchFolder folder;
    test::WriteFile(folder / "file", "not a folder");
    Demo demo;
    std::string error;
    EXPECT_FALSE(demo.Prepare(folder / "file/demo", &error));
    EXPECT_NE(error.find(folder / "file/demo"), std::string::npos) << error;
}

} // namespace
} // namespace ostrim
