// Serial-path timings over pseudo-terminals (not a test; prints figures):
//  1. SwitchNode against its floor, with the simulated base station on the other side.
//  2. SwitchNode with a base station that takes no bytes: the time to "Node %d failed", and the
//     time from a stop during the switch to its return.
//  3. Latency from a line feed written on the GPS port to the monitor's callback seeing it.
//
// Usage: serial_bench [switch-runs (50)] [sentences (500)]

#include "basestation/BaseStationCommands.h"
#include "gps/PortMonitor.h"
#include "platform/posix/PseudoTerminal.h"
#include "tools/sim/BaseStationSim.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class NullFields : public ostrim::DialogFields {
public:
    void SetText(ostrim::Field, const std::string& text) override { last = text; }
    std::string GetText(ostrim::Field) const override { return {}; }
    void ShowMessage(const std::string&) override {}
    std::string last;
};

void PrintStats(const char* what, std::vector<double> values, const char* unit)
{
    std::sort(values.begin(), values.end());
    auto at = [&](double q) { return values[static_cast<std::size_t>(q * (values.size() - 1))]; };
    std::printf("%-34s n=%zu  median %.3f %s  p95 %.3f %s  max %.3f %s\n", what, values.size(),
                at(0.5), unit, at(0.95), unit, values.back(), unit);
}

double ThreadCpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

