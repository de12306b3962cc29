#include "sensors/SensorFile.h"

#include "platform/FileRead.h"
#include "text/Ascii.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <system_error>
#include <vector>

namespace ostrim {

namespace {

// Whether a decimal number that std::from_chars found out of range is too large (rather than too
// small): the decimal exponent of its first significant digit decides.
bool TooLarge(std::string_view text)
{
    std::size_t i = 0;
    long long intDigits = 0;
    long long leadingFractionZeros = 0;
    bool significant = false;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        if (text[i] != '0' || significant) {
            significant = true;
            ++intDigits;
        }
    }
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && IsDigit(text[i]); ++i) {
            if (significant)
                continue;
            if (text[i] == '0')
                ++leadingFractionZeros;
            else
                significant = true;
        }
    }
    long long exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            negative = text[i++] == '-';
        for (; i < text.size() && IsDigit(text[i]); ++i) {
            if (exponent < 1'000'000'000)
                exponent = exponent * 10 + (text[i] - '0');
        }
        if (negative)
            exponent = -exponent;
    }
    long long magnitude = intDigits > 0 ? intDigits - 1 : -(leadingFractionZeros + 1);
    return magnitude + exponent > 0;
}

// Enough of a node id field to recognise it in a warning.
constexpr std::size_t kNodeNoteLimit = SensorTable::kNodeTextLimit;

std::string LineLabel(long long line)
{
    return "line " + std::to_string(line);
}

std::string SkippedLineText(long long line, int fields)
{
    std::string count = fields > 4    ? std::string("more than 4 fields")
                        : fields == 1 ? std::string("1 field")
                                      : std::to_string(fields) + " fields";
    return LineLabel(line) + ": skipped: " + count + ", a sensor line has 4 separated by spaces";
}

// Whether "%X" kept only the last eight of the field's digits.
bool MoreThanEightDigits(std::string_view text)
{
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X'))
        i += 2;
    while (i < text.size() && text[i] == '0')
        ++i;
    std::size_t digits = 0;
    for (; i < text.size() && HexDigit(text[i]) >= 0; ++i)
        ++digits;
    return digits > 8;
}

// The field as a warning or the panel shows it: cut, and marked so when it was; a control
// character (a NUL would end the table's text) shows as '?'.
std::string ShownNodeText(const std::string& field)
{
    std::string shown = field.substr(0, kNodeNoteLimit);
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    }
    return field.size() > kNodeNoteLimit ? shown + "..." : shown;
}

std::string NodeIdText(long long line, const std::string& field, std::uint32_t value)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(value));
    return LineLabel(line) + ": node id " + ShownNodeText(field) + " read as " + hex;
}

long SystemRead(int fd, void* buffer, std::size_t size)
{
    return ReadFileBytes(fd, buffer, size);
}

struct ReadOutcome {
    FileErrorCause cause = FileErrorCause::None;
    std::vector<SensorEntry> entries;
    std::vector<std::string> warnings;
};

ReadOutcome ReadSensorFile(const std::string& path, ReadFunction read)
{
    ReadOutcome outcome;
    int fd = -1;
    if (int err = OpenRegularFile(path, &fd)) {
        outcome.cause = err == ENODEV ? FileErrorCause::Generic : CauseFromOpenError(err, path);
        return outcome;
    }
    struct Closer {
        int fd;
        ~Closer() { CloseFile(fd); }
    } closer{fd};

    SensorFileParser parser;
    // Left uninitialised: each read fills what the parser then sees, and zeroing 64 KiB on every
    // load is most of a load's cost for a short file.
    constexpr std::size_t kReadSize = 64 * 1024;
    std::unique_ptr<char[]> buffer(new char[kReadSize]);
    while (!parser.Done()) {
        long got = read(fd, buffer.get(), kReadSize);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            outcome.cause = CauseFromErrno(errno);
            return outcome;
        }
        if (got == 0)
            break;
        parser.Feed(std::string_view(buffer.get(), static_cast<std::size_t>(got)));
    }
    parser.Finish();
    outcome.entries = parser.Entries();
    outcome.warnings = parser.Warnings();
    return outcome;
}

} // namespace

