#include "gps/EventLog.h"

#include "platform/LocalTime.h"
#include "sensors/Distance.h"
#include "trigger/PathPrediction.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace ostrim {

namespace {

// Fixes further apart than this give no speed: the vehicle may have stopped and gone on.
constexpr std::int64_t kSpeedGapMs = 5000;

std::string Fixed(double value, int decimals)
{
    if (std::isnan(value))
        return {};
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return ec == std::errc() ? std::string(buffer, end) : std::string();
}

std::string LocalTimeText(std::chrono::system_clock::time_point wall)
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(wall.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    int millis = static_cast<int>(ms % 1000);
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    std::tm local{};
    if (!ToLocalTime(seconds, &local))
        return {};
    char text[48];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03d", millis);
    return text;
}

std::string UtcText(std::int64_t ms)
{
    if (ms < 0)
        return {};
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", static_cast<long long>(ms / 3600000 % 24),
                  static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
                  static_cast<long long>(ms % 1000));
    return text;
}

const char* KindName(FiringKind kind)
{
    switch (kind) {
    case FiringKind::OnFix: return "on-fix";
    case FiringKind::Predicted: return "predicted";
    case FiringKind::Late: return "late";
    case FiringKind::TestNode: return "test node";
    case FiringKind::None: break;
    }
    return "";
}

const char* ResultName(EventResult result)
{
    switch (result) {
    case EventResult::Written: return "written";
    case EventResult::OpenFailed: return "failed to open";
    case EventResult::WriteFailed: return "write failed";
    case EventResult::Answered: return "answered";
    case EventResult::NoAnswer: return "no answer";
    case EventResult::Replayed: return "replayed";
    case EventResult::None: break;
    }
    return "";
}

// As CSV quotes a field: only when it holds a separator, a quote or a line break.
std::string Quoted(const std::string& field)
{
    if (field.find_first_of(",\"\r\n") == std::string::npos)
        return field;
    std::string out = "\"";
    for (char c : field) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

} // namespace

const char kEventLogHeader[] =
    "local time,fix UTC,event,sensor,node id,rule,kind,result,reason,latitude,longitude,"
    "speed km/h,heading deg,distance m,past entry m,detail\r\n";

const char* EventName(EventType type)
{
    switch (type) {
    case EventType::Start: return "start";
    case EventType::BaseStationCheck: return "base station check";
    case EventType::SwitchingOn: return "switching on";
    case EventType::SwitchingOff: return "switching off";
    case EventType::Firing: return "firing";
    case EventType::NodeOn: return "node on";
    case EventType::NodeOff: return "node off";
    case EventType::EndOfLap: return "end of lap";
    case EventType::ReceiverLost: return "receiver lost";
    case EventType::ReceiverBack: return "receiver back";
    case EventType::LogOutageBegin: return "log outage begins";
    case EventType::LogOutageEnd: return "log outage ends";
    case EventType::QualityZeroBegin: return "quality 0 begins";
    case EventType::QualityZeroEnd: return "quality 0 ends";
    case EventType::SensorsLoaded: return "sensors loaded";
    case EventType::SensorsReloaded: return "sensors reloaded";
    case EventType::SensorsApplied: return "sensors in force";
    case EventType::Missed: return "missed";
    case EventType::PassFired: return "pass fired";
    }
    return "";
}

std::string FormatEventRow(const RunEvent& e)
{
    std::string row;
    row.reserve(160);
    auto field = [&row](const std::string& text, bool last = false) {
        row += text;
        row += last ? "\r\n" : ",";
    };
    field(e.wall == std::chrono::system_clock::time_point{} ? std::string() : LocalTimeText(e.wall));
    field(UtcText(e.fixUtcMs));
    field(EventName(e.type));
    field(e.sensor >= 0 ? std::to_string(e.sensor + 1) : std::string());
    char node[16] = "";
    if (e.hasNode)
        std::snprintf(node, sizeof node, "%08X", static_cast<unsigned>(e.nodeId));
    field(node);
    field(e.predictiveRule ? "predictive" : "on-fix");
    field(KindName(e.kind));
    field(ResultName(e.result));
    field(Quoted(e.reason));
    field(Fixed(e.latitude, 6));
    field(Fixed(e.longitude, 6));
    field(Fixed(e.speed, 1));
    field(Fixed(e.heading, 1));
    field(Fixed(e.type == EventType::Missed ? e.closest : e.distance, 1));
    field(Fixed(e.pastEntry, 1));
    field(Quoted(e.detail), true);
    return row;
}

void VehicleTrack::OnFix(double latitude, double longitude, std::int64_t utcMs, Steady arrived)
{
    before_ = last_;
    last_ = {latitude, longitude, utcMs, arrived};
    ++fixes_;
}

