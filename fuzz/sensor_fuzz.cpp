// Sensor-file text through the parser and through LoadSensorFile on a real file.
//
// Each input checks:
// - never more than 24 entries, however many sensor lines;
// - the same entries whether the text comes whole, byte by byte, or in uneven pieces (a CR LF
//   split between two reads is the classic fault);
// - for short texts, the same entries as a plain line-by-line reading with the C library;
// - LoadSensorFile fills the table with exactly those entries, says "%d sensors" (or
//   "Trigger off" and switches triggering off for none);
// - no crash and no slowdown on huge lines: an input starting with 0xFE is stretched to a
//   text of 96 KiB by repeating it.
// A violation aborts, so libFuzzer keeps the input.

#include "app/RunState.h"
#include "sensors/SensorFile.h"
#include "sensors/SensorTable.h"
#include "tests/support/FakeDialogFields.h"

#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using ostrim::SensorEntry;

// Past one of the loader's 64 KiB reads, small enough to keep the fuzzer fast.
constexpr std::size_t kStretchedSize = 96 << 10;
constexpr std::size_t kReferenceLimit = 4096;

std::string* folder = nullptr;

void Check(bool condition, const char* what)
{
    if (condition)
        return;
    std::fprintf(stderr, "sensor_fuzz: %s\n", what);
    std::abort();
}

bool SameNumber(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

bool SameEntries(const std::vector<SensorEntry>& a, const std::vector<SensorEntry>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!SameNumber(a[i].latitude, b[i].latitude) ||
            !SameNumber(a[i].longitude, b[i].longitude) || a[i].nodeId != b[i].nodeId)
            return false;
    }
    return true;
}

// The plain reading: the C library's strtod and sscanf("%X") on fields cut at spaces.
// Not comparable where the C library reads a field differently by design: hexadecimal floats,
// and node ids past 16 digits, where glibc saturates instead of wrapping.
struct Reference {
    bool comparable = true;
    std::vector<SensorEntry> entries;
};

double ReferenceDecimal(const std::string& field, bool& comparable)
{
    // strtod also reads hexadecimal floats; the field is a decimal number.
    std::size_t i = 0;
    while (i < field.size() && std::isspace(static_cast<unsigned char>(field[i])))
        ++i;
    if (i < field.size() && (field[i] == '+' || field[i] == '-'))
        ++i;
    if (i + 1 < field.size() && field[i] == '0' && (field[i + 1] == 'x' || field[i + 1] == 'X'))
        comparable = false;
    return std::strtod(field.c_str(), nullptr);
}

std::uint32_t ReferenceNodeId(const std::string& field, bool& comparable)
{
    std::size_t digits = 0;
    bool significant = false;
    for (char c : field) {
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            significant = significant || c != '0';
            digits += significant;
        }
    }
    if (digits > 16)
        comparable = false;
    unsigned value = 0;
    std::sscanf(field.c_str(), "%X", &value);
    return value;
}

Reference ReferenceParse(std::string_view text)
{
    Reference ref;
    std::size_t start = 0;
    while (start < text.size() && ref.entries.size() < 24) {
        std::size_t lf = text.find('\n', start);
        std::string line(text.substr(start, lf == std::string_view::npos ? std::string_view::npos
                                                                            : lf - start));
        start = lf == std::string_view::npos ? text.size() : lf + 1;
        // Text mode: a CR goes with the LF after it; a last line without LF keeps its CR.
        if (lf != std::string_view::npos && !line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            break;
        std::vector<std::string> fields;
        std::size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && line[i] == ' ')
                ++i;
            if (i == line.size())
                break;
            std::size_t end = line.find(' ', i);
            if (end == std::string::npos)
                end = line.size();
            fields.push_back(line.substr(i, end - i));
            i = end;
        }
        if (fields.size() != 4)
            continue;
        SensorEntry e;
        e.latitude = ReferenceDecimal(fields[0], ref.comparable);
        e.longitude = ReferenceDecimal(fields[1], ref.comparable);
        e.nodeId = ReferenceNodeId(fields[3], ref.comparable);
        ref.entries.push_back(e);
    }
    return ref;
}

std::vector<SensorEntry> ParseInPieces(std::string_view text, std::size_t piece)
{
    ostrim::SensorFileParser parser;
    for (std::size_t i = 0; i < text.size() && !parser.Done(); i += piece)
        parser.Feed(text.substr(i, piece));
    parser.Finish();
    return parser.Entries();
}

void CheckLoad(std::string_view text, const std::vector<SensorEntry>& expected)
{
    std::string path = *folder + "/sensors.txt";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    Check(fd >= 0, "cannot write the sensor file");
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        Check(n > 0, "cannot write the sensor file");
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);

    ostrim::SensorTable table;
    ostrim::RunState state;
    ostrim::test::FakeDialogFields fields;
    ostrim::SensorLoadResult result = ostrim::LoadSensorFile(path, table, state, fields);
    Check(result.cause == ostrim::FileErrorCause::None, "a readable file was refused");
    int count = table.count.load();
    Check(count >= 0 && count <= ostrim::SensorTable::kCapacity, "count outside 0..24");
    Check(count == result.count && static_cast<std::size_t>(count) == expected.size(),
          "table count differs from the parsed entries");
    for (int i = 0; i < count; ++i) {
        Check(SameNumber(table.latitude[i], expected[i].latitude) &&
                  SameNumber(table.longitude[i], expected[i].longitude) &&
                  table.nodeId[i] == expected[i].nodeId && table.triggered[i].load() == 0,
              "table entry differs from the parsed entry");
    }
    if (count == 0) {
        Check(fields.Status() == "Trigger off" && state.triggerEnabled.load() == 0,
              "empty table did not switch triggering off");
    } else {
        Check(fields.Status() == std::to_string(count) + " sensors", "wrong count text");
        Check(state.triggerEnabled.load() == 1, "triggering switched off with sensors loaded");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::string base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/ostrim-sensor-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    static std::string made = pattern;
    folder = &made;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(*folder, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string stretched;
    if (size > 1 && data[0] == 0xFE) {
        std::string_view unit = input.substr(1);
        stretched.reserve(kStretchedSize + unit.size());
        while (stretched.size() < kStretchedSize)
            stretched += unit;
        input = stretched;
    }

    std::vector<SensorEntry> whole = ostrim::ParseSensorText(input);
    Check(whole.size() <= static_cast<std::size_t>(ostrim::SensorTable::kCapacity),
          "more than 24 entries");

    // Piece sizes from the input, so splits fall at every kind of place.
    std::size_t piece = 1 + (size > 0 ? data[size / 2] % 7 : 0);
    if (input.size() <= kReferenceLimit)
        Check(SameEntries(ParseInPieces(input, 1), whole), "byte-by-byte parse differs");
    if (stretched.empty())
        Check(SameEntries(ParseInPieces(input, piece), whole), "parse in pieces differs");
    Check(SameEntries(ParseInPieces(input, 4093), whole), "parse in pieces differs");

    if (input.size() <= kReferenceLimit) {
        Reference ref = ReferenceParse(input);
        if (ref.comparable)
            Check(SameEntries(ref.entries, whole), "differs from the plain reading");
    }

    CheckLoad(input, whole);
    return 0;
}
