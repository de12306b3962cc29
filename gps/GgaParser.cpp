#include "gps/GgaParser.h"

#include "platform/LocalTime.h"
#include "text/Ascii.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>
#include <vector>

namespace ostrim {

namespace {

constexpr char kTooLong[] = "Line from GPS receiver too long";
constexpr char kChecksumError[] = "Checksum error in GGA string";
constexpr char kEmpty[] = "Empty string from GPS receiver";
constexpr char kNotGga[] = "$GPGGA missing in GGA string";

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    }
    return true;
}

// Up to `count` characters from `pos`, fewer (or none) where the text is shorter.
std::string_view Slice(std::string_view text, std::size_t pos, std::size_t count)
{
    return pos < text.size() ? text.substr(pos, count) : std::string_view();
}

std::string_view StripLineEnd(std::string_view line)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

// Sets `body` to the text before "*hh"; false when the checksum is malformed or does not match.
// '$' and '*' are reserved in NMEA, so the first of each delimits the checked characters; a '*'
// with no '$' before it belongs to a sentence whose start was lost and cannot be checked.
bool SplitOffChecksum(std::string_view text, std::string_view& body)
{
    std::size_t star = text.find('*');
    if (star == std::string_view::npos) {
        body = text; // Receivers may omit the checksum; NMEA makes it optional for GGA.
        return true;
    }
    std::size_t dollar = text.find('$');
    if (dollar == std::string_view::npos || dollar > star || text.size() != star + 3)
        return false;
    int high = HexDigit(text[star + 1]);
    int low = HexDigit(text[star + 2]);
    if (high < 0 || low < 0)
        return false;
    unsigned sum = 0;
    for (std::size_t i = dollar + 1; i < star; ++i)
        sum ^= static_cast<unsigned char>(text[i]);
    if (sum != static_cast<unsigned>(high * 16 + low))
        return false;
    body = text.substr(0, star);
    return true;
}

// Every comma separates, so an empty field keeps its place.
std::vector<std::string_view> SplitFields(std::string_view body)
{
    std::vector<std::string_view> fields;
    fields.reserve(16); // a GGA sentence has 15: one allocation, not five
    std::size_t start = 0;
    for (;;) {
        std::size_t comma = body.find(',', start);
        if (comma == std::string_view::npos) {
            fields.push_back(body.substr(start));
            return fields;
        }
        fields.push_back(body.substr(start, comma - start));
        start = comma + 1;
    }
}

// As printf "%f" prints in the C locale, whatever locale the front end has set.
std::string FixedSix(double value)
{
    char buffer[400]; // the longest double in fixed notation is 309 digits plus sign and fraction
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    if (ec != std::errc())
        return "0.000000";
    return std::string(buffer, end);
}

std::string LocalDate(std::time_t time)
{
    std::tm local{};
    if (!ToLocalTime(time, &local))
        return std::string();
    char buffer[64];
    std::size_t length = std::strftime(buffer, sizeof buffer, "%m/%d/%Y", &local);
    return std::string(buffer, length);
}

std::string ErrorText(int err) { return std::generic_category().message(err); }

} // namespace

std::int64_t UtcMilliseconds(std::string_view field)
{
    if (field.size() < 6)
        return -1;
    int digits[6];
    for (int i = 0; i < 6; ++i) {
        if (field[i] < '0' || field[i] > '9')
            return -1;
        digits[i] = field[i] - '0';
    }
    const int hours = digits[0] * 10 + digits[1];
    const int minutes = digits[2] * 10 + digits[3];
    const int seconds = digits[4] * 10 + digits[5];
    if (hours > 23 || minutes > 59 || seconds > 60)
        return -1;
    std::int64_t ms = ((hours * 60LL + minutes) * 60 + seconds) * 1000;
    if (field.size() > 6) {
        if (field[6] != '.')
            return -1;
        int scale = 100;
        for (std::size_t i = 7; i < field.size(); ++i) {
            if (field[i] < '0' || field[i] > '9')
                return -1;
            ms += (field[i] - '0') * scale;
            scale /= 10;
        }
    }
    return ms;
}

