#pragma once
// Receiver bytes, one at a time, through sentence assembly, GGA parsing and both logs, wherever
// a target keeps the logs (real files or memory).
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
//
// The clock's date is taken in local time: a target sets TZ=UTC before the first input.

#include "runstate/RunState.h"
#include "fuzz/fuzz_check.h"
#include "gps/GgaParser.h"
#include "gps/LogFileSystem.h"
#include "gps/LogFiles.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace ostrim::fuzz {

// 7 December 2026, 12:00 UTC.
inline constexpr std::time_t kNow = 1796644800;
inline constexpr char kDate[] = "12/07/2026";
inline constexpr char kExample[] =
    "GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*69";

// Where a target keeps the two logs.
class GgaLogStore {
public:
    virtual ~GgaLogStore() = default;
    virtual LogFileSystem& Files() = 0;
    // Both logs empty, so each input sees its own records only.
    virtual void Reset() = 0;
    virtual std::string Read(const std::string& path) = 0;
    // Before each line: which logs cannot be written while it is taken. By default they cannot
    // be opened, as if their folder were gone, and come back under the same name (a record held
    // back belongs to its own log, so renaming the log would leave it waiting); a store may fail
    // them another way.
    virtual void Outage(std::size_t lineIndex, bool gps, bool raw)
    {
        (void)lineIndex;
        gpsGone = gps;
        rawGone = raw;
    }
    // The errno an open of `path` meets now, or 0.
    int OpenError(const std::string& path) const
    {
        return (gpsGone && path == gpsPath) || (rawGone && path == rawPath) ? ENOENT : 0;
    }

    std::string gpsPath;
    std::string rawPath;
    bool gpsGone = false;
    bool rawGone = false;
};

// The dialog's texts and nothing more: the unit tests' fake also keeps every status text, a
// copy on every line here, and no check reads them.
class FieldTexts final : public DialogFields {
public:
    void SetText(Field field, const std::string& text) override { texts_[Slot(field)] = text; }
    std::string GetText(Field field) const override { return texts_[Slot(field)]; }
    void ShowMessage(const std::string&) override {}

private:
    static std::size_t Slot(Field field)
    {
        auto slot = static_cast<std::size_t>(static_cast<int>(field) - 1000);
        Check(slot < kSlots, "a field the dialog does not have");
        return slot;
    }
    static constexpr std::size_t kSlots = 32;
    std::string texts_[kSlots];
};

class Consumer : public PositionConsumer {
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
inline std::string VehicleType(const std::uint8_t* data, std::size_t size)
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
inline void FixChecksums(std::vector<char>& bytes)
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

inline bool IsHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

inline std::size_t CountOf(std::string_view text, char c)
{
    std::size_t n = 0;
    for (char x : text)
        n += x == c;
    return n;
}

// Whether the program must accept a line, worked out the long way round: a $GPGGA or $GNGGA
// sentence (either case) whose checksum, when it has one, matches, and whose time, position,
// hemispheres, height and unit fields are not empty.
inline bool MustAccept(std::string_view line)
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
    std::vector<std::string_view> fields;
    fields.reserve(1 + CountOf(body, ','));
    for (std::size_t start = 0;;) {
        std::size_t comma = body.find(',', start);
        fields.push_back(body.substr(start, comma - start));
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    auto isTalker = [&fields](std::string_view name) {
        if (fields[0].size() != name.size())
            return false;
        for (std::size_t i = 0; i < name.size(); ++i) {
            if (std::toupper(static_cast<unsigned char>(fields[0][i])) != name[i])
                return false;
        }
        return true;
    };
    if (!isTalker("$GPGGA") && !isTalker("$GNGGA"))
        return false;
    for (std::size_t n : {2, 3, 4, 5, 6, 10, 11}) {
        if (n > fields.size() || fields[n - 1].empty())
            return false;
    }
    return true;
}

inline void CheckGpsLog(const std::string& log, std::size_t records, const std::string& vehicle)
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
        Check(line.size() + 1 <= kMaxRecord, "GPS log record over 255 characters", line);
        if (line.size() + 1 < kMaxRecord) {
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

// One input through the whole path, with the checks above.
inline void RunGgaInput(const std::uint8_t* data, std::size_t size, GgaLogStore& store)
{
    store.Reset();
    RunState state;
    state.logPaths.SetGps(store.gpsPath);
    state.logPaths.SetRaw(store.rawPath);
    FieldTexts fields;
    std::string vehicle = VehicleType(data, size);
    fields.SetText(Field::VehicleType, vehicle);
    GpsLogs logs(state.logPaths, store.Files());
    Consumer consumer;
    GpsInput input(state, fields, logs, consumer, [] { return kNow; });

    std::vector<char> bytes(data, data + size);
    if (size > 0 && (data[size - 1] & 4) != 0)
        FixChecksums(bytes);
    // Lines chosen by the next-to-last byte meet logs that cannot be written. One good sentence
    // after the input, with the logs back, must bring every record kept meanwhile to the files
    // in order.
    std::uint8_t outage = size > 1 && (data[size - 1] & 0x10) != 0 ? data[size - 2] : 0;
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
            bool broken = lineIndex < inputLines;
            std::size_t bit = lineIndex % 8;
            store.Outage(lineIndex, broken && (outage >> bit & 1),
                         broken && (outage >> (7 - bit) & 1));
            ++lineIndex;
        }
        std::size_t before = consumer.calls;
        const std::uint64_t acceptedBefore = input.Accepted();
        input.AssembleSentence(1, &c);
        if (c == '\0') {
            Check(consumer.calls == before && input.Accepted() == acceptedBefore,
                  "a NUL byte ended a sentence");
            continue;
        }
        if (c != '\n') {
            line += c;
            if (++lineChars == GpsInput::kMaxSentence + 1)
                ++overlong;
            Check(consumer.calls == before && input.Accepted() == acceptedBefore,
                  "a sentence before the line feed");
            continue;
        }
        line += c;
        // A fix of quality 0 is accepted and logged, but gives the trigger engine no position.
        bool took = input.Accepted() != acceptedBefore;
        Check(input.Accepted() - acceptedBefore <= 1, "one line accepted twice", line);
        Check(consumer.calls - before <= (took ? 1u : 0u), "a position without an accepted fix",
              line);
        if (lineChars > GpsInput::kMaxSentence) {
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
    Check(store.Read(store.rawPath) == expectedRaw, "raw log differs from the accepted sentences");
    CheckGpsLog(store.Read(store.gpsPath), accepted, vehicle);
}

} // namespace ostrim::fuzz
