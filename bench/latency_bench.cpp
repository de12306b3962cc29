// Firing latency and running cost over pseudo-terminals (not a test; prints figures).
//
//  1. Firing latency, in-process: a whole Session (port monitor, sentence assembly, both logs,
//     the trigger engine with 24 sensors in Loop mode, the base-station commands) reads a
//     receiver this program plays on one pseudo-terminal and switches nodes on another, whose
//     far side this program reads. Per firing: from the line feed of an in-range $GPGGA
//     written on the receiver side to the first byte of the "on" frame read on the base
//     station's side, and from there to the last byte of the "off" frame. The in-range sensor
//     is the last of the table, so each fix measures all 24 distances before it fires; after
//     each firing the sensors are re-armed through the engine's timer expiry, as the
//     all-triggered timer would after 5 s.
//  2. Running cost, out of process: the real `ostrim --headless` against `ostrim-sim` driving
//     the built-in track at 10 fixes a second past 24 sensors in Loop mode. CPU time of the
//     whole ostrim process (every thread, idle time included) per 1,000 fixes, and its peak
//     resident memory.
//
//  3. The dialog's peak resident memory in a run: `ostrim` on a virtual X display (xvfb-run),
//     Start pressed with xdotool.
//
//  4. The predictive rule, live against its replay: a Session as the headless program wires it
//     (predictive, timers on their own thread) reads a drive played in real time, each sentence
//     written its receiver lag after its own UTC time; the same sentences then go through
//     ostrim-replay's core. For each node switched, the arrival of the "on" frame against the
//     replay's time for it. Once with the lag told to both as the receiver delay, once with it
//     untold (the replay then runs ahead by the lag).
//
// Usage: latency_bench [--firings N (500)] [--cpu-seconds S (60)] [--dialog-seconds S (20; 0 none)]
//                      [--skip-latency] [--skip-cpu] [--skip-replay] [--lag MS (80)]
//                      [--ostrim PATH] [--sim PATH]
//                      (ostrim and ostrim-sim: by default next to this program)

#include "run/Session.h"
#include "run/ThreadTimerService.h"
#include "basestation/RadioFrameBuilder.h"
#include "platform/posix/Poll.h"
#include "platform/posix/PseudoTerminal.h"
#include "tools/replay/Replay.h"
#include "tools/sim/GpsReceiverSim.h"
#include "tools/sim/Nmea.h"
#include "tools/sim/Track.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <numbers>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr double kLineMs = 34 * 10 * 1000.0 / 38400; // 34 bytes of 10 bits at 38400 baud
constexpr double kPulseMs = 100.0;

void PrintStats(const char* what, std::vector<double> values, const char* unit, double floor = -1)
{
    std::sort(values.begin(), values.end());
    auto at = [&](double q) { return values[static_cast<std::size_t>(q * (values.size() - 1))]; };
    std::printf("%-40s n=%zu  median %8.3f  p95 %8.3f  max %8.3f %s", what, values.size(), at(0.5),
                at(0.95), values.back(), unit);
    if (floor >= 0)
        std::printf("   (floor %.2f %s)", floor, unit);
    std::printf("\n");
}

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

class QuietFields : public ostrim::DialogFields {
public:
    void SetText(ostrim::Field field, const std::string& text) override
    {
        std::lock_guard lock(mutex_);
        texts_[static_cast<int>(field)] = text;
    }
    std::string GetText(ostrim::Field field) const override
    {
        std::lock_guard lock(mutex_);
        auto it = texts_.find(static_cast<int>(field));
        return it == texts_.end() ? std::string() : it->second;
    }
    void ShowMessage(const std::string& text) override
    {
        std::fprintf(stderr, "message: %s\n", text.c_str());
    }

private:
    mutable std::mutex mutex_;
    std::map<int, std::string> texts_;
};

// The base station's side of its pseudo-terminal: answers the ping, and cuts what the program
// writes into 17-byte frames, each with the arrival times of its first and last byte.
class BaseStationSide {
public:
    struct Frame {
        std::vector<std::uint8_t> bytes;
        Clock::time_point first;
        Clock::time_point last;
    };

