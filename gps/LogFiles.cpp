#include "gps/LogFiles.h"

#include <cerrno>
#include <cstdint>

namespace ostrim {

namespace {

// Appends all bytes or none: a failed write is cut back to the size the file had before.
int AppendAll(LogFileSystem& files, const std::string& path, std::string_view bytes)
{
    if (path.empty())
        return GpsLogs::kNoLogYet;
    LogFileSystem::Handle handle = -1;
    std::uint64_t before = 0;
    if (int err = files.OpenAppend(path, handle, before); err != 0)
        return err;

    std::size_t written = 0;
    int err = files.Write(handle, bytes, written);
    if (err != 0) {
        // Not a regular file (a device, say) cannot be cut back; nothing is lost by trying.
        files.Truncate(handle, before);
        files.Close(handle);
        return err;
    }
    err = files.Close(handle);
    if (err != 0) {
        // The bytes may or may not have reached the disk; they stay in the backlog, so make sure
        // the file does not hold them too.
        std::uint64_t size = 0;
        if (files.OpenAppend(path, handle, size) == 0) {
            if (size > before)
                files.Truncate(handle, before);
            files.Close(handle);
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

int CreateLogFile(const std::string& path, LogFileSystem& files)
{
    if (path.empty())
        return ENOENT;
    return files.Create(path);
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

    int err = AppendAll(files_, path, std::string_view(log.pending).substr(log.head));
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
