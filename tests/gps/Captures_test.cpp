// Real receiver output, fed one byte at a time exactly as it stands in each capture file.

#include "gps/GgaParser.h"

#include "tests/support/FakeDialogFields.h"
#include "tests/support/RecordingPositionConsumer.h"
#include "tests/support/ScopedTimeZone.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace ostrim {
namespace {

using test::FakeDialogFields;
using test::ReadFile;
using test::RecordingPositionConsumer;
using test::ScopedTimeZone;
using test::ScratchFolder;

constexpr std::time_t k7Dec2026Noon = 1796644800; // 2026-12-07 12:00:00 UTC

constexpr char kChecksum[] = "Checksum error in GGA string";
constexpr char kNotGga[] = "$GPGGA missing in GGA string";

struct Capture {
    const char* file;
    std::size_t accepted;
    std::map<std::string, std::size_t> rejected; // status text -> sentences
    // Lines (numbered from 1 in the file) that begin with $GPGGA or $GNGGA and are rejected all
    // the same; every other such line is accepted.
    std::set<int> ggaLinesRejected;
    const char* firstRecord;
    const char* lastRecord;
};

// The figures were worked out once by hand with a separate script over the same files: lines
// starting with '#' left out, NULs skipped, every LF ending a sentence; then the checksum, the
// sentence type and the required fields checked in that order. They agree with the captures'
// README (21 no-fix sentences in rx210, 6 GGA with wrong checksums in the cold boot).
const Capture kCaptures[] = {
    // 6 $GNGGA and 7 $GPGGA, no-fix ones included (they carry a position, with quality 0, so
    // they are logged but never reach the trigger engine); the $GLGGA and the other types are
    // rejected.
    {"ch-4711.log", 13, {{kNotGga, 62}}, {},
     "Test car,12/07/2026,13,56,51.99,55.717213,N,37.411997,E,165.6M\r\n",
     "Test car,12/07/2026,13,57,04.99,55.717190,N,37.412023,E,165.6M\r\n"},
    // 2 good fixes before the restart. Lines 48, 52, 73, 81, 93, 96 have wrong or mangled
    // checksums; 86 and 105 to 150 (every 9th) are no-fix sentences with an empty altitude.
    // The other 37 checksum errors are merged and cut sentences of other types.
    {"gp-320fw-2019-04-07-coldboot.log", 2,
     {{kNotGga, 82}, {kChecksum, 43}, {"No height in GGA string", 7}},
     {48, 52, 73, 81, 86, 93, 96, 105, 114, 123, 132, 141, 150},
     "Test car,12/07/2026,00,03,43.03,48.149988,N,11.584663,E,00460.0M\r\n",
     "Test car,12/07/2026,00,03,45.03,48.149988,N,11.584663,E,00459.9M\r\n"},
    // 50 $GNGGA and 72 $GPGGA, all accepted; the 122 $GNRMC/$GPRMC rejected.
    {"nmea-rtk.log", 122, {{kNotGga, 122}}, {},
     "Test car,12/07/2026,13,28,19.60,41.574966,N,93.750572,W,278.161M\r\n",
     "Test car,12/07/2026,13,39,01.50,41.575030,N,93.750598,W,280.829M\r\n"},
    // LF-only line ends; 150 $GNGGA among 2280 sentences.
    {"quectel-l76k-nmea.log", 150, {{kNotGga, 2130}}, {},
     "Test car,12/07/2026,05,52,34.20,47.661982,N,122.326394,W,76.5M\r\n",
     "Test car,12/07/2026,05,53,04.00,47.661978,N,122.326392,W,76.5M\r\n"},
    // 61 $GNGGA: the first 21 have no fix and an empty latitude.
    {"rx210.log", 40, {{kNotGga, 99}, {"No latitude in GGA string", 21}},
     {10, 14, 16, 23, 25, 27, 31, 33, 35, 37, 39, 43, 45, 47, 49, 51, 55, 57, 59, 61, 63},
     "Test car,12/07/2026,18,41,02.00,50.002386,N,8.643953,E,159.6M\r\n",
     "Test car,12/07/2026,18,41,41.00,50.002363,N,8.643959,E,131.7M\r\n"},
    // CR CR LF line ends; 10 $GPGGA accepted, the 10 $GAGGA of the same epochs rejected.
    {"telit-pls83-w.log", 10, {{kNotGga, 215}}, {},
     "Test car,12/07/2026,04,35,39.00,43.553170,N,1.460306,E,250.8M\r\n",
     "Test car,12/07/2026,04,35,48.00,43.553169,N,1.460306,E,250.7M\r\n"},
};

// Accepted fixes of quality 0: the receiver says it has no position.
std::size_t NoPositionFixes(const std::string& file)
{
    return file == "ch-4711.log" ? 7 : 0;
}

bool StartsWithGga(const std::string& line)
{
    if (line.size() < 6)
        return false;
    std::string start = line.substr(0, 6);
    for (char& c : start)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return start == "$GPGGA" || start == "$GNGGA";
}

std::vector<std::string> LogLines(const std::string& log)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t lf; (lf = log.find('\n', start)) != std::string::npos; start = lf + 1)
        lines.push_back(log.substr(start, lf + 1 - start));
    return lines;
}

