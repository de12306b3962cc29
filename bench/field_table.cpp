// field_table: simulated passes by one sensor on realistic drives (bends, braking, accelerating,
// stops short, receiver noise, repeated epochs, lost fixes, a jump), replayed through the
// program's core under both firing rules and written as the Markdown tables of docs/FIELD.md.
// Every firing is measured against the noise-free path: along it, from where it enters the
// firing region. Prints the tables and the goals' verdicts; the exit status is 0 when every goal
// is met.
//
//   field_table [PASSES] [--details]   PASSES of each shape and kind a cell (default 16);
//                                      --details describes on standard error each predictive
//                                      pass that misses its goal, with an id
//   FT_ONLY=id field_table ...         runs that pass alone and prints its sentences (standard
//                                      error), for ostrim-replay

#include "sensors/SensorTable.h"
#include "tools/replay/Replay.h"
#include "tools/sim/Nmea.h"
#include "trigger/PathPrediction.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace ostrim;

constexpr double kLatitude = 52.24;
constexpr double kLongitude = 6.85;
constexpr double kThreshold = 10.0;
constexpr double kPi = std::numbers::pi;
constexpr int kPassesPerCell = 16; // per shape, kind, condition and fix rate
constexpr double kNoiseTime = 5.0; // seconds: the correlation time of the receiver's error
constexpr double kFarAhead = 10.0; // metres before the entry: no prediction error explains a firing there

// ---------------------------------------------------------------------------------------------
// The region and the path

// Signed depth of a point in the firing region (metres from the sensor): inside, the distance to
// its edge; outside, minus the distance to the region.
double Depth(PlanePoint p)
{
    const double r = std::hypot(p.x, p.y);
    if (r < kThreshold && p.x < 0 && p.y < 0)
        return std::min({kThreshold - r, -p.x, -p.y});
    PlanePoint q{std::min(p.x, 0.0), std::min(p.y, 0.0)};
    const double rq = std::hypot(q.x, q.y);
    if (rq > kThreshold)
        q = {q.x * kThreshold / rq, q.y * kThreshold / rq};
    return -std::hypot(p.x - q.x, p.y - q.y);
}

bool Inside(PlanePoint p) { return std::hypot(p.x, p.y) < kThreshold && p.x < 0 && p.y < 0; }

// A road: straight, or a bend of constant curvature for `arcHalf` metres either side of its
// middle with straights beyond; driven from s = -inf to +inf, s = 0 at the bend's middle.
struct Road {
    double curvature = 0; // 1/m, positive turning left
    double arcHalf = 0;
    double heading = 0;   // radians, direction of travel at s = 0, anticlockwise from +x
    PlanePoint middle{0, 0};

    PlanePoint At(double s) const
    {
        double x = 0, y = s; // the road's own frame: travel along +y at s = 0
        if (curvature != 0) {
            const double c = std::clamp(s, -arcHalf, arcHalf);
            const double k = curvature;
            x = (std::cos(k * c) - 1.0) / k;
            y = std::sin(k * c) / k;
            x += -std::sin(k * c) * (s - c);
            y += std::cos(k * c) * (s - c);
        }
        // The frame's +y is the heading.
        const double h = heading - kPi / 2;
        return {middle.x + x * std::cos(h) - y * std::sin(h), middle.y + x * std::sin(h) + y * std::cos(h)};
    }
};

// How the speed goes: v0 until `onset` (metres along from the start), then changing at `accel`
// until it reaches vEnd (0: a stop), then vEnd.
struct Speed {
    double v0 = 10;
    double onsetTime = 1e9; // seconds from the start
    double accel = 0;
    double vEnd = 10;

    double Travelled(double t) const
    {
        if (t <= onsetTime || accel == 0)
            return v0 * t;
        const double tau = t - onsetTime;
        const double change = (vEnd - v0) / accel;
        const double before = v0 * onsetTime;
        if (tau <= change)
            return before + v0 * tau + accel * tau * tau / 2;
        return before + (v0 + vEnd) / 2 * change + vEnd * (tau - change);
    }
    double At(double t) const
    {
        if (t <= onsetTime || accel == 0)
            return v0;
        const double tau = t - onsetTime;
        const double change = (vEnd - v0) / accel;
        return tau <= change ? v0 + accel * tau : vEnd;
    }
};

