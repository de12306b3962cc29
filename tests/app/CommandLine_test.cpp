#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

namespace ostrim {
namespace {

const std::vector<std::string> kHeadless = {"--headless", "--gps-port", "/dev/ttyUSB0", "--sensor-file",
                                            "s.txt", "--folder", "/logs"};

std::vector<std::string> With(std::vector<std::string> args, std::initializer_list<std::string> more)
{
    args.insert(args.end(), more);
    return args;
}

TEST(CommandLine, GoodArguments_AreTakenAsGiven)
{
    std::string error;
    auto line = ParseCommandLine(With(kHeadless, {"--base-port", "/dev/ttyUSB1", "--mode", "back-and-forth",
                                                  "--vehicle-type", "--odd, name", "--trigger", "off",
                                                  "--rule", "predictive", "--receiver-delay", "80", "--name", "north"}),
                                 error);
    ASSERT_TRUE(line) << error;
    EXPECT_EQ(line->mode, CommandLine::Mode::Headless);
    EXPECT_EQ(line->gpsPort, "/dev/ttyUSB0");
    EXPECT_EQ(line->basePort, "/dev/ttyUSB1");
    EXPECT_EQ(line->sensorFile, "s.txt");
    EXPECT_EQ(line->folder, "/logs");
    EXPECT_TRUE(line->backAndForth);
    EXPECT_FALSE(line->triggerOn);
    EXPECT_EQ(line->vehicleType, "--odd, name");
    EXPECT_TRUE(line->predictive);
    EXPECT_EQ(line->receiverDelayMs, 80);
    EXPECT_EQ(line->name, "north");

    line = ParseCommandLine({}, error);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->mode, CommandLine::Mode::Dialog);
    EXPECT_FALSE(line->vehicleType);

    line = ParseCommandLine({"--demo", "--headless"}, error);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->mode, CommandLine::Mode::Demo);
    EXPECT_TRUE(line->forceHeadless);
    EXPECT_EQ(line->laps, 2);

    line = ParseCommandLine({"--demo", "--laps", "0", "--folder", "/tmp/d"}, error);
    ASSERT_TRUE(line) << error;
    EXPECT_FALSE(line->forceHeadless);
    EXPECT_EQ(line->laps, 0);
    EXPECT_EQ(line->folder, "/tmp/d");

    line = ParseCommandLine({"--folder", "x", "--help"}, error);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->mode, CommandLine::Mode::Help);

    line = ParseCommandLine({"ctl", "north", "trigger", "on"}, error);
    ASSERT_TRUE(line) << error;
    EXPECT_EQ(line->mode, CommandLine::Mode::Control);
    EXPECT_EQ(line->controlName, "north");
    EXPECT_EQ(line->controlCommand, "trigger on");

    line = ParseCommandLine({"--demo", "--version"}, error);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->mode, CommandLine::Mode::Version);
}

TEST(CommandLine, BadArguments_AreRefusedWithTheReason)
{
    struct Case {
        std::vector<std::string> args;
        const char* reason;
    };
    const Case cases[] = {
        {{"--headless", "--sensor-file", "s", "--folder", "f"}, "--gps-port"},
        {{"--headless", "--gps-port", "g", "--folder", "f"}, "--sensor-file"},
        {{"--headless", "--gps-port", "g", "--sensor-file", "s"}, "--folder"},
        {With(kHeadless, {"--mode", "zigzag"}), "zigzag"},
        {With(kHeadless, {"--trigger", "maybe"}), "maybe"},
        {With(kHeadless, {"--rule", "early"}), "early"},
        {With(kHeadless, {"--receiver-delay", "-5"}), "--receiver-delay must be whole milliseconds from 0 to 2000"},
        {With(kHeadless, {"--receiver-delay", "2001"}), "\"2001\""},
        {With(kHeadless, {"--receiver-delay", "60ms"}), "\"60ms\""},
        {With(kHeadless, {"--gps-port"}), "--gps-port needs a value"},
        {{"--headless", "--gps-port", "--folder", "f"}, "--gps-port needs a value"},
        {With(kHeadless, {"--vehicle-type"}), "--vehicle-type needs a value"},
        {With(kHeadless, {"--verbose"}), "--verbose"},
        {{"--demo", "--laps", "-1"}, "--laps must be a whole number"},
        {{"--demo", "--laps", "2x"}, "\"2x\""},
        {{"--demo", "--laps", ""}, "--laps must be a whole number"},
        {{"--demo", "--base-port", "/dev/ttyUSB1"}, "--base-port cannot be used with --demo"},
        {{"--sensor-file", "s.txt", "--demo"}, "--sensor-file cannot be used with --demo"},
        {With(kHeadless, {"--name", "a/b"}), "--name must be a run name"},
        {{"--name", "north"}, "--name is for --headless"},
        {{"ctl", "north"}, "ctl needs the name of a run and a command"},
        {{"ctl", "../north", "status"}, "\"../north\" is no run name"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseCommandLine(c.args, error)) << c.reason;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

TEST(CommandLine, Usage_ExplainsEveryOption)
{
    const std::string usage = UsageText();
    for (const char* option : {"--headless", "--gps-port", "--base-port", "--sensor-file", "--folder", "--mode",
                               "--vehicle-type", "--trigger", "--rule", "--receiver-delay", "--demo", "--laps", "--screenshot", "--help",
                               "--version", "--name", "--config", "ostrim ctl"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
}

// The rescue folder's Windows path in the source once held a carriage return for its "\r", which
// the compiler read as a line end: the help printed "\Ostrim" and "escue\<start>" on two lines.
TEST(CommandLine, UsageTexts_NameTheRescueFolderWhole)
{
    EXPECT_NE(UsageText().find("$XDG_STATE_HOME/ostrim/rescue/<start>"), std::string::npos);
    EXPECT_NE(ConsoleUsageText().find("%LOCALAPPDATA%\\Ostrim\\rescue\\<start>"), std::string::npos);
}

// ostrim-cli --help: every option of the headless run that the console program takes, and the
// keys that stand in for the signals.
TEST(CommandLine, ConsoleUsage_ExplainsEveryHeadlessOptionAndTheKeys)
{
    // --name names a run for the control socket, which Windows has not.
    const std::set<std::string> notInConsole{"--headless", "--demo", "--laps", "--screenshot", "--name"};
    const std::string console = ConsoleUsageText();
    std::istringstream usage(UsageText());
    int options = 0;
    for (std::string line; std::getline(usage, line);) {
        if (line.rfind("  --", 0) != 0)
            continue;
        const std::string option = line.substr(2, line.find(' ', 2) - 2);
        if (notInConsole.count(option) != 0)
            continue;
        ++options;
        EXPECT_NE(console.find("\n  " + option + " "), std::string::npos) << option;
    }
    EXPECT_GE(options, 10);
    for (const char* key : {"\n  T ", "\n  L ", "\n  Q or Ctrl-C "})
        EXPECT_NE(console.find(key), std::string::npos) << key;
}

} // namespace
} // namespace ostrim
