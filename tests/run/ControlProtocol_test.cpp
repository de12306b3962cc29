#include "run/ControlProtocol.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace ostrim {
namespace {

TEST(ControlProtocol, RequestLines_AreCommandsOrClearErrors)
{
    struct Case {
        std::string line;
        std::optional<ControlVerb> verb;
        std::string error; // a part of the reason, for a refused line; empty for a command
    };
    const Case cases[] = {
        {"status", ControlVerb::Status, ""},
        {"status\r\n", ControlVerb::Status, ""},
        {" \ttrigger   on ", ControlVerb::TriggerOn, ""},
        {"trigger off\n", ControlVerb::TriggerOff, ""},
        {"lap", ControlVerb::Lap, ""},
        {"reload-sensors", ControlVerb::ReloadSensors, ""},
        {"", std::nullopt, "no command given; the commands are: status, trigger on"},
        {"trigger", std::nullopt, "\"trigger\" needs on or off"},
        {"trigger toggle", std::nullopt, "takes on or off, not \"toggle\""},
        {"trigger on off", std::nullopt, "on or off alone"},
        {"status now", std::nullopt, "\"status\" takes no argument, not \"now\""},
        {"STATUS", std::nullopt, "unknown command \"STATUS\""},
        {"shutdown -h", std::nullopt, "unknown command \"shutdown\""},
        // A client's bytes come back escaped and cut, never raw into a terminal or the journal.
        {std::string("st\0tus", 6), std::nullopt, "not text: \"st\\x00tus\""},
        {"status\x1b[2J", std::nullopt, "\"status\\x1B[2J\""},
        {std::string(300, 'x'), std::nullopt, "longer than 255 characters"},
        {"x" + std::string(100, 'y'), std::nullopt, "\"x" + std::string(39, 'y') + "...\""},
    };
    for (const Case& c : cases) {
        const ControlCommand command = ParseControlCommand(c.line);
        const std::string shown = PrintableText(c.line, 60);
        EXPECT_EQ(command.verb, c.verb) << shown;
        if (c.error.empty()) {
            EXPECT_EQ(command.error, "") << shown;
            continue;
        }
        EXPECT_NE(command.error.find(c.error), std::string::npos) << shown << ": " << command.error;
        // The error goes out as one line of a reply, and comes back whole.
        const std::optional<ControlReply> reply = ParseControlReply(ControlError(command.error));
        ASSERT_TRUE(reply) << shown;
        EXPECT_FALSE(reply->ok);
        EXPECT_EQ(reply->text, command.error);
    }
}

TEST(ControlProtocol, Replies_ReadBackAsWritten)
{
    std::optional<ControlReply> reply = ParseControlReply(ControlOk("Fixes logged    3\nSensors 0"));
    ASSERT_TRUE(reply);
    EXPECT_TRUE(reply->ok);
    EXPECT_EQ(reply->text, "Fixes logged    3\nSensors 0\n");
    reply = ParseControlReply(ControlOk(""));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->text, "");
    // A reason of several lines (a message box's text) stays the one line of an error.
    reply = ParseControlReply(ControlError("Error opening sensor file\nNo such file"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->text, "Error opening sensor file No such file");
    // Half a reply (a run that died while answering), or something else on the socket.
    EXPECT_FALSE(ParseControlReply("ok"));
    EXPECT_FALSE(ParseControlReply(""));
    EXPECT_FALSE(ParseControlReply("HTTP/1.1 200 OK\r\n"));
}

TEST(ControlProtocol, RunNamesAndSocketPaths)
{
    for (const std::string& good : {std::string("north"), std::string("a"), std::string("lap-2_b.c"),
                                    std::string("x@y:z"), std::string(64, 'n')})
        EXPECT_TRUE(IsValidRunName(good)) << good;
    for (const std::string& bad : {std::string(), std::string(65, 'n'), std::string(".hidden"),
                                   std::string("../etc"), std::string("a/b"), std::string("a b"),
                                   std::string("n\xc3\xa4me"), std::string("a\\x2db")})
        EXPECT_FALSE(IsValidRunName(bad)) << bad;

    EXPECT_EQ(ControlSocketPath("north", "/run/ostrim", "/run/user/1000"), "/run/ostrim/north.sock");
    EXPECT_EQ(ControlSocketPath("north", "/run/ostrim:/run/other", ""), "/run/ostrim/north.sock");
    EXPECT_EQ(ControlSocketPath("north", "", "/run/user/1000"), "/run/user/1000/ostrim/north.sock");
    EXPECT_EQ(ControlSocketPath("north", "", ""), "/run/ostrim/north.sock");
    EXPECT_EQ(ControlSocketCandidates("north", "/run/user/1000"),
              (std::vector<std::string>{"/run/user/1000/ostrim/north.sock", "/run/ostrim/north.sock"}));
    EXPECT_EQ(ControlSocketCandidates("north", ""), std::vector<std::string>{"/run/ostrim/north.sock"});
}

} // namespace
} // namespace ostrim
