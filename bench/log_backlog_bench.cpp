// What the two logs cost the GPS reader thread per fix (not a test; prints figures).
//
//  1. Steady running: both logs appended to real files, one GPS record and one sentence a fix.
//  2. A long outage: the logs' folder is a file, so every open fails; the backlog fills to its
//     limit of records.
//  3. Recovery: the folder is given back and fixes go on until the backlog has drained. The
//     figure that matters is the worst single fix, which the trigger engine waits behind.
//  4. For comparison, one write of the whole backlog at once (what an unbounded drain costs the
//     first fix after an outage).
//
// Usage: log_backlog_bench [--folder DIR (a new folder under /tmp)] [--held N (100000)]

#include "gps/LogFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kRecord[] = "Dunrel 80k truck,12/07/2026,12,35,19.00,48.117300,N,11.516667,E,545.4M\n";
constexpr char kSentence[] =
    "$GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*69\r\n";

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

struct Figures {
    std::vector<double> fixes; // microseconds per fix
    void Print(const char* what)
    {
        std::vector<double> sorted = fixes;
        std::sort(sorted.begin(), sorted.end());
        auto at = [&](double q) { return sorted[static_cast<std::size_t>(q * (sorted.size() - 1))]; };
        std::printf("%-34s fixes %7zu  median %8.1f us  p99 %8.1f us  max %9.1f us\n", what,
                    sorted.size(), at(0.5), at(0.99), sorted.back());
    }
};

// One fix: both appends, timed together as the reader thread sees them.
double Fix(ostrim::GpsLogs& logs, int& errors)
{
    Clock::time_point start = Clock::now();
    int gps = logs.AppendGpsLog(kRecord);
    int raw = logs.AppendRawLog(kSentence);
    double spent = Micros(Clock::now() - start);
    errors += (gps != 0) + (raw != 0);
    return spent;
}

} // namespace

int main(int argc, char** argv)
{
    std::string base;
    bool made = false;
    std::size_t held = ostrim::GpsLogs::kBacklogLimit;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--folder") == 0)
            base = argv[i + 1];
        else if (std::strcmp(argv[i], "--held") == 0)
            held = std::strtoul(argv[i + 1], nullptr, 10);
    }
    if (base.empty()) {
        std::string pattern = "/tmp/ostrim-log-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            return 1;
        }
        base = pattern;
        made = true;
    }
    const std::string folder = base + "/logs";
    ostrim::LogPaths paths;
    paths.SetGps(folder + "/gps.txt");
    paths.SetRaw(folder + "/raw.txt");
    ostrim::GpsLogs logs(paths);
    int errors = 0;

    fs::create_directory(folder);
    Figures steady;
    for (int i = 0; i < 5000; ++i)
        steady.fixes.push_back(Fix(logs, errors));
    steady.Print("steady running");

    fs::remove_all(folder);
    if (std::FILE* f = std::fopen(folder.c_str(), "w"))
        std::fclose(f);
    Figures outage;
    for (std::size_t i = 0; i < held; ++i)
        outage.fixes.push_back(Fix(logs, errors));
    outage.Print("outage (opens fail)");
    const std::size_t heldGps = logs.GpsBacklog();
    const std::size_t heldRaw = logs.RawBacklog();
    const double heldBytes = heldGps * (sizeof kRecord) + heldRaw * (sizeof kSentence - 1);

    fs::remove(folder);
    fs::create_directory(folder);
    errors = 0;
    Figures recovery;
    while ((logs.GpsBacklog() > 0 || logs.RawBacklog() > 0) && recovery.fixes.size() < 10 * held)
        recovery.fixes.push_back(Fix(logs, errors));
    std::printf("held at recovery: %zu GPS and %zu raw records, %.1f MB\n", heldGps, heldRaw,
                heldBytes / 1e6);
    std::printf("first fix after recovery: %.1f us; backlog drained in %zu fixes (%d failed)\n",
                recovery.fixes.front(), recovery.fixes.size(), errors);
    recovery.Print("recovery until drained");

    // The whole backlog in one write, as an unbounded drain would do it at the first fix.
    std::string all(static_cast<std::size_t>(heldBytes), 'x');
    const std::string reference = base + "/reference.txt";
    Clock::time_point start = Clock::now();
    int fd = ::open(reference.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    std::size_t done = 0;
    while (fd >= 0 && done < all.size()) {
        ssize_t n = ::write(fd, all.data() + done, all.size() - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    if (fd >= 0)
        ::close(fd);
    std::printf("whole backlog in one write (reference): %.1f us for %.1f MB\n",
                Micros(Clock::now() - start), done / 1e6);

    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::remove(reference, ignored);
    if (made)
        fs::remove(base, ignored);
    return 0;
}
