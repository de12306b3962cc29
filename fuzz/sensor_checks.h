#pragma once
// What must hold for any sensor-file text, shared by the target that loads a real file and the
// one that serves the text from memory:
// - never more than 24 entries, however many sensor lines;
// - the same entries whether the text comes whole, byte by byte, or in uneven pieces (a CR LF
//   split between two reads is the classic fault);
// - for short texts, the same entries as a plain line-by-line reading with the C library, where
//   a node id field that is not all hex digits (after an optional 0x) is kept as text, unread;
// - the loader fills the table with exactly those entries, says "%d sensors" (or "Trigger off"
//   and switches triggering off for none);
// - no crash and no slowdown on huge lines: an input starting with 0xFE is stretched to a long
//   text by repeating it.
// A violation aborts, so libFuzzer keeps the input.

#include "runstate/RunState.h"
#include "fuzz/fuzz_check.h"
#include "sensors/SensorFile.h"
#include "sensors/SensorTable.h"
#include "tests/support/FakeDialogFields.h"

#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace ostrim::fuzz {

inline constexpr std::size_t kReferenceLimit = 4096;

inline bool SameNumber(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

inline bool SameEntries(const std::vector<SensorEntry>& a, const std::vector<SensorEntry>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!SameNumber(a[i].latitude, b[i].latitude) ||
            !SameNumber(a[i].longitude, b[i].longitude) || a[i].nodeId != b[i].nodeId ||
            a[i].unreadableNodeId != b[i].unreadableNodeId)
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

inline double ReferenceDecimal(const std::string& field, bool& comparable)
{
    // strtod also reads hexadecimal floats; the field is a decimal number.
    std::size_t i = 0;
    while (i < field.size() && std::isspace(static_cast<unsigned char>(field[i])))
        ++i;
    if (i < field.size() && (field[i] == '+' || field[i] == '-'))
        ++i;
    if (i + 1 < field.size() && field[i] == '0' && (field[i + 1] == 'x' || field[i + 1] == 'X'))
        comparable = false;
    // A field that does not begin with a number reads as 0, where strtod reads "inf" and "nan".
    const auto digit = [&field](std::size_t at) {
        return at < field.size() && std::isdigit(static_cast<unsigned char>(field[at]));
    };
    if (!digit(i) && !(i < field.size() && field[i] == '.' && digit(i + 1)))
        return 0.0;
    return std::strtod(field.c_str(), nullptr);
}

// A node id field that is no hex number (white space around it aside), as the table keeps it:
// its first 24 characters, control characters shown as '?', and "..." when it was longer. Empty
// for a hex number.
inline std::string ReferenceUnreadable(const std::string& field)
{
    const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    std::size_t first = 0;
    std::size_t last = field.size();
    while (first < last && space(field[first]))
        ++first;
    while (last > first && space(field[last - 1]))
        --last;
    const std::string id = field.substr(first, last - first);
    std::size_t i = id.size() > 2 && id[0] == '0' && (id[1] == 'x' || id[1] == 'X') ? 2 : 0;
    bool hex = i < id.size();
    for (; i < id.size() && hex; ++i)
        hex = std::isxdigit(static_cast<unsigned char>(id[i])) != 0;
    if (hex)
        return {};
    std::string shown = field.substr(0, 24);
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    }
    return field.size() > 24 ? shown + "..." : shown;
}

inline std::uint32_t ReferenceNodeId(const std::string& field, bool& comparable)
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

inline Reference ReferenceParse(std::string_view text)
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
        e.unreadableNodeId = ReferenceUnreadable(fields[3]);
        e.nodeId = e.unreadableNodeId.empty() ? ReferenceNodeId(fields[3], ref.comparable) : 0;
        ref.entries.push_back(e);
    }
    return ref;
}

inline std::vector<SensorEntry> ParseInPieces(std::string_view text, std::size_t piece)
{
    SensorFileParser parser;
    for (std::size_t i = 0; i < text.size() && !parser.Done(); i += piece)
        parser.Feed(text.substr(i, piece));
    parser.Finish();
    return parser.Entries();
}

// The text the input stands for: itself, or, after a leading 0xFE, the rest repeated to at
// least `stretchedSize` bytes. `stretched` holds the text in the second case.
inline std::string_view SensorText(const std::uint8_t* data, std::size_t size,
                                   std::size_t stretchedSize, std::string& stretched)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    if (size > 1 && data[0] == 0xFE) {
        std::string_view unit = input.substr(1);
        stretched.reserve(stretchedSize + unit.size());
        while (stretched.size() < stretchedSize)
            stretched += unit;
        return stretched;
    }
    return input;
}

// Checks the parser on `text` and returns the entries every reading agreed on.
inline std::vector<SensorEntry> CheckParses(std::string_view text, bool stretched,
                                            const std::uint8_t* data, std::size_t size)
{
    std::vector<SensorEntry> whole = ParseSensorText(text);
    Check(whole.size() <= static_cast<std::size_t>(SensorTable::kCapacity),
          "more than 24 entries");

    // Piece sizes from the input, so splits fall at every kind of place.
    std::size_t piece = 1 + (size > 0 ? data[size / 2] % 7 : 0);
    if (text.size() <= kReferenceLimit)
        Check(SameEntries(ParseInPieces(text, 1), whole), "byte-by-byte parse differs");
    if (!stretched)
        Check(SameEntries(ParseInPieces(text, piece), whole), "parse in pieces differs");
    // A text no longer than one piece would be fed whole again, as above.
    if (text.size() > 4093)
        Check(SameEntries(ParseInPieces(text, 4093), whole), "parse in pieces differs");

    if (text.size() <= kReferenceLimit) {
        Reference ref = ReferenceParse(text);
        if (ref.comparable)
            Check(SameEntries(ref.entries, whole), "differs from the plain reading");
    }
    return whole;
}

// What a load that read the whole text must leave behind.
inline void CheckLoaded(const SensorLoadResult& result, const SensorTable& table,
                        const RunState& state, const test::FakeDialogFields& fields,
                        const std::vector<SensorEntry>& expected)
{
    Check(result.cause == FileErrorCause::None, "a readable file was refused");
    int count = table.count.load();
    Check(count >= 0 && count <= SensorTable::kCapacity, "count outside 0..24");
    Check(count == result.count && static_cast<std::size_t>(count) == expected.size(),
          "table count differs from the parsed entries");
    for (int i = 0; i < count; ++i) {
        Check(SameNumber(table.latitude[i], expected[i].latitude) &&
                  SameNumber(table.longitude[i], expected[i].longitude) &&
                  table.nodeId[i] == expected[i].nodeId && table.triggered[i].load() == 0 &&
                  table.unreadableNodeId[i].data() == expected[i].unreadableNodeId &&
                  table.Armable(i) == expected[i].unreadableNodeId.empty(),
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

} // namespace ostrim::fuzz