double NmeaToDegrees(std::string_view field)
{
    std::size_t i = 0;
    while (i < field.size() && IsSpace(field[i]))
        ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
        negative = field[i] == '-';
        ++i;
    }
    // from_chars would also read "inf" and "nan"; a field is digits with a fraction and exponent.
    bool numberStarts = i < field.size()
        && (IsDigit(field[i]) || (field[i] == '.' && i + 1 < field.size() && IsDigit(field[i + 1])));
    if (!numberStarts)
        return 0.0;
    double number = 0.0;
    auto result = std::from_chars(field.data() + i, field.data() + field.size(), number,
                                  std::chars_format::general);
    if (result.ec != std::errc())
        return 0.0; // beyond a double's range: no usable position either way
    double v = (negative ? -number : number) / 100.0;
    double d = std::floor(v);
    return d + ((v - d) / 60.0) * 100.0;
}

std::string MakeGpsLogRecord(const std::string& vehicleType, const GpsFix& fix)
{
    std::string tail;
    tail.reserve(96);
    tail += ',';
    tail += fix.date;
    tail += ',';
    tail += fix.csvTime;
    tail += ',';
    tail += FixedSix(fix.latitude);
    tail += ',';
    if (fix.latitudeHemisphere != 0)
        tail += fix.latitudeHemisphere;
    tail += ',';
    tail += FixedSix(fix.longitude);
    tail += ',';
    if (fix.longitudeHemisphere != 0)
        tail += fix.longitudeHemisphere;
    tail += ',';
    tail += fix.heightText;

    // Room for the line feed; the vehicle type gives way first.
    constexpr std::size_t room = kMaxRecord - 1;
    std::string record;
    if (tail.size() <= room) {
        record = vehicleType.substr(0, room - tail.size());
        record += tail;
    } else {
        // Only absurd numbers (an exponent in a position field) get here: keep the line whole.
        record = tail.substr(0, room);
    }
    record += '\n';
    return record;
}

GpsInput::GpsInput(RunState& state, DialogFields& fields, GpsLogs& logs, PositionConsumer& engine,
                   Clock clock)
    : state_(state), fields_(fields), logs_(logs), engine_(engine), clock_(std::move(clock))
{
    sentence_.reserve(kMaxSentence + 1);
}

void GpsInput::AssembleSentence(int count, const char* chars)
{
    if (count <= 0 || chars == nullptr)
        return;
    for (int i = 0; i < count; ++i) {
        char c = chars[i];
        if (c == '\0')
            continue; // a NUL from the receiver adds nothing
        if (c == '\n') {
            if (overlong_) {
                overlong_ = false; // the dropped line ends here
            } else {
                sentence_ += c;
                ParseGga(sentence_);
            }
            sentence_.clear();
            continue;
        }
        if (overlong_)
            continue;
        if (sentence_.size() == kMaxSentence) {
            // Noise at a wrong baud rate, or a lost line feed: no sentence is this long.
            overlong_ = true;
            sentence_.clear();
            ++droppedLines_;
            fields_.SetText(Field::Status, kTooLong);
            continue;
        }
        sentence_ += c;
    }
}

