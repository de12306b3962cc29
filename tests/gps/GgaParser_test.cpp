#include "gps/GgaParser.h"

#include "tests/support/CommaDecimalLocale.h"
#include "tests/support/FakeDialogFields.h"
#include "tests/support/RecordingPositionConsumer.h"
#include "tests/support/ScopedTimeZone.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <vector>

namespace ostrim {
namespace {

using test::FakeDialogFields;
using test::ReadFile;
using test::RecordingPositionConsumer;
using test::ScopedTimeZone;
using test::ScratchFolder;

constexpr std::time_t k7Dec2026Noon = 1796644800; // 2026-12-07 12:00:00 UTC

constexpr char kExample[] = "$GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*69\r\n";
constexpr char kExampleRecord[] =
    "Dunrel 80k truck,12/07/2026,12,35,19.00,48.117300,N,11.516667,E,545.4M\n";

std::string Quoted(const std::string& text) { return ::testing::PrintToString(text); }

// One GpsInput with everything it talks to; logs go to a fresh folder.
struct Rig {
    Rig()
    {
        state.logPaths.SetGps(dir / "gps.txt");
        state.logPaths.SetRaw(dir / "raw.txt");
        fields.SetText(Field::VehicleType, "Dunrel 80k truck");
    }
    void Feed(std::string_view bytes)
    {
        for (char c : bytes)
            input.AssembleSentence(1, &c);
    }
    std::string GpsLog() const { return ReadFile(dir / "gps.txt"); }
    std::string RawLog() const { return ReadFile(dir / "raw.txt"); }
    std::string Box(Field field) const { return fields.GetText(field); }