bool VehicleTrack::Velocity(double& east, double& north) const
{
    if (fixes_ < 2 || last_.utcMs < 0 || before_.utcMs < 0)
        return false;
    std::int64_t step = last_.utcMs - before_.utcMs;
    if (step < -12LL * 3600 * 1000)
        step += 24LL * 3600 * 1000; // past midnight
    if (step <= 0 || step > kSpeedGapMs)
        return false;
    const PlanePoint scale = MetresPerDegreeAt(last_.latitude);
    east = (last_.longitude - before_.longitude) * scale.x / static_cast<double>(step);
    north = (last_.latitude - before_.latitude) * scale.y / static_cast<double>(step);
    return true;
}

void VehicleTrack::Describe(RunEvent& e, Steady now) const
{
    if (fixes_ == 0)
        return;
    if (e.fixUtcMs < 0)
        e.fixUtcMs = last_.utcMs;
    double east = 0;
    double north = 0;
    const bool moving = Velocity(east, north);
    if (std::isnan(e.latitude) || std::isnan(e.longitude)) {
        e.latitude = last_.latitude;
        e.longitude = last_.longitude;
        if (moving && e.kind == FiringKind::Predicted && now > last_.arrived) {
            const double ms = std::chrono::duration<double, std::milli>(now - last_.arrived).count();
            const PlanePoint scale = MetresPerDegreeAt(last_.latitude);
            e.latitude += north * ms / scale.y;
            e.longitude += east * ms / scale.x;
        }
    }
    if (moving) {
        if (std::isnan(e.speed))
            e.speed = std::hypot(east, north) * 3600.0; // m/ms to km/h
        if (std::isnan(e.heading) && (east != 0 || north != 0)) {
            double degrees = std::atan2(east, north) * 180.0 / std::numbers::pi;
            e.heading = degrees < 0 ? degrees + 360.0 : degrees;
        }
    }
}

void VehicleTrack::Describe(RunEvent& e, double sensorLatitude, double sensorLongitude,
                            double threshold, Steady now) const
{
    Describe(e, now);
    if (fixes_ == 0)
        return;
    if (std::isnan(e.distance))
        e.distance = GeodesicDistance(e.latitude, e.longitude, sensorLatitude, sensorLongitude);
    if (!std::isnan(e.pastEntry) || fixes_ < 2)
        return;
    // The stretch the vehicle drove into the region on: from the fix before to where it is now.
    const bool predicted = e.kind == FiringKind::Predicted;
    const Fix& from = predicted ? last_ : before_;
    const PlanePoint scale = MetresPerDegreeAt(sensorLatitude);
    const PlanePoint p0{(from.longitude - sensorLongitude) * scale.x, (from.latitude - sensorLatitude) * scale.y};
    const PlanePoint p1{(e.longitude - sensorLongitude) * scale.x, (e.latitude - sensorLatitude) * scale.y};
    const bool startedInside = std::hypot(p0.x, p0.y) < threshold && p0.x < 0 && p0.y < 0;
    if (startedInside)
        return; // entered before the stretch began: where is not known
    const double entry = RegionEntry(p0, p1, threshold);
    if (entry >= 0.0)
        e.pastEntry = (1.0 - entry) * std::hypot(p1.x - p0.x, p1.y - p0.y);
}

bool EventRows::Complete(RunEvent& event, std::thread::id thread, double threshold, Steady now)
{
    if (event.type == EventType::NodeOn || event.type == EventType::NodeOff) {
        auto firing = firings_.find(thread);
        if (firing != firings_.end() && firing->second.nodeId == event.nodeId) {
            const RunEvent& f = firing->second;
            if (event.sensor < 0) {
                event.sensor = f.sensor;
                event.sensorLatitude = f.sensorLatitude;
                event.sensorLongitude = f.sensorLongitude;
            }
            if (event.kind == FiringKind::None)
                event.kind = f.kind;
            // The vehicle as it was at the firing: the off frame goes out 100 ms later, but it
            // belongs to the same place on the track.
            if (std::isnan(event.latitude)) {
                event.latitude = f.latitude;
                event.longitude = f.longitude;
                event.speed = f.speed;
                event.heading = f.heading;
                event.distance = f.distance;
                event.pastEntry = f.pastEntry;
                event.fixUtcMs = f.fixUtcMs;
            }
            // Nothing more of this switch comes after its off frame, or after an on frame that
            // found no port.
            if (event.type == EventType::NodeOff ||
                (event.result != EventResult::Written && event.result != EventResult::Replayed))
                firings_.erase(firing);
        }
    }
    if (!std::isnan(event.sensorLatitude) && !std::isnan(event.sensorLongitude))
        track_.Describe(event, event.sensorLatitude, event.sensorLongitude, threshold, now);
    else
        track_.Describe(event, now);
    if (event.type == EventType::Firing) {
        firings_[thread] = event;
        return false;
    }
    return event.type != EventType::PassFired;
}

} // namespace ostrim
