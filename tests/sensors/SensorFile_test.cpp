#include "sensors/SensorFile.h"

#include "tests/support/FakeDialogFields.h"
#include "tests/support/CommaDecimalLocale.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrim {
namespace {

using test::FakeDialogFields;
using test::TempDir;

// ---------------------------------------------------------------------------------------------
// "%X" node ids

struct HexCase {
    const char* text;
    bool converted;
    std::uint32_t value; // when converted; else the value must stay untouched
};

TEST(ScanHex32, Cases_ReadAsPercentX)
{
    const HexCase cases[] = {
        {"4070BF7B", true, 0x4070BF7B},
        {"4070bf7b", true, 0x4070BF7B},
        {"0x4070bf7b", true, 0x4070BF7B},
        {"0X4070BF7B", true, 0x4070BF7B},
        {" \t\n4070BF7B", true, 0x4070BF7B},
        {"+4070BF7B", true, 0x4070BF7B},
        {"-1", true, 0xFFFFFFFF},
        {"-0x10", true, 0xFFFFFFF0},
        {"4070BF7G", true, 0x04070BF7},      // stops at G
        {"123456789", true, 0x23456789},     // wraps: the last eight digits count
        {"0000000000000000004070BF7B", true, 0x4070BF7B},
        {"cell", true, 0xCE},                // stops at the first l
        {"7", true, 7},
        {"0", true, 0},
        {"0x", true, 0},                     // the 0 converts
        {"0xZ", true, 0},
        {"node", false, 0},
        {"", false, 0},
        {"-", false, 0},
        {"+ 5", false, 0},
        {"x12", false, 0},
        {"\t", false, 0},
        {"--1", false, 0},
    };
    for (const HexCase& c : cases) {
        std::uint32_t value = 0x403BA38B;
        bool converted = ScanHex32(c.text, value);
        EXPECT_EQ(converted, c.converted) << '"' << c.text << '"';
        EXPECT_EQ(value, c.converted ? c.value : 0x403BA38Bu) << '"' << c.text << '"';
    }
}

// ---------------------------------------------------------------------------------------------
// Decimal numbers

TEST(ParseDecimal, Cases_ReadFromStartOfField)
{
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* text;
        double value;
    } cases[] = {
        {"45.2612", 45.2612},
        {"+45.2612", 45.2612},
        {"-93.7034", -93.7034},
        {" \t45.2612", 45.2612},
        {"45.2612abc", 45.2612},
        {"45,2612", 45.0}, // a comma is no decimal point, in any locale
        {".5", 0.5},
        {"5.", 5.0},
        {"1e3", 1000.0},
        {"2.5E-1", 0.25},
        {"1e999", inf},
        {"-1e999", -inf},
        {"0.000000000001e-999", 0.0},
        {"1e-999", 0.0},
        {"abc", 0.0},
        {"", 0.0},
        {".", 0.0},
        {"-", 0.0},
        {"+-5", 0.0},
        {"--5", 0.0},
        {"0x1A", 0.0},
        // Words are no numbers, though from_chars reads them.
        {"inf", 0.0},
        {"-INFINITY", 0.0},
        {"nan", 0.0},
        {"+nan(1)", 0.0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseDecimal(c.text), c.value) << '"' << c.text << '"';
}

TEST(ParseDecimal, CommaDecimalLocale_StillReadsPoint)
{
    double value = 0;
    std::vector<SensorEntry> entries;
    {
        test::CommaDecimalLocale german;
        if (!german.Active())
            GTEST_SKIP() << "no comma-decimal locale and localedef failed";
        value = ParseDecimal("45.2612");
        entries = ParseSensorText("45.2612 93.7034 7 4070BF7B\n");
    }
    EXPECT_EQ(value, 45.2612);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].longitude, 93.7034);
}

// ---------------------------------------------------------------------------------------------
// Sensor text

struct TextCase {
    const char* name;
    std::string text;
    std::vector<SensorEntry> expected;
};

