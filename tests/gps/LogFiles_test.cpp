#include "gps/LogFiles.h"

#include "tests/support/MemoryLogFiles.h"
#include "tests/support/ScopedTimeZone.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace ostrim {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::ScopedTimeZone;
using test::ScratchFolder;
using test::WriteFile;

constexpr std::time_t k0907On1March2027 = 1803892050; // 2027-03-01 09:07:30 UTC

// Runs `body` in a forked child and returns what it reported as failed (empty when all held), so a
// test can change process-wide limits or its user without touching the test runner.
std::string InChild(const std::function<std::string()>& body)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return "pipe failed";
    pid_t pid = ::fork();
    if (pid < 0)
        return "fork failed";
    if (pid == 0) {
        ::close(pipeFds[0]);
        std::string failures = body();
        const char* p = failures.data();
        std::size_t left = failures.size();
        while (left > 0) {
            ssize_t n = ::write(pipeFds[1], p, left);
            if (n <= 0)
                break;
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        ::_exit(failures.empty() ? 0 : 1);
    }
    ::close(pipeFds[1]);
    std::string failures;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        failures.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status))
        failures += "child ended abnormally, status " + std::to_string(status);
    else if (WEXITSTATUS(status) != 0 && failures.empty())
        failures = "child exited with " + std::to_string(WEXITSTATUS(status));
    return failures;
}

// Root ignores permission bits; the child drops to the unprivileged user so they apply.
std::string DropToNobody()
{
    if (::geteuid() != 0)
        return "";
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
        return "could not drop to uid 65534\n";
    return "";
}

std::string Expect(bool holds, const std::string& what) { return holds ? "" : what + "\n"; }

std::string Numbered(int n) { return "record " + std::to_string(n) + "\n"; }