    explicit BaseStationSide(const ostrim::PseudoTerminal& pty)
        : pty_(pty), thread_([this] { Run(); })
    {
    }
    ~BaseStationSide()
    {
        stop_.store(true);
        thread_.join();
    }

    std::optional<Frame> Next(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, timeout, [this] { return !frames_.empty(); }))
            return std::nullopt;
        Frame f = std::move(frames_.front());
        frames_.pop_front();
        return f;
    }
    int Stray() const { return stray_.load(); }

private:
    void Run()
    {
        std::optional<Frame> frame;
        std::uint8_t buffer[256];
        while (!stop_.load()) {
            ostrim::PollEntry entry{.fd = pty_.MasterFd(), .wantRead = true};
            if (ostrim::PollUntil({&entry, 1}, ostrim::Deadline::After(50ms)) != 0 ||
                !entry.readable)
                continue;
            std::size_t got = 0;
            if (pty_.ReadMaster(buffer, sizeof buffer, &got) != 0)
                return;
            const Clock::time_point now = Clock::now();
            for (std::size_t i = 0; i < got; ++i) {
                const std::uint8_t b = buffer[i];
                if (!frame && b == 0x01) {
                    std::size_t written = 0;
                    pty_.WriteMaster(&b, 1, 1s, &written);
                    continue;
                }
                if (!frame && b != 0x7E) {
                    ++stray_;
                    continue;
                }
                if (!frame)
                    frame = Frame{{}, now, now};
                frame->bytes.push_back(b);
                frame->last = now;
                if (frame->bytes.size() == 17) {
                    std::lock_guard lock(mutex_);
                    frames_.push_back(std::move(*frame));
                    frame.reset();
                    arrived_.notify_all();
                }
            }
        }
    }

    const ostrim::PseudoTerminal& pty_;
    std::atomic<bool> stop_{false};
    std::atomic<int> stray_{0};
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Frame> frames_;
    std::thread thread_;
};

constexpr double kLatitude = 52.24;
constexpr double kLongitude = 6.85;
constexpr double kDegreesPerMetre = 180.0 / (std::numbers::pi * 6371008.8);

double LongitudeEast(double metres)
{
    return kLongitude + metres * kDegreesPerMetre / std::cos(kLatitude * std::numbers::pi / 180.0);
}

// 23 sensors far along the road, then the one the vehicle stands beside (3 m south-west of it).
std::string LatencySensorFile()
{
    std::string text;
    char line[96];
    for (int i = 0; i < 24; ++i) {
        const double east = i < 23 ? 500.0 + 40.0 * i : 3.0;
        std::snprintf(line, sizeof line, "%.7f %.7f S%d %08X\n", kLatitude + 3.0 * kDegreesPerMetre,
                      LongitudeEast(east), i, 0x40A00000u + static_cast<unsigned>(i));
        text += line;
    }
    return text;
}

bool WriteAll(const ostrim::PseudoTerminal& pty, const std::string& bytes)
{
    std::size_t written = 0;
    return pty.WriteMaster(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), 1s,
                           &written) == 0 &&
           written == bytes.size();
}