    ScratchFolder dir;
    RunState state;
    FakeDialogFields fields;
    GpsLogs logs{state.logPaths};
    RecordingPositionConsumer engine;
    GpsInput input{state, fields, logs, engine, [] { return k7Dec2026Noon; }};
};

// CR LF in the GPS log, as the file holds it.
std::string AsLogLine(std::string record)
{
    record.insert(record.size() - 1, "\r");
    return record;
}

struct AcceptedCase {
    const char* sentence;
    const char* time;
    const char* latitude;
    const char* latitudeHemisphere;
    const char* longitude;
    const char* longitudeHemisphere;
    const char* height;
    const char* record;
};

TEST(ParseGga, AcceptedSentences_ShownLoggedAndTriggered)
{
    ScopedTimeZone zone("UTC0");
    const AcceptedCase cases[] = {
        {kExample, "12:35:19", "4807.038", "N", "01131.000", "E", "545.4M", kExampleRecord},
        {"$GPGGA,123519.00,4807.038,S,01131.000,W,1,08,0.9,545.4,M,46.9,M,,*66\r\n", "12:35:19",
         "4807.038", "S", "01131.000", "W", "545.4M",
         "Dunrel 80k truck,12/07/2026,12,35,19.00,48.117300,S,11.516667,W,545.4M\n"},
        {"$gpgga,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*49\r\n", "12:35:19",
         "4807.038", "N", "01131.000", "E", "545.4M", kExampleRecord},
        {"$GNGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*77\r\n", "12:35:19",
         "4807.038", "N", "01131.000", "E", "545.4M", kExampleRecord},
        {"$gngga,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*57\r\n", "12:35:19",
         "4807.038", "N", "01131.000", "E", "545.4M", kExampleRecord},
        // Time without a fraction, and with more than nine characters.
        {"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n", "12:35:19",
         "4807.038", "N", "01131.000", "E", "545.4M",
         "Dunrel 80k truck,12/07/2026,12,35,19,48.117300,N,11.516667,E,545.4M\n"},
        {"$GPGGA,123519.000,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*59\r\n", "12:35:19",
         "4807.038", "N", "01131.000", "E", "545.4M", kExampleRecord},
        // No checksum at all.
        {"$GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,\r\n", "12:35:19",
         "4807.038", "N", "01131.000", "E", "545.4M", kExampleRecord},
        // Fields 7 to 9 empty (not looked at); checksum in lower-case hex.
        {"$GPGGA,123519.00,4807.038,N,01131.000,E,,,,545.4,M,,,,*2f\r\n", "12:35:19", "4807.038",
         "N", "01131.000", "E", "545.4M", kExampleRecord},
        // LF-only line end.
        {"$GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*69\n", "12:35:19",
         "4807.038", "N", "01131.000", "E", "545.4M", kExampleRecord},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Quoted(c.sentence));
        Rig rig;
        EXPECT_EQ(rig.input.ParseGga(c.sentence), 0);
        EXPECT_EQ(rig.Box(Field::Time), c.time);
        EXPECT_EQ(rig.Box(Field::Latitude), c.latitude);
        EXPECT_EQ(rig.Box(Field::LatitudeHemisphere), c.latitudeHemisphere);
        EXPECT_EQ(rig.Box(Field::Longitude), c.longitude);
        EXPECT_EQ(rig.Box(Field::LongitudeHemisphere), c.longitudeHemisphere);
        EXPECT_EQ(rig.Box(Field::Height), c.height);
        EXPECT_TRUE(rig.fields.StatusHistory().empty());
        EXPECT_EQ(rig.GpsLog(), AsLogLine(c.record));
        EXPECT_EQ(rig.RawLog(), c.sentence);
        ASSERT_EQ(rig.engine.Count(), 1u);
        EXPECT_NEAR(rig.engine.Positions()[0].first, 48.1173, 1e-12);
        EXPECT_NEAR(rig.engine.Positions()[0].second, 11.0 + 31.0 / 60.0, 1e-12);
    }
}

struct RejectedCase {
    const char* sentence;
    const char* status;
    // The boxes as the rejection leaves them in a fresh dialog: set up to the missing field.
    const char* time;
    const char* latitude;
    const char* latitudeHemisphere;
    const char* longitude;
    const char* longitudeHemisphere;
    const char* height;
};

TEST(ParseGga, RejectedSentences_StatusTextAndNothingLogged)
{
    constexpr char kChecksum[] = "Checksum error in GGA string";
    constexpr char kEmpty[] = "Empty string from GPS receiver";
    constexpr char kNotGga[] = "$GPGGA missing in GGA string";
    ScopedTimeZone zone("UTC0");
    const RejectedCase cases[] = {
        {"$GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*68\r\n", kChecksum,
         "", "", "", "", "", ""},
        {"$GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*6\r\n", kChecksum,
         "", "", "", "", "", ""},
        {"$GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*6G\r\n", kChecksum,
         "", "", "", "", "", ""},
        {"$GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*690\r\n", kChecksum,
         "", "", "", "", "", ""},
        {"$GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*\r\n", kChecksum, "",
         "", "", "", "", ""},
        // The start of the sentence was lost: nothing to check the checksum against.
        {",,,,,,,,,,,,,*1E\r\n", kChecksum, "", "", "", "", "", ""},
        // Two sentences run together.
        {"$GPGSA,A,1,,,,,,,,,,,,,,,*1E$GPRMC,235949.00,V,0000.0000,N,00000.0000,E,,,161206,,,N*44\r\n",
         kChecksum, "", "", "", "", "", ""},
        {"", kEmpty, "", "", "", "", "", ""},
        {"\n", kEmpty, "", "", "", "", "", ""},
        {"\r\n", kEmpty, "", "", "", "", "", ""},
        {",,,,,,\r\n", kEmpty, "", "", "", "", "", ""},
        {"$GPRMC,123519.00,A,4807.038,N,01131.000,E,022.4,084.4,071226,003.1,W*4B\r\n", kNotGga,
         "", "", "", "", "", ""},
        // Lower-case hex passes the check; the type is what rejects it.
        {"$GPRMC,123519.00,A,4807.038,N,01131.000,E,022.4,084.4,071226,003.1,W*4b\r\n", kNotGga,
         "", "", "", "", "", ""},
        {"$GLGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*75\r\n", kNotGga, "",
         "", "", "", "", ""},
        {"$GAGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*78\r\n", kNotGga, "",
         "", "", "", "", ""},
        {"GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,\r\n", kNotGga, "", "",
         "", "", "", ""},
        {",$GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,\r\n", kNotGga, "", "",
         "", "", "", ""},
        {"$GPGGA*56\r\n", "No time in GGA string", "", "", "", "", "", ""},
        {"$GPGGA,,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*4A\r\n",
         "No time in GGA string", "", "", "", "", "", ""},
        // A receiver without a fix: the empty latitude stops it, nothing shifts into its place.
        {"$GPGGA,123519.00,,,,,0,00,99.99,,,,,,*6B\r\n", "No latitude in GGA string", "12:35:19",
         "", "", "", "", ""},
        {"$GPGGA,123519.00,4807.038,,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*27\r\n",
         "No latitude direction in GGA string", "12:35:19", "4807.038", "", "", "", ""},
        {"$GPGGA,123519.00,4807.038,N,,E,1,08,0.9,545.4,M,46.9,M,,*45\r\n",
         "No longitude in GGA string", "12:35:19", "4807.038", "N", "", "", ""},
        {"$GPGGA,123519.00,4807.038,N,01131.000,,1,08,0.9,545.4,M,46.9,M,,*2C\r\n",
         "No longitude direction in GGA string", "12:35:19", "4807.038", "N", "01131.000", "", ""},
        // Empty altitude: the unit and geoid separation must not slide in as a height "M4".
        {"$GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,,M,46.9,M,,*47\r\n",
         "No height in GGA string", "12:35:19", "4807.038", "N", "01131.000", "E", ""},
        {"$GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,,46.9,M,,*24\r\n",
         "No height unit in GGA string", "12:35:19", "4807.038", "N", "01131.000", "E", ""},
        {"$GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4*50\r\n",
         "No height unit in GGA string", "12:35:19", "4807.038", "N", "01131.000", "E", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Quoted(c.sentence));
        Rig rig;
        EXPECT_EQ(rig.input.ParseGga(c.sentence), 1);
        EXPECT_EQ(rig.fields.StatusHistory(), std::vector<std::string>{c.status});
        EXPECT_EQ(rig.Box(Field::Time), c.time);
        EXPECT_EQ(rig.Box(Field::Latitude), c.latitude);
        EXPECT_EQ(rig.Box(Field::LatitudeHemisphere), c.latitudeHemisphere);
        EXPECT_EQ(rig.Box(Field::Longitude), c.longitude);
        EXPECT_EQ(rig.Box(Field::LongitudeHemisphere), c.longitudeHemisphere);
        EXPECT_EQ(rig.Box(Field::Height), c.height);
        EXPECT_FALSE(std::filesystem::exists(rig.dir / "gps.txt"));
        EXPECT_FALSE(std::filesystem::exists(rig.dir / "raw.txt"));
        EXPECT_EQ(rig.engine.Count(), 0u);
    }
}

TEST(ParseGga, ExampleFix_EngineGetsFullPrecisionNotPrintedDecimals)
{
    ScopedTimeZone zone("UTC0");
    Rig rig;
    rig.Feed(kExample);
    ASSERT_EQ(rig.engine.Count(), 1u);
    auto [latitude, longitude] = rig.engine.Positions()[0];
    EXPECT_DOUBLE_EQ(latitude, 48.1173);
    EXPECT_NEAR(longitude, 11.516666666666667, 1e-12);
    EXPECT_GT(std::fabs(longitude - 11.516667), 1e-7); // not the six printed decimals
}

TEST(ParseGga, TriggeringOff_ShownAndLoggedButEngineNotCalled)
{
    ScopedTimeZone zone("UTC0");
    Rig rig;
    rig.state.triggerEnabled = 0;
    rig.Feed(kExample);
    EXPECT_EQ(rig.Box(Field::Height), "545.4M");
    EXPECT_EQ(rig.GpsLog(), AsLogLine(kExampleRecord));
    EXPECT_EQ(rig.RawLog(), kExample);
    EXPECT_EQ(rig.engine.Count(), 0u);

    rig.state.triggerEnabled = 1;
    rig.Feed(kExample);
    EXPECT_EQ(rig.engine.Count(), 1u);
}

TEST(ParseGga, QualityZero_LoggedButNeverTriggersAndSaidOnce)
{
    Rig rig;
    auto fix = [](const char* quality) {
        return std::string("$GPGGA,123519.00,4807.038,N,01131.000,E,") + quality +
               ",08,0.9,545.4,M,46.9,M,,\r\n";
    };
    rig.Feed(fix("1"));
    rig.Feed(fix("0"));
    rig.Feed(fix("0"));
    rig.Feed(fix("00"));
    EXPECT_EQ(rig.engine.Count(), 1u);
    rig.Feed(fix("2"));
    rig.Feed(fix("")); // no word from the receiver: as before
    EXPECT_EQ(rig.engine.Count(), 3u);
    const std::string log = rig.GpsLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 6);
    EXPECT_EQ(rig.fields.StatusHistory(),
              (std::vector<std::string>{kNoPositionText, kPositionAgainText}));
}

