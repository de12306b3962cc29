#include "gps/LogFiles.h"

#include "platform/LocalTime.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

namespace ostrim {

namespace {

// Appends `bytes`, the records whose lengths `lengths` gives from the front. `kept` counts the
// bytes of the whole records that reached the file; a record that went in only part way is cut
// off again, so the file never holds half a record.
int AppendWholeRecords(LogFileSystem& files, const std::string& path, std::string_view bytes,
                       const std::deque<std::size_t>& lengths, std::size_t& kept)
{
    kept = 0;
    LogFileSystem::Handle handle = -1;
    std::uint64_t before = 0;
    if (int err = files.OpenAppend(path, handle, before); err != 0)
        return err;

    std::size_t written = 0;
    int err = files.Write(handle, bytes, written);
    if (err != 0) {
        std::size_t whole = 0;
        for (std::size_t length : lengths) {
            if (whole + length > written)
                break;
            whole += length;
        }
        // Not a regular file (a device, say) cannot be cut back; nothing is lost by trying.
        if (whole != written)
            files.Truncate(handle, before + whole);
        files.Close(handle);
        kept = whole;
        return err;
    }
    err = files.Close(handle);
    if (err == 0) {
        kept = bytes.size();
        return 0;
    }
    // The bytes may or may not have reached the disk; they stay held, so make sure the file does
    // not hold them too.
    std::uint64_t size = 0;
    if (files.OpenAppend(path, handle, size) == 0) {
        if (size > before)
            files.Truncate(handle, before);
        files.Close(handle);
    }
    return err;
}

void Compact(std::string& bytes, std::size_t& head)
{
    if (head > bytes.size() / 2) {
        bytes.erase(0, head);
        head = 0;
    }
}

} // namespace

std::string MakeLogPath(const std::string& folder, const char* format, std::time_t time)
{
    std::tm local{};
    if (!ToLocalTime(time, &local))
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
    return gps_.records;
}

std::size_t GpsLogs::RawBacklog() const
{
    std::lock_guard lock(mutex_);
    return raw_.records;
}

std::size_t GpsLogs::Dropped() const
{
    std::lock_guard lock(mutex_);
    return dropped_;
}

int GpsLogs::Append(Log& log, const std::string& path, std::string bytes)
{
    std::lock_guard lock(mutex_);
    if (!path.empty()) {
        // Records from before Start named the logs were meant for the first ones.
        for (Batch& batch : log.batches) {
            if (batch.path.empty())
                batch.path = path;
        }
    }
    if (log.batches.empty() || log.batches.back().path != path)
        log.batches.push_back(Batch{path, {}, 0, {}});
    Batch& newest = log.batches.back();
    newest.bytes.append(bytes);
    newest.lengths.push_back(bytes.size());
    ++log.records;

    int result = path.empty() ? kNoLogYet : 0;
    std::size_t budget = kWriteBudget;
    // A file that failed waits for the next append, with its later records behind it; other
    // files (an earlier lap's) still get theirs.
    std::vector<std::string> failed;
    for (std::size_t i = 0; i < log.batches.size() && budget > 0;) {
        Batch& batch = log.batches[i];
        if (batch.path.empty()
            || std::find(failed.begin(), failed.end(), batch.path) != failed.end()) {
            ++i;
            continue;
        }
        int err = WriteOldest(log, batch, budget);
        if (err != 0) {
            failed.push_back(batch.path);
            result = err;
        }
        if (batch.lengths.empty())
            log.batches.erase(log.batches.begin() + static_cast<std::ptrdiff_t>(i));
        else
            ++i;
    }
    DropOverLimit(log);
    return result;
}

// Writes the batch's oldest whole records within the budget, at least one; those that reach the
// file leave the batch.
int GpsLogs::WriteOldest(Log& log, Batch& batch, std::size_t& budget)
{
    std::size_t count = 0;
    std::size_t size = 0;
    for (std::size_t length : batch.lengths) {
        if (count > 0 && size + length > budget)
            break;
        size += length;
        ++count;
    }
    budget -= std::min(budget, size);

    std::size_t kept = 0;
    int err = AppendWholeRecords(files_, batch.path, std::string_view(batch.bytes).substr(batch.head, size),
                                 batch.lengths, kept);
    while (kept > 0) {
        kept -= batch.lengths.front();
        batch.head += batch.lengths.front();
        batch.lengths.pop_front();
        --log.records;
    }
    if (batch.lengths.empty()) {
        batch.bytes.clear();
        batch.head = 0;
    }
    Compact(batch.bytes, batch.head);
    return err;
}

// The newest records are the ones the operator most likely still needs; drop the oldest.
void GpsLogs::DropOverLimit(Log& log)
{
    while (log.records > kBacklogLimit) {
        Batch& oldest = log.batches.front();
        oldest.head += oldest.lengths.front();
        oldest.lengths.pop_front();
        --log.records;
        ++dropped_;
        if (oldest.lengths.empty())
            log.batches.pop_front();
    }
    if (!log.batches.empty())
        Compact(log.batches.front().bytes, log.batches.front().head);
}

} // namespace ostrim