int SwitchNodeRuns(int runs)
{
    ostrim::sim::BaseStationSim station;
    std::string error;
    if (!station.Start(&error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    NullFields fields;
    std::string path = station.DevicePath();
    ostrim::BaseStationCommands commands(fields, [&path] { return path; });
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        commands.SwitchNode(0x4070BF7B);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (fields.last != "Node 1081130875 success") {
            std::fprintf(stderr, "run %d: %s\n", i, fields.last.c_str());
            return 1;
        }
    }
    // The simulator decodes on its own thread; let it catch up before counting.
    auto until = Clock::now() + 2s;
    while (station.Commands().size() < 2u * runs && Clock::now() < until)
        std::this_thread::sleep_for(5ms);
    constexpr double kLineMs = 34 * 10 * 1000.0 / 38400; // 34 bytes, 10 bits each, 38400 baud
    std::printf("SwitchNode floor: 100 ms pulse + 34 one-byte writes; on a 38400-baud line "
                "%.2f ms, on a pseudo-terminal (no line time) 100.00 ms\n",
                100.0 + kLineMs);
    PrintStats("SwitchNode (pseudo-terminal)", ms, "ms");
    std::printf("  frames seen by the base station: %zu of %d, bad %d\n",
                station.Commands().size(), 2 * runs, station.BadFrames());
    return 0;
}

// A device that takes no bytes: the tty's queue towards it full, and nobody reading it.
bool FillUntilStuck(const ostrim::PseudoTerminal& pty)
{
    int fd = ::open(pty.SlavePath().c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const std::string block(4096, 'x');
    for (int quiet = 0; quiet < 2;) {
        if (::write(fd, block.data(), block.size()) > 0) {
            quiet = 0;
        } else if (errno == EAGAIN) {
            ++quiet;
            std::this_thread::sleep_for(50ms);
        } else {
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    return true;
}

int StuckBaseStationRuns(int runs)
{
    ostrim::PseudoTerminal pty;
    if (pty.Open() != 0 || !FillUntilStuck(pty)) {
        std::fprintf(stderr, "cannot make a stuck device\n");
        return 1;
    }
    const std::string path = pty.SlavePath();
    NullFields fields;
    std::vector<double> failedMs;
    for (int i = 0; i < runs; ++i) {
        ostrim::BaseStationCommands commands(fields, [&path] { return path; });
        auto start = Clock::now();
        commands.SwitchNode(0x4070BF7B);
        failedMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (fields.last != "Node 1081130875 failed") {
            std::fprintf(stderr, "run %d: %s\n", i, fields.last.c_str());
            return 1;
        }
    }
    PrintStats("SwitchNode, stuck: to Node failed", failedMs, "ms");

    // Stops spread over the whole switch: the on frame's wait, the pulse, the off frame's wait.
    std::vector<double> stopMs;
    const double switchMs = failedMs[failedMs.size() / 2];
    for (int i = 0; i < runs; ++i) {
        ostrim::BaseStationCommands commands(fields, [&path] { return path; });
        std::atomic<bool> done{false};
        std::thread sw([&] {
            commands.SwitchNode(0x4070BF7B);
            done.store(true);
        });
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(
            switchMs * (i % 10) / 10.0));
        auto stopped = Clock::now();
        commands.Stop();
        sw.join();
        stopMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - stopped).count());
    }
    PrintStats("SwitchNode, stuck: stop to return", stopMs, "ms");
    return 0;
}

struct LatencyProbe {
    static void Callback(ostrim::PortMonitor* monitor, std::int32_t code, void* context)
    {
        auto* self = static_cast<LatencyProbe*>(context);
        if (code == 3 && monitor->GetReadBuffer()[0] == '\n') {
            self->seenAt.store(Clock::now().time_since_epoch().count());
            // The monitor thread's own CPU time, from the first line feed to the last.
            double cpu = ThreadCpuSeconds();
            if (self->lineFeeds.load() == 0)
                self->firstCpu = cpu;
            self->lastCpu = cpu;
            self->lineFeeds.fetch_add(1);
        }
        if (code == 3)
            monitor->RequestNextRead();
    }
    std::atomic<Clock::rep> seenAt{0};
    std::atomic<int> lineFeeds{0};
    double firstCpu = 0; // monitor thread only until Stop
    double lastCpu = 0;
};

int LineFeedLatency(int sentences)
{
    ostrim::PseudoTerminal pty;
    if (pty.Open() != 0)
        return 1;
    LatencyProbe probe;
    ostrim::PortMonitor monitor;
    monitor.SetCallback(&LatencyProbe::Callback, &probe);
    if (int result = monitor.Open(pty.SlavePath().c_str(), 38400, 0, 8, 1)) {
        std::fprintf(stderr, "Open gave %d\n", result);
        return 1;
    }
    const std::string sentence =
        "$GPGGA,123519.00,5214.4000,N,00651.0000,E,1,08,0.9,100.0,M,46.9,M,,*61\r\n";
    std::vector<double> us;
    for (int i = 0; i < sentences; ++i) {
        int before = probe.lineFeeds.load();
        auto sent = Clock::now();
        std::size_t written = 0;
        pty.WriteMaster(reinterpret_cast<const std::uint8_t*>(sentence.data()), sentence.size(),
                        1s, &written);
        auto until = sent + 1s;
        while (probe.lineFeeds.load() == before && Clock::now() < until)
            std::this_thread::yield();
        if (probe.lineFeeds.load() == before) {
            std::fprintf(stderr, "sentence %d: no line feed within 1 s\n", i);
            return 1;
        }
        Clock::time_point seen{Clock::duration(probe.seenAt.load())};
        us.push_back(std::chrono::duration<double, std::micro>(seen - sent).count());
        std::this_thread::sleep_for(2ms); // sentences arrive apart, as from a receiver
    }
    monitor.Stop();
    PrintStats("Line feed written -> callback", us, "us");
    std::printf("  (timed from just before the whole %zu-byte sentence is written)\n",
                sentence.size());
    if (sentences > 1) {
        std::printf("  monitor thread CPU: %.2f ms per 1,000 sentences (%.0f ns a character)\n",
                    (probe.lastCpu - probe.firstCpu) * 1e6 / (sentences - 1),
                    (probe.lastCpu - probe.firstCpu) * 1e9 / (sentences - 1) / sentence.size());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    int runs = argc > 1 ? std::atoi(argv[1]) : 50;
    int sentences = argc > 2 ? std::atoi(argv[2]) : 500;
    if (runs <= 0 || sentences <= 0) {
        std::fprintf(stderr, "usage: serial_bench [switch-runs] [sentences]\n");
        return 2;
    }
    if (int r = SwitchNodeRuns(runs))
        return r;
    if (int r = StuckBaseStationRuns(std::min(runs, 20)))
        return r;
    return LineFeedLatency(sentences);
}