enum class Shape { Straight, Bend, Brake2, Brake4, Accel2, Accel4, StopShort, Parked };
enum class Kind { Entering, Grazing, Outside };
enum class Condition { Clean, Noise03, Noise15, Noise30, Twice, Lost, Jump };

const char* ShapeName(Shape s)
{
    switch (s) {
    case Shape::Straight: return "straight";
    case Shape::Bend: return "bend, radius 30-200 m";
    case Shape::Brake2: return "braking 2 m/s^2";
    case Shape::Brake4: return "braking 4 m/s^2";
    case Shape::Accel2: return "accelerating 2 m/s^2";
    case Shape::Accel4: return "accelerating 4 m/s^2";
    case Shape::StopShort: return "stop 1-3 m short";
    case Shape::Parked: return "parked 20-40 m off";
    }
    return "";
}

const char* ConditionName(Condition c)
{
    switch (c) {
    case Condition::Clean: return "noise-free";
    case Condition::Noise03: return "noise 0.3 m";
    case Condition::Noise15: return "noise 1.5 m";
    case Condition::Noise30: return "noise 3 m";
    case Condition::Twice: return "each epoch twice";
    case Condition::Lost: return "20% of fixes lost";
    case Condition::Jump: return "one jump of 100-200 m";
    }
    return "";
}

double NoiseOf(Condition c)
{
    return c == Condition::Noise03 ? 0.3 : c == Condition::Noise15 ? 1.5 : c == Condition::Noise30 ? 3.0 : 0.0;
}

struct Pass {
    Shape shape;
    Kind kind;
    Road road;
    Speed speed;
    double start = -150;   // s at t = 0
    double duration = 0;   // seconds driven
    double entryS = NAN;   // s where the path enters the region; NaN: it never does
    double entryTime = NAN;
    PlanePoint parkedAt{0, 0};

    PlanePoint At(double t) const
    {
        if (shape == Shape::Parked)
            return parkedAt;
        return road.At(start + speed.Travelled(t));
    }
    double S(double t) const { return start + speed.Travelled(t); }
};

// Where the road first enters the region between s0 and s1, NaN for never; and its deepest point.
void Survey(const Road& road, double s0, double s1, double& entry, double& deepest)
{
    entry = NAN;
    deepest = -1e9;
    for (double s = s0; s <= s1; s += 0.1) {
        const double d = Depth(road.At(s));
        deepest = std::max(deepest, d);
        if (std::isnan(entry) && d > 0)
            entry = s;
    }
}

double Uniform(std::mt19937_64& rng, double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }

// The time at which the speed profile has covered `metres`.
double TimeFor(const Speed& speed, double metres, double horizon)
{
    double lo = 0, hi = horizon;
    for (int i = 0; i < 60; ++i) {
        const double mid = (lo + hi) / 2;
        (speed.Travelled(mid) < metres ? lo : hi) = mid;
    }
    return (lo + hi) / 2;
}