// $GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*69
//   1      2         3        4 5         6 7 8  9   10    11
int GpsInput::ParseGga(std::string_view sentence)
{
    std::time_t now = clock_();

    std::string_view body;
    if (!SplitOffChecksum(StripLineEnd(sentence), body)) {
        fields_.SetText(Field::Status, kChecksumError);
        return 1;
    }
    if (body.find_first_not_of(',') == std::string_view::npos) {
        fields_.SetText(Field::Status, kEmpty);
        return 1;
    }
    std::vector<std::string_view> f = SplitFields(body);
    // Field n (counted from 1 as NMEA counts them), empty when the sentence has fewer.
    auto field = [&f](std::size_t n) { return n <= f.size() ? f[n - 1] : std::string_view(); };
    auto reject = [this](const char* text) {
        fields_.SetText(Field::Status, text);
        return 1;
    };

    // $GNGGA: multi-constellation receivers send only this talker.
    if (!EqualsIgnoringCase(field(1), "$GPGGA") && !EqualsIgnoringCase(field(1), "$GNGGA"))
        return reject(kNotGga);

    GpsFix fix;
    // hhmmss.ss; a shorter field gives what it has, a longer one is cut.
    std::string_view utc = field(2);
    if (utc.empty())
        return reject("No time in GGA string");
    fix.timeText = std::string(Slice(utc, 0, 2)) + ':' + std::string(Slice(utc, 2, 2)) + ':'
        + std::string(Slice(utc, 4, 2));
    fix.csvTime = std::string(Slice(utc, 0, 2)) + ',' + std::string(Slice(utc, 2, 2)) + ','
        + std::string(Slice(utc, 4, 5));
    fields_.SetText(Field::Time, fix.timeText);

    if (field(3).empty())
        return reject("No latitude in GGA string");
    fix.latitudeText = field(3);
    fix.latitude = NmeaToDegrees(field(3));
    fields_.SetText(Field::Latitude, fix.latitudeText);

    if (field(4).empty())
        return reject("No latitude direction in GGA string");
    fields_.SetText(Field::LatitudeHemisphere, std::string(field(4)));
    fix.latitudeHemisphere = field(4).front();

    if (field(5).empty())
        return reject("No longitude in GGA string");
    fix.longitudeText = field(5);
    fix.longitude = NmeaToDegrees(field(5));
    fields_.SetText(Field::Longitude, fix.longitudeText);

    if (field(6).empty())
        return reject("No longitude direction in GGA string");
    fields_.SetText(Field::LongitudeHemisphere, std::string(field(6)));
    fix.longitudeHemisphere = field(6).front();

    // Fields 7 to 9 (fix quality, satellites, dilution) are not needed for the record.
    if (field(10).empty())
        return reject("No height in GGA string");
    if (field(11).empty())
        return reject("No height unit in GGA string");
    fix.heightText = std::string(field(10)) + field(11).front();
    fields_.SetText(Field::Height, fix.heightText);

    int gpsErr = 0;
    int rawErr = 0;
    if (logging_) {
        fix.date = LocalDate(now);
        std::string record = MakeGpsLogRecord(fields_.GetText(Field::VehicleType), fix);
        gpsErr = logs_.AppendGpsLog(record);
        rawErr = logs_.AppendRawLog(sentence);
    }
    // Read once, so the hook is told what the engine is given.
    const bool switching = state_.triggerEnabled.load() != 0;
    const std::int64_t utcMs = UtcMilliseconds(utc);
    if (fixHook_) {
        fixHook_({fix.latitude, fix.longitude, fix.latitudeHemisphere, fix.longitudeHemisphere, utcMs,
                  FixQualityNumber(field(7)), switching});
    }
    if (logging_)
        ReportLogResults(gpsErr, rawErr);
    if (acceptedHook_)
        acceptedHook_(sentence);

    const bool hadNoPosition = noPosition_.NoPosition();
    const bool position = noPosition_.MayTrigger(field(7));
    if (noPosition_.NoPosition() != hadNoPosition)
        Raise(hadNoPosition ? EventType::QualityZeroEnd : EventType::QualityZeroBegin);
    if (position && switching)
        engine_.TriggerOnFix(fix.latitude, fix.longitude, utcMs);
    accepted_.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void GpsInput::Raise(EventType type, std::string detail, std::string reason)
{
    if (events_ == nullptr)
        return;
    RunEvent event;
    event.type = type;
    event.detail = std::move(detail);
    event.reason = std::move(reason);
    events_->OnEvent(event);
}

// Says when a log stops being written (or fails for another reason) and when it writes again;
// silent while an outage goes on, so the trigger's and the timers' texts stay readable.
void GpsInput::ReportLogResults(int gpsErr, int rawErr)
{
    std::string text;
    auto note = [this, &text](int& failing, int err, const char* name) {
        if (err == GpsLogs::kNoLogYet)
            return; // Start has not named the logs yet; the record waits for them
        std::string part;
        if (err != 0 && err != failing)
            part = std::string(name) + " log write failed: " + ErrorText(err);
        else if (err == 0 && failing != 0)
            part = std::string(name) + " log writing again";
        if (err != 0 && failing == 0)
            Raise(EventType::LogOutageBegin, std::string(name) + " log", ErrorText(err));
        else if (err == 0 && failing != 0)
            Raise(EventType::LogOutageEnd, std::string(name) + " log");
        failing = err;
        if (part.empty())
            return;
        if (!text.empty())
            text += "; ";
        text += part;
    };
    note(gpsLogFailing_, gpsErr, "GPS");
    note(rawLogFailing_, rawErr, "Raw");
    if (!text.empty())
        fields_.SetText(Field::Status, text);
}

} // namespace ostrim