FileErrorCause CauseFromErrno(int err)
{
    switch (err) {
    case ENOENT:
        return FileErrorCause::FileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return FileErrorCause::BadPath;
    case EACCES:
    case EPERM:
    case EISDIR:
        return FileErrorCause::AccessDenied;
    case EMFILE:
    case ENFILE:
        return FileErrorCause::TooManyOpenFiles;
    case ETXTBSY:
    case EBUSY:
    case EWOULDBLOCK:
        return FileErrorCause::SharingViolation;
    default:
        return FileErrorCause::Generic;
    }
}

FileErrorCause CauseFromOpenError(int err, const std::string& path)
{
    FileErrorCause cause = CauseFromErrno(err);
    if (cause == FileErrorCause::FileNotFound && (path.empty() || !ParentFolderExists(path)))
        return FileErrorCause::BadPath;
    return cause;
}

std::string FileErrorText(FileErrorCause cause, const std::string& path)
{
    const char* format = "An unknown error occurred while accessing %1.";
    switch (cause) {
    case FileErrorCause::None:
        return {};
    case FileErrorCause::FileNotFound:
        format = "%1 was not found.";
        break;
    case FileErrorCause::BadPath:
        format = "%1 contains an invalid path.";
        break;
    case FileErrorCause::AccessDenied:
        format = "Access to %1 was denied.";
        break;
    case FileErrorCause::SharingViolation:
        format = "A sharing violation occurred while accessing %1.";
        break;
    case FileErrorCause::TooManyOpenFiles:
        format = "%1 could not be opened because there are too many open files.";
        break;
    case FileErrorCause::Generic:
        break;
    }
    std::string text = format;
    text.replace(text.find("%1"), 2, path);
    return text;
}

void SensorTable::SetUnreadableNodeId(int i, const std::string& text)
{
    auto& slot = unreadableNodeId[static_cast<std::size_t>(i)];
    const std::size_t length = std::min(text.size(), slot.size() - 1);
    std::copy_n(text.begin(), length, slot.begin());
    slot[length] = '\0';
}

std::string NotArmedText(const std::string& nodeIdText)
{
    return "not armed: node id " + nodeIdText + " unreadable";
}

bool Hex32Scanner::Feed(char c)
{
    int digit = HexDigit(c);
    switch (stage_) {
    case Stage::Space:
        if (IsSpace(c))
            return true;
        if (c == '+' || c == '-') {
            negative_ = c == '-';
            stage_ = Stage::Sign;
            return true;
        }
        [[fallthrough]];
    case Stage::Sign:
        if (c == '0') {
            converted_ = true;
            stage_ = Stage::Zero;
            return true;
        }
        break;
    case Stage::Zero:
        if (c == 'x' || c == 'X') {
            stage_ = Stage::Prefix;
            return true;
        }
        break;
    case Stage::Prefix:
    case Stage::Digits:
        break;
    case Stage::Ended:
        return false;
    }
    if (digit < 0) {
        stage_ = Stage::Ended;
        return false;
    }
    // Unsigned arithmetic wraps: only the last eight digits stay.
    value_ = value_ * 16u + static_cast<std::uint32_t>(digit);
    converted_ = true;
    stage_ = Stage::Digits;
    return true;
}

std::uint32_t Hex32Scanner::Value() const
{
    return negative_ ? 0u - value_ : value_;
}

bool ScanHex32(std::string_view text, std::uint32_t& value)
{
    Hex32Scanner scanner;
    for (char c : text) {
        if (!scanner.Feed(c))
            break;
    }
    if (!scanner.Converted())
        return false;
    value = scanner.Value();
    return true;
}

double ParseDecimal(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    // from_chars would also read "inf" and "nan", and a '-' of its own after the sign.
    bool numberStarts = i < text.size()
        && (IsDigit(text[i]) || (text[i] == '.' && i + 1 < text.size() && IsDigit(text[i + 1])));
    if (!numberStarts)
        return 0.0;

    const char* first = text.data() + i;
    const char* last = text.data() + text.size();
    double value = 0.0;
    auto [end, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec == std::errc::invalid_argument)
        return 0.0;
    if (ec == std::errc::result_out_of_range) {
        value = TooLarge(std::string_view(first, static_cast<std::size_t>(end - first)))
                    ? std::numeric_limits<double>::infinity()
                    : 0.0;
    }
    return negative ? -value : value;
}

