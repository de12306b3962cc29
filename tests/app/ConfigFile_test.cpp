#include "app/ConfigFile.h"

#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <string>
#include <vector>

namespace ostrim {
namespace {

using Args = std::vector<std::string>;

TEST(ConfigFile, Settings_BecomeOptionsOrNameTheirLine)
{
    struct Case {
        std::string text;
        Args options;      // when the file is taken
        std::string error; // else a part of the reason
    };
    const Case cases[] = {
        {"# comment\n\n; also\nGPS_PORT=/dev/ttyUSB0\nMODE=back-and-forth\n",
         {"--gps-port", "/dev/ttyUSB0", "--mode", "back-and-forth"}, ""},
        {"VEHICLE_TYPE=\"Dunrel 80k truck\"\r\nRULE = predictive \nTRIGGER='off'",
         {"--vehicle-type", "Dunrel 80k truck", "--rule", "predictive", "--trigger", "off"}, ""},
        {"VEHICLE_TYPE=\"say \\\"hi\\\" \\\\ bye\"", {"--vehicle-type", "say \"hi\" \\ bye"}, ""},
        {"VEHICLE_TYPE=--odd, name", {"--vehicle-type", "--odd, name"}, ""},
        // An empty value keeps the default: no base station, the unit's default folder.
        {"BASE_PORT=\nFOLDER=\"\"\nSENSOR_FILE=/etc/ostrim/s.txt", {"--sensor-file", "/etc/ostrim/s.txt"}, ""},
        {"GPS_PORT=/dev/ttyUSB0\nMDOE=loop", {}, "line 2: unknown variable \"MDOE\"; the variables are GPS_PORT"},
        {"MODE=loop\nMODE=back-and-forth", {}, "line 2: MODE is set on line 1 already"},
        {"MODE=lop", {}, "line 1: MODE=lop: --mode must be loop or back-and-forth, not \"lop\""},
        {"RULE=early", {}, "line 1: RULE=early: --rule must be on-fix or predictive"},
        {"TRIGGER=yes", {}, "--trigger must be on or off"},
        {"RECEIVER_DELAY=80", {"--receiver-delay", "80"}, ""},
        {"RECEIVER_DELAY=80ms", {}, "line 1: RECEIVER_DELAY=80ms: --receiver-delay must be whole milliseconds"},
        {"GPS_PORT=--base-port", {}, "--gps-port needs a value"},
        {"export GPS_PORT=/dev/x", {}, "unknown variable \"export GPS_PORT\""},
        {"GPS_PORT /dev/ttyUSB0", {}, "line 1: \"GPS_PORT /dev/ttyUSB0\" is not VARIABLE=value"},
        {"VEHICLE_TYPE=\"open", {}, "line 1: VEHICLE_TYPE: the quote \" is not closed"},
        {"VEHICLE_TYPE='a' b", {}, "text after the closing quote"},
        {"FOLDER=/srv\x01laps", {}, "a control character in \"FOLDER=/srv\\x01laps\""},
        {"NAME=north", {}, "unknown variable \"NAME\""},
    };
    for (const Case& c : cases) {
        Args options;
        std::string error;
        const bool taken = ConfigOptions(c.text, &options, &error);
        EXPECT_EQ(taken, c.error.empty()) << c.text << ": " << error;
        if (taken)
            EXPECT_EQ(options, c.options) << c.text;
        else
            EXPECT_NE(error.find(c.error), std::string::npos) << c.text << ": " << error;
    }
}

TEST(ConfigFile, Expanded_WhereTheOptionStands)
{
    const std::map<std::string, std::string> files = {
        {"/etc/ostrim/north.conf", "GPS_PORT=/dev/ttyUSB0\nSENSOR_FILE=/etc/ostrim/s.txt\nFOLDER=/srv/laps\nMODE=back-and-forth\n"},
        {"/etc/ostrim/bad.conf", "MODE=zigzag\n"},
    };
    const ReadTextFile read = [&files](const std::string& path, std::string* text) {
        auto it = files.find(path);
        if (it == files.end())
            return ENOENT;
        *text = it->second;
        return 0;
    };
    // The unit's own default folder comes before the file, so FOLDER= wins; an option after
    // the file wins over it.
    Args args = {"--headless", "--name", "north", "--folder", "/var/lib/ostrim/north",
                 "--config", "/etc/ostrim/north.conf", "--mode", "loop"};
    std::string error;
    ASSERT_TRUE(ExpandConfigFiles(args, error, read)) << error;
    std::optional<CommandLine> line = ParseCommandLine(args, error);
    ASSERT_TRUE(line) << error;
    EXPECT_EQ(line->folder, "/srv/laps");
    EXPECT_FALSE(line->backAndForth);
    EXPECT_EQ(line->gpsPort, "/dev/ttyUSB0");
    EXPECT_EQ(line->name, "north");

    args = {"--headless", "--config", "/etc/ostrim/missing.conf"};
    EXPECT_FALSE(ExpandConfigFiles(args, error, read));
    EXPECT_EQ(error, "cannot read the configuration /etc/ostrim/missing.conf: No such file or directory");
    args = {"--headless", "--config", "/etc/ostrim/bad.conf"};
    EXPECT_FALSE(ExpandConfigFiles(args, error, read));
    EXPECT_NE(error.find("the configuration /etc/ostrim/bad.conf, line 1: MODE=zigzag"), std::string::npos) << error;
    args = {"--headless", "--config"};
    EXPECT_FALSE(ExpandConfigFiles(args, error, read));
    EXPECT_EQ(error, "--config needs a file");
    // A request to a run is passed on whatever its words.
    args = {"ctl", "north", "--config"};
    EXPECT_TRUE(ExpandConfigFiles(args, error, read));
}

} // namespace
} // namespace ostrim
