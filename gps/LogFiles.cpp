#include "gps/LogFiles.h"

#include "platform/posix/UniqueFd.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrim {

namespace {

// Closes now and reports close's own failure, which can be the first sign of a lost write.
int Close(UniqueFd& fd)
{
    return fd.Reset() == 0 ? 0 : errno;
}

int WriteAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

// Appends all bytes or none: a failed write is cut back to the size the file had before.
int AppendAll(const std::string& path, const char* data, std::size_t size)
{
    if (path.empty())
        return GpsLogs::kNoLogYet;
    // O_CREAT: a log removed during a run is created again rather than losing the records.
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (!fd.Valid())
        return errno;
    struct stat before{};
    if (::fstat(fd.Get(), &before) != 0)
        return errno;

    int err = WriteAll(fd.Get(), data, size);
    if (err != 0) {
        // Not a regular file (a device, say): there is nothing to cut back.
        if (S_ISREG(before.st_mode)) {
            while (::ftruncate(fd.Get(), before.st_size) != 0 && errno == EINTR) {
            }
        }
        return err;
    }
    err = Close(fd);
    if (err != 0 && S_ISREG(before.st_mode)) {
        // The bytes may or may not have reached the disk; they stay in the backlog, so make sure
        // the file does not hold them too.
        while (::truncate(path.c_str(), before.st_size) != 0 && errno == EINTR) {
        }
    }
    return err;
}

} // namespace

std::string MakeLogPath(const std::string& folder, const char* format, std::time_t time)
{
    std::tm local{};
    if (::localtime_r(&time, &local) == nullptr)
        return folder;
    char name[256];
    std::size_t length = std::strftime(name, sizeof name, format, &local);
    return folder + std::string(name, length);
}

int CreateLogFile(const std::string& path)
{
    if (path.empty())
        return ENOENT;
    // No O_TRUNC: a second Start or End of Lap in the same minute must not empty the log.
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    if (!fd.Valid())
        return errno;
    return Close(fd);
}

int GpsLogs::AppendGpsLog(std::string_view record)
{
    std::string bytes;
    bytes.reserve(record.size() + 2);
    for (char c : record) {
        if (c == '\n')
            bytes += '\r';
        bytes += c;
    }
    return Append(gps_, paths_.Gps(), std::move(bytes));
}

int GpsLogs::AppendRawLog(std::string_view record)
{
    return Append(raw_, paths_.Raw(), std::string(record));
}

std::size_t GpsLogs::GpsBacklog() const
{
    std::lock_guard lock(mutex_);
    return gps_.lengths.size();
}

std::size_t GpsLogs::RawBacklog() const
{
    std::lock_guard lock(mutex_);
    return raw_.lengths.size();
}

std::size_t GpsLogs::Dropped() const
{
    std::lock_guard lock(mutex_);
    return dropped_;
}

int GpsLogs::Append(Log& log, const std::string& path, std::string bytes)
{
    std::lock_guard lock(mutex_);
    // The backlog and the new record go out in one write, in order.
    log.pending.append(bytes);
    log.lengths.push_back(bytes.size());

    int err = AppendAll(path, log.pending.data() + log.head, log.pending.size() - log.head);
    if (err == 0) {
        log.pending.clear();
        log.head = 0;
        log.lengths.clear();
        return 0;
    }

    // The newest records are the ones the operator most likely still needs; drop the oldest.
    while (log.lengths.size() > kBacklogLimit) {
        log.head += log.lengths.front();
        log.lengths.pop_front();
        ++dropped_;
    }
    if (log.head > log.pending.size() / 2) {
        log.pending.erase(0, log.head);
        log.head = 0;
    }
    return err;
}

} // namespace ostrim
