// The GPS receiver misbehaving during a run: unplugged, sending noise at a wrong baud rate,
// sending sentences too long to be real. The run goes on, the operator is told, and every
// valid sentence that reached the program is in both logs.

#include "tests/support/SessionRig.h"

#include <gtest/gtest.h>

#include <random>

namespace ostrim {
namespace {

using namespace std::chrono_literals;
using test::LogsHoldExactly;
using test::Road;
using test::SessionRig;

constexpr char kDisconnected[] = "GPS receiver disconnected";
constexpr char kTooLong[] = "Line from GPS receiver too long";

std::vector<std::string> Prefix(const std::vector<std::string>& all, std::size_t count)
{
    return {all.begin(), all.begin() + static_cast<long>(std::min(count, all.size()))};
}

long MsToRun(const std::function<void()>& step)
{
    auto start = std::chrono::steady_clock::now();
    step();
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}

TEST(ReceiverFaults, UnpluggedMidRun_OperatorToldStopFastAndEverySentenceReadIsLogged)
{
    SessionRig rig;
    ASSERT_EQ(rig.Start(), RunControl::StartOutcome::Running);
    const std::vector<std::string> sentences = Road::Sentences(0, 400, 0.7);
    rig.Play(sentences, 50);
    ASSERT_TRUE(test::WaitFor([&] { return rig.gps.SentencesSent() >= 25; }, 5s));

    rig.gps.Stop();
    const std::size_t sent = rig.gps.SentencesSent();
    ASSERT_TRUE(test::WaitFor([&] { return rig.fields.Status() == kDisconnected; }, 2s))
        << "status: " << rig.fields.Status();
    EXPECT_EQ(rig.disconnects.load(), 1);
    EXPECT_LT(MsToRun([&] { rig.StopRun(); }), 1000);

    // The kernel discards what is still in the port when the line hangs up, so only a sentence
    // on its way at that instant may be missing; nothing before it, and nothing torn.
    const std::size_t logged = rig.RawLogLines();
    EXPECT_GE(logged + 1, sent);
    EXPECT_LE(logged, sent);
    EXPECT_TRUE(LogsHoldExactly(rig.RawLog(), rig.GpsLogLines(), Prefix(sentences, logged)));
}

TEST(ReceiverFaults, UnpluggedWhileANodeSwitches_NodeSwitchedOffAndDisconnectionShownLast)
{
    SessionRig rig({30.0});
    ASSERT_TRUE(rig.PlugBaseStation());
    ASSERT_EQ(rig.Start(), RunControl::StartOutcome::Running);
    const std::vector<std::string> sentences = Road::Sentences(0, 400, 0.7);
    rig.Play(sentences, 50);
    // The "on" frame has come: the reader is in the node's 100 ms pulse.
    ASSERT_TRUE(test::WaitFor([&] { return !rig.Base().Commands().empty(); }, 5s));
    const std::size_t loggedBeforeFiring = rig.RawLogLines();
    rig.gps.Stop();

    ASSERT_TRUE(test::WaitFor([&] { return rig.fields.Status() == kDisconnected; }, 2s))
        << "status: " << rig.fields.Status();
    EXPECT_LT(MsToRun([&] { rig.StopRun(); }), 1000);
    ASSERT_TRUE(test::WaitFor([&] { return rig.Base().Commands().size() == 2; }, 1s));
    const auto commands = rig.Base().Commands();
    EXPECT_TRUE(commands[0].on && !commands[1].on);
    EXPECT_EQ(commands[1].nodeId, Road::NodeId(0));
    EXPECT_EQ(rig.fields.Status(), kDisconnected) << "the disconnection must not be covered";

    // The only sensor fired, so the re-arm timer runs; its text must not hide the disconnection
    // from an operator who looks later.
    rig.GetSession().Engine().OnTimer(kAllTriggeredTimer);
    EXPECT_TRUE(rig.StatusSeen("All sensors triggered"));
    EXPECT_EQ(rig.fields.Status(), kDisconnected);

    const std::size_t logged = rig.RawLogLines();
    EXPECT_GE(logged, loggedBeforeFiring);
    EXPECT_TRUE(LogsHoldExactly(rig.RawLog(), rig.GpsLogLines(), Prefix(sentences, logged)));
}

// Bad lines between good sentences; `dropped` of them run past the longest sentence allowed.
struct BadStream {
    const char* name;
    std::vector<std::string> (*badLines)(std::size_t* dropped);
};

void PrintTo(const BadStream& stream, std::ostream* out)
{
    *out << stream.name;
}

// A receiver set to another baud rate: bytes of every value, some runs short enough to be taken
// as lines (and rejected), most too long. No line feed inside a run, as none ends it on the wire
// either; the run's own line feed marks where the receiver was set right.
std::vector<std::string> WrongBaudNoise(std::size_t* dropped)
{
    std::mt19937 random(20240501);
    std::uniform_int_distribution<int> byte(1, 255);
    std::vector<std::string> lines;
    *dropped = 0;
    for (int length : {40, 300, 1200, 3, 256, 700, 180, 4000}) {
        std::string line;
        while (static_cast<int>(line.size()) < length) {
            char c = static_cast<char>(byte(random));
            if (c == '\n' || (line.empty() && c == '#')) // '#' starts a comment for the player
                continue;
            line += c;
        }
        lines.push_back(line + '\n');
        if (line.size() > GpsInput::kMaxSentence)
            ++*dropped;
    }
    return lines;
}

// Well-formed $GPGGA sentences with a valid checksum, padded in the last field to 300
// characters: no receiver sends them, so each is dropped whole.
std::vector<std::string> LongSentences(std::size_t* dropped)
{
    std::vector<std::string> lines;
    for (const std::string& s : Road::Sentences(1000, 4, 0.7)) {
        std::string body = s.substr(1, s.find('*') - 1);
        body += std::string(300 - body.size() - 6, '0');
        lines.push_back("$" + body + "*" + sim::NmeaChecksum(body) + "\r\n");
        EXPECT_EQ(lines.back().size(), 300u);
    }
    *dropped = lines.size();
    return lines;
}

class BadLines : public ::testing::TestWithParam<BadStream> {};

TEST_P(BadLines, BetweenValidSentences_DroppedLinesReportedValidOnesAllLogged)
{
    std::size_t dropped = 0;
    const std::vector<std::string> bad = GetParam().badLines(&dropped);
    const std::vector<std::string> good = Road::Sentences(0, 3 * static_cast<int>(bad.size()), 0.7);
    std::vector<std::string> stream;
    for (std::size_t i = 0; i < bad.size(); ++i) {
        stream.insert(stream.end(), good.begin() + 3 * i, good.begin() + 3 * i + 2);
        stream.push_back(bad[i]);
        stream.push_back(good[3 * i + 2]);
    }

    SessionRig rig;
    ASSERT_EQ(rig.Start(), RunControl::StartOutcome::Running);
    rig.Play(stream, 200);
    ASSERT_TRUE(rig.PlayedAll(10s));
    ASSERT_TRUE(rig.LogsReach(good.size(), 3s)) << rig.RawLogLines() << " lines logged";
    rig.StopRun();

    EXPECT_TRUE(LogsHoldExactly(rig.RawLog(), rig.GpsLogLines(), good));
    EXPECT_EQ(rig.GetSession().Input().DroppedLines(), dropped);
    const auto history = rig.fields.StatusHistory();
    EXPECT_EQ(static_cast<std::size_t>(std::count(history.begin(), history.end(), kTooLong)),
              dropped);
    EXPECT_EQ(rig.disconnects.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(ReceiverFaults, BadLines,
                         ::testing::Values(BadStream{"WrongBaudRate", WrongBaudNoise},
                                           BadStream{"Sentences300Long", LongSentences}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace ostrim