// A pass at `rate` fixes a second: it starts at least ten fixes before the region, as on a drive
// under way, whose receiver the rule has watched for a while.
Pass MakePass(Shape shape, Kind kind, int rate, std::mt19937_64& rng, int serial)
{
    Pass p{shape, kind, {}, {}, -150, 0, NAN, NAN, {0, 0}};
    if (shape == Shape::Parked) {
        const double a = Uniform(rng, 1.1 * kPi, 1.4 * kPi);
        const double r = Uniform(rng, 20, 40);
        p.parkedAt = {r * std::cos(a), r * std::sin(a)};
        p.duration = 10;
        return p;
    }
    for (;;) {
        Road road;
        road.heading = Uniform(rng, 0, 2 * kPi);
        if (shape == Shape::Bend) {
            const double radii[] = {30, 60, 100, 200};
            const double r = radii[serial % 4];
            road.curvature = (serial / 4 % 2 == 0 ? 1.0 : -1.0) / r;
            road.arcHalf = std::min(kPi / 2 * r, 100.0);
        }
        const double u = Uniform(rng, -14, 14);
        const PlanePoint left{-std::sin(road.heading), std::cos(road.heading)};
        road.middle = {-5 + u * left.x, -5 + u * left.y};
        double entry = NAN, deepest = 0;
        Survey(road, -150, 60, entry, deepest);
        const bool wanted = kind == Kind::Entering ? deepest >= 1.0
                            : kind == Kind::Grazing ? deepest > 0.05 && deepest <= 0.5
                            : shape == Shape::StopShort ? deepest >= 0.5
                                                        : deepest <= -1.0 && deepest >= -3.0;
        if (!wanted)
            continue;
        p.road = road;
        // Where the speed changes is measured from the entry, or the nearest point of an outside pass.
        double reference = entry;
        if (std::isnan(reference)) {
            double best = -1e9;
            for (double s = -150; s <= 60; s += 0.25) {
                const double d = Depth(road.At(s));
                if (d > best) {
                    best = d;
                    reference = s;
                }
            }
        }
        const double kmh = 1 / 3.6;
        Speed& v = p.speed;
        double onsetS = NAN;
        switch (shape) {
        case Shape::Straight:
            v.v0 = v.vEnd = Uniform(rng, 30, 130) * kmh;
            break;
        case Shape::Bend: {
            const double top = std::min(130.0, std::sqrt(5.0 / std::fabs(road.curvature)) * 3.6);
            v.v0 = v.vEnd = Uniform(rng, 30, std::max(30.0, top)) * kmh;
            break;
        }
        case Shape::Brake2:
        case Shape::Brake4:
        case Shape::Accel2:
        case Shape::Accel4: {
            const bool brake = shape == Shape::Brake2 || shape == Shape::Brake4;
            const double a = shape == Shape::Brake2 || shape == Shape::Accel2 ? 2.0 : 4.0;
            v.v0 = (brake ? Uniform(rng, 60, 130) : Uniform(rng, 30, 90)) * kmh;
            v.accel = brake ? -a : a;
            v.vEnd = brake ? v.v0 / 2 : std::min(v.v0 + 40 * kmh, 130 * kmh);
            onsetS = reference - Uniform(rng, 0, 60);
            break;
        }
        case Shape::StopShort: {
            const double a = serial % 2 == 0 ? 2.0 : 4.0;
            v.v0 = Uniform(rng, 30, 90) * kmh;
            v.accel = -a;
            v.vEnd = 0;
            const double stopS = entry - Uniform(rng, 1, 3);
            onsetS = stopS - v.v0 * v.v0 / (2 * a);
            p.start = std::min(-150.0, onsetS - 40);
            break;
        }
        case Shape::Parked:
            break;
        }
        p.start = std::min(p.start, reference - 10.0 * v.v0 / rate - 10.0);
        if (!std::isnan(onsetS))
            v.onsetTime = (onsetS - p.start) / v.v0;
        // To 60 m past the middle, or 3 s after a stop.
        if (shape == Shape::StopShort)
            p.duration = v.onsetTime + v.v0 / -v.accel + 3.0;
        else
            p.duration = TimeFor(v, 60 - p.start, 600);
        if (shape != Shape::StopShort && !std::isnan(entry)) {
            p.entryS = entry;
            p.entryTime = TimeFor(v, entry - p.start, p.duration);
        }
        return p;
    }
}

// ---------------------------------------------------------------------------------------------
// Sentences

std::string Minutes(double degrees, int width)
{
    // Five decimals of a minute, as receivers give them: 2 cm.
    const long long units = std::llround(degrees * 60.0 * 100000.0);
    char text[32];
    std::snprintf(text, sizeof text, "%0*lld%02lld.%05lld", width, units / 6000000, units / 100000 % 60,
                  units % 100000);
    return text;
}