int FiringLatency(int firings, const fs::path& scratch)
{
    std::printf("== Firing latency: %d firings, in-process Session over pseudo-terminals ==\n",
                firings);
    const std::string sensorFile = (scratch / "sensors.txt").string();
    std::ofstream(sensorFile) << LatencySensorFile();
    const fs::path logs = scratch / "logs";
    fs::create_directories(logs);

    ostrim::PseudoTerminal receiver;
    ostrim::PseudoTerminal base;
    if (receiver.Open() != 0 || base.Open() != 0) {
        std::fprintf(stderr, "cannot create pseudo-terminals\n");
        return 1;
    }
    BaseStationSide station(base);

    // The distance trace costs what it costs the headless program with its output in a file.
    std::FILE* traceOut = std::fopen("/dev/null", "w");
    QuietFields fields;
    fields.SetText(ostrim::Field::Folder, logs.string());
    fields.SetText(ostrim::Field::SensorFile, sensorFile);
    fields.SetText(ostrim::Field::VehicleType, "Dunrel 80k truck");
    ostrim::ThreadTimerService timers;
    const std::string basePath = base.SlavePath();
    ostrim::Session session(fields, timers,
                            ostrim::Session::Hooks{[basePath] { return basePath; },
                                                   [traceOut](const std::string& line) {
                                                       std::fputs(line.c_str(), traceOut);
                                                       std::fflush(traceOut);
                                                   },
                                                   {}});
    timers.SetHandler([&session](int id) { session.Engine().OnTimer(id); });
    if (session.Control().OnStart(receiver.SlavePath(), basePath) !=
            ostrim::RunControl::StartOutcome::Running ||
        session.State().triggerEnabled.load() == 0 || session.Table().count.load() != 24) {
        std::fprintf(stderr, "the run did not start with triggering on: %s\n",
                     fields.GetText(ostrim::Field::Status).c_str());
        return 1;
    }

    const ostrim::RadioFrameBuilder builder;
    const auto onFrame = builder.MakeTxRequest({0xFE, 0x01}, 0x40A00017);
    const auto offFrame = builder.MakeTxRequest({0xFE, 0x00}, 0x40A00017);
    const auto start = std::chrono::system_clock::from_time_t(1714557600);
    constexpr int kWarmUp = 5; // first opens of the port and the logs; not counted
    std::vector<double> toFirstByte;
    std::vector<double> onToOffEnd;
    int wrongFrames = 0;
    for (int i = 0; i < firings + kWarmUp; ++i) {
        std::string sentence = ostrim::sim::FormatGga(start + i * 100ms, kLatitude, kLongitude);
        sentence.pop_back(); // the line feed goes alone, timed
        if (!WriteAll(receiver, sentence))
            return 1;
        std::this_thread::sleep_for(2ms); // the body is read and assembled by now
        const Clock::time_point lineFeed = Clock::now();
        if (!WriteAll(receiver, "\n"))
            return 1;
        auto on = station.Next(2s);
        auto off = on ? station.Next(2s) : std::nullopt;
        if (!on || !off) {
            std::fprintf(stderr, "firing %d: no frames (status: %s)\n", i,
                         fields.GetText(ostrim::Field::Status).c_str());
            return 1;
        }
        if (on->bytes != onFrame || off->bytes != offFrame)
            ++wrongFrames;
        if (i >= kWarmUp) {
            toFirstByte.push_back(Ms(on->first - lineFeed));
            onToOffEnd.push_back(Ms(off->last - on->first));
        }
        // Wait until the engine has marked the sensor fired (after SwitchNode returned), then
        // re-arm as the all-triggered timer's expiry does.
        auto until = Clock::now() + 1s;
        while (session.Table().triggered[23].load() == 0 && Clock::now() < until)
            std::this_thread::sleep_for(200us);
        if (fields.GetText(ostrim::Field::Status) != "Node 1084227607 success") {
            std::fprintf(stderr, "firing %d: status %s\n", i,
                         fields.GetText(ostrim::Field::Status).c_str());
            return 1;
        }
        session.Engine().OnTimer(ostrim::kAllTriggeredTimer);
        std::this_thread::sleep_for(5ms);
    }
    timers.Stop();
    session.Stop();
    std::fclose(traceOut);

    PrintStats("LF -> first byte of \"on\" frame", toFirstByte, "ms");
    PrintStats("first \"on\" byte -> last \"off\" byte", onToOffEnd, "ms", kPulseMs);
    std::printf("  floor: %.0f ms pulse on a pseudo-terminal (no line time); on a 38400-baud line\n"
                "         the 34 frame bytes add %.2f ms: %.2f ms\n",
                kPulseMs, kLineMs, kPulseMs + kLineMs);
    std::printf("  frames: %d wrong of %d; stray bytes %d\n", wrongFrames, 2 * (firings + kWarmUp),
                station.Stray());
    return wrongFrames == 0 ? 0 : 1;
}

// ---- The predictive rule live against its replay ---------------------------------------------