TEST(ParseGga, VehicleTypeWithCommas_WrittenUnchanged)
{
    ScopedTimeZone zone("UTC0");
    Rig rig;
    rig.fields.SetText(Field::VehicleType, "Dunrel, 80k, truck");
    rig.Feed(kExample);
    EXPECT_EQ(rig.GpsLog(),
              "Dunrel, 80k, truck,12/07/2026,12,35,19.00,48.117300,N,11.516667,E,545.4M\r\n");
}

TEST(ParseGga, DateFromLocalClock_TimeFromReceiver)
{
    // 23:30 UTC on 6 December is already 7 December in UTC+2; the receiver's time stays UTC.
    ScopedTimeZone zone("EET-2");
    Rig rig;
    GpsInput input(rig.state, rig.fields, rig.logs, rig.engine, [] { return std::time_t{1796599800}; });
    input.ParseGga(kExample);
    EXPECT_EQ(rig.GpsLog(), AsLogLine(kExampleRecord));
}

TEST(ParseGga, AcceptedSentence_LeavesStatusLineAlone)
{
    ScopedTimeZone zone("UTC0");
    Rig rig;
    rig.fields.SetText(Field::Status, "Node 7 success");
    rig.Feed(kExample);
    EXPECT_EQ(rig.fields.Status(), "Node 7 success");
}