TEST(Captures, EachCapture_AcceptedRejectedAndLoggedAsTheRulesSay)
{
    ScopedTimeZone zone("UTC0");
    for (const Capture& capture : kCaptures) {
        SCOPED_TRACE(capture.file);
        const std::string bytes = ReadFile(std::string(OSTRIM_TEST_DATA_DIR "/nmea-captures/") + capture.file);
        ASSERT_FALSE(bytes.empty()) << "capture missing";

        ScratchFolder dir;
        RunState state;
        state.logPaths.SetGps(dir / "gps.txt");
        state.logPaths.SetRaw(dir / "raw.txt");
        FakeDialogFields fields;
        fields.SetText(Field::VehicleType, "Test car");
        GpsLogs logs(state.logPaths);
        RecordingPositionConsumer engine;
        GpsInput input(state, fields, logs, engine, [] { return k7Dec2026Noon; });

        std::string expectedRaw;
        int lineNumber = 0;
        for (std::size_t start = 0; start < bytes.size(); ++lineNumber) {
            std::size_t lf = bytes.find('\n', start);
            std::size_t end = lf == std::string::npos ? bytes.size() : lf + 1;
            std::string line = bytes.substr(start, end - start);
            start = end;
            if (line[0] == '#')
                continue;
            for (char c : line)
                input.AssembleSentence(1, &c);
            if (StartsWithGga(line) && capture.ggaLinesRejected.count(lineNumber + 1) == 0)
                expectedRaw += line;
        }

        EXPECT_EQ(input.Accepted(), capture.accepted);
        EXPECT_EQ(engine.Count(), capture.accepted - NoPositionFixes(capture.file));
        std::map<std::string, std::size_t> rejected;
        for (const std::string& text : fields.StatusHistory()) {
            if (text != kNoPositionText && text != kPositionAgainText)
                ++rejected[text];
        }
        EXPECT_EQ(rejected, capture.rejected);
        EXPECT_EQ(input.DroppedLines(), 0u);

        EXPECT_TRUE(ReadFile(dir / "raw.txt") == expectedRaw) << "raw log differs";
        std::vector<std::string> records = LogLines(ReadFile(dir / "gps.txt"));
        ASSERT_EQ(records.size(), capture.accepted);
        EXPECT_EQ(records.front(), capture.firstRecord);
        EXPECT_EQ(records.back(), capture.lastRecord);
        for (const std::string& record : records) {
            EXPECT_EQ(record.substr(record.size() - 2), "\r\n") << record;
            EXPECT_EQ(std::count(record.begin(), record.end(), ','), 9) << record;
        }
    }
}

} // namespace
} // namespace ostrim
