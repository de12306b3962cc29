#include "run/PortPreselection.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace ostrim {
namespace {

using Names = std::vector<std::string>;

TEST(PortPreselection, ComPortsInSystemOrder_SelectByCountingRule)
{
    struct Case {
        const char* what;
        Names listed;
        Names gpsEntries;
        Names baseEntries;
        std::optional<int> gps;
        std::optional<int> base;
    };
    const Case cases[] = {
        {"COM9 is not counted: entry 4 of 3 is refused, COM1 stays",
         {"COM1", "COM3", "COM9"}, {"COM1", "COM3", "COM9"}, {"1", "3", "9"}, 0, 0},
        {"COM5 first: base counter -1 selects entry 2",
         {"COM5", "COM1", "COM2"}, {"COM1", "COM2", "COM5"}, {"1", "2", "5"}, 0, 2},
        {"COMX and LPT1 skipped, COM10 kept, sorted as text",
         {"COMX", "COM10", "LPT1", "COM2"}, {"COM10", "COM2"}, {"10", "2"}, 0, 0},
        {"COM9 first: GPS counter -1 selects entry 2",
         {"COM9", "COM1", "COM2", "COM3"}, {"COM1", "COM2", "COM3", "COM9"},
         {"1", "2", "3", "9"}, 2, 0},
        {"leading zeros name the same port", {"COM05", "COM1", "COM2"},
         {"COM1", "COM2", "COM5"}, {"1", "2", "5"}, 0, 2},
        {"no COM port: nothing to select", {"LPT1", "COM", "COM1X", "AUX"}, {}, {},
         std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        PortPreselection result = PreselectComPorts(c.listed);
        EXPECT_EQ(result.gpsEntries, c.gpsEntries) << c.what;
        EXPECT_EQ(result.baseEntries, c.baseEntries) << c.what;
        EXPECT_EQ(result.gps, c.gps) << c.what;
        EXPECT_EQ(result.base, c.base) << c.what;
    }
}

TEST(PortPreselection, ListedPorts_MapRuleBackToListEntries)
{
    struct Case {
        int count;
        std::optional<int> gps;
        std::optional<int> base;
    };
    const Case cases[] = {
        {0, std::nullopt, std::nullopt},
        {1, 0, 0},
        {6, 0, 0},
        // 7 entries: the base rule asks for position 6 of "1".."7", which is COM7.
        {7, 0, 6},
        // 11 entries: "COM1" "COM10" "COM11" "COM2".. puts COM9 at position 10 and COM5 at 6.
        {11, 8, 4},
    };
    for (const Case& c : cases) {
        ListedPreselection result = PreselectListedPorts(c.count);
        EXPECT_EQ(result.gps, c.gps) << c.count << " ports";
        EXPECT_EQ(result.base, c.base) << c.count << " ports";
    }
}

} // namespace
} // namespace ostrim
