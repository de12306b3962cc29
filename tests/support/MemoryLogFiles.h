#pragma once
// Logs kept in memory: each file a string, a store with room for a set number of bytes, and
// opens that fail with a chosen errno. Tests and fuzz targets drive every failure path of the
// logs with it, fast and without a device.

#include "gps/LogFileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>

namespace ostrim::test {

class MemoryLogFiles final : public LogFileSystem {
public:
    static constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

    // Bytes more the store takes; a write beyond them stops part way with ENOSPC, as on a full
    // disk. Cutting a file back gives its bytes back.
    void SetRoom(std::size_t bytes)
    {
        std::lock_guard lock(mutex_);
        room_ = bytes;
    }
    // Not 0: every open and create fails with this errno (a folder gone, a read-only mount);
    // with `under`, only those of paths that start with it.
    void SetOpenError(int err, std::string under = {})
    {
        std::lock_guard lock(mutex_);
        openError_ = err;
        failUnder_ = std::move(under);
    }
    std::string Contents(const std::string& path) const
    {
        std::lock_guard lock(mutex_);
        auto it = files_.find(path);
        return it == files_.end() ? std::string() : it->second;
    }
    bool Exists(const std::string& path) const
    {
        std::lock_guard lock(mutex_);
        return files_.count(path) != 0;
    }
    // Bytes handed to Write since the last call: the work the logs did.
    std::size_t TakeBytesOffered()
    {
        std::lock_guard lock(mutex_);
        return std::exchange(offered_, 0);
    }

    int Create(const std::string& path) override
    {
        std::lock_guard lock(mutex_);
        if (Fails(path))
            return openError_;
        files_[path];
        return 0;
    }

    int CreateFolder(const std::string& path) override
    {
        std::lock_guard lock(mutex_);
        if (Fails(path))
            return openError_;
        folders_.insert(path);
        return 0;
    }
    bool FolderExists(const std::string& path) const
    {
        std::lock_guard lock(mutex_);
        return folders_.count(path) != 0;
    }

    int OpenAppend(const std::string& path, Handle& handle, std::uint64_t& size) override
    {
        std::lock_guard lock(mutex_);
        if (Fails(path))
            return openError_;
        handle = nextHandle_++;
        open_[handle] = path;
        size = files_[path].size();
        return 0;
    }

    int Write(Handle handle, std::string_view bytes, std::size_t& written) override
    {
        std::lock_guard lock(mutex_);
        written = 0;
        auto it = open_.find(handle);
        if (it == open_.end())
            return EBADF;
        offered_ += bytes.size();
        written = std::min(bytes.size(), room_);
        files_[it->second].append(bytes.substr(0, written));
        if (room_ != kUnlimited)
            room_ -= written;
        return written == bytes.size() ? 0 : ENOSPC;
    }

    int Truncate(Handle handle, std::uint64_t size) override
    {
        std::lock_guard lock(mutex_);
        auto it = open_.find(handle);
        if (it == open_.end())
            return EBADF;
        std::string& file = files_[it->second];
        if (size < file.size() && room_ != kUnlimited)
            room_ += file.size() - static_cast<std::size_t>(size);
        file.resize(static_cast<std::size_t>(size), '\0');
        return 0;
    }

    int Close(Handle handle) override
    {
        std::lock_guard lock(mutex_);
        return open_.erase(handle) == 1 ? 0 : EBADF;
    }

private:
    bool Fails(const std::string& path) const
    {
        return openError_ != 0 && path.compare(0, failUnder_.size(), failUnder_) == 0;
    }

    mutable std::mutex mutex_;
    std::map<std::string, std::string> files_;
    std::set<std::string> folders_;
    std::map<Handle, std::string> open_;
    Handle nextHandle_ = 0;
    std::size_t room_ = kUnlimited;
    int openError_ = 0;
    std::string failUnder_;
    std::size_t offered_ = 0;
};

} // namespace ostrim::test