std::string Gga(const char* talker, double seconds, PlanePoint p)
{
    static const PlanePoint scale = MetresPerDegreeAt(kLatitude);
    const long long cs = std::llround(seconds * 100.0) + 10LL * 360000;
    char body[160];
    std::snprintf(body, sizeof body, "%sGGA,%02lld%02lld%02lld.%02lld,%s,N,%s,E,1,12,0.8,45.0,M,46.9,M,,", talker,
                  cs / 360000 % 24, cs / 6000 % 60, cs / 100 % 60, cs % 100,
                  Minutes(kLatitude + p.y / scale.y, 2).c_str(), Minutes(kLongitude + p.x / scale.x, 3).c_str());
    return "$" + std::string(body) + "*" + sim::NmeaChecksum(body) + "\r\n";
}

struct Sent {
    double t;
    PlanePoint at;
};

struct Drive {
    std::string nmea;
    std::vector<Sent> fixes; // as sent, each epoch once
    double phase = 0;        // the first fix's time, seconds
};

Drive MakeDrive(const Pass& pass, Condition condition, int rate, std::mt19937_64& rng)
{
    Drive drive;
    const double dt = 1.0 / rate;
    drive.phase = Uniform(rng, 0, dt);
    const double sigma = NoiseOf(condition) / std::numbers::sqrt2; // per axis
    std::normal_distribution<double> normal;
    PlanePoint noise{sigma * normal(rng), sigma * normal(rng)};
    const double keep = std::exp(-dt / kNoiseTime);
    const double fresh = sigma * std::sqrt(1 - keep * keep);

    // One jump: at a fix from 50 m before the entry (or nearest point) to 5 m after, 100-200 m
    // away along a line through the region.
    int jumpAt = -1;
    PlanePoint jumpTo{0, 0};
    const int count = static_cast<int>(pass.duration / dt);
    if (condition == Condition::Jump) {
        std::vector<int> candidates;
        for (int k = 1; k < count - 1; ++k) {
            const double t = drive.phase + k * dt;
            const double s = pass.S(t);
            const double reference = std::isnan(pass.entryS) ? 0.0 : pass.entryS;
            if (pass.shape == Shape::Parked || (s > reference - 50 && s < reference + 5))
                candidates.push_back(k);
        }
        if (!candidates.empty()) {
            jumpAt = candidates[std::uniform_int_distribution<std::size_t>(0, candidates.size() - 1)(rng)];
            const PlanePoint from = pass.At(drive.phase + jumpAt * dt);
            const double toward = std::atan2(-5 - from.y, -5 - from.x) + Uniform(rng, -0.15, 0.15);
            const double length = Uniform(rng, 100, 200);
            jumpTo = {from.x + length * std::cos(toward), from.y + length * std::sin(toward)};
        }
    }
    for (int k = 0; k < count; ++k) {
        const double t = drive.phase + k * dt;
        if (k > 0)
            noise = {noise.x * keep + fresh * normal(rng), noise.y * keep + fresh * normal(rng)};
        if (condition == Condition::Lost && k > 0 && Uniform(rng, 0, 1) < 0.2)
            continue;
        PlanePoint at = pass.At(t);
        at = {at.x + noise.x, at.y + noise.y};
        if (k == jumpAt)
            at = jumpTo;
        drive.fixes.push_back({t, at});
        if (condition == Condition::Twice)
            drive.nmea += Gga("GN", t, at) + Gga("GP", t, at);
        else
            drive.nmea += Gga("GP", t, at);
    }
    return drive;
}

// ---------------------------------------------------------------------------------------------
// Measuring

struct Tally {
    int entering = 0;
    int hits = 0;
    int once = 0;
    int within = 0; // within the goal's distance of the entry
    int late = 0;
    double sumError = 0;
    double worst = 0; // signed, largest in size
    int outside = 0;
    int outsideSwitched = 0;
    int predictionAlone = 0; // outside passes switched with no fix inside and no line through
    int twice = 0;
    int unjustified = 0;

