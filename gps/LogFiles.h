#pragma once
// The GPS log (one CSV line per accepted fix) and the raw log (each accepted sentence as
// received). Every append opens, writes and closes, so both files are complete on disk after
// every fix and other programs can read them during a run.

#include "app/RunState.h"
#include "gps/LogFileSystem.h"

#include <cstddef>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

namespace ostrim {

// The name formats; the leading separator joins the name to the folder text as it stands.
inline constexpr char kGpsLogFormat[] = "/%H_%M-%d-%m-%Y-GPS-Data.txt";
inline constexpr char kRawLogFormat[] = "/%H_%M-%d-%m-%Y-Raw-GPS-Data.txt";

// The folder text followed directly by `time` formatted in local time with `format`.
std::string MakeLogPath(const std::string& folder, const char* format, std::time_t time);

// Creates a missing file and leaves an existing one as it is (its records stay).
// 0 on success, else the errno of the failure.
int CreateLogFile(const std::string& path, LogFileSystem& files = PosixLogFileSystem());

// Appends records to the files that `paths` names at the moment of each append.
//
// A record that cannot be written (disk full, folder gone or read-only) is kept in a bounded
// backlog and written, in order, before the next record of the same log; a vanished file is
// created again. A failed write never leaves half a record in the file.
//
// Thread rule: appends run on the GPS reader thread; the paths may be replaced from any thread.
class GpsLogs {
public:
    // Records kept while a log cannot be written: at 20 fixes a second, over 80 minutes.
    static constexpr std::size_t kBacklogLimit = 100000;

    // What an append returns while no log is named yet (fixes between the port opening and the
    // logs' creation at Start): the record waits for the first log; nothing has failed.
    static constexpr int kNoLogYet = -1;

    explicit GpsLogs(LogPaths& paths, LogFileSystem& files = PosixLogFileSystem())
        : paths_(paths), files_(files)
    {
    }

    // The record ends in "\n", which is written as CR LF. 0 on success, kNoLogYet, or the errno.
    int AppendGpsLog(std::string_view record);
    // The sentence exactly as received. 0 on success, kNoLogYet, or the errno.
    int AppendRawLog(std::string_view record);

    std::size_t GpsBacklog() const;
    std::size_t RawBacklog() const;
    // Records dropped because a backlog was full (only on a very long outage); the oldest go
    // first, so what is kept is the most recent stretch of the track.
    std::size_t Dropped() const;

private:
    // Records not yet on disk, joined in arrival order so the backlog goes out in one write;
    // `head` skips records dropped from the front.
    struct Log {
        std::string pending;
        std::size_t head = 0;
        std::deque<std::size_t> lengths; // one entry per record kept
    };
    int Append(Log& log, const std::string& path, std::string bytes);

    LogPaths& paths_;
    LogFileSystem& files_;
    mutable std::mutex mutex_;
    Log gps_;
    Log raw_;
    std::size_t dropped_ = 0;
};

} // namespace ostrim