std::string Describe(const std::vector<SensorEntry>& entries)
{
    std::string out;
    for (const SensorEntry& e : entries) {
        char line[96];
        std::snprintf(line, sizeof line, "{%.17g, %.17g, %08X", e.latitude, e.longitude,
                      static_cast<unsigned>(e.nodeId));
        out += line + (e.unreadableNodeId.empty() ? "" : ", \"" + e.unreadableNodeId + "\"") + "} ";
    }
    return out.empty() ? "(none)" : out;
}

bool Same(const std::vector<SensorEntry>& a, const std::vector<SensorEntry>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].latitude != b[i].latitude || a[i].longitude != b[i].longitude ||
            a[i].nodeId != b[i].nodeId || a[i].unreadableNodeId != b[i].unreadableNodeId)
            return false;
    }
    return true;
}

const SensorEntry kA{45.2612, 93.7034, 0x4070BF7B};
const SensorEntry kB{45.27, 93.71, 0x403BA38B};
const char kLineA[] = "45.2612 93.7034 7 4070BF7B";
const char kLineB[] = "45.27 93.71 x 403BA38B";

std::string Lines(std::initializer_list<std::string> lines, const char* end = "\n")
{
    std::string text;
    for (const std::string& line : lines)
        text += line + end;
    return text;
}

TEST(ParseSensorText, Cases_GiveEntries)
{
    const std::string a = kLineA;
    const std::string b = kLineB;
    const TextCase cases[] = {
        {"OneLine", Lines({a}), {kA}},
        {"TwoLines", Lines({a, b}), {kA, kB}},
        {"RunsOfSpaces", "  45.2612  93.7034   7  4070BF7B  \n", {kA}},
        {"CommaSeparated", "45.26,93.70,7,4070BF7B\n", {}},
        // A node id field that is no hex number keeps the sensor's place, unread, where "%X"
        // would read its leading digits as another node's id.
        {"HeadingLatLonCellNode", "lat lon cell node\n", {{0.0, 0.0, 0, "node"}}},
        {"HeadingLatLonNodeCell", "lat lon node cell\n", {{0.0, 0.0, 0, "cell"}}},
        {"ThreeFields", "45.2612 93.7034 4070BF7B\n" + b + "\n", {kB}},
        {"FiveFields", a + " extra\n" + b + "\n", {kB}},
        {"EmptyLineEndsFile", Lines({a, "", b}), {kA}},
        {"FirstLineEmpty", Lines({"", a}), {}},
        {"SpacesOnlyLineIsNotEmpty", Lines({a, "   ", b}), {kA, kB}},
        {"LowercaseAndPrefix", "45.2612 93.7034 7 0x4070bf7b\n", {kA}},
        {"NoFinalNewline", a + "\n" + b, {kA, kB}},
        {"CrLf", Lines({a, b}, "\r\n"), {kA, kB}},
        {"CrLfEmptyLineEndsFile", Lines({a, "", b}, "\r\n"), {kA}},
        {"CrLfNoFinalNewline", a + "\r\n" + b, {kA, kB}},
        {"LoneCrIsPartOfField", "45.2612\r1 93.7034 7 4070BF7B\n", {kA}},
        {"CrAtEndOfFile", a + "\r", {kA}},
        {"TabInsideLineJoinsFields", "45.2612\t93.7034 7 4070BF7B\n" + b + "\n", {kB}},
        {"TabBeforeNumbers", "\t45.2612 \t93.7034 7 \t4070BF7B\n", {kA}},
        {"SignsAndGarbage", "+45.2612 -93.7034 x zz\n", {{45.2612, -93.7034, 0, "zz"}}},
        {"NodeIdTypo", "1 2 3 4070BF7G\n" + b + "\n", {{1.0, 2.0, 0, "4070BF7G"}, kB}},
        {"NodeIdSigned", "1 2 3 -1\n", {{1.0, 2.0, 0, "-1"}}},
        {"NodeIdPrefixOnly", "1 2 3 0x\n", {{1.0, 2.0, 0, "0x"}}},
        {"NodeIdNine", "1 2 3 14070BF7B\n", {{1.0, 2.0, 0x4070BF7B}}}, // wraps, as "%X" reads it
        {"NodeIdLongTypoCut", "1 2 3 " + std::string(30, 'G') + "\n", {{1.0, 2.0, 0, std::string(24, 'G') + "..."}}},
        {"NulInsideNodeId", std::string("1 2 3 4\0" "5\n", 10), {{1.0, 2.0, 0, "4?5"}}},
        {"EmptyText", "", {}},
        {"OnlyNewline", "\n" + a + "\n", {}},
    };
    for (const TextCase& c : cases) {
        std::vector<SensorEntry> got = ParseSensorText(c.text);
        EXPECT_TRUE(Same(got, c.expected))
            << c.name << ": got " << Describe(got) << ", expected " << Describe(c.expected);
    }
}