    void Add(const Tally& o)
    {
        entering += o.entering;
        hits += o.hits;
        once += o.once;
        within += o.within;
        late += o.late;
        sumError += o.sumError;
        if (std::fabs(o.worst) > std::fabs(worst))
            worst = o.worst;
        outside += o.outside;
        outsideSwitched += o.outsideSwitched;
        predictionAlone += o.predictionAlone;
        twice += o.twice;
        unjustified += o.unjustified;
    }
};

double Tolerance(int rate) { return rate == 1 ? 2.0 : 1.0; }

// The fixes as sent show the region: one inside, or the line between two through it.
bool FixesShowRegion(const std::vector<Sent>& fixes)
{
    for (std::size_t k = 0; k < fixes.size(); ++k) {
        if (Inside(fixes[k].at))
            return true;
        if (k > 0 && RegionEntry(fixes[k - 1].at, fixes[k].at, kThreshold) >= 0)
            return true;
    }
    return false;
}

// Set by "--details": each predictive pass that misses its goal is described on standard error.
bool gDetails = false;
const char* gCondition = "";
char gPassId[64] = "";

void Describe(const Pass& pass, const Drive& drive, int rate, const replay::Result& result, const char* why)
{
    std::fprintf(stderr, "[%s] %s, %s: %s, %d fixes/s, %.0f km/h, entry %.1f m at %.2f s, first fix %.2f s:", why,
                 gPassId, gCondition, ShapeName(pass.shape), rate, pass.speed.v0 * 3.6, pass.entryS, pass.entryTime, drive.fixes.front().t);
    for (const replay::Firing& f : result.firings) {
        const double t = drive.fixes.front().t + static_cast<double>(f.timeMs) / 1000.0;
        std::fprintf(stderr, " fired %s at %.3f s, %+.2f m", f.kind == TriggerEngine::Firing::Late ? "late"
                                                             : f.kind == TriggerEngine::Firing::Predicted ? "predicted"
                                                                                                           : "at a fix",
                     t, pass.S(t) - pass.entryS);
    }
    std::fprintf(stderr, "\n");
}