TEST(ParseGga, OtherSentenceAfterFix_ChangesOnlyTheStatusLine)
{
    ScopedTimeZone zone("UTC0");
    Rig rig;
    rig.Feed(kExample);
    rig.Feed("$GPRMC,123519.00,A,4807.038,N,01131.000,E,022.4,084.4,071226,003.1,W*4B\r\n");
    EXPECT_EQ(rig.fields.Status(), "$GPGGA missing in GGA string");
    EXPECT_EQ(rig.Box(Field::Time), "12:35:19");
    EXPECT_EQ(rig.Box(Field::Latitude), "4807.038");
    EXPECT_EQ(rig.Box(Field::Height), "545.4M");
    EXPECT_EQ(rig.RawLog(), kExample);
    EXPECT_EQ(rig.engine.Count(), 1u);
}

TEST(ParseGga, TwoFixes_TwoLogLinesAndRawEntriesAsReceived)
{
    ScopedTimeZone zone("UTC0");
    Rig rig;
    const std::string second =
        "$GPGGA,123521.00,4807.039,N,01131.001,E,1,08,0.9,545.5,M,46.9,M,,*63\r\n";
    rig.Feed(kExample);
    rig.Feed("$GPRMC,123519.00,A,4807.038,N,01131.000,E,022.4,084.4,071226,003.1,W*4B\r\n");
    rig.Feed(second);
    EXPECT_EQ(rig.GpsLog(),
              "Dunrel 80k truck,12/07/2026,12,35,19.00,48.117300,N,11.516667,E,545.4M\r\n"
              "Dunrel 80k truck,12/07/2026,12,35,21.00,48.117317,N,11.516683,E,545.5M\r\n");
    EXPECT_EQ(rig.RawLog(), kExample + second);
}

// Numbers do not follow the C locale, which a Qt front end may set to a comma-decimal one.
TEST(ParseGga, CommaDecimalLocale_PointInRecordAndPositions)
{
    test::CommaDecimalLocale german;
    if (!german.Active())
        GTEST_SKIP() << "no comma-decimal locale and localedef failed";

    ScopedTimeZone zone("UTC0");
    Rig rig;
    rig.Feed(kExample);
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(rig.GpsLog(), AsLogLine(kExampleRecord));
    ASSERT_EQ(rig.engine.Count(), 1u);
    EXPECT_DOUBLE_EQ(rig.engine.Positions()[0].first, 48.1173);
}