// A road north along the sensors' longitude less 3 m, at 25 m/s, 2 fixes a second: three sensors
// 2 m apart (each firing planned from the last, the next due while the last one's switch is still
// under way) and two alone.
struct ReplayDrive {
    std::string sensors;
    std::vector<std::pair<double, std::string>> sentences; // seconds after the first, and text
};

ReplayDrive MakeReplayDrive()
{
    ReplayDrive drive;
    const double north[] = {120, 122, 124, 260, 380};
    char line[96];
    for (std::size_t i = 0; i < std::size(north); ++i) {
        std::snprintf(line, sizeof line, "%.8f %.8f S%zu %08X\n", kLatitude + north[i] * kDegreesPerMetre,
                      LongitudeEast(0), i, 0x40B00000u + static_cast<unsigned>(i));
        drive.sensors += line;
    }
    const auto start = std::chrono::system_clock::from_time_t(1714557600);
    for (int k = 0; k * 12.5 < 450; ++k)
        drive.sentences.push_back({k * 0.5, ostrim::sim::FormatGga(start + k * 500ms,
                                                                   kLatitude + k * 12.5 * kDegreesPerMetre,
                                                                   LongitudeEast(-3.0))});
    return drive;
}

int ReplayAgainstLive(int lagMs, bool told, const fs::path& scratch)
{
    std::printf("== Predictive rule, live against the replay: lag %d ms, %s ==\n", lagMs,
                told ? "told to both as the receiver delay" : "untold");
    const ReplayDrive drive = MakeReplayDrive();
    const std::string sensorFile = (scratch / "replay-sensors.txt").string();
    std::ofstream(sensorFile) << drive.sensors;
    const fs::path logs = scratch / "replay-logs";
    fs::create_directories(logs);

    ostrim::PseudoTerminal receiver;
    ostrim::PseudoTerminal base;
    if (receiver.Open() != 0 || base.Open() != 0)
        return 1;
    BaseStationSide station(base);
    QuietFields fields;
    fields.SetText(ostrim::Field::Folder, logs.string());
    fields.SetText(ostrim::Field::SensorFile, sensorFile);
    fields.SetText(ostrim::Field::VehicleType, "Dunrel 80k truck");
    ostrim::ThreadTimerService timers;
    const std::string basePath = base.SlavePath();
    ostrim::Session session(fields, timers, ostrim::Session::Hooks{[basePath] { return basePath; },
                                                                   [](const std::string&) {}, {}});
    timers.SetHandler([&session](int id) { session.Engine().OnTimer(id); });
    session.Control().ChooseRule(true);
    session.Control().SetReceiverDelay(told ? lagMs : 0);
    if (session.Control().OnStart(receiver.SlavePath(), basePath) != ostrim::RunControl::StartOutcome::Running ||
        session.State().triggerEnabled.load() == 0) {
        std::fprintf(stderr, "the run did not start: %s\n", fields.GetText(ostrim::Field::Status).c_str());
        return 1;
    }
    std::this_thread::sleep_for(200ms);
    const Clock::time_point t0 = Clock::now() + 300ms;
    std::string all;
    for (const auto& [at, sentence] : drive.sentences) {
        std::this_thread::sleep_until(t0 + std::chrono::microseconds(std::llround((at * 1000.0 + lagMs) * 1000.0)));
        if (!WriteAll(receiver, sentence))
            return 1;
        all += sentence;
    }
    std::vector<std::pair<std::uint32_t, double>> live; // node, ms after t0
    while (auto frame = station.Next(1500ms)) {
        if (frame->bytes.size() == 17 && frame->bytes[15] == 0x01) {
            const std::uint32_t node = static_cast<std::uint32_t>(frame->bytes[9]) << 24 |
                                       static_cast<std::uint32_t>(frame->bytes[10]) << 16 |
                                       static_cast<std::uint32_t>(frame->bytes[11]) << 8 | frame->bytes[12];
            live.push_back({node, Ms(frame->last - t0)});
        }
    }
    timers.Stop();
    session.Stop();

    ostrim::replay::Options options;
    options.predictive = true;
    options.receiverDelayMs = told ? lagMs : 0;
    ostrim::replay::Replayer replayer(options);
    std::string error;
    if (!replayer.LoadSensors(sensorFile, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    replayer.Feed(all);
    const ostrim::replay::Result result = replayer.Finish();
    if (result.firings.size() != live.size()) {
        std::fprintf(stderr, "replay switched %zu nodes, the live run %zu\n", result.firings.size(), live.size());
        return 1;
    }
    std::vector<double> differences;
    for (std::size_t i = 0; i < live.size(); ++i) {
        const ostrim::replay::Firing& f = result.firings[i];
        const double replayMs = static_cast<double>(f.timeMs);
        const char* kind = f.kind == ostrim::TriggerEngine::Firing::Predicted ? "predicted"
                           : f.kind == ostrim::TriggerEngine::Firing::Late    ? "late"
                                                                                : "at a fix";
        std::printf("  node %08X %-9s replay %8.1f ms  live %8.1f ms  live - replay %+6.1f ms%s\n",
                    static_cast<unsigned>(live[i].first), kind, replayMs, live[i].second, live[i].second - replayMs,
                    live[i].first == f.nodeId ? "" : "  (another node)");
        differences.push_back(std::fabs(live[i].second - replayMs));
    }
    PrintStats("|live - replay|", differences, "ms");
    return 0;
}

// ---- Running cost of the real program --------------------------------------------------------

struct Child {
    pid_t pid = -1;
    int out = -1; // its standard output, when captured

    void Terminate()
    {
        if (pid <= 0)
            return;
        ::kill(pid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 300; ++i) { // 3 s, then it is stuck
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            pid = -1;
        }
        if (out >= 0)
            ::close(out);
        out = -1;
    }
    ~Child() { Terminate(); }
};

// Starts `argv`; its output goes to a pipe (`capture`) or to `outputFile`.
bool Spawn(const std::vector<std::string>& argv, bool capture, const std::string& outputFile,
           Child* child)
{
    int pipeFds[2] = {-1, -1};
    if (capture && ::pipe2(pipeFds, O_CLOEXEC) != 0)
        return false;
    pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        int fd =
            capture ? pipeFds[1] : ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, STDOUT_FILENO);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    if (capture)
        ::close(pipeFds[1]);
    child->pid = pid;
    child->out = capture ? pipeFds[0] : -1;
    return true;
}

// Reads lines from the simulator until both device paths are printed.
bool ReadDevicePaths(int fd, std::string* gps, std::string* base)
{
    std::string text;
    char buffer[256];
    auto until = Clock::now() + 5s;
    while ((gps->empty() || base->empty()) && Clock::now() < until) {
        ostrim::PollEntry entry{.fd = fd, .wantRead = true};
        ostrim::PollUntil({&entry, 1}, ostrim::Deadline::After(100ms));
        if (!entry.Ready())
            continue;
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        text.append(buffer, static_cast<std::size_t>(n));
        std::size_t eol;
        while ((eol = text.find('\n')) != std::string::npos) {
            std::string line = text.substr(0, eol);
            text.erase(0, eol + 1);
            if (line.rfind("GPS receiver: ", 0) == 0)
                *gps = line.substr(14);
            else if (line.rfind("Base station: ", 0) == 0)
                *base = line.substr(14);
        }
    }
    return !gps->empty() && !base->empty();
}

// CPU time of every thread of the process, in seconds (the scheduler's nanosecond count).
double ProcessCpuSeconds(pid_t pid)
{
    double total = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& entry : fs::directory_iterator(tasks)) {
        std::ifstream in(entry.path() / "schedstat");
        unsigned long long ns = 0;
        if (in >> ns)
            total += static_cast<double>(ns) / 1e9;
    }
    return total;
}

