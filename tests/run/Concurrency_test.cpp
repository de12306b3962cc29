// The GPS reader thread and the GUI thread share the run state, the triggered flags and the log
// paths. Run under ThreadSanitizer (see the README) this shows the sharing is race-free; in any
// build it shows nothing is lost while laps end and modes change under a stream of fixes.

#include "run/RunControl.h"
#include "gps/GgaParser.h"
#include "gps/LogFiles.h"
#include "trigger/TriggerEngine.h"

#include "tests/support/FakeDialogFields.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

namespace ostrim {
namespace {

namespace fs = std::filesystem;

class CountingSwitcher : public NodeSwitcher {
public:
    int SwitchNode(std::uint32_t) override
    {
        ++switches;
        return 1;
    }
    std::atomic<int> switches{0};
};

class NullTimers : public TimerService {
public:
    void StartTimer(int, std::chrono::milliseconds) override { ++starts; }
    void KillTimer(int) override {}
    std::chrono::milliseconds Now() const override { return std::chrono::milliseconds{0}; }
    std::atomic<int> starts{0};
};

class RunningLink : public GpsReceiverLink {
public:
    int Open(const std::string&, int& error) override
    {
        error = 0;
        return 0;
    }
    bool Running() const override { return true; }
    void Stop() override {}
};

class OkCheck : public BaseStationCheck {
public:
    Result Check(const std::string&) override { return kOk; }
};

std::string WithChecksum(const std::string& body)
{
    unsigned sum = 0;
    for (char c : body)
        sum ^= static_cast<unsigned char>(c);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return "$" + body + tail;
}

// Positions (ddmm.mmmm) just south-west of each sensor, within its 10 m.
std::string FixNear(int sensor)
{
    static const char* const kLatitudes[] = {"4515.5982", "4515.6582", "4515.7182"};
    static const char* const kLongitudes[] = {"09342.0982", "09342.1582", "09342.2182"};
    return WithChecksum(std::string("GPGGA,123519.00,") + kLatitudes[sensor] + ",N," + kLongitudes[sensor] +
                        ",W,1,08,0.9,545.4,M,46.9,M,,");
}

TEST(Concurrency, FixesWhileTheOperatorTogglesSwitchesModesAndEndsLaps_NothingLostNoRace)
{
    test::ScratchFolder dir;
    RunState state;
    SensorTable table;
    test::FakeDialogFields fields;
    CountingSwitcher switcher;
    NullTimers timers;
    RunningLink link;
    OkCheck check;
    std::atomic<std::time_t> now{1796652300};
    auto clock = [&now] { return now.load(); };

    const std::string sensors = dir.Path().string() + "/sensors.txt";
    std::ofstream(sensors) << "45.26 93.7017 1 A\n45.261 93.7027 2 B\n45.262 93.7037 3 C\n";
    fields.SetText(Field::SensorFile, sensors);
    fields.SetText(Field::Folder, dir.Path().string());
    fields.SetText(Field::VehicleType, "Dunrel 80k truck");

    GpsLogs logs(state.logPaths);
    TriggerEngine engine(state, table, fields, timers, switcher, [](const std::string&) {});
    GpsInput input(state, fields, logs, engine, clock);
    RunControl control(state, table, fields, link, check, clock);
    ASSERT_EQ(control.OnStart("/dev/gps", "/dev/base"), RunControl::StartOutcome::Running);
    ASSERT_EQ(table.count.load(), 3);

    constexpr int kFixes = 3000;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        for (int i = 0; i < kFixes; ++i) {
            const std::string sentence = FixNear(i % 3);
            for (char c : sentence)
                input.AssembleSentence(1, &c);
        }
        done = true;
    });

    int laps = 0;
    while (!done) {
        control.OnTriggerOnOff();
        control.OnBackAndForth();
        engine.OnTimer(kRearmTimer);
        control.OnTriggerOnOff();
        control.OnLoop();
        engine.OnTimer(kAllTriggeredTimer);
        if (++laps % 16 == 0) {
            now += 60; // a new minute: End of Lap starts a new file
            control.OnEndOfLap();
        }
        ASSERT_GE(state.nextIndex.load(), -1);
        ASSERT_LT(state.nextIndex.load(), 3);
    }
    reader.join();

    std::size_t gpsLines = 0;
    std::size_t rawLines = 0;
    for (const auto& entry : fs::directory_iterator(dir.Path().string())) {
        const std::string name = entry.path().filename().string();
        std::ifstream file(entry.path());
        std::size_t lines = 0;
        for (std::string line; std::getline(file, line);)
            ++lines;
        if (name.find("-Raw-GPS-Data.txt") != std::string::npos)
            rawLines += lines;
        else if (name.find("-GPS-Data.txt") != std::string::npos)
            gpsLines += lines;
    }
    EXPECT_EQ(gpsLines, static_cast<std::size_t>(kFixes));
    EXPECT_EQ(rawLines, static_cast<std::size_t>(kFixes));
    EXPECT_GT(switcher.switches.load(), 0);
    EXPECT_GT(laps, 0);
}

} // namespace
} // namespace ostrim