TEST(ParseSensorText, MoreThanCapacity_KeepsFirst24)
{
    std::string text;
    for (int i = 1; i <= 30; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "45.0 93.0 7 %X\n", i);
        text += line;
    }
    std::vector<SensorEntry> got = ParseSensorText(text);
    ASSERT_EQ(got.size(), 24u);
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(got[i].nodeId, static_cast<std::uint32_t>(i + 1)) << i;
}

TEST(SensorFileParser, LinesNotReadAsWritten_WarnedByLineNumber)
{
    std::string full;
    for (int i = 0; i < 24; ++i)
        full += std::string(kLineA) + "\n";
    const struct {
        const char* name;
        std::string text;
        std::vector<std::string> warnings;
    } cases[] = {
        {"Clean", Lines({kLineA, kLineB, "", "", ""}), {}},
        {"NodeIdStopsAtNonHex", Lines({kLineA, "1 2 3 403BA38G"}),
         {"line 2: node id 403BA38G unreadable: sensor 2 is not armed"}},
        {"NodeIdNoHexAtAll", Lines({"lat lon cell node"}), {"line 1: node id node unreadable: sensor 1 is not armed"}},
        {"NodeIdNineDigits", Lines({"1 2 3 14070BF7B"}),
         {"line 1: node id 14070BF7B read as 4070BF7B"}},
        {"LeadingZerosAndPrefixKept", Lines({"1 2 3 0x004070BF7B"}), {}},
        {"SkippedLines", Lines({"45.26,93.70,7,4070BF7B", kLineA, "a b c", std::string(kLineA) + " x"}),
         {"line 1: skipped: 1 field, a sensor line has 4 separated by spaces",
          "line 3: skipped: 3 fields, a sensor line has 4 separated by spaces",
          "line 4: skipped: more than 4 fields, a sensor line has 4 separated by spaces"}},
        {"TextAfterEmptyLine", Lines({kLineA, "", "", kLineB}),
         {"line 4: not read: the empty line 2 ends the sensor list"}},
        {"TwentyFifthSensor", full + Lines({kLineB, kLineB}),
         {"line 25: not read: the table holds 24 sensors"}},
    };
    for (const auto& c : cases) {
        SensorFileParser parser;
        parser.Feed(c.text);
        parser.Finish();
        EXPECT_EQ(parser.Warnings(), c.warnings) << c.name;
    }
}

TEST(ParseSensorText, ThousandLines_ValidOnesInOrder)
{
    std::string text;
    std::vector<SensorEntry> expected;
    for (int i = 0; i < 1000; ++i) {
        if (i % 50 == 7) {
            char line[64];
            std::snprintf(line, sizeof line, "45.%04d 93.%04d c %X\n", i, i, i);
            text += line;
            double fraction = i / 10000.0;
            expected.push_back({45.0 + fraction, 93.0 + fraction, static_cast<std::uint32_t>(i)});
        } else {
            text += "# not a sensor line " + std::to_string(i) + "\n";
        }
    }
    std::vector<SensorEntry> got = ParseSensorText(text);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(got[i].latitude, expected[i].latitude, 1e-12) << i;
        EXPECT_EQ(got[i].nodeId, expected[i].nodeId) << i;
    }
}