// The process's own total from /proc/PID/stat (user + system, clock ticks), as a cross-check.
double ProcessStatSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t close = all.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::vector<std::string> fields;
    std::size_t at = close + 2;
    while (at < all.size()) {
        std::size_t space = all.find(' ', at);
        fields.push_back(all.substr(at, space - at));
        if (space == std::string::npos)
            break;
        at = space + 1;
    }
    // fields[0] is the state (field 3): utime and stime are fields 14 and 15.
    if (fields.size() < 13)
        return 0;
    return (std::stod(fields[11]) + std::stod(fields[12])) /
           static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long StatusKb(pid_t pid, const char* key)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + std::strlen(key) + 1);
    }
    return -1;
}

std::size_t CountLines(const fs::path& folder, const char* suffix)
{
    std::size_t lines = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (!name.ends_with(suffix) ||
            (std::string(suffix) == "-GPS-Data.txt" && name.ends_with("-Raw-GPS-Data.txt")))
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        lines += static_cast<std::size_t>(
            std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
    }
    return lines;
}

// What every fix costs at least on this machine, whatever the program does with it: a thread
// that sleeps in poll() on the receiver's port, reads the sentence and (with `appendLogs`)
// appends it to two files as the logs do (open, write, close). Its own CPU time per fix.
double FloorMsPer1000(int seconds, bool appendLogs, const fs::path& scratch)
{
    ostrim::sim::GpsReceiverSim receiver;
    std::string error;
    if (!receiver.Start(&error))
        return -1;
    receiver.DriveTrack(ostrim::sim::BuiltinTrack(), 13.9, 10.0);
    const int fd = ::open(receiver.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    termios raw{};
    ::tcgetattr(fd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(fd, TCSANOW, &raw);
    const std::string files[2] = {(scratch / "floor-gps.txt").string(),
                                  (scratch / "floor-raw.txt").string()};
    auto cpu = [] {
        timespec t{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
    };
    char buffer[4096];
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    double start = -1;
    long lines = 0;
    while (Clock::now() < end) {
        ostrim::PollEntry entry{.fd = fd, .wantRead = true};
        ostrim::PollUntil({&entry, 1}, ostrim::Deadline::After(500ms));
        const ssize_t n = entry.readable ? ::read(fd, buffer, sizeof buffer) : 0;
        if (n <= 0)
            continue;
        if (start < 0) { // from the first sentence on
            start = cpu();
            continue;
        }
        lines += std::count(buffer, buffer + n, '\n');
        for (int i = 0; appendLogs && i < 2; ++i) {
            const int log =
                ::open(files[i].c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
            struct stat st{};
            ::fstat(log, &st);
            if (::write(log, buffer, static_cast<std::size_t>(n)) != n)
                return -1;
            ::close(log);
        }
    }
    const double used = cpu() - start;
    ::close(fd);
    receiver.Stop();
    return lines > 0 ? used / static_cast<double>(lines) * 1e6 : -1;
}

// ostrim-sim driving the built-in track at 10 fixes a second past 24 sensors, with its base
// station; its lines (one per base-station event) are drained so it never blocks on them.
class Simulator {
public:
    bool Start(const std::string& program, const std::string& sensorFile)
    {
        if (!Spawn({program, "--track", "builtin", "--fix-rate", "10", "--base", "--sensors", "24",
                    "--sensor-file", sensorFile},
                   true, "", &child_) ||
            !ReadDevicePaths(child_.out, &gps, &base))
            return false;
        drain_ = std::thread([this] {
            char buffer[4096];
            ssize_t n;
            while ((n = ::read(child_.out, buffer, sizeof buffer)) > 0)
                lines += static_cast<std::size_t>(std::count(buffer, buffer + n, '\n'));
        });
        return true;
    }
    ~Simulator()
    {
        ::kill(child_.pid, SIGTERM);
        if (drain_.joinable())
            drain_.join(); // the pipe ends with the process
        child_.Terminate();
    }

    std::string gps;
    std::string base;
    std::atomic<std::size_t> lines{0};

private:
    Child child_;
    std::thread drain_;
};

int RunningCost(int seconds, const std::string& ostrim, const std::string& simulator,
                const fs::path& scratch)
{
    std::printf(
        "\n== Running cost: %s --headless against %s, 10 fixes/s, 24 sensors, Loop mode, %d s ==\n",
        ostrim.c_str(), simulator.c_str(), seconds);
    if (::access(ostrim.c_str(), X_OK) != 0 || ::access(simulator.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "cannot run %s or %s (give --ostrim and --sim)\n", ostrim.c_str(),
                     simulator.c_str());
        return 1;
    }
    const fs::path logs = scratch / "cost-logs";
    fs::create_directories(logs);
    const std::string sensorFile = (scratch / "track-sensors.txt").string();
    Simulator sim;
    if (!sim.Start(simulator, sensorFile)) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }

    Child program;
    const std::string programOut = (scratch / "ostrim-headless.out").string();
    if (!Spawn({ostrim, "--headless", "--gps-port", sim.gps, "--base-port", sim.base,
                "--sensor-file", sensorFile, "--folder", logs.string(), "--mode", "loop"},
               false, programOut, &program)) {
        std::fprintf(stderr, "cannot start ostrim\n");
        return 1;
    }
    std::this_thread::sleep_for(3s); // start-up (the ping, the sensor file) is not counted
    const double cpu0 = ProcessCpuSeconds(program.pid);
    const double stat0 = ProcessStatSeconds(program.pid);
    const std::size_t fixes0 = CountLines(logs, "-Raw-GPS-Data.txt");
    const long rssStart = StatusKb(program.pid, "VmHWM:");
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu1 = ProcessCpuSeconds(program.pid);
    const double stat1 = ProcessStatSeconds(program.pid);
    const std::size_t fixes1 = CountLines(logs, "-Raw-GPS-Data.txt");
    const long rssEnd = StatusKb(program.pid, "VmHWM:");
    const long rssNow = StatusKb(program.pid, "VmRSS:");
    program.Terminate();

    std::size_t firings = 0;
    {
        std::ifstream in(programOut);
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("Node ", 0) == 0 && line.ends_with(" success"))
                ++firings;
    }
    const double fixes = static_cast<double>(fixes1 - fixes0);
    if (fixes <= 0) {
        std::fprintf(stderr, "no fixes were logged\n");
        return 1;
    }
    std::printf("fixes in the window: %.0f (%.2f a second); nodes switched in the whole run: %zu\n",
                fixes, fixes / seconds, firings);
    std::printf("CPU per 1,000 fixes: %.1f ms (all threads, scheduler time; /proc/PID/stat gives "
                "%.0f ms)\n",
                (cpu1 - cpu0) / fixes * 1e6, (stat1 - stat0) / fixes * 1e6);
    std::printf("peak resident memory (VmHWM) of ostrim --headless: %.1f MB after start-up, %.1f "
                "MB at the end"
                " (VmRSS %.1f MB)\n",
                rssStart / 1024.0, rssEnd / 1024.0, rssNow / 1024.0);

    // The machine's own floor, measured the same way, to read the figure above against.
    const int floorSeconds = std::max(10, seconds / 3);
    const double bare = FloorMsPer1000(floorSeconds, false, scratch);
    const double withLogs = FloorMsPer1000(floorSeconds, true, scratch);
    std::printf(
        "floor on this machine, %d s each: a thread waking in poll() and reading each sentence: "
        "%.1f ms"
        " per 1,000 fixes;\n  the same appending it to two files (open, write, close): %.1f ms\n",
        floorSeconds, bare, withLogs);
    return 0;
}

// The dialog on a virtual X display, its ports and files given, Start pressed with the Return
// key (Start is the default button): its peak resident memory during the run.
int DialogMemory(int seconds, const std::string& ostrim, const std::string& simulator,
                 const fs::path& scratch)
{
    std::printf("\n== Dialog: %s under xvfb-run, Start pressed, %d s against %s ==\n",
                ostrim.c_str(), seconds, simulator.c_str());
    if (std::system("command -v xvfb-run >/dev/null && command -v xdotool >/dev/null") != 0) {
        std::printf("skipped: needs xvfb-run and xdotool\n");
        return 0;
    }
    const fs::path logs = scratch / "dialog-logs";
    fs::create_directories(logs);
    const std::string sensorFile = (scratch / "dialog-sensors.txt").string();
    Simulator sim;
    if (!sim.Start(simulator, sensorFile)) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    const std::string script = "\"$0\" --gps-port \"$1\" --base-port \"$2\" --sensor-file \"$3\" "
                               "--folder \"$4\" >/dev/null 2>&1 &\n"
                               "p=$!\n"
                               "w=$(xdotool search --sync --onlyvisible --pid $p | head -1)\n"
                               "xdotool windowfocus --sync \"$w\" && xdotool key Return\n"
                               "sleep \"$5\"\n"
                               "grep -E '^(VmHWM|VmRSS):' /proc/$p/status\n"
                               "exec 2>/dev/null; kill $p; wait $p\n";
    Child shell;
    if (!Spawn({"/usr/bin/xvfb-run", "-a", "/bin/sh", "-c", script, ostrim, sim.gps, sim.base,
                sensorFile, logs.string(), std::to_string(seconds)},
               true, "", &shell)) {
        std::fprintf(stderr, "cannot start xvfb-run\n");
        return 1;
    }
    std::string output;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(shell.out, buffer, sizeof buffer)) > 0)
        output.append(buffer, static_cast<std::size_t>(n));
    shell.Terminate();
    const std::size_t fixes = CountLines(logs, "-Raw-GPS-Data.txt");
    long hwm = -1;
    long rss = -1;
    if (std::size_t at = output.find("VmHWM:"); at != std::string::npos)
        hwm = std::atol(output.c_str() + at + 6);
    if (std::size_t at = output.find("VmRSS:"); at != std::string::npos)
        rss = std::atol(output.c_str() + at + 6);
    if (hwm < 0 || fixes == 0) {
        std::fprintf(stderr, "the dialog did not run (%zu fixes logged): %s\n", fixes,
                     output.c_str());
        return 1;
    }
    std::printf("fixes logged by the dialog's run: %zu\n", fixes);
    std::printf("peak resident memory (VmHWM) of the dialog: %.1f MB (VmRSS %.1f MB)\n",
                hwm / 1024.0, rss / 1024.0);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    int firings = 500;
    int seconds = 60;
    int dialogSeconds = 20; // 0: no dialog run
    bool latency = true;
    bool cost = true;
    bool replay = true;
    int lagMs = 80;
    const fs::path here = fs::read_symlink("/proc/self/exe").parent_path();
    std::string ostrim = (here / "ostrim").string();
    std::string simulator = (here / "ostrim-sim").string();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--firings" && hasValue)
            firings = std::atoi(argv[++i]);
        else if (arg == "--cpu-seconds" && hasValue)
            seconds = std::atoi(argv[++i]);
        else if (arg == "--ostrim" && hasValue)
            ostrim = argv[++i];
        else if (arg == "--sim" && hasValue)
            simulator = argv[++i];
        else if (arg == "--skip-latency")
            latency = false;
        else if (arg == "--skip-cpu")
            cost = false;
        else if (arg == "--skip-replay")
            replay = false;
        else if (arg == "--lag" && hasValue)
            lagMs = std::atoi(argv[++i]);
        else if (arg == "--dialog-seconds" && hasValue)
            dialogSeconds = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr,
                         "usage: latency_bench [--firings N] [--cpu-seconds S] [--skip-latency] "
                         "[--skip-cpu] [--skip-replay] [--lag MS] [--dialog-seconds S] [--ostrim PATH] [--sim PATH]\n");
            return 2;
        }
    }
    if (firings <= 0 || seconds <= 0 || dialogSeconds < 0)
        return 2;

    std::string pattern = (fs::temp_directory_path() / "ostrim-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        return 1;
    const fs::path scratch = pattern;
    int result = 0;
    if (latency)
        result = FiringLatency(firings, scratch);
    if (result == 0 && cost)
        result = RunningCost(seconds, ostrim, simulator, scratch);
    if (result == 0 && dialogSeconds > 0)
        result = DialogMemory(dialogSeconds, ostrim, simulator, scratch);
    for (int run = 0; replay && result == 0 && run < 3; ++run)
        result = ReplayAgainstLive(run == 0 ? 0 : lagMs, run != 2, scratch);
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    return result;
}
