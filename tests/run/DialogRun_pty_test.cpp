// The run behind both dialogs, without a window: which thread a planned switch runs on.

#include "run/DialogRun.h"
#include "tests/support/FakeDialogFields.h"
#include "tests/support/FakeTimers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

namespace ostrim {
namespace {

using namespace std::chrono_literals;

// A planned switch holds the base-station port for 100 ms and more; on the window's timers it
// would freeze the dialog for that long. The window keeps only the re-arm timers.
TEST(DialogRun, PredictedSwitch_RunsOffTheWindowsTimers)
{
    test::FakeDialogFields fields;
    test::FakeTimers window;
    DialogRun run(fields, window, {}, [] { return std::string(); });
    Session& session = run.Run();
    SensorTable& table = session.Table();
    table.latitude[0] = 45.26;
    table.longitude[0] = 93.70;
    table.nodeId[0] = 0x4070BF70;
    table.triggered[0] = 0;
    table.count = 1;
    session.State().predictive = 1;

    // Two fixes a second apart, heading north-east about 3 m short of the sensor's region.
    const std::int64_t t = 36000000;
    session.Engine().TriggerOnFix(45.26 - 0.0002, 93.70 - 0.0002, t);
    session.Engine().TriggerOnFix(45.26 - 0.0001, 93.70 - 0.0001, t + 1000);

    for (int id = kPredictedTimer; id < kPredictedTimer + kPredictedTimerIds; ++id)
        EXPECT_FALSE(window.Running(id)) << "plan " << id << " on the window's timers";
    // No base station is chosen: the plan's switch runs out on its own thread and says so.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (fields.Status() != "Base station failed to open" && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(fields.Status(), "Base station failed to open");
    EXPECT_EQ(table.triggered[0].load(), 1);
}

} // namespace
} // namespace ostrim