TEST(ParseSensorText, TenMegabyteLines_SkippedOrParsed)
{
    const std::string big(10 * 1024 * 1024, 'x');
    const std::string spaces(10 * 1024 * 1024, ' ');
    const std::string zeros(10 * 1024 * 1024, '0');
    const std::string a = kLineA;
    const TextCase cases[] = {
        {"OneHugeField", big + "\n" + a + "\n", {kA}},
        {"HugeIgnoredField", "45.2612 93.7034 " + big + " 4070BF7B\n", {kA}},
        {"HugeRunOfSpaces", "45.2612" + spaces + "93.7034 7 4070BF7B" + spaces + "\n", {kA}},
        {"NodeIdWithHugeLeadingZeros", "45.2612 93.7034 7 " + zeros + "4070BF7B\n", {kA}},
        {"LatitudeWithHugeTrailingZeros", "45.2612" + zeros + " 93.7034 7 4070BF7B\n", {kA}},
        {"HugeFifthField", a + " " + big + "\n", {}},
    };
    for (const TextCase& c : cases) {
        std::vector<SensorEntry> got = ParseSensorText(c.text);
        EXPECT_TRUE(Same(got, c.expected))
            << c.name << ": got " << Describe(got) << ", expected " << Describe(c.expected);
    }
}

TEST(SensorFileParser, AnyChunking_SameAsWhole)
{
    // Chunk edges fall everywhere, including between a '\r' and its '\n'.
    std::mt19937 random(20240611);
    std::string text = Lines({kLineA, "junk line", "  ", kLineB, "1 2 3 4"}, "\r\n");
    text += "\r5 6 7 8\r";
    std::uniform_int_distribution<int> byte(0, 255);
    for (int i = 0; i < 2000; ++i) {
        char c = static_cast<char>(byte(random));
        text += c == '\n' ? ' ' : c; // noise without an empty line, so the whole text counts
        if (i % 97 == 0)
            text += "\r\n";
    }
    const std::vector<SensorEntry> whole = ParseSensorText(text);
    ASSERT_GE(whole.size(), 3u);
    for (std::size_t chunk : {1u, 2u, 3u, 7u, 64u, 1000u}) {
        SensorFileParser parser;
        for (std::size_t at = 0; at < text.size(); at += chunk)
            parser.Feed(std::string_view(text).substr(at, chunk));
        parser.Finish();
        EXPECT_TRUE(Same(parser.Entries(), whole)) << "chunk " << chunk;
    }
}

// ---------------------------------------------------------------------------------------------
// Causes and texts

TEST(CauseFromErrno, Table_MapsToCause)
{
    const struct {
        int err;
        FileErrorCause cause;
    } cases[] = {
        {ENOENT, FileErrorCause::FileNotFound},
        {ENOTDIR, FileErrorCause::BadPath},
        {ENAMETOOLONG, FileErrorCause::BadPath},
        {ELOOP, FileErrorCause::BadPath},
        {EACCES, FileErrorCause::AccessDenied},
        {EPERM, FileErrorCause::AccessDenied},
        {EISDIR, FileErrorCause::AccessDenied},
        {EMFILE, FileErrorCause::TooManyOpenFiles},
        {ENFILE, FileErrorCause::TooManyOpenFiles},
        {ETXTBSY, FileErrorCause::SharingViolation},
        {EBUSY, FileErrorCause::SharingViolation},
        {EWOULDBLOCK, FileErrorCause::SharingViolation},
        {EIO, FileErrorCause::Generic},
        {ENOMEM, FileErrorCause::Generic},
        {EINVAL, FileErrorCause::Generic},
        {0, FileErrorCause::Generic},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CauseFromErrno(c.err), c.cause) << std::strerror(c.err);
}