// Start opens the port before it names the logs; a fix in between is no failure and is kept.
TEST(ParseGga, FixBeforeLogsAreNamed_NoFailureTextAndRecordKeptForTheFirstLog)
{
    ScopedTimeZone zone("UTC0");
    Rig rig;
    rig.state.logPaths.SetGps("");
    rig.state.logPaths.SetRaw("");
    rig.fields.SetText(Field::Status, "Trigger on");
    rig.Feed(kExample);
    EXPECT_EQ(rig.fields.Status(), "Trigger on");

    rig.state.logPaths.SetGps(rig.dir / "gps.txt");
    rig.state.logPaths.SetRaw(rig.dir / "raw.txt");
    rig.Feed(kExample);
    EXPECT_EQ(rig.fields.Status(), "Trigger on");
    EXPECT_EQ(rig.GpsLog(), AsLogLine(kExampleRecord) + AsLogLine(kExampleRecord));
    EXPECT_EQ(rig.RawLog(), kExample + std::string(kExample));
}

// Windows finds no path below a file where POSIX finds no directory.
#ifdef _WIN32
constexpr char kUnderAFile[] = "No such file or directory";
#else
constexpr char kUnderAFile[] = "Not a directory";
#endif

TEST(ParseGga, LogWriteFails_StatusSaysSoOnceAndRecoveryIsAnnounced)
{
    ScopedTimeZone zone("UTC0");
    Rig rig;
    test::WriteFile(rig.dir / "file", "not a folder");
    const std::string second =
        "$GPGGA,123521.00,4807.039,N,01131.001,E,1,08,0.9,545.5,M,46.9,M,,*63\r\n";

    rig.state.logPaths.SetGps(rig.dir / "file/gps.txt");
    rig.Feed(kExample);
    EXPECT_EQ(rig.fields.Status(), std::string("GPS log write failed: ") + kUnderAFile);
    EXPECT_EQ(rig.RawLog(), kExample);
    EXPECT_EQ(rig.engine.Count(), 1u); // triggering goes on regardless

    // While the outage lasts the other texts stand.
    rig.fields.SetText(Field::Status, "Node 3 success");
    rig.Feed(kExample);
    EXPECT_EQ(rig.fields.Status(), "Node 3 success");

    rig.state.logPaths.SetRaw(rig.dir / "file/raw.txt");
    rig.Feed(kExample);
    EXPECT_EQ(rig.fields.Status(), std::string("Raw log write failed: ") + kUnderAFile);

    std::filesystem::remove(rig.dir / "file");
    std::filesystem::create_directory(rig.dir / "file");
    rig.Feed(second);
    EXPECT_EQ(rig.fields.Status(), "GPS log writing again; Raw log writing again");
    // The records held back come first, in order.
    const std::string record =
        "Dunrel 80k truck,12/07/2026,12,35,19.00,48.117300,N,11.516667,E,545.4M\r\n";
    EXPECT_EQ(test::ReadFile(rig.dir / "file/gps.txt"),
              record + record + record
                  + "Dunrel 80k truck,12/07/2026,12,35,21.00,48.117317,N,11.516683,E,545.5M\r\n");
    EXPECT_EQ(test::ReadFile(rig.dir / "file/raw.txt"), kExample + second);

    rig.fields.SetText(Field::Status, "quiet");
    rig.Feed(second);
    EXPECT_EQ(rig.fields.Status(), "quiet");
}

// --- Sentence assembly -------------------------------------------------------------------------

TEST(AssembleSentence, NulBytes_AddNothing)
{
    ScopedTimeZone zone("UTC0");
    Rig rig;
    std::string withNuls;
    for (char c : std::string(kExample)) {
        withNuls += '\0';
        withNuls += c;
    }
    rig.Feed(withNuls);
    EXPECT_EQ(rig.engine.Count(), 1u);
    EXPECT_EQ(rig.RawLog(), kExample);
}