namespace {

// The characters that end a run of a field's characters.
constexpr std::array<bool, 256> kRunEnds = [] {
    std::array<bool, 256> ends{};
    ends[static_cast<unsigned char>(' ')] = true;
    ends[static_cast<unsigned char>('\r')] = true;
    ends[static_cast<unsigned char>('\n')] = true;
    return ends;
}();

} // namespace

void SensorFileParser::Feed(std::string_view text)
{
    const char* next = text.data();
    const char* const end = next + text.size();
    while (next != end) {
        if (done_)
            return;
        char c = *next;
        if (pendingCr_) {
            pendingCr_ = false;
            if (c == '\n') {
                EndLine();
                ++next;
                continue;
            }
            Char('\r');
        }
        if (c == '\r') {
            pendingCr_ = true;
            ++next;
        } else if (c == '\n') {
            EndLine();
            ++next;
        } else if (c == ' ') {
            Char(c);
            ++next;
        } else {
            // A field's characters are taken a run at a time: one at a time, the checks of each
            // were most of the cost of a line.
            const char* runEnd = next + 1;
            while (runEnd != end && !kRunEnds[static_cast<unsigned char>(*runEnd)])
                ++runEnd;
            Run(std::string_view(next, static_cast<std::size_t>(runEnd - next)));
            next = runEnd;
        }
    }
}

void SensorFileParser::Finish()
{
    if (done_)
        return;
    // A lone '\r' at the very end is part of the last line.
    if (pendingCr_) {
        pendingCr_ = false;
        Char('\r');
    }
    if (!lineEmpty_)
        EndLine();
    done_ = true;
}

void SensorFileParser::Char(char c)
{
    if (AfterListEnd())
        return;
    if (c == ' ') {
        lineEmpty_ = false;
        inField_ = false;
        return;
    }
    Run(std::string_view(&c, 1));
}

// Text after the empty line that ends the list is not read; it is told once, as it is likely a
// gap left between groups of sensors and everything below it is lost.
bool SensorFileParser::AfterListEnd()
{
    if (emptyLine_ == 0)
        return false;
    Warn(LineLabel(line_) + ": not read: the empty line " + std::to_string(emptyLine_) +
         " ends the sensor list");
    done_ = true;
    return true;
}

void SensorFileParser::Run(std::string_view run)
{
    if (AfterListEnd())
        return;
    lineEmpty_ = false;
    if (!inField_) {
        inField_ = true;
        if (fields_ < 5)
            ++fields_;
    }
    switch (fields_) {
    case 1:
        latitudeText_.append(run.substr(0, kNumberTextLimit - latitudeText_.size()));
        break;
    case 2:
        longitudeText_.append(run.substr(0, kNumberTextLimit - longitudeText_.size()));
        break;
    case 4:
        nodeText_.append(run.substr(0, kNodeNoteLimit + 1 - nodeText_.size()));
        for (char c : run) {
            const bool digit = HexDigit(c) >= 0;
            const bool space = IsSpace(c);
            switch (nodeForm_) {
            case NodeForm::Start:
                nodeForm_ = space      ? NodeForm::Start
                            : c == '0' ? NodeForm::Zero
                            : digit    ? NodeForm::Digits
                                       : NodeForm::Bad;
                break;
            case NodeForm::Zero:
                nodeForm_ = c == 'x' || c == 'X' ? NodeForm::Prefix
                            : digit              ? NodeForm::Digits
                            : space              ? NodeForm::Trailing
                                                 : NodeForm::Bad;
                break;
            case NodeForm::Prefix:
                nodeForm_ = digit ? NodeForm::Digits : NodeForm::Bad;
                break;
            case NodeForm::Digits:
                nodeForm_ = digit ? NodeForm::Digits : space ? NodeForm::Trailing : NodeForm::Bad;
                break;
            case NodeForm::Trailing:
                nodeForm_ = space ? NodeForm::Trailing : NodeForm::Bad;
                break;
            case NodeForm::Bad:
                break;
            }
            if (nodeForm_ == NodeForm::Bad)
                break;
            nodeId_.Feed(c);
        }
        break;
    default: // field 3 is ignored; a fifth field makes the line invalid
        break;
    }
}