TEST(FileErrorText, Table_PutsPathInPlace)
{
    const std::string p = "C:\\LVR_LAPS\\LVR_Cells_VLS.txt";
    const struct {
        FileErrorCause cause;
        std::string text;
    } cases[] = {
        {FileErrorCause::None, ""},
        {FileErrorCause::FileNotFound, p + " was not found."},
        {FileErrorCause::BadPath, p + " contains an invalid path."},
        {FileErrorCause::AccessDenied, "Access to " + p + " was denied."},
        {FileErrorCause::SharingViolation,
         "A sharing violation occurred while accessing " + p + "."},
        {FileErrorCause::TooManyOpenFiles,
         p + " could not be opened because there are too many open files."},
        {FileErrorCause::Generic, "An unknown error occurred while accessing " + p + "."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FileErrorText(c.cause, p), c.text);
    // A "%1" inside the path is not expanded again.
    EXPECT_EQ(FileErrorText(FileErrorCause::FileNotFound, "/x/%1"), "/x/%1 was not found.");
}

// ---------------------------------------------------------------------------------------------
// Loading into the table

class LoadSensorFileTest : public testing::Test {
protected:
    // A table as an earlier load would have left it, so a failed load can be seen to keep it.
    void FillTable()
    {
        table.latitude[0] = 1.5;
        table.longitude[0] = 2.5;
        table.nodeId[0] = 0xABCD;
        table.triggered[0] = 1;
        table.count = 1;
    }
    void ExpectTableKept() const
    {
        EXPECT_EQ(table.count.load(), 1);
        EXPECT_EQ(table.latitude[0], 1.5);
        EXPECT_EQ(table.longitude[0], 2.5);
        EXPECT_EQ(table.nodeId[0], 0xABCDu);
        EXPECT_EQ(table.triggered[0].load(), 1);
    }
    void ExpectFailure(const SensorLoadResult& result, FileErrorCause cause,
                       const std::string& text)
    {
        EXPECT_EQ(result.cause, cause);
        EXPECT_EQ(result.message, text);
        EXPECT_EQ(fields.Messages(), std::vector<std::string>{text});
        EXPECT_EQ(fields.StatusHistory(), std::vector<std::string>{"Unable to read Sensor file"});
        EXPECT_EQ(state.triggerEnabled.load(), 1);
        ExpectTableKept();
    }

    TempDir dir;
    SensorTable table;
    RunState state;
    FakeDialogFields fields;
};

TEST_F(LoadSensorFileTest, TwoSensors_FillsTableAndCounts)
{
    FillTable();
    std::string path = dir.Write("s.txt", Lines({kLineA, "heading line", kLineB}, "\r\n"));
    SensorLoadResult result = LoadSensorFile(path, table, state, fields);
    EXPECT_EQ(result.cause, FileErrorCause::None);
    EXPECT_EQ(result.message, "");
    EXPECT_EQ(result.count, 2);
    EXPECT_EQ(table.count.load(), 2);
    EXPECT_EQ(table.latitude[0], kA.latitude);
    EXPECT_EQ(table.longitude[0], kA.longitude);
    EXPECT_EQ(table.nodeId[0], kA.nodeId);
    EXPECT_EQ(table.nodeId[1], kB.nodeId);
    EXPECT_EQ(table.triggered[0].load(), 0); // re-armed by the load
    EXPECT_EQ(fields.StatusHistory(), std::vector<std::string>{"2 sensors"});
    EXPECT_EQ(fields.Messages(),
              std::vector<std::string>{"Sensor file " + path +
                                       ": 2 sensors loaded. These lines were not read as written:"
                                       "\nline 2: skipped: 2 fields, a sensor line has 4 "
                                       "separated by spaces"});
    EXPECT_EQ(state.triggerEnabled.load(), 1);
}

// A heading line keeps its place as a sensor that is never armed, and the load says so.
TEST_F(LoadSensorFileTest, UnreadableNodeId_KeepsPlaceNotArmed)
{
    table.SetUnreadableNodeId(1, "stale");
    std::string path = dir.Write("s.txt", Lines({"lat lon node cell", kLineA}));
    SensorLoadResult result = LoadSensorFile(path, table, state, fields);
    EXPECT_EQ(result.count, 2);
    EXPECT_FALSE(table.Armable(0));
    EXPECT_STREQ(table.unreadableNodeId[0].data(), "cell");
    EXPECT_EQ(table.nodeId[0], 0u);
    EXPECT_TRUE(table.Armable(1));
    EXPECT_EQ(table.nodeId[1], kA.nodeId);
    ASSERT_EQ(fields.Messages().size(), 1u);
    EXPECT_NE(fields.Messages()[0].find("\nline 1: node id cell unreadable: sensor 1 is not armed"),
              std::string::npos);
}

TEST_F(LoadSensorFileTest, StatusTexts_ByContent)
{
    std::string many;
    for (int i = 0; i < 26; ++i)
        many += std::string(kLineA) + "\n";
    const struct {
        const char* name;
        std::string content;
        std::vector<std::string> statuses;
        int triggerEnabled;
    } cases[] = {
        {"OneSensor", Lines({kLineA}), {"1 sensors"}, 1},
        {"EmptyFile", "", {"0 sensors", "Trigger off"}, 0},
        {"FirstLineEmpty", "\n" + Lines({kLineA}), {"0 sensors", "Trigger off"}, 0},
        {"NoFourFieldLine", "a,b,c,d\nlat lon\n", {"0 sensors", "Trigger off"}, 0},
        {"TwentySixLines", many, {"24 sensors"}, 1},
    };
    for (const auto& c : cases) {
        SensorTable fresh;
        RunState run;
        FakeDialogFields display;
        std::string path = dir.Write(c.name, c.content);
        SensorLoadResult result = LoadSensorFile(path, fresh, run, display);
        EXPECT_EQ(display.StatusHistory(), c.statuses) << c.name;
        EXPECT_EQ(run.triggerEnabled.load(), c.triggerEnabled) << c.name;
        EXPECT_EQ(fresh.count.load(), result.count) << c.name;
        EXPECT_EQ(display.Messages().empty(), result.warnings.empty()) << c.name;
    }
}

TEST_F(LoadSensorFileTest, TenMegabyteLineInFile_Skipped)
{
    std::string path = dir.Write("big.txt", std::string(10 * 1024 * 1024, '7') + "\n" +
                                                Lines({kLineA, kLineB}));
    SensorLoadResult result = LoadSensorFile(path, table, state, fields);
    EXPECT_EQ(result.count, 2);
    EXPECT_EQ(table.nodeId[0], kA.nodeId);
    EXPECT_EQ(table.nodeId[1], kB.nodeId);
}

TEST_F(LoadSensorFileTest, MissingFile_NotFound)
{
    FillTable();
    std::string path = dir.File("absent.txt");
    ExpectFailure(LoadSensorFile(path, table, state, fields), FileErrorCause::FileNotFound,
                  path + " was not found.");
}

TEST_F(LoadSensorFileTest, BadPaths_InvalidPath)
{
    std::string file = dir.Write("plain.txt", Lines({kLineA}));
    const std::string paths[] = {
        dir.File("no-such-folder/s.txt"),       // folder missing
        file + "/s.txt",                        // a file used as a folder
        dir.File(std::string(300, 'n') + ".txt"), // name too long
        "",
    };
    for (const std::string& path : paths) {
        SCOPED_TRACE(path.substr(0, 80));
        fields.ClearHistory();
        FillTable();
        ExpectFailure(LoadSensorFile(path, table, state, fields), FileErrorCause::BadPath,
                      path + " contains an invalid path.");
    }
}

TEST_F(LoadSensorFileTest, Folder_AccessDenied)
{
    FillTable();
    ExpectFailure(LoadSensorFile(dir.Path(), table, state, fields), FileErrorCause::AccessDenied,
                  "Access to " + dir.Path() + " was denied.");
}

TEST_F(LoadSensorFileTest, Fifo_RefusedWithoutWaiting)
{
    FillTable();
    std::string path = dir.File("pipe");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << std::strerror(errno);
    // Opening a FIFO for reading would wait for a writer; this must return at once.
    ExpectFailure(LoadSensorFile(path, table, state, fields), FileErrorCause::Generic,
                  "An unknown error occurred while accessing " + path + ".");
}

TEST_F(LoadSensorFileTest, UnreadableFile_AccessDenied)
{
    std::string path = dir.Write("locked.txt", Lines({kLineA}));
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
    // Root reads whatever the permission bits say: the check runs in a child as "nobody".
    EXPECT_EXIT(
        {
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                std::_Exit(2);
            FillTable();
            SensorLoadResult result = LoadSensorFile(path, table, state, fields);
            bool ok = result.cause == FileErrorCause::AccessDenied &&
                      result.message == "Access to " + path + " was denied." &&
                      table.count.load() == 1;
            std::_Exit(ok ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(LoadSensorFileTest, NoDescriptorLeft_TooManyOpenFiles)
{
    std::string path = dir.Write("s.txt", Lines({kLineA}));
    EXPECT_EXIT(
        {
            // With no descriptor left, UBSan cannot check a virtual call it has not seen before
            // (it probes memory through a pipe): make the calls once while it still can.
            static_cast<DialogFields&>(fields).SetText(Field::Status, "");
            static_cast<DialogFields&>(fields).ShowMessage("");
            int lowestFree = ::dup(0);
            if (lowestFree < 0)
                std::_Exit(2);
            ::close(lowestFree);
            rlimit limit{};
            ::getrlimit(RLIMIT_NOFILE, &limit);
            limit.rlim_cur = static_cast<rlim_t>(lowestFree);
            if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
                std::_Exit(2);
            SensorLoadResult result = LoadSensorFile(path, table, state, fields);
            bool ok = result.cause == FileErrorCause::TooManyOpenFiles &&
                      result.message ==
                          path + " could not be opened because there are too many open files.";
            std::_Exit(ok ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

// Read calls for the tests below: real data first, then what the test asks for.
int g_readCalls = 0;
int g_failErrno = 0;
int g_failAtCall = 0;

long ReadThenFail(int fd, void* buffer, std::size_t size)
{
    ++g_readCalls;
    if (g_readCalls == g_failAtCall) {
        errno = g_failErrno;
        return -1;
    }
    // Small pieces, so the failure comes part way through the file.
    return ::read(fd, buffer, size < 16 ? size : 16);
}

TEST_F(LoadSensorFileTest, ReadFailsPartWay_ReportsAndKeepsTable)
{
    FillTable();
    std::string path = dir.Write("s.txt", Lines({kLineA, kLineB, kLineA}));
    g_readCalls = 0;
    g_failErrno = EIO;
    g_failAtCall = 4; // after the first line has been read whole
    ExpectFailure(LoadSensorFile(path, table, state, fields, ReadThenFail), FileErrorCause::Generic,
                  "An unknown error occurred while accessing " + path + ".");
}

TEST_F(LoadSensorFileTest, ReadInterrupted_Retried)
{
    std::string path = dir.Write("s.txt", Lines({kLineA, kLineB}));
    g_readCalls = 0;
    g_failErrno = EINTR;
    g_failAtCall = 2;
    SensorLoadResult result = LoadSensorFile(path, table, state, fields, ReadThenFail);
    EXPECT_EQ(result.cause, FileErrorCause::None);
    EXPECT_EQ(result.count, 2);
    EXPECT_EQ(table.nodeId[1], kB.nodeId);
}

} // namespace
} // namespace ostrim