void Measure(const Pass& pass, const Drive& drive, int rate, bool predictive, Tally& tally)
{
    replay::Options options;
    options.predictive = predictive;
    options.threshold = kThreshold;
    replay::Replayer replayer(options);
    replayer.SetSensors({SensorEntry{kLatitude, kLongitude, 0x40A00001}});
    replayer.Feed(drive.nmea);
    const replay::Result result = replayer.Finish();

    const bool enters = !std::isnan(pass.entryS);
    if (gDetails && predictive) {
        const double t = result.firings.empty() ? 0 : drive.fixes.front().t + result.firings[0].timeMs / 1000.0;
        if (enters && (result.firings.size() != 1 || std::fabs(pass.S(t) - pass.entryS) > Tolerance(rate)))
            Describe(pass, drive, rate, result, "entering");
        if (!enters && !result.firings.empty())
            Describe(pass, drive, rate, result, "outside");
    }
    if (enters)
        ++tally.entering;
    else
        ++tally.outside;
    if (result.firings.size() > 1)
        ++tally.twice;
    if (result.firings.empty())
        return;
    // Not justified by the true path: a firing on a pass that never enters the region, a second
    // one, or one further ahead of the entry than any prediction error here comes to.
    const double firstFix = drive.fixes.front().t;
    bool unjustified = result.firings.size() > 1;
    for (const replay::Firing& f : result.firings) {
        const double t = firstFix + static_cast<double>(f.timeMs) / 1000.0;
        if (!enters || pass.S(t) - pass.entryS < -kFarAhead)
            unjustified = true;
    }
    tally.unjustified += unjustified ? 1 : 0;
    if (!enters) {
        ++tally.outsideSwitched;
        if (result.firings.front().kind == TriggerEngine::Firing::Predicted && !FixesShowRegion(drive.fixes))
            ++tally.predictionAlone;
        return;
    }
    const replay::Firing& f = result.firings.front();
    ++tally.hits;
    tally.once += result.firings.size() == 1 ? 1 : 0;
    tally.late += f.kind == TriggerEngine::Firing::Late ? 1 : 0;
    const double error = pass.S(firstFix + static_cast<double>(f.timeMs) / 1000.0) - pass.entryS;
    tally.sumError += std::fabs(error);
    if (std::fabs(error) > std::fabs(tally.worst))
        tally.worst = error;
    tally.within += std::fabs(error) <= Tolerance(rate) ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------

std::string Cell(int n, int of) { return std::to_string(n) + "/" + std::to_string(of); }

std::string Row(const Tally& t, int rate)
{
    char text[256];
    const double mean = t.hits > 0 ? t.sumError / t.hits : 0;
    std::snprintf(text, sizeof text, "%s | %s | %s | %.2f | %+.1f | %d | %s | %d | %d", Cell(t.hits, t.entering).c_str(),
                  Cell(t.once, t.entering).c_str(), Cell(t.within, t.entering).c_str(), mean, t.worst, t.late,
                  Cell(t.outsideSwitched, t.outside).c_str(), t.predictionAlone, t.twice);
    (void)rate;
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    const auto began = std::chrono::steady_clock::now();
    const std::clock_t cpuBegan = std::clock();
    const int rates[] = {1, 5, 10, 20};
    const Condition conditions[] = {Condition::Clean,  Condition::Noise03, Condition::Noise15, Condition::Noise30,
                                    Condition::Twice, Condition::Lost,    Condition::Jump};
    const Shape shapes[] = {Shape::Straight, Shape::Bend,   Shape::Brake2,    Shape::Brake4,
                            Shape::Accel2,   Shape::Accel4, Shape::StopShort, Shape::Parked};
    int perCell = kPassesPerCell;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--details")
            gDetails = true;
        else
            perCell = std::max(1, std::atoi(argv[i]));
    }

    // [condition][rate][rule], and, noise-free, [shape][rate][rule].
    std::vector<std::array<std::array<Tally, 2>, 4>> byCondition(std::size(conditions));
    std::vector<std::array<std::array<Tally, 2>, 4>> byShape(std::size(shapes));
    int passes = 0;
    for (std::size_t c = 0; c < std::size(conditions); ++c) {
        for (std::size_t r = 0; r < std::size(rates); ++r) {
            for (std::size_t s = 0; s < std::size(shapes); ++s) {
                const Shape shape = shapes[s];
                if (shape == Shape::Parked && conditions[c] != Condition::Jump)
                    continue;
                for (Kind kind : {Kind::Entering, Kind::Grazing, Kind::Outside}) {
                    if ((shape == Shape::StopShort || shape == Shape::Parked) && kind != Kind::Outside)
                        continue;
                    for (int i = 0; i < perCell; ++i) {
                        std::mt19937_64 rng(1000003u * (c + 1) + 10007u * (r + 1) + 101u * (s + 1) +
                                            7u * static_cast<unsigned>(kind) + 13u * static_cast<unsigned>(i));
                        const Pass pass = MakePass(shape, kind, rates[r], rng, i);
                        const Drive drive = MakeDrive(pass, conditions[c], rates[r], rng);
                        gCondition = ConditionName(conditions[c]);
                        std::snprintf(gPassId, sizeof gPassId, "%zu.%zu.%zu.%d.%d", c, r, s, static_cast<int>(kind), i);
                        if (const char* only = std::getenv("FT_ONLY")) {
                            char id[64];
                            std::snprintf(id, sizeof id, "%zu.%zu.%zu.%d.%d", c, r, s, static_cast<int>(kind), i);
                            if (std::string(only) != id)
                                continue;
                            std::fprintf(stderr, "pass %s\n%s", id, drive.nmea.c_str());
                        }
                        for (int rule = 0; rule < 2; ++rule) {
                            Tally t;
                            Measure(pass, drive, rates[r], rule == 1, t);
                            byCondition[c][r][rule].Add(t);
                            if (conditions[c] == Condition::Clean)
                                byShape[s][r][rule].Add(t);
                        }
                        ++passes;
                    }
                }
            }
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    const double cpuSeconds = static_cast<double>(std::clock() - cpuBegan) / CLOCKS_PER_SEC;

    const char* header = "| entering: switched | once | within 1 m (2 m at 1/s) | mean error, m | worst, m | late "
                         "| outside: switched | by prediction alone | switched twice |";
    std::printf("Each row: %d passes that enter the region (%d deep and %d grazing for each of the six shapes that "
                "enter) and %d that stay 1-3 m outside it (%d of each shape, the stops short included; with the jump, "
                "%d more by a parked vehicle). Errors: metres along the noise-free path from where it enters the region "
                "to where the vehicle was when the on frame went out (negative: before it). \"late\": switched at a "
                "fix that showed the region crossed. \"by prediction alone\": an outside pass switched by a plan, with "
                "no fix inside the region and no line between two fixes through it.\n\n",
                12 * perCell, perCell, perCell, 7 * perCell, perCell, perCell);
    std::printf("| drive | fixes/s | rule %s\n", header);
    std::printf("|---|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (std::size_t c = 0; c < std::size(conditions); ++c) {
        for (std::size_t r = 0; r < std::size(rates); ++r) {
            for (int rule = 0; rule < 2; ++rule)
                std::printf("| %s | %d | %s | %s |\n", ConditionName(conditions[c]), rates[r],
                            rule == 1 ? "predictive" : "on-fix", Row(byCondition[c][r][rule], rates[r]).c_str());
        }
    }
    std::printf("\nNoise-free, by shape:\n\n| shape | fixes/s | rule %s\n", header);
    std::printf("|---|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (std::size_t s = 0; s < std::size(shapes); ++s) {
        if (shapes[s] == Shape::Parked)
            continue;
        for (std::size_t r = 0; r < std::size(rates); ++r) {
            for (int rule = 0; rule < 2; ++rule)
                std::printf("| %s | %d | %s | %s |\n", ShapeName(shapes[s]), rates[r],
                            rule == 1 ? "predictive" : "on-fix", Row(byShape[s][r][rule], rates[r]).c_str());
        }
    }

    // The goals, for the predictive rule.
    std::vector<std::string> met, missed;
    auto judge = [&](bool ok, const std::string& text) { (ok ? met : missed).push_back(text); };
    for (std::size_t c = 0; c < std::size(conditions); ++c) {
        const Condition condition = conditions[c];
        for (std::size_t r = 0; r < std::size(rates); ++r) {
            const Tally& p = byCondition[c][r][1];
            const Tally& o = byCondition[c][r][0];
            char where[96];
            std::snprintf(where, sizeof where, "%s, %d fixes/s", ConditionName(condition), rates[r]);
            char text[256];
            if (condition == Condition::Clean || condition == Condition::Twice || condition == Condition::Lost) {
                std::snprintf(text, sizeof text, "%s: %d of %d entering passes switched once within %.0f m; %d of %d "
                              "outside passes switched", where, std::min(p.once, p.within), p.entering,
                              Tolerance(rates[r]), p.outsideSwitched, p.outside);
                judge(p.once == p.entering && p.within == p.entering && p.outsideSwitched == 0, text);
            } else if (condition == Condition::Jump) {
                std::snprintf(text, sizeof text, "%s: %d passes with a firing the true path does not justify", where,
                              p.unjustified);
                judge(p.unjustified == 0, text);
            } else {
                std::snprintf(text, sizeof text, "%s: %d hits (on-fix %d), %d switched twice, %d of %d outside passes "
                              "switched by the prediction alone", where, p.hits, o.hits, p.twice, p.predictionAlone,
                              p.outside);
                judge(p.hits >= o.hits && p.twice == 0 && p.predictionAlone * 10 <= p.outside, text);
            }
        }
    }
    std::printf("\nGoals met (predictive rule):\n\n");
    for (const std::string& m : met)
        std::printf("- %s\n", m.c_str());
    std::printf("\nGoals not met:\n\n");
    if (missed.empty())
        std::printf("- none\n");
    for (const std::string& m : missed)
        std::printf("- %s\n", m.c_str());
    std::printf("\n%d passes, each replayed under both rules, in %.0f s (%.0f s of CPU).\n", passes, seconds, cpuSeconds);
    return missed.empty() ? 0 : 1;
}
