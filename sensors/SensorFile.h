#pragma once
// The sensor file: one sensor per line, four space-separated fields.
//
// Example: 45.2612 93.7034 7 4070BF7B   (latitude, longitude, ignored, node id in hex)
//
// Only the space separates fields (a tab or a comma is part of a field); a line without exactly
// four fields is skipped; the first empty line ends the file. Numbers are read the same in every
// locale: the decimal point is always '.'.

#include "runstate/DialogFields.h"
#include "runstate/RunState.h"
#include "sensors/SensorTable.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ostrim {

// Why a file could not be read, as the operator is told.
enum class FileErrorCause {
    None,
    FileNotFound,     // "%1 was not found."
    BadPath,          // "%1 contains an invalid path."
    AccessDenied,     // "Access to %1 was denied."
    SharingViolation, // "A sharing violation occurred while accessing %1."
    TooManyOpenFiles, // "%1 could not be opened because there are too many open files."
    Generic,          // "An unknown error occurred while accessing %1."
};

// The cause of a failed open or read; errors without a cause of their own give Generic.
FileErrorCause CauseFromErrno(int err);
// As CauseFromErrno, but a missing file whose folder is missing too is a BadPath.
FileErrorCause CauseFromOpenError(int err, const std::string& path);
// The message text of a cause with the path in place of "%1"; empty for None.
std::string FileErrorText(FileErrorCause cause, const std::string& path);

// Reads a hexadecimal number as the scan conversion "%X" does: leading white space skipped, an
// optional sign, an optional 0x or 0X, then hex digits of either case up to the first other
// character. The value wraps modulo 2^32 (of more than eight digits the last eight count) and a
// '-' negates it modulo 2^32. False, and `value` untouched, when no digit converts.
bool ScanHex32(std::string_view text, std::uint32_t& value);

// The same, one character at a time, so a field of any length is read without keeping it.
class Hex32Scanner {
public:
    // False once the number has ended; later characters are ignored.
    bool Feed(char c);
    // True when at least one digit converted.
    bool Converted() const { return converted_; }
    std::uint32_t Value() const;

private:
    enum class Stage { Space, Sign, Zero, Prefix, Digits, Ended };
    Stage stage_ = Stage::Space;
    bool negative_ = false;
    bool converted_ = false;
    std::uint32_t value_ = 0;
};

// A decimal number from the start of the text: leading white space, an optional sign, digits with
// a fraction and exponent. 0.0 when the text does not begin with a digit (or a point and a
// digit), so "inf" and "nan" give 0.0; a number too large for a double gives an infinity, one
// too small 0.
double ParseDecimal(std::string_view text);

struct SensorEntry {
    double latitude = 0.0;
    double longitude = 0.0;
    std::uint32_t nodeId = 0;
    // A node id field that is not a hex number, as written (cut to SensorTable::kNodeTextLimit
    // characters and "..."); empty for a readable id. The sensor is never switched, nodeId is 0.
    std::string unreadableNodeId{};
};


// Parses sensor text given in pieces of any size, up to the first empty line. A line ends at
// '\n'; a '\r' right before it goes with it. At most SensorTable::kCapacity entries are kept;
// once a valid line finds the table full (or a line of text follows the empty line) Done() is
// true and further text is ignored.
//
// A node id field is a hex number when it holds hex digits of either case, at least one, after an
// optional 0x or 0X; white space around them (a tab, a lone CR at the end of the file) is no part
// of the id. Any other field ("403BA38G", "cell", "-1") gives a sensor that keeps its place but
// is never armed: "%X" would read its leading digits as another node's id. A hex number of more
// than eight digits keeps its last eight, as "%X" reads it.
//
// Warnings() tells, by line number, what was not read as written: a skipped line, a node id that
// is no hex number ("line 3: node id 403BA38G unreadable: sensor 3 is not armed") or has more
// than eight digits, a sensor beyond the table's capacity, text after the empty line that ends
// the list.
// Memory stays bounded whatever the line length: a number field keeps only its first
// kNumberTextLimit characters, far more than any double needs, and the node id is scanned as it
// streams past.
class SensorFileParser {
public:
    static constexpr std::size_t kNumberTextLimit = 1 << 20;

    void Feed(std::string_view text);
    // Ends the text: a last line without '\n' counts.
    void Finish();
    bool Done() const { return done_; }
    const std::vector<SensorEntry>& Entries() const { return entries_; }
    const std::vector<std::string>& Warnings() const { return warnings_; }

    // Beyond it one last warning says that more were not listed.
    static constexpr std::size_t kMaxWarnings = 50;

private:
    void Char(char c);
    // Characters of one field, none of them a space, CR or LF.
    void Run(std::string_view run);
    bool AfterListEnd();
    void EndLine();
    void Warn(const std::string& text);

    std::vector<SensorEntry> entries_;
    std::vector<std::string> warnings_;
    long long line_ = 1;       // number of the line being read
    long long emptyLine_ = 0;  // the empty line that ended the list, 0 before it
    bool done_ = false;
    bool pendingCr_ = false;
    // The line being read.
    bool lineEmpty_ = true;
    bool inField_ = false;
    int fields_ = 0; // stops counting at 5: any count above 4 is as good as another
    std::string latitudeText_;
    std::string longitudeText_;
    Hex32Scanner nodeId_;
    std::string nodeText_; // the node id field as written, cut for the warning
    // How far the node id field is a hex number: at its start (white space skipped), after a
    // leading 0, after 0x, among the digits, in white space after them, or not one.
    enum class NodeForm { Start, Zero, Prefix, Digits, Trailing, Bad };
    NodeForm nodeForm_ = NodeForm::Start;
};

// Parses the lines of a sensor file up to its first empty line; at most SensorTable::kCapacity
// entries are returned, later valid lines are not stored.
std::vector<SensorEntry> ParseSensorText(std::string_view text);

struct SensorLoadResult {
    FileErrorCause cause = FileErrorCause::None;
    std::string message; // the message box text, empty when the file was read
    int count = 0;       // the table's count after the call
    std::vector<std::string> warnings; // SensorFileParser::Warnings of the file read
};

// The message that lists a load's warnings for the operator, empty when there are none.
std::string SensorWarningsText(const std::string& path, const SensorLoadResult& result);

// Reads the file into the table and sets the status texts; on an empty table switches
// triggering off; then one message (DialogFields::ShowMessage) lists the lines not read as
// written (SensorWarningsText). A file that cannot be read shows its message, then
// "Unable to read Sensor file", and leaves the table as it was; so does a read that fails part
// way, since the table is filled only after the whole file was read.
//
// Only regular files are read: a folder is refused as access denied, a pipe or device as an
// unknown error (reading one could block the caller for ever).
//
// Thread rule: runs on the GUI thread; the trigger engine may read the table meanwhile, because
// every entry is written before the count that covers it (see SensorTable). It must not run
// while the table's entries are being read under an earlier, larger count (the program loads the
// table once, when its count is 0).
SensorLoadResult LoadSensorFile(const std::string& path, SensorTable& table, RunState& state,
                                DialogFields& fields);

// The read call LoadSensorFile uses, as ::read; tests pass one that fails part way.
using ReadFunction = long (*)(int fd, void* buffer, std::size_t size);
SensorLoadResult LoadSensorFile(const std::string& path, SensorTable& table, RunState& state,
                                DialogFields& fields, ReadFunction read);

} // namespace ostrim
