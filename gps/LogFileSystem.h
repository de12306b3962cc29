#pragma once
// The file operations the logs make, in one place, so tests and fuzz targets can keep
// the logs in memory and make any call fail (a full disk, a folder gone) without a device.
//
// Every result is 0 or an errno value: the operator's status line gives the system's reason.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ostrim {

class LogFileSystem {
public:
    using Handle = int;

    virtual ~LogFileSystem() = default;

    // Creates a missing file and leaves an existing one as it is.
    virtual int Create(const std::string& path) = 0;
    // Creates a folder and the folders above it that are missing; an existing folder is no
    // failure.
    virtual int CreateFolder(const std::string& path) = 0;
    // Opens `path` for appending, creating a missing file; `size` is its length at the open.
    virtual int OpenAppend(const std::string& path, Handle& handle, std::uint64_t& size) = 0;
    // Writes at the end of the file. `written` counts the bytes that went in, also when the
    // write stops part way (a disk that fills up).
    virtual int Write(Handle handle, std::string_view bytes, std::size_t& written) = 0;
    // Cuts the file back to `size` bytes.
    virtual int Truncate(Handle handle, std::uint64_t size) = 0;
    // The handle is gone afterwards whatever the result; a failure can be the first sign of a
    // lost write.
    virtual int Close(Handle handle) = 0;
};

// The real files (POSIX or Win32); one instance serves every thread, as it keeps no state.
LogFileSystem& SystemLogFileSystem();

} // namespace ostrim
