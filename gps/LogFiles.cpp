#include "gps/LogFiles.h"

#include "gps/EventLog.h"
#include "platform/LocalTime.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>
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

// A new event log gets its header row; one that holds rows already (a second Start in the same
// minute) keeps them and gets none.
int WriteHeaderIfEmpty(LogFileSystem& files, const std::string& path)
{
    LogFileSystem::Handle handle = -1;
    std::uint64_t size = 0;
    if (int err = files.OpenAppend(path, handle, size); err != 0)
        return err;
    int err = 0;
    if (size == 0) {
        std::size_t written = 0;
        err = files.Write(handle, kEventLogHeader, written);
        if (err != 0 && written > 0)
            files.Truncate(handle, 0);
    }
    const int closed = files.Close(handle);
    return err != 0 ? err : closed;
}

#ifdef _WIN32
constexpr char kSeparator[] = "\\";
#else
constexpr char kSeparator[] = "/";
#endif

// The file name of a path, without its folder.
std::string BaseName(const std::string& path)
{
    const std::size_t at = path.find_last_of(
#ifdef _WIN32
        "\\/"
#else
        "/"
#endif
    );
    return at == std::string::npos ? path : path.substr(at + 1);
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
    return Append(LogKind::Gps, paths_.Gps(), std::move(bytes));
}

int GpsLogs::AppendRawLog(std::string_view record)
{
    return Append(LogKind::Raw, paths_.Raw(), std::string(record));
}

int GpsLogs::AppendEventLog(std::string_view row)
{
    return Append(LogKind::Events, paths_.Events(), std::string(row));
}

int GpsLogs::Create(LogKind kind, const std::string& path)
{
    std::lock_guard lock(mutex_);
    int err = CreateLogFile(path, files_);
    if (err == 0 && kind == LogKind::Events)
        err = WriteHeaderIfEmpty(files_, path);
    if (err == 0)
        Count(logs_[static_cast<std::size_t>(kind)], kind, path, 0);
    return err;
}

std::size_t GpsLogs::GpsBacklog() const
{
    return Held(LogKind::Gps).records;
}

std::size_t GpsLogs::RawBacklog() const
{
    return Held(LogKind::Raw).records;
}

std::size_t GpsLogs::EventBacklog() const
{
    return Held(LogKind::Events).records;
}

std::size_t GpsLogs::Dropped() const
{
    std::lock_guard lock(mutex_);
    return dropped_;
}

std::vector<LogFileCount> GpsLogs::Files() const
{
    std::lock_guard lock(mutex_);
    std::vector<LogFileCount> files;
    for (const Log& log : logs_)
        files.insert(files.end(), log.files.begin(), log.files.end());
    return files;
}

std::uint64_t GpsLogs::GpsRecordsWritten() const
{
    std::lock_guard lock(mutex_);
    std::uint64_t records = 0;
    for (const LogFileCount& file : logs_[static_cast<std::size_t>(LogKind::Gps)].files)
        records += file.records;
    return records;
}

HeldRecords GpsLogs::Held() const
{
    std::lock_guard lock(mutex_);
    HeldRecords held;
    for (const Log& log : logs_) {
        if (log.records == 0)
            continue;
        if (held.records == 0 || log.heldSince < held.since)
            held.since = log.heldSince;
        held.records += log.records;
    }
    return held;
}

HeldRecords GpsLogs::Held(LogKind kind) const
{
    std::lock_guard lock(mutex_);
    const Log& log = logs_[static_cast<std::size_t>(kind)];
    return {log.records, log.heldSince};
}

void GpsLogs::Count(Log& log, LogKind kind, const std::string& path, std::uint64_t records)
{
    if (path.empty())
        return;
    auto it = std::find_if(log.files.begin(), log.files.end(),
                           [&path](const LogFileCount& f) { return f.path == path; });
    if (it == log.files.end())
        log.files.push_back({kind, path, records});
    else
        it->records += records;
}

