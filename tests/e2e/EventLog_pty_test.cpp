// The event log of a run against the simulated base station: one row for each frame the base
// station received, in the same order, each with its sensor, rule and kind, its result and the
// vehicle's place; Test Node's frames are on record too.

#include "tests/support/SessionRig.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace ostrim {
namespace {

using namespace std::chrono_literals;
using test::Road;
using test::SessionRig;

std::vector<std::string> Columns(const std::string& row)
{
    std::vector<std::string> columns;
    std::size_t at = 0;
    for (;;) {
        const std::size_t comma = row.find(',', at);
        columns.push_back(row.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (comma == std::string::npos)
            return columns;
        at = comma + 1;
    }
}

std::string Hex(std::uint32_t node)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08X", node);
    return text;
}

TEST(EventLog, DriveAndTestNode_FrameRowsEqualTheFramesTheBaseStationReceived)
{
    SessionRig rig({20.0, 40.0});
    ASSERT_TRUE(rig.PlugBaseStation());
    ASSERT_EQ(rig.Start(), RunControl::StartOutcome::Running);
    rig.fields.SetText(Field::NodeId, "403BA38B");
    rig.GetSession().BaseStation().OnTestNode();
    rig.Play(Road::Sentences(0, 70, 0.7), 50);
    ASSERT_TRUE(rig.PlayedAll(15s));
    ASSERT_TRUE(rig.LogsReach(70, 10s));
    ASSERT_TRUE(test::WaitFor([&] { return rig.Base().Commands().size() == 6; }, 5s));
    rig.StopRun();

    const std::string text = test::ReadFile(rig.GetSession().State().logPaths.Events());
    const std::vector<std::string> rows = test::SplitLines(text);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0].rfind("local time,fix UTC,event,sensor,node id,", 0), 0u);
    struct Frame {
        std::string node;
        bool on;
        std::string sensor;
        std::string kind;
        std::vector<std::string> columns;
    };
    std::vector<Frame> logged;
    std::vector<std::string> switching; // each with the number of frames logged before it
    for (const std::string& row : rows) {
        ASSERT_GE(row.size(), 2u);
        EXPECT_EQ(row.substr(row.size() - 2), "\r\n") << row;
        const std::vector<std::string> c = Columns(row.substr(0, row.size() - 2));
        ASSERT_EQ(c.size(), 16u) << row;
        if (c[2].rfind("switching ", 0) == 0)
            switching.push_back(c[2] + ": " + c[15] + " after " + std::to_string(logged.size()));
        if (c[2] == "node on" || c[2] == "node off") {
            EXPECT_EQ(c[7], "written") << row;
            logged.push_back({c[4], c[2] == "node on", c[3], c[6], c});
        }
    }
    const std::vector<sim::NodeCommand> received = rig.Base().Commands();
    ASSERT_EQ(logged.size(), received.size()) << text;
    for (std::size_t i = 0; i < received.size(); ++i) {
        EXPECT_EQ(logged[i].node, Hex(received[i].nodeId)) << i;
        EXPECT_EQ(logged[i].on, received[i].on) << i;
    }
    EXPECT_EQ(switching, std::vector<std::string>{"switching on: at Start after 0"}) << text;
    ASSERT_EQ(logged.size(), 6u);
    EXPECT_EQ(logged[0].kind, "test node");
    EXPECT_EQ(logged[0].sensor, "");
    for (std::size_t i = 2; i < 6; ++i) {
        SCOPED_TRACE(i);
        const std::vector<std::string>& c = logged[i].columns;
        EXPECT_EQ(logged[i].sensor, i < 4 ? "1" : "2");
        EXPECT_EQ(c[5], "on-fix");
        EXPECT_EQ(logged[i].kind, "on-fix");
        EXPECT_FALSE(c[1].empty()) << "the fix's UTC time";
        EXPECT_NEAR(std::stod(c[9]), Road::kLatitude, 1e-5);
        // The sentences carry a ten-thousandth of a minute, 0.11 m here: a 0.7 m step reads
        // within 0.11 m of it.
        EXPECT_NEAR(std::stod(c[11]), 0.7 / 0.05 * 3.6, 0.11 / 0.05 * 3.6 + 0.1) << "speed, km/h";
        EXPECT_NEAR(std::stod(c[12]), 90.0, 1.0) << "heading: due east";
        EXPECT_LT(std::stod(c[13]), 10.0) << "distance to the sensor";
        EXPECT_GE(std::stod(c[14]), 0.0) << "past the region's entry";
        EXPECT_LT(std::stod(c[14]), 0.8);
    }
}

} // namespace
} // namespace ostrim
