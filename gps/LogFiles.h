#pragma once
// The GPS log (one CSV line per accepted fix) and the raw log (each accepted sentence as
// received). Every append opens, writes and closes, so both files are complete on disk after
// every fix and other programs can read them during a run.

#include "runstate/RunState.h"
#include "gps/LogFileSystem.h"

#include <cstddef>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

namespace ostrim {

// The name formats; the leading separator joins the name to the folder text as it stands.
#ifdef _WIN32
inline constexpr char kGpsLogFormat[] = "\\%H_%M-%d-%m-%Y-GPS-Data.txt";
inline constexpr char kRawLogFormat[] = "\\%H_%M-%d-%m-%Y-Raw-GPS-Data.txt";
#else
inline constexpr char kGpsLogFormat[] = "/%H_%M-%d-%m-%Y-GPS-Data.txt";
inline constexpr char kRawLogFormat[] = "/%H_%M-%d-%m-%Y-Raw-GPS-Data.txt";
#endif

// The folder text followed directly by `time` formatted in local time with `format`.
std::string MakeLogPath(const std::string& folder, const char* format, std::time_t time);

// Creates a missing file and leaves an existing one as it is (its records stay).
// 0 on success, else the errno of the failure.
int CreateLogFile(const std::string& path, LogFileSystem& files = SystemLogFileSystem());

// Appends records to the files that `paths` names at the moment of each append.
//
// A record that cannot be written (disk full, folder gone or read-only) is kept in a bounded
// backlog for the file it was meant for (a lap that ends during an outage keeps its own records)
// and written, in order, before the next record of that file; a vanished file is created again.
// When only part of the backlog fits, the whole records that fit are written and kept. A failed
// write never leaves half a record in the file.
//
// Thread rule: appends run on the GPS reader thread; the paths may be replaced from any thread.
class GpsLogs {
public:
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

    explicit GpsLogs(LogPaths& paths, LogFileSystem& files = SystemLogFileSystem())
        : paths_(paths), files_(files)
    {
    }

    // The record ends in "\n", which is written as CR LF. 0 when every write made succeeded
    // (held records past the write budget simply wait for the next append), kNoLogYet, or the
    // errno of a failed write.
    int AppendGpsLog(std::string_view record);
    // The sentence exactly as received. Results as for AppendGpsLog.
    int AppendRawLog(std::string_view record);

    std::size_t GpsBacklog() const;
    std::size_t RawBacklog() const;
    // Records dropped because a backlog was full (only on a very long outage); the oldest go
    // first, so what is kept is the most recent stretch of the track.
    std::size_t Dropped() const;

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
    };
    int Append(Log& log, const std::string& path, std::string bytes);
    int WriteOldest(Log& log, Batch& batch, std::size_t& budget);
    void DropOverLimit(Log& log);

    LogPaths& paths_;
    LogFileSystem& files_;
    mutable std::mutex mutex_;
    Log gps_;
    Log raw_;
    std::size_t dropped_ = 0;
};

} // namespace ostrim
