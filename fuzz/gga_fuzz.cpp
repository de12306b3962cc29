// Receiver bytes, one at a time, through sentence assembly, GGA parsing and both log files.
//
// Beyond "no crash", each input checks what must hold whatever the receiver sends:
// - a line of at most 255 characters is accepted exactly when a separate, plain reading of the
//   rules says so; a longer line is dropped whole and counted;
// - the raw log holds exactly the accepted sentences, byte for byte, and nothing else, also when
//   the logs could not be written for a while;
// - the GPS log holds one record per accepted sentence, every line ends in CR LF, none passes
//   255 characters, and an uncut record has its ten columns with the clock's date;
// - every position handed to the trigger engine is a finite number.
// A violation aborts, so libFuzzer keeps the input.

#include "app/RunState.h"
#include "gps/GgaParser.h"
#include "gps/LogFiles.h"
#include "tests/support/FakeDialogFields.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

using ostrim::Field;

// 7 December 2026, 12:00 UTC.
constexpr std::time_t kNow = 1796644800;
constexpr char kDate[] = "12/07/2026";
constexpr char kExample[] = "GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*69";

struct Folder {
    std::string path;
    std::string gps;
    std::string raw;
    ~Folder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

Folder* folder = nullptr;

void Check(bool condition, const char* what, std::string_view detail = {})
{
    if (condition)
        return;
    std::fprintf(stderr, "gga_fuzz: %s\n", what);
    if (!detail.empty())
        std::fprintf(stderr, "  at: %.*s\n", static_cast<int>(detail.size()), detail.data());
    std::abort();
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The real files, except that a log chosen by the input cannot be opened, as if its folder were
// gone; it comes back under the same name.
class Outage final : public ostrim::LogFileSystem {
public:
    std::string gpsGone;
    std::string rawGone;

    int Create(const std::string& path) override { return real_.Create(path); }
    int OpenAppend(const std::string& path, Handle& handle, std::uint64_t& size) override
    {
        if (path == gpsGone || path == rawGone)
            return ENOENT;
        return real_.OpenAppend(path, handle, size);
    }
    int Write(Handle handle, std::string_view bytes, std::size_t& written) override
    {
        return real_.Write(handle, bytes, written);
    }
    int Truncate(Handle handle, std::uint64_t size) override { return real_.Truncate(handle, size); }
    int Close(Handle handle) override { return real_.Close(handle); }

private:
    ostrim::LogFileSystem& real_ = ostrim::PosixLogFileSystem();
};

class Consumer : public ostrim::PositionConsumer {
public:
    int TriggerOnPosition(double latitude, double longitude) override
    {
        Check(std::isfinite(latitude) && std::isfinite(longitude), "position not finite");
        ++calls;
        return 0;
    }
    std::size_t calls = 0;
};

// The last byte chooses the vehicle type and whether checksums are made to match, so a seed of
// plain receiver output keeps its meaning.
std::string VehicleType(const std::uint8_t* data, std::size_t size)
{
    switch (size == 0 ? 0 : data[size - 1] % 4) {
    case 0:
        return "Dunrel 80k truck";
    case 1:
        return std::string();
    case 2:
        return std::string(300, 'V'); // longer than a record: must be cut, not the line end
    default:
        return "van, 2 axles, red"; // commas of its own
    }
}

// Sets the two characters after each line's "*" to the checksum of what lies between "$" and
// "*", so mutated sentences still reach the parser's later stages. NULs are skipped, as the
// assembly skips them.
void FixChecksums(std::vector<char>& bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    std::vector<std::size_t> line; // positions of the line's characters, NULs left out
    auto fix = [&bytes, &line] {
        std::size_t i = 0;
        while (i < line.size() && bytes[line[i]] != '$')
            ++i;
        unsigned sum = 0;
        for (++i; i < line.size() && bytes[line[i]] != '*'; ++i)
            sum ^= static_cast<unsigned char>(bytes[line[i]]);
        if (i + 2 < line.size()) {
            bytes[line[i + 1]] = hex[sum >> 4];
            bytes[line[i + 2]] = hex[sum & 15];
        }
        line.clear();
    };
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n')
            fix();
        else if (bytes[i] != '\0')
            line.push_back(i);
    }
}

bool IsHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Whether the program must accept a line, worked out the long way round: a $GPGGA or $GNGGA
// sentence (either case) whose checksum, when it has one, matches, and whose time, position,
// hemispheres, height and unit fields are not empty.
bool MustAccept(std::string_view line)
{
    std::string_view body = line;
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r'))
        body.remove_suffix(1);
    std::size_t star = body.find('*');
    if (star != std::string_view::npos) {
        if (star + 3 != body.size() || !IsHex(body[star + 1]) || !IsHex(body[star + 2]))
            return false;
        unsigned sum = 0;
        for (std::size_t i = 1; i < star; ++i)
            sum ^= static_cast<unsigned char>(body[i]);
        if (sum != std::stoul(std::string(body.substr(star + 1, 2)), nullptr, 16))
            return false;
        body = body.substr(0, star);
    }
    std::vector<std::string> fields(1);
    for (char c : body) {
        if (c == ',')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    std::string talker = fields[0];
    for (char& c : talker)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (talker != "$GPGGA" && talker != "$GNGGA")
        return false;
    for (std::size_t n : {2, 3, 4, 5, 6, 10, 11}) {
        if (n > fields.size() || fields[n - 1].empty())
            return false;
    }
    return true;
}

std::size_t CountOf(std::string_view text, char c)
{
    std::size_t n = 0;
    for (char x : text)
        n += x == c;
    return n;
}

void CheckGpsLog(const std::string& log, std::size_t records, const std::string& vehicle)
{
    std::size_t lines = 0;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t lf = log.find('\n', start);
        Check(lf != std::string::npos, "GPS log does not end with a line end");
        Check(lf > start && log[lf - 1] == '\r', "GPS log line without CR LF",
              std::string_view(log).substr(start, lf + 1 - start));
        std::string_view line(log.data() + start, lf - 1 - start);
        // The record is at most 255 characters with its line feed; on disk CR LF replaces it.
        Check(line.size() + 1 <= ostrim::kMaxRecord, "GPS log record over 255 characters", line);
        if (line.size() + 1 < ostrim::kMaxRecord) {
            // Nothing was cut: the vehicle type and the record's nine commas are all there.
            Check(line.substr(0, vehicle.size()) == vehicle, "vehicle type lost", line);
            std::string_view tail = line.substr(vehicle.size());
            Check(CountOf(tail, ',') == 9, "GPS log record without its ten columns", line);
            Check(tail.substr(0, 12) == std::string(",") + kDate + ",", "wrong date", line);
        }
        ++lines;
        start = lf + 1;
    }
    Check(lines == records, "GPS log records differ from accepted sentences");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    std::string base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/ostrim-gga-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    static Folder made{pattern, pattern + "/gps.txt", pattern + "/raw.txt"};
    folder = &made;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Each input starts from empty logs, so the disk never fills and each check sees one input.
    for (const std::string* path : {&folder->gps, &folder->raw}) {
        if (ostrim::CreateLogFile(*path) != 0 || ::truncate(path->c_str(), 0) != 0)
            Check(false, "cannot reset a log file", *path);
    }

    ostrim::RunState state;
    state.logPaths.SetGps(folder->gps);
    state.logPaths.SetRaw(folder->raw);
    ostrim::test::FakeDialogFields fields;
    std::string vehicle = VehicleType(data, size);
    fields.SetText(Field::VehicleType, vehicle);
    Outage outage;
    ostrim::GpsLogs logs(state.logPaths, outage);
    Consumer consumer;
    ostrim::GpsInput input(state, fields, logs, consumer, [] { return kNow; });

    std::vector<char> bytes(data, data + size);
    if (size > 0 && (data[size - 1] & 4) != 0)
        FixChecksums(bytes);
    // Lines chosen by the next-to-last byte meet logs that cannot be written (their folder is
    // gone). One good sentence after the input, with the logs back, must bring every record
    // kept meanwhile to the files in order.
    std::uint8_t broken = size > 1 && (data[size - 1] & 0x10) != 0 ? data[size - 2] : 0;
    std::size_t inputLines = 0;
    for (char c : bytes)
        inputLines += c == '\n';
    for (char c : std::string("\n$") + kExample + "\r\n")
        bytes.push_back(c);

    std::string line;         // the line as the program must see it: NULs add nothing
    std::size_t lineChars = 0;
    std::size_t overlong = 0;
    std::string expectedRaw;
    std::size_t accepted = 0;
    std::size_t lineIndex = 0;
    for (char c : bytes) {
        if (c == '\n') {
            bool inInput = lineIndex < inputLines;
            std::size_t bit = lineIndex % 8;
            outage.gpsGone = inInput && (broken >> bit & 1) ? folder->gps : std::string();
            outage.rawGone = inInput && (broken >> (7 - bit) & 1) ? folder->raw : std::string();
            ++lineIndex;
        }
        std::size_t before = consumer.calls;
        input.AssembleSentence(1, &c);
        if (c == '\0') {
            Check(consumer.calls == before, "a NUL byte ended a sentence");
            continue;
        }
        if (c != '\n') {
            line += c;
            if (++lineChars == ostrim::GpsInput::kMaxSentence + 1)
                ++overlong;
            Check(consumer.calls == before, "a position before the line feed");
            continue;
        }
        line += c;
        bool took = consumer.calls != before;
        Check(consumer.calls - before <= 1, "one sentence gave several positions", line);
        if (lineChars > ostrim::GpsInput::kMaxSentence) {
            Check(!took, "an over-long line was accepted", line);
        } else {
            Check(took == MustAccept(line),
                  took ? "a sentence accepted that must be rejected"
                       : "a sentence rejected that must be accepted",
                  line);
        }
        if (took) {
            expectedRaw += line;
            ++accepted;
        }
        line.clear();
        lineChars = 0;
    }

    // A long backlog goes out a bounded part per fix; more good sentences bring the rest.
    const std::string good = std::string("$") + kExample + "\r\n";
    for (int more = 0; (logs.GpsBacklog() > 0 || logs.RawBacklog() > 0) && more < 100; ++more) {
        input.AssembleSentence(static_cast<int>(good.size()), good.data());
        expectedRaw += good;
        ++accepted;
    }

    Check(input.DroppedLines() == overlong, "over-long lines miscounted");
    Check(logs.GpsBacklog() == 0 && logs.RawBacklog() == 0, "a record is still waiting");
    Check(ReadAll(folder->raw) == expectedRaw, "raw log differs from the accepted sentences");
    CheckGpsLog(ReadAll(folder->gps), accepted, vehicle);
    return 0;
}
