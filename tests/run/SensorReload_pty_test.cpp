// Reloading the sensor file during a run: a changed table is in force from the next fix, the
// history lists what changed, and a file that does not load leaves the table in force. The
// reader and the timer threads run throughout, so the sanitizer stages see the hand-over.

#include "tests/support/SessionRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace ostrim {
namespace {

using namespace std::chrono_literals;
using test::Road;
using test::SessionRig;

TEST(SensorReload, DuringARun_NewTableFromTheNextFixAndABadFileKeepsTheOldOne)
{
    // Sensors at 20 m and 40 m; the vehicle is in range of the first from fix 16 to 28.
    SessionRig rig({20.0, 40.0});
    ASSERT_TRUE(rig.PlugBaseStation());
    ASSERT_EQ(rig.Start(), RunControl::StartOutcome::Running);
    const std::vector<std::string> sentences = Road::Sentences(0, 100, 0.7);
    rig.Play({sentences.begin(), sentences.begin() + 35}, 100);
    ASSERT_TRUE(rig.LogsReach(35, 10s));

    // Sensor 2 gets another node, a third sensor is added at 60 m.
    std::string changed = Road::SensorFile({20.0, 40.0, 60.0});
    const std::string oldSecond = "40A00002";
    changed.replace(changed.find(oldSecond), oldSecond.size(), "40B00002");
    test::WriteFile(rig.dir / "changed.txt", changed);
    rig.fields.SetText(Field::SensorFile, rig.dir / "changed.txt");
    rig.fields.ClearHistory();
    rig.Control().OnReloadSensors();
    EXPECT_EQ(rig.fields.StatusHistory(),
              (std::vector<std::string>{"sensor 2: node id 40A00002 now 40B00002",
                                        "sensor 3 added: node 40A00003",
                                        "Sensors reloaded: 3 sensors, 2 changes, in force from the next fix"}));
    EXPECT_EQ(rig.GetSession().Table().count.load(), 2) << "not before the next fix";

    // A file that does not load: the changed table stays offered, and in force after.
    rig.fields.SetText(Field::SensorFile, rig.dir / "missing.txt");
    rig.Control().OnReloadSensors();
    EXPECT_EQ(rig.fields.Status(), "Sensors not reloaded: " + (rig.dir / "missing.txt") +
                                       " was not found.; the table in force stays");

    rig.Play({sentences.begin() + 35, sentences.end()}, 100);
    ASSERT_TRUE(rig.PlayedAll(15s));
    ASSERT_TRUE(rig.LogsReach(sentences.size(), 10s));
    ASSERT_TRUE(test::WaitFor([&] { return rig.Base().Commands().size() >= 6; }, 5s));
    rig.StopRun();
    EXPECT_EQ(rig.GetSession().Table().count.load(), 3);

    std::vector<std::uint32_t> switched;
    for (const sim::NodeCommand& c : rig.Base().Commands())
        if (c.on)
            switched.push_back(c.nodeId);
    EXPECT_EQ(switched, (std::vector<std::uint32_t>{0x40A00001, 0x40B00002, 0x40A00003}));
    const auto history = rig.GetSession().Monitor().HistoryFrom(0);
    EXPECT_TRUE(std::any_of(history.begin(), history.end(), [](const HistoryEntry& e) {
        return e.text == "Sensor table reloaded: in force from this fix";
    }));
}

} // namespace
} // namespace ostrim