void GpsLogs::NoteHeld(Log& log)
{
    if (log.records == 0)
        log.heldSince = {};
    else if (log.heldSince == std::chrono::system_clock::time_point{})
        log.heldSince = clock_();
}

int GpsLogs::Append(LogKind kind, const std::string& path, std::string bytes)
{
    std::lock_guard lock(mutex_);
    Log& log = logs_[static_cast<std::size_t>(kind)];
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

    int result = WriteHeld(log, kind, kWriteBudget);
    if (result == 0 && path.empty())
        result = kNoLogYet;
    DropOverLimit(log);
    NoteHeld(log);
    return result;
}

int GpsLogs::Retry()
{
    std::lock_guard lock(mutex_);
    int result = 0;
    for (std::size_t k = 0; k < logs_.size(); ++k) {
        if (int err = WriteHeld(logs_[k], static_cast<LogKind>(k), SIZE_MAX); err != 0 && result == 0)
            result = err;
        NoteHeld(logs_[k]);
    }
    return result;
}

// Writes held records, oldest first, within the budget. A file that failed waits for the next
// append, with its later records behind it; other files (an earlier lap's) still get theirs.
int GpsLogs::WriteHeld(Log& log, LogKind kind, std::size_t budget)
{
    int result = 0;
    std::vector<std::string> failed;
    for (std::size_t i = 0; i < log.batches.size() && budget > 0;) {
        Batch& batch = log.batches[i];
        if (batch.path.empty()
            || std::find(failed.begin(), failed.end(), batch.path) != failed.end()) {
            ++i;
            continue;
        }
        const std::size_t before = batch.lengths.size();
        int err = WriteOldest(log, batch, budget);
        // A file is counted once something reached it (or it was created): a lap named during
        // an outage may never exist.
        if (before != batch.lengths.size())
            Count(log, kind, batch.path, before - batch.lengths.size());
        if (err != 0) {
            failed.push_back(batch.path);
            result = err;
        }
        if (batch.lengths.empty())
            log.batches.erase(log.batches.begin() + static_cast<std::ptrdiff_t>(i));
        else
            ++i;
    }
    return result;
}

RescueResult GpsLogs::Rescue(const std::string& folder, std::time_t when)
{
    static constexpr const char* kFormats[] = {kGpsLogFormat, kRawLogFormat, kEventLogFormat};
    std::lock_guard lock(mutex_);
    RescueResult rescue;
    bool any = false;
    for (const Log& log : logs_)
        any = any || log.records > 0;
    if (!any)
        return rescue;
    if (int err = files_.CreateFolder(folder); err != 0) {
        rescue.error = err;
    } else {
        for (std::size_t k = 0; k < logs_.size(); ++k) {
            Log& log = logs_[k];
            for (std::size_t i = 0; i < log.batches.size();) {
                Batch& batch = log.batches[i];
                const std::string name = batch.path.empty() ? MakeLogPath("", kFormats[k], when)
                                                            : kSeparator + BaseName(batch.path);
                const std::string target = folder + name;
                int err = static_cast<LogKind>(k) == LogKind::Events ? WriteHeaderIfEmpty(files_, target) : 0;
                const std::size_t before = batch.lengths.size();
                if (err == 0) {
                    std::size_t budget = SIZE_MAX;
                    std::string meant = std::exchange(batch.path, target);
                    err = WriteOldest(log, batch, budget);
                    batch.path = std::move(meant);
                }
                const std::size_t written = before - batch.lengths.size();
                rescue.written += written;
                if (written > 0 && std::find(rescue.files.begin(), rescue.files.end(), target) == rescue.files.end())
                    rescue.files.push_back(target);
                if (err != 0 && rescue.error == 0)
                    rescue.error = err;
                if (batch.lengths.empty())
                    log.batches.erase(log.batches.begin() + static_cast<std::ptrdiff_t>(i));
                else
                    ++i;
            }
            NoteHeld(log);
        }
    }
    for (const Log& log : logs_)
        rescue.lost += log.records;
    return rescue;
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
