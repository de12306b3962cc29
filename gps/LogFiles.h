#pragma once
// The GPS log (one CSV line per accepted fix), the raw log (each accepted sentence as received)
// and the event log (one CSV row per switch and per change of the run's state). Every append
// opens, writes and closes, so the files are complete on disk after every record and other
// programs can read them during a run.

#include "runstate/RunState.h"
#include "gps/LogFileSystem.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace ostrim {

// The name formats; the leading separator joins the name to the folder text as it stands.
#ifdef _WIN32
inline constexpr char kGpsLogFormat[] = "\\%H_%M-%d-%m-%Y-GPS-Data.txt";
inline constexpr char kRawLogFormat[] = "\\%H_%M-%d-%m-%Y-Raw-GPS-Data.txt";
inline constexpr char kEventLogFormat[] = "\\%H_%M-%d-%m-%Y-Events.csv";
#else
inline constexpr char kGpsLogFormat[] = "/%H_%M-%d-%m-%Y-GPS-Data.txt";
inline constexpr char kRawLogFormat[] = "/%H_%M-%d-%m-%Y-Raw-GPS-Data.txt";
inline constexpr char kEventLogFormat[] = "/%H_%M-%d-%m-%Y-Events.csv";
#endif

// The folder text followed directly by `time` formatted in local time with `format`.
std::string MakeLogPath(const std::string& folder, const char* format, std::time_t time);

// Creates a missing file and leaves an existing one as it is (its records stay).
// 0 on success, else the errno of the failure.
int CreateLogFile(const std::string& path, LogFileSystem& files = SystemLogFileSystem());

// Which of the run's three logs a record is for.
enum class LogKind { Gps = 0, Raw = 1, Events = 2 };

// One file a run named, with the records of this run that reached it.
struct LogFileCount {
    LogKind kind = LogKind::Gps;
    std::string path;
    std::uint64_t records = 0;
};

// Records not on disk: how many, and since when the oldest stretch of them has been held.
struct HeldRecords {
    std::size_t records = 0;
    std::chrono::system_clock::time_point since{};
};

// What a rescue of the held records did.
struct RescueResult {
    std::size_t written = 0;         // records now in the rescue folder
    std::size_t lost = 0;            // records still held after it (the folder failed too)
    std::vector<std::string> files;  // the files written, in order
    int error = 0;                   // errno of the first failure, 0 if none
};

// Appends records to the files that `paths` names at the moment of each append.
//
// A record that cannot be written (disk full, folder gone or read-only) is kept in a bounded
// backlog for the file it was meant for (a lap that ends during an outage keeps its own records)
// and written, in order, before the next record of that file; a vanished file is created again.
// When only part of the backlog fits, the whole records that fit are written and kept. A failed
// write never leaves half a record in the file. The three logs (GPS, raw, events) follow the
// same rules, each with its own backlog.
//
// Counts are of what reached the disk: Files() gives every file named with the records written
// to it, Held() what waits. At the end of a run Rescue writes what still waits elsewhere.
//
// Thread rule: appends run on any thread (the GPS reader for the two GPS logs; events come from
// every thread); each call is whole under one lock. The paths may be replaced from any thread.
class GpsLogs {
public:
    using WallClock = std::function<std::chrono::system_clock::time_point()>;

    // Records kept while a log cannot be written: at 20 fixes a second, over 80 minutes.
    static constexpr std::size_t kBacklogLimit = 100000;

    // Bytes of held records one append writes at most. A fix appends to both logs, so a disk
    // that comes back with a long backlog costs each fix at most 64 KiB of writing ahead of the
    // trigger engine, a fraction of a millisecond into the page cache, where the whole backlog
    // at once (14 MB for both logs at the limit) takes tens of milliseconds. A full backlog
    // drains in about 220 fixes.
    static constexpr std::size_t kWriteBudget = 32 * 1024;

    // What an append returns while no log is named yet (fixes between the port opening and the
    // logs' creation at Start): the record waits for the first log; nothing has failed.
    static constexpr int kNoLogYet = -1;

    explicit GpsLogs(LogPaths& paths, LogFileSystem& files = SystemLogFileSystem(),
                     WallClock clock = [] { return std::chrono::system_clock::now(); })
        : paths_(paths), files_(files), clock_(std::move(clock))
    {
    }

    // The record ends in "\n", which is written as CR LF. 0 when every write made succeeded
    // (held records past the write budget simply wait for the next append), kNoLogYet, or the
    // errno of a failed write.
    int AppendGpsLog(std::string_view record);
    // The sentence exactly as received. Results as for AppendGpsLog.
    int AppendRawLog(std::string_view record);
    // One row of the event log, its CR LF included. Results as for AppendGpsLog.
    int AppendEventLog(std::string_view row);

    // Creates the log at `path` (the event log with its header row when it is new) and lists it
    // among Files(). 0 or the errno of the failure.
    int Create(LogKind kind, const std::string& path);

    std::size_t GpsBacklog() const;
    std::size_t RawBacklog() const;
    std::size_t EventBacklog() const;
    // Records dropped because a backlog was full (only on a very long outage); the oldest go
    // first, so what is kept is the most recent stretch of the track.
    std::size_t Dropped() const;

    // Every file named so far, GPS logs first, then raw logs, then event logs, each in the
    // order named; with the records of this run written to it.
    std::vector<LogFileCount> Files() const;
    // Records written to the GPS logs, all laps together: the fixes on disk.
    std::uint64_t GpsRecordsWritten() const;
    HeldRecords Held() const;
    HeldRecords Held(LogKind kind) const;

    // Tries once more to write every held record to its own file, with no budget.
    int Retry();
    // Writes every held record into `folder` (created if missing), each under the name of the
    // file it was meant for, in order, lap by lap; records that never had a log get the name
    // their log would have had at `when`. Records written leave the backlog.
    RescueResult Rescue(const std::string& folder, std::time_t when);

private:
    // Records not yet on disk for one file, joined in arrival order so they go out in one write;
    // `head` skips records already written or dropped from the front.
    struct Batch {
        std::string path;
        std::string bytes;
        std::size_t head = 0;
        std::deque<std::size_t> lengths; // one entry per record kept
    };
    // One batch per stretch of records meant for the same file, oldest first.
    struct Log {
        std::deque<Batch> batches;
        std::size_t records = 0;
        std::chrono::system_clock::time_point heldSince{};
        std::vector<LogFileCount> files;
    };
    int Append(LogKind kind, const std::string& path, std::string bytes);
    int WriteHeld(Log& log, LogKind kind, std::size_t budget);
    int WriteOldest(Log& log, Batch& batch, std::size_t& budget);
    void Count(Log& log, LogKind kind, const std::string& path, std::uint64_t records);
    void DropOverLimit(Log& log);
    void NoteHeld(Log& log);

    LogPaths& paths_;
    LogFileSystem& files_;
    WallClock clock_;
    mutable std::mutex mutex_;
    std::array<Log, 3> logs_;
    std::size_t dropped_ = 0;
};

} // namespace ostrim
