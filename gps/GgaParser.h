#pragma once
// Characters from the receiver become sentences; $GPGGA (and $GNGGA) sentences become fixes that
// are shown, logged and handed to the trigger engine.
//
// Example: $GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*69

#include "runstate/DialogFields.h"
#include "runstate/RunEvents.h"
#include "runstate/RunState.h"
#include "gps/FixQuality.h"
#include "gps/LogFiles.h"
#include "trigger/TriggerInterfaces.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

namespace ostrim {

struct GpsFix {
    std::string timeText;    // hh:mm:ss, the receiver's UTC time
    std::string csvTime;     // hh,mm,ss.ss: three columns of the log record
    std::string date;        // mm/dd/yyyy, the computer's local date
    std::string latitudeText;
    double latitude = 0.0;   // decimal degrees, the hemisphere letter not applied
    char latitudeHemisphere = 0;
    std::string longitudeText;
    double longitude = 0.0;
    char longitudeHemisphere = 0;
    std::string heightText;  // altitude followed by the unit letter, e.g. 545.4M
};

// An accepted fix as the trigger side sees it, whether or not the engine gets it.
struct AcceptedFix {
    double latitude = 0.0;    // decimal degrees, the hemisphere letter not applied
    double longitude = 0.0;
    char latitudeHemisphere = 0;
    char longitudeHemisphere = 0;
    std::int64_t utcMs = -1;  // UtcMilliseconds of the time field
    int quality = -1;         // FixQualityNumber of field 7
    bool switching = false;   // triggering was on: with a quality other than 0 the engine gets it
};

// hhmmss[.s...] to milliseconds of the UTC day; -1 unless the field is a whole time (the
// clock of a fix must not jump on a garbled field that the rest of the parser still takes).
std::int64_t UtcMilliseconds(std::string_view field);

// ddmm.mmmm (or dddmm.mmmm) to decimal degrees; text without a number gives 0.
double NmeaToDegrees(std::string_view field);

// The GPS log record "%s,%s,%s,%f,%c,%f,%c,%s\n", at most kMaxRecord characters: an over-long
// vehicle type is cut so the record keeps its other columns and its line end.
inline constexpr std::size_t kMaxRecord = 255;
std::string MakeGpsLogRecord(const std::string& vehicleType, const GpsFix& fix);

// Thread rule: AssembleSentence and ParseGga run on the GPS reader thread only.
class GpsInput {
public:
    using Clock = std::function<std::time_t()>;

    GpsInput(RunState& state, DialogFields& fields, GpsLogs& logs, PositionConsumer& engine,
             Clock clock = [] { return std::time(nullptr); });

    // Appends the received characters (a NUL adds nothing); at a line feed the sentence goes to
    // ParseGga. A line that runs past kMaxSentence characters is dropped whole, up to and
    // including its line feed, and the status line says so.
    void AssembleSentence(int count, const char* chars);
    // 0 when the sentence was accepted, 1 when it was rejected (the status line says why).
    // A sentence with a "*hh" checksum that does not match is rejected before anything is shown.
    int ParseGga(std::string_view sentence);

    // Told of each accepted sentence, as received, once both logs have it. Set before the
    // reader starts; runs on the reader thread.
    void SetAcceptedHook(std::function<void(std::string_view)> hook) { acceptedHook_ = std::move(hook); }
    // Told of each accepted fix once both logs have it, before anything else hears of it (the
    // status texts and the events of the same fix come after) and before the engine gets it
    // (or, under quality 0 or with triggering off, does not). Set before the reader starts;
    // runs on the reader thread.
    void SetFixHook(std::function<void(const AcceptedFix&)> hook) { fixHook_ = std::move(hook); }
    // Told when the GPS or raw log stops being written and when it writes again, and when the
    // receiver's fixes lose their position (quality 0) and have it again. Set before the reader
    // starts.
    void SetEventSink(EventSink* events) { events_ = events; }
    // Off: accepted sentences go to neither log (a replay that writes no GPS log). On by default;
    // set before the reader starts.
    void SetLogging(bool on) { logging_ = on; }

    // Lines dropped whole for running past kMaxSentence characters before their line feed.
    std::size_t DroppedLines() const { return droppedLines_; }
    // Sentences accepted so far; any thread may read it.
    std::uint64_t Accepted() const { return accepted_.load(std::memory_order_relaxed); }

    static constexpr std::size_t kMaxSentence = 255;

private:
    void ReportLogResults(int gpsErr, int rawErr);
    void Raise(EventType type, std::string detail = {}, std::string reason = {});

    RunState& state_;
    DialogFields& fields_;
    GpsLogs& logs_;
    PositionConsumer& engine_;
    Clock clock_;
    NoPositionGate noPosition_{fields_};
    std::function<void(std::string_view)> acceptedHook_;
    std::function<void(const AcceptedFix&)> fixHook_;
    EventSink* events_ = nullptr;
    bool logging_ = true;
    std::string sentence_;
    bool overlong_ = false;
    std::size_t droppedLines_ = 0;
    int gpsLogFailing_ = 0; // the errno the status line last gave for the log, or 0
    int rawLogFailing_ = 0;
    std::atomic<std::uint64_t> accepted_{0};
};

} // namespace ostrim