TEST(AssembleSentence, DeliveredInChunksOfAnySize_EverySentenceParsed)
{
    ScopedTimeZone zone("UTC0");
    const std::string stream = std::string("\0$GPGSV,1\r\n", 11) + kExample
        + "$GPRMC,123519.00,A,4807.038,N,01131.000,E,022.4,084.4,071226,003.1,W*4B\r\n" + kExample;
    for (std::size_t chunk : {1u, 2u, 3u, 7u, 64u, 1000u}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        Rig rig;
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            std::size_t n = std::min(chunk, stream.size() - at);
            rig.input.AssembleSentence(static_cast<int>(n), stream.data() + at);
        }
        EXPECT_EQ(rig.engine.Count(), 2u);
        EXPECT_EQ(rig.RawLog(), kExample + std::string(kExample));
        EXPECT_EQ(rig.fields.StatusHistory(),
                  (std::vector<std::string>{"$GPGGA missing in GGA string",
                                            "$GPGGA missing in GGA string"}));
    }
}

TEST(AssembleSentence, NothingDelivered_Ignored)
{
    Rig rig;
    rig.input.AssembleSentence(0, "\n");
    rig.input.AssembleSentence(-1, "\n");
    rig.input.AssembleSentence(1, nullptr);
    EXPECT_TRUE(rig.fields.StatusHistory().empty());
}

TEST(AssembleSentence, LineLengthBoundary_255KeptAnd256Dropped)
{
    ScopedTimeZone zone("UTC0");
    // A valid GGA sentence without checksum, padded in field 15 (not looked at) to the length.
    const std::string base = "$GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,";
    auto lineOf = [&](std::size_t length) {
        return base + std::string(length - base.size() - 1, 'x') + "\r";
    };

    Rig kept;
    std::string line = lineOf(255);
    ASSERT_EQ(line.size(), 255u);
    kept.Feed(line + "\n");
    EXPECT_EQ(kept.engine.Count(), 1u);
    EXPECT_EQ(kept.RawLog(), line + "\n");
    EXPECT_EQ(kept.input.DroppedLines(), 0u);
    EXPECT_TRUE(kept.fields.StatusHistory().empty());

    Rig dropped;
    line = lineOf(256);
    ASSERT_EQ(line.size(), 256u);
    dropped.Feed(line + "\n");
    EXPECT_EQ(dropped.engine.Count(), 0u);
    EXPECT_EQ(dropped.input.DroppedLines(), 1u);
    EXPECT_EQ(dropped.fields.StatusHistory(),
              std::vector<std::string>{"Line from GPS receiver too long"});
    EXPECT_EQ(dropped.Box(Field::Time), "");
    EXPECT_EQ(dropped.RawLog(), "");

    // The next line starts clean.
    dropped.Feed(kExample);
    EXPECT_EQ(dropped.engine.Count(), 1u);
    EXPECT_EQ(dropped.RawLog(), kExample);
}

TEST(AssembleSentence, OverlongLine_DroppedWholeUpToItsLineFeed)
{
    ScopedTimeZone zone("UTC0");
    Rig rig;
    // A sentence that arrives after 300 characters of noise on the same line is part of that line.
    rig.Feed(std::string(300, '#') + kExample);
    EXPECT_EQ(rig.input.DroppedLines(), 1u);
    EXPECT_EQ(rig.engine.Count(), 0u);
    rig.Feed(std::string(10000, 'y') + "\n" + kExample);
    EXPECT_EQ(rig.input.DroppedLines(), 2u);
    EXPECT_EQ(rig.engine.Count(), 1u);
    EXPECT_EQ(rig.RawLog(), kExample);
    EXPECT_EQ(rig.fields.StatusHistory(),
              (std::vector<std::string>{"Line from GPS receiver too long",
                                        "Line from GPS receiver too long"}));
}

TEST(AssembleSentence, BinaryNoise_ThenValidSentenceStillAccepted)
{
    ScopedTimeZone zone("UTC0");
    for (unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Rig rig;
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> byte(0, 255);
        std::string noise;
        for (int i = 0; i < 200000; ++i)
            noise += static_cast<char>(byte(random));

        // Lines of the noise longer than 255 characters once NULs are left out.
        std::size_t longLines = 0;
        std::size_t run = 0;
        for (char c : noise) {
            if (c == '\n') {
                run = 0;
            } else if (c != '\0' && ++run == 256) {
                ++longLines;
            }
        }
        ASSERT_GT(longLines, 0u);

        rig.Feed(noise);
        EXPECT_EQ(rig.input.DroppedLines(), longLines);
        rig.Feed("\n");
        rig.Feed(kExample);
        ASSERT_GE(rig.engine.Count(), 1u);
        EXPECT_NEAR(rig.engine.Positions().back().first, 48.1173, 1e-12);
        std::string raw = rig.RawLog();
        ASSERT_GE(raw.size(), std::strlen(kExample));
        EXPECT_EQ(raw.substr(raw.size() - std::strlen(kExample)), kExample);
    }
}