void SensorFileParser::EndLine()
{
    if (lineEmpty_) {
        // The list ends here; reading goes on only to tell of text that follows.
        if (emptyLine_ == 0)
            emptyLine_ = line_;
        ++line_;
        return;
    }
    if (fields_ != 4) {
        Warn(SkippedLineText(line_, fields_));
    } else if (entries_.size() == static_cast<std::size_t>(SensorTable::kCapacity)) {
        Warn(LineLabel(line_) + ": not read: the table holds " +
             std::to_string(SensorTable::kCapacity) + " sensors");
        done_ = true;
    } else {
        SensorEntry entry;
        entry.latitude = ParseDecimal(latitudeText_);
        entry.longitude = ParseDecimal(longitudeText_);
        const bool readable =
            nodeForm_ == NodeForm::Zero || nodeForm_ == NodeForm::Digits || nodeForm_ == NodeForm::Trailing;
        if (readable)
            entry.nodeId = nodeId_.Value();
        else
            entry.unreadableNodeId = ShownNodeText(nodeText_);
        entries_.push_back(entry);
        if (!readable)
            Warn(LineLabel(line_) + ": node id " + entry.unreadableNodeId + " unreadable: sensor " +
                 std::to_string(entries_.size()) + " is not armed");
        else if (MoreThanEightDigits(nodeText_))
            Warn(NodeIdText(line_, nodeText_, entry.nodeId));
    }
    ++line_;
    lineEmpty_ = true;
    inField_ = false;
    fields_ = 0;
    latitudeText_.clear();
    longitudeText_.clear();
    nodeId_ = Hex32Scanner();
    nodeText_.clear();
    nodeForm_ = NodeForm::Start;
}

void SensorFileParser::Warn(const std::string& text)
{
    if (warnings_.size() < kMaxWarnings)
        warnings_.push_back(text);
    else if (warnings_.size() == kMaxWarnings)
        warnings_.push_back("more lines not read as written are not listed");
}

std::vector<SensorEntry> ParseSensorText(std::string_view text)
{
    SensorFileParser parser;
    parser.Feed(text);
    parser.Finish();
    return parser.Entries();
}

SensorLoadResult LoadSensorFile(const std::string& path, SensorTable& table, RunState& state,
                                DialogFields& fields)
{
    return LoadSensorFile(path, table, state, fields, SystemRead);
}

SensorLoadResult LoadSensorFile(const std::string& path, SensorTable& table, RunState& state,
                                DialogFields& fields, ReadFunction read)
{
    SensorLoadResult result;
    ReadOutcome outcome = ReadSensorFile(path, read);
    if (outcome.cause != FileErrorCause::None) {
        result.cause = outcome.cause;
        result.message = FileErrorText(outcome.cause, path);
        result.count = table.count.load(std::memory_order_acquire);
        fields.ShowMessage(result.message);
        fields.SetText(Field::Status, "Unable to read Sensor file");
        return result;
    }

    // Each entry is complete before the count that covers it, for the engine's thread.
    table.count.store(0, std::memory_order_release);
    const int count = static_cast<int>(outcome.entries.size());
    for (int i = 0; i < count; ++i) {
        table.latitude[i] = outcome.entries[i].latitude;
        table.longitude[i] = outcome.entries[i].longitude;
        table.nodeId[i] = outcome.entries[i].nodeId;
        table.SetUnreadableNodeId(i, outcome.entries[i].unreadableNodeId);
        table.triggered[i].store(0);
        table.count.store(i + 1, std::memory_order_release);
    }
    result.count = count;
    result.warnings = std::move(outcome.warnings);

    char text[32];
    std::snprintf(text, sizeof text, "%d sensors", count);
    fields.SetText(Field::Status, text);
    if (count == 0) {
        state.triggerEnabled.store(0);
        fields.SetText(Field::Status, "Trigger off");
    }
    if (!result.warnings.empty())
        fields.ShowMessage(SensorWarningsText(path, result));
    return result;
}

std::string SensorWarningsText(const std::string& path, const SensorLoadResult& result)
{
    if (result.warnings.empty())
        return {};
    std::string text = "Sensor file " + path + ": " + std::to_string(result.count) +
                       (result.count == 1 ? " sensor" : " sensors") +
                       " loaded. These lines were not read as written:";
    for (const std::string& warning : result.warnings)
        text += "\n" + warning;
    return text;
}

} // namespace ostrim