TEST(MakeLogPath, NamesFromLocalTime)
{
    const struct {
        const char* zone;
        const char* folder;
        const char* format;
        std::time_t time;
        const char* path;
    } cases[] = {
        {"UTC0", "/data/LVR_LAPS", kGpsLogFormat, k0907On1March2027,
         "/data/LVR_LAPS/09_07-01-03-2027-GPS-Data.txt"},
        {"UTC0", "/data/LVR_LAPS", kRawLogFormat, k0907On1March2027,
         "/data/LVR_LAPS/09_07-01-03-2027-Raw-GPS-Data.txt"},
        // The folder text is joined as it stands.
        {"UTC0", "/data/LVR_LAPS/", kGpsLogFormat, k0907On1March2027,
         "/data/LVR_LAPS//09_07-01-03-2027-GPS-Data.txt"},
        {"UTC0", "", kGpsLogFormat, k0907On1March2027, "/09_07-01-03-2027-GPS-Data.txt"},
        // Local time, not UTC: 08:07 UTC is 09:07 in UTC+1.
        {"CET-1", "laps", kGpsLogFormat, k0907On1March2027 - 3600,
         "laps/09_07-01-03-2027-GPS-Data.txt"},
        // 23:59 UTC on 28 February 2027 is 01:59 on 1 March in UTC+2.
        {"EET-2", "laps", kRawLogFormat, 1803859140,
         "laps/01_59-01-03-2027-Raw-GPS-Data.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.zone) + " " + c.folder);
        ScopedTimeZone zone(c.zone);
        EXPECT_EQ(MakeLogPath(c.folder, c.format, c.time), c.path);
    }
}

TEST(CreateLogFile, MissingFile_CreatedEmpty)
{
    ScratchFolder dir;
    mode_t oldMask = ::umask(022);
    EXPECT_EQ(CreateLogFile(dir / "gps.txt"), 0);
    ::umask(oldMask);
    struct stat st{};
    ASSERT_EQ(::stat((dir / "gps.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(CreateLogFile, ExistingLog_KeepsItsRecords)
{
    ScratchFolder dir;
    WriteFile(dir / "gps.txt", "earlier record\r\n");
    EXPECT_EQ(CreateLogFile(dir / "gps.txt"), 0);
    EXPECT_EQ(ReadFile(dir / "gps.txt"), "earlier record\r\n");
}

TEST(CreateLogFile, Unwritable_ErrnoAndNothingCreated)
{
    ScratchFolder dir;
    WriteFile(dir / "file", "");
    const struct {
        std::string path;
        int err;
    } cases[] = {
        {dir / "missing/gps.txt", ENOENT},
        {dir / "file/gps.txt", ENOTDIR},
        {"", ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(CreateLogFile(c.path), c.err);
    }
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST(CreateLogFile, ReadOnlyFolder_Eacces)
{
    ScratchFolder dir;
    fs::permissions(dir.Path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
                                    | fs::perms::others_read | fs::perms::others_exec);
    fs::create_directory(dir / "ro");
    fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read
                                    | fs::perms::group_exec | fs::perms::others_read
                                    | fs::perms::others_exec);
    std::string path = dir / "ro/gps.txt";
    EXPECT_EQ(InChild([&] {
                  std::string failures = DropToNobody();
                  if (!failures.empty())
                      return failures;
                  int err = CreateLogFile(path);
                  return Expect(err == EACCES, "CreateLogFile gave " + std::to_string(err));
              }),
              "");
    EXPECT_FALSE(fs::exists(path));
}

TEST(GpsLogs, TwoFixes_GpsLinesEndInCrLfAndRawAsReceived)
{
    ScratchFolder dir;
    LogPaths paths;
    paths.SetGps(dir / "gps.txt");
    paths.SetRaw(dir / "raw.txt");
    GpsLogs logs(paths);
    EXPECT_EQ(logs.AppendGpsLog("first\n"), 0);
    EXPECT_EQ(logs.AppendRawLog("$GPGGA,1*00\r\n"), 0);
    EXPECT_EQ(logs.AppendGpsLog("second\n"), 0);
    EXPECT_EQ(logs.AppendRawLog("$GNGGA,2*00\n"), 0);
    EXPECT_EQ(ReadFile(dir / "gps.txt"), "first\r\nsecond\r\n");
    EXPECT_EQ(ReadFile(dir / "raw.txt"), "$GPGGA,1*00\r\n$GNGGA,2*00\n");
}

TEST(GpsLogs, FileRemovedDuringRun_CreatedAgain)
{
    ScratchFolder dir;
    LogPaths paths;
    paths.SetGps(dir / "gps.txt");
    GpsLogs logs(paths);
    EXPECT_EQ(logs.AppendGpsLog(Numbered(1)), 0);
    fs::remove(dir / "gps.txt");
    EXPECT_EQ(logs.AppendGpsLog(Numbered(2)), 0);
    EXPECT_EQ(ReadFile(dir / "gps.txt"), "record 2\r\n");
    EXPECT_EQ(logs.GpsBacklog(), 0u);
}

TEST(GpsLogs, UnwritablePath_RecordsHeldAndWrittenInOrderOnRecovery)
{
    ScratchFolder dir;
    WriteFile(dir / "file", "");
    const struct {
        const char* name;
        std::string failingPath;
        int err;
        std::function<std::string()> recover; // makes a path writable, returns it
    } cases[] = {
        {"folder missing", dir / "missing/gps.txt", ENOENT,
         [&] {
             fs::create_directory(dir / "missing");
             return dir / "missing/gps.txt";
         }},
        {"path under a file", dir / "file/gps.txt", ENOTDIR,
         [&] {
             fs::remove(dir / "file");
             fs::create_directory(dir / "file");
             return dir / "file/gps.txt";
         }},
        {"no path yet", "", GpsLogs::kNoLogYet, [&] { return dir / "late.txt"; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogPaths paths;
        paths.SetGps(c.failingPath);
        GpsLogs logs(paths);
        EXPECT_EQ(logs.AppendGpsLog(Numbered(1)), c.err);
        EXPECT_EQ(logs.AppendGpsLog(Numbered(2)), c.err);
        EXPECT_EQ(logs.GpsBacklog(), 2u);
        EXPECT_EQ(logs.RawBacklog(), 0u);

        std::string good = c.recover();
        paths.SetGps(good);
        EXPECT_EQ(logs.AppendGpsLog(Numbered(3)), 0);
        EXPECT_EQ(ReadFile(good), "record 1\r\nrecord 2\r\nrecord 3\r\n");
        EXPECT_EQ(logs.GpsBacklog(), 0u);
        EXPECT_EQ(logs.Dropped(), 0u);
    }
}

TEST(GpsLogs, DiskFull_NothingWrittenAndRecordHeld)
{
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    ScratchFolder dir;
    fs::create_symlink("/dev/full", dir / "raw.txt");
    LogPaths paths;
    paths.SetRaw(dir / "raw.txt");
    GpsLogs logs(paths);
    EXPECT_EQ(logs.AppendRawLog("$GPGGA,1\r\n"), ENOSPC);
    EXPECT_EQ(logs.RawBacklog(), 1u);

    fs::remove(dir / "raw.txt");
    WriteFile(dir / "raw.txt", "$GPGGA,0\r\n");
    EXPECT_EQ(logs.AppendRawLog("$GPGGA,2\r\n"), 0);
    EXPECT_EQ(ReadFile(dir / "raw.txt"), "$GPGGA,0\r\n$GPGGA,1\r\n$GPGGA,2\r\n");
}

TEST(GpsLogs, WriteStopsPartWay_FileCutBackToWholeRecords)
{
    ScratchFolder dir;
    const std::string path = dir / "gps.txt";
    const std::string before = std::string(998, 'a') + "\r\n";
    WriteFile(path, before);
    EXPECT_EQ(InChild([&] {
                  // The file may grow by 10 bytes: a 60-byte record is written part way, then EFBIG.
                  std::signal(SIGXFSZ, SIG_IGN);
                  struct rlimit limit{};
                  ::getrlimit(RLIMIT_FSIZE, &limit);
                  rlim_t hard = limit.rlim_max;
                  limit.rlim_cur = before.size() + 10;
                  ::setrlimit(RLIMIT_FSIZE, &limit);

                  LogPaths paths;
                  paths.SetGps(path);
                  GpsLogs logs(paths);
                  const std::string first = std::string(58, 'b') + "\n";
                  const std::string second = std::string(58, 'c') + "\n";
                  std::string failures;
                  int err = logs.AppendGpsLog(first);
                  failures += Expect(err == EFBIG, "first append gave " + std::to_string(err));
                  failures += Expect(ReadFile(path) == before, "file not cut back after EFBIG");
                  failures += Expect(logs.GpsBacklog() == 1, "record not held");

                  limit.rlim_cur = hard;
                  ::setrlimit(RLIMIT_FSIZE, &limit);
                  err = logs.AppendGpsLog(second);
                  failures += Expect(err == 0, "second append gave " + std::to_string(err));
                  failures += Expect(ReadFile(path) == before + std::string(58, 'b') + "\r\n"
                                         + std::string(58, 'c') + "\r\n",
                                     "records after recovery wrong");
                  return failures;
              }),
              "");
}

TEST(GpsLogs, ReadOnlyFolderOrFile_EaccesAndFileUntouched)
{
    ScratchFolder dir;
    const fs::perms readable = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    const fs::perms traversable =
        readable | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
    fs::permissions(dir.Path(), traversable | fs::perms::owner_write);
    fs::create_directory(dir / "ro");
    fs::permissions(dir / "ro", traversable);
    WriteFile(dir / "locked.txt", "kept\r\n");
    fs::permissions(dir / "locked.txt", readable);

    for (std::string path : {dir / "ro/gps.txt", dir / "locked.txt"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(InChild([&] {
                      std::string failures = DropToNobody();
                      if (!failures.empty())
                          return failures;
                      LogPaths paths;
                      paths.SetGps(path);
                      GpsLogs logs(paths);
                      int err = logs.AppendGpsLog("fix\n");
                      failures += Expect(err == EACCES, "append gave " + std::to_string(err));
                      failures += Expect(logs.GpsBacklog() == 1, "record not held");
                      return failures;
                  }),
                  "");
    }
    EXPECT_FALSE(fs::exists(dir / "ro/gps.txt"));
    EXPECT_EQ(ReadFile(dir / "locked.txt"), "kept\r\n");
}

TEST(GpsLogs, LongOutage_BacklogBoundedOldestDropped)
{
    ScratchFolder dir;
    WriteFile(dir / "file", "");
    LogPaths paths;
    paths.SetGps(dir / "file/gps.txt");
    GpsLogs logs(paths);
    const int total = static_cast<int>(GpsLogs::kBacklogLimit) + 2;
    for (int i = 1; i <= total; ++i)
        ASSERT_EQ(logs.AppendGpsLog(Numbered(i)), ENOTDIR);
    EXPECT_EQ(logs.GpsBacklog(), GpsLogs::kBacklogLimit);
    EXPECT_EQ(logs.Dropped(), 2u);

    fs::remove(dir / "file");
    fs::create_directory(dir / "file");
    // The backlog goes out over the next fixes, a bounded part each time.
    int last = total;
    while (logs.GpsBacklog() > 0 && last < 2 * total)
        ASSERT_EQ(logs.AppendGpsLog(Numbered(++last)), 0);
    std::string expected;
    for (int i = 3; i <= last; ++i)
        expected += "record " + std::to_string(i) + "\r\n";
    EXPECT_TRUE(ReadFile(dir / "file/gps.txt") == expected) << "records missing or out of order";
    EXPECT_EQ(logs.GpsBacklog(), 0u);
}

// A record of `width` bytes, line end included, numbered so order shows.
std::string Padded(int n, std::size_t width)
{
    std::string number = std::to_string(n);
    return number + std::string(width - number.size() - 1, '.') + "\n";
}

// End of Lap during an outage: a held record belongs to the lap it was recorded in.
TEST(GpsLogs, LapEndsDuringOutage_HeldRecordsGoToTheirOwnLap)
{
    test::MemoryLogFiles files;
    LogPaths paths;
    paths.SetGps("lap1.txt");
    GpsLogs logs(paths, files);
    files.SetRoom(0);
    EXPECT_EQ(logs.AppendGpsLog(Numbered(1)), ENOSPC);
    EXPECT_EQ(logs.AppendGpsLog(Numbered(2)), ENOSPC);

    paths.SetGps("lap2.txt");
    files.SetRoom(test::MemoryLogFiles::kUnlimited);
    EXPECT_EQ(logs.AppendGpsLog(Numbered(3)), 0);
    EXPECT_EQ(files.Contents("lap1.txt"), "record 1\r\nrecord 2\r\n");
    EXPECT_EQ(files.Contents("lap2.txt"), "record 3\r\n");
    EXPECT_EQ(logs.GpsBacklog(), 0u);
}

// The counts are of what reached the disk; what an outage held back at the end of a run goes to
// a rescue folder under its own files' names, lap by lap, in order, or is counted as lost.
TEST(GpsLogs, OutageAtTheEnd_CountsFromDiskAndHeldRecordsRescuedUnderTheirNames)
{
    const struct {
        const char* name;
        bool rescueFolderFails;
    } cases[] = {{"rescue folder writable", false}, {"rescue folder fails too", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::MemoryLogFiles files;
        LogPaths paths;
        paths.SetGps("/run/lap1-GPS-Data.txt");
        paths.SetRaw("/run/Raw-GPS-Data.txt");
        const auto outageStart = std::chrono::system_clock::from_time_t(k0907On1March2027);
        GpsLogs logs(paths, files, [&] { return outageStart; });
        ASSERT_EQ(logs.Create(LogKind::Events, "/run/Events.csv"), 0);
        paths.SetEvents("/run/Events.csv");
        EXPECT_EQ(files.Contents("/run/Events.csv").rfind("local time,fix UTC,event,", 0), 0u);
        for (int i = 1; i <= 3; ++i) {
            ASSERT_EQ(logs.AppendGpsLog(Numbered(i)), 0);
            ASSERT_EQ(logs.AppendRawLog("$raw " + std::to_string(i) + "\r\n"), 0);
        }
        ASSERT_EQ(logs.AppendEventLog("start\r\n"), 0);

        files.SetOpenError(ENOENT, "/run/");
        ASSERT_EQ(logs.AppendGpsLog(Numbered(4)), ENOENT);
        ASSERT_EQ(logs.AppendRawLog("$raw 4\r\n"), ENOENT);
        paths.SetGps("/run/lap2-GPS-Data.txt"); // End of Lap during the outage
        ASSERT_EQ(logs.AppendGpsLog(Numbered(5)), ENOENT);
        ASSERT_EQ(logs.AppendRawLog("$raw 5\r\n"), ENOENT);
        ASSERT_EQ(logs.AppendEventLog("node on\r\n"), ENOENT);

        EXPECT_EQ(logs.GpsRecordsWritten(), 3u);
        EXPECT_EQ(logs.Held().records, 5u);
        EXPECT_EQ(logs.Held().since, outageStart);
        const std::vector<LogFileCount> counted = logs.Files();
        ASSERT_EQ(counted.size(), 3u);
        EXPECT_EQ(counted[0].path, "/run/lap1-GPS-Data.txt");
        EXPECT_EQ(counted[0].records, 3u);
        EXPECT_EQ(counted[1].records, 3u);
        EXPECT_EQ(counted[2].path, "/run/Events.csv");
        EXPECT_EQ(counted[2].records, 1u);

        if (c.rescueFolderFails)
            files.SetOpenError(EROFS, "/");
        const RescueResult rescue = logs.Rescue("/rescue", k0907On1March2027);
        if (c.rescueFolderFails) {
            EXPECT_EQ(rescue.written, 0u);
            EXPECT_EQ(rescue.lost, 5u);
            EXPECT_EQ(rescue.error, EROFS);
            EXPECT_EQ(logs.Held().records, 5u);
            continue;
        }
        EXPECT_EQ(rescue.lost, 0u);
        EXPECT_EQ(rescue.written, 5u);
        EXPECT_TRUE(files.FolderExists("/rescue"));
        EXPECT_EQ(files.Contents("/rescue/lap1-GPS-Data.txt"), "record 4\r\n");
        EXPECT_EQ(files.Contents("/rescue/lap2-GPS-Data.txt"), "record 5\r\n");
        EXPECT_EQ(files.Contents("/rescue/Raw-GPS-Data.txt"), "$raw 4\r\n$raw 5\r\n");
        const std::string events = files.Contents("/rescue/Events.csv");
        EXPECT_EQ(events.rfind("local time,", 0), 0u) << "a rescued event log has its header";
        EXPECT_EQ(events.substr(events.size() - 9), "node on\r\n");
        EXPECT_EQ(logs.Held().records, 0u);
        EXPECT_EQ(files.Contents("/run/lap1-GPS-Data.txt"), "record 1\r\nrecord 2\r\nrecord 3\r\n");
    }
}

TEST(GpsLogs, RoomForPartOfTheBacklog_WholeRecordsThatFitKeptAndTheRestHeld)
{
    test::MemoryLogFiles files;
    LogPaths paths;
    paths.SetRaw("raw.txt");
    GpsLogs logs(paths, files);
    files.SetRoom(0);
    for (int i = 1; i < 60; ++i)
        ASSERT_EQ(logs.AppendRawLog(Padded(i, 10)), ENOSPC);

    files.SetRoom(28 * 10 + 5); // 28 records and half of the 29th
    EXPECT_EQ(logs.AppendRawLog(Padded(60, 10)), ENOSPC);
    std::string expected;
    for (int i = 1; i <= 28; ++i)
        expected += Padded(i, 10);
    EXPECT_EQ(files.Contents("raw.txt"), expected);
    EXPECT_EQ(logs.RawBacklog(), 32u);

    files.SetRoom(test::MemoryLogFiles::kUnlimited);
    EXPECT_EQ(logs.AppendRawLog(Padded(61, 10)), 0);
    for (int i = 29; i <= 61; ++i)
        expected += Padded(i, 10);
    EXPECT_EQ(files.Contents("raw.txt"), expected);
    EXPECT_EQ(logs.RawBacklog(), 0u);
}

// A disk that comes back with a long backlog must not hold up the trigger engine behind the
// logs: each fix writes at most 64 KiB of held records, and the rest follows in order.
TEST(GpsLogs, LongBacklogOnRecovery_AtMost64KiBAFixAndAllWrittenInOrder)
{
    test::MemoryLogFiles files;
    LogPaths paths;
    paths.SetGps("gps.txt");
    paths.SetRaw("raw.txt");
    GpsLogs logs(paths, files);
    files.SetRoom(0);
    int fixes = 0;
    auto fix = [&] {
        ++fixes;
        int gps = logs.AppendGpsLog(Padded(fixes, 99)); // 100 bytes with its CR
        int raw = logs.AppendRawLog(Padded(fixes, 100));
        return gps != 0 ? gps : raw;
    };
    while (fixes < 2000)
        ASSERT_EQ(fix(), ENOSPC);
    files.TakeBytesOffered();

    files.SetRoom(test::MemoryLogFiles::kUnlimited);
    while ((logs.GpsBacklog() > 0 || logs.RawBacklog() > 0) && fixes < 4000) {
        ASSERT_EQ(fix(), 0);
        ASSERT_LE(files.TakeBytesOffered(), 64u * 1024) << "fix " << fixes;
    }
    std::string gps;
    std::string raw;
    for (int i = 1; i <= fixes; ++i) {
        std::string record = Padded(i, 99);
        gps += record.insert(record.size() - 1, "\r");
        raw += Padded(i, 100);
    }
    EXPECT_TRUE(files.Contents("gps.txt") == gps) << "GPS records missing or out of order";
    EXPECT_TRUE(files.Contents("raw.txt") == raw) << "raw records missing or out of order";
}

// End of Lap replaces the path on the GUI thread while the reader thread appends.
TEST(GpsLogs, PathReplacedWhileAppending_EveryRecordInOneOfTheNamedFiles)
{
    ScratchFolder dir;
    const std::string lapA = dir / (std::string(150, 'a') + "-GPS-Data.txt");
    const std::string lapB = dir / (std::string(90, 'b') + "-GPS-Data.txt");
    LogPaths paths;
    paths.SetGps(lapA);
    GpsLogs logs(paths);
    constexpr int kRecords = 3000;

    std::atomic<bool> done{false};
    std::thread reader([&] {
        for (int i = 0; i < kRecords; ++i)
            logs.AppendGpsLog(Numbered(i));
        done = true;
    });
    for (int lap = 0; !done; ++lap) {
        const std::string& next = lap % 2 ? lapA : lapB;
        CreateLogFile(next);
        paths.SetGps(next);
    }
    reader.join();

    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        names.insert(entry.path().string());
    EXPECT_TRUE(names.size() <= 2 && names.count(lapA) == 1) << "a torn path made another file";
    std::multiset<std::string> records;
    for (const auto& name : names) {
        std::istringstream in(ReadFile(name));
        for (std::string line; std::getline(in, line);)
            records.insert(line);
    }
    EXPECT_EQ(records.size(), static_cast<std::size_t>(kRecords));
    for (int i = 0; i < kRecords; ++i)
        EXPECT_EQ(records.count("record " + std::to_string(i) + "\r"), 1u) << i;
    EXPECT_EQ(logs.GpsBacklog(), 0u);
}

} // namespace
} // namespace ostrim