// --- NmeaToDegrees and the record --------------------------------------------------------------

TEST(NmeaToDegrees, Table)
{
    const struct {
        const char* text;
        double degrees;
    } cases[] = {
        {"4807.038", 48.1173},
        {"01131.000", 11.0 + 31.0 / 60.0},
        {"09345.03431408", 93.0 + 45.03431408 / 60.0},
        {"0000.0000", 0.0},
        {"9000", 90.0},
        {"18000.0", 180.0},
        {"  4807.038", 48.1173},
        {"+4807.038", 48.1173},
        {"4807.038xyz", 48.1173},
        {"4807.038*69\r\n", 48.1173},
        {".5", 0.5 / 60.0},
        {"1e3", 10.0},
        {"", 0.0},
        {"N", 0.0},
        {"-", 0.0},
        {".", 0.0},
        {"+-4807", 0.0},
        {"inf", 0.0},
        {"nan", 0.0},
        {"0x1A", 0.0},
        {"1e400", 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Quoted(c.text));
        EXPECT_NEAR(NmeaToDegrees(c.text), c.degrees, 1e-12);
    }
}

GpsFix ExampleFix()
{
    GpsFix fix;
    fix.date = "12/07/2026";
    fix.csvTime = "12,35,19.00";
    fix.latitude = 48.1173;
    fix.latitudeHemisphere = 'N';
    fix.longitude = 11.0 + 31.0 / 60.0;
    fix.longitudeHemisphere = 'E';
    fix.heightText = "545.4M";
    return fix;
}

TEST(MakeGpsLogRecord, LongVehicleType_CutSoOtherColumnsStay)
{
    const std::string tail = ",12/07/2026,12,35,19.00,48.117300,N,11.516667,E,545.4M\n";
    const std::size_t fits = kMaxRecord - tail.size();
    for (std::size_t length : {fits - 1, fits, fits + 1, std::size_t{1000}}) {
        SCOPED_TRACE("vehicle type of " + std::to_string(length));
        std::string vehicle;
        for (std::size_t i = 0; i < length; ++i)
            vehicle += static_cast<char>('a' + i % 26);
        std::string record = MakeGpsLogRecord(vehicle, ExampleFix());
        EXPECT_EQ(record, vehicle.substr(0, fits) + tail);
        EXPECT_LE(record.size(), kMaxRecord);
    }
    EXPECT_EQ(MakeGpsLogRecord(std::string(fits, 'v'), ExampleFix()).size(), kMaxRecord);
}

TEST(MakeGpsLogRecord, AbsurdPosition_StillOneLineOfAtMost255)
{
    GpsFix fix = ExampleFix();
    fix.latitude = 1e300;
    std::string record = MakeGpsLogRecord("Dunrel 80k truck", fix);
    EXPECT_EQ(record.size(), kMaxRecord);
    EXPECT_EQ(record.find('\n'), kMaxRecord - 1);
    EXPECT_EQ(record.rfind(",12/07/2026,12,35,19.00,1000000000", 0), 0u);
}

TEST(MakeGpsLogRecord, DegreesPrintedAsPrintfInTheCLocale)
{
    for (double value : {0.0, 48.1173, 11.0 + 31.0 / 60.0, 0.0078125, 0.0000005, 1e-7, 99.9999995,
                         359.99999949999, 123456789.123456789, -0.0, -47.4506333}) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%f", value);
        SCOPED_TRACE(expected);
        GpsFix fix = ExampleFix();
        fix.latitude = value;
        std::string record = MakeGpsLogRecord("v", fix);
        std::vector<std::string> columns;
        std::stringstream in(record);
        for (std::string column; std::getline(in, column, ',');)
            columns.push_back(column);
        ASSERT_EQ(columns.size(), 10u);
        EXPECT_EQ(columns[5], expected);
    }
}

} // namespace
} // namespace ostrim
