#include "gps/LogFileSystem.h"

#include "platform/win32/Win32Error.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>

namespace ostrim {

namespace {

// The logs are written through the kernel, never the C library's text mode: the raw log keeps
// the receiver's bytes exactly, and the GPS log its own CR LF.
class Win32Files final : public LogFileSystem {
public:
    int Create(const std::string& path) override
    {
        if (path.empty())
            return ENOENT;
        // OPEN_ALWAYS: a second Start or End of Lap in the same minute must not empty the log.
        HANDLE file = Open(path);
        if (file == INVALID_HANDLE_VALUE)
            return LastErrno();
        return ::CloseHandle(file) ? 0 : LastErrno();
    }

    int CreateFolder(const std::string& path) override
    {
        if (path.empty())
            return ENOENT;
        // Each level in turn, from the top; a drive ("C:") or a level that exists is passed.
        for (std::size_t at = path.find_first_of("\\/", 1);; at = path.find_first_of("\\/", at + 1)) {
            const std::string level = path.substr(0, at);
            const bool drive = level.size() == 2 && level[1] == ':';
            if (!drive && !level.empty() && !::CreateDirectoryA(level.c_str(), nullptr)
                && ::GetLastError() != ERROR_ALREADY_EXISTS)
                return LastErrno();
            if (at == std::string::npos)
                break;
        }
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return LastErrno();
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 0 : ENOTDIR;
    }

    int OpenAppend(const std::string& path, Handle& handle, std::uint64_t& size) override
    {
        // Created again when missing: a log removed during a run gets the records rather than
        // losing them.
        HANDLE file = Open(path);
        if (file == INVALID_HANDLE_VALUE)
            return LastErrno();
        LARGE_INTEGER length{};
        if (!::GetFileSizeEx(file, &length)) {
            int err = LastErrno();
            ::CloseHandle(file);
            return err;
        }
        handle = IntOfHandle(file);
        size = static_cast<std::uint64_t>(length.QuadPart);
        return 0;
    }

    int Write(Handle handle, std::string_view bytes, std::size_t& written) override
    {
        written = 0;
        HANDLE file = HandleOfInt(handle);
        // Each handle has one writer; the end is looked up per write, as another program may
        // have appended meanwhile.
        LARGE_INTEGER zero{};
        if (!::SetFilePointerEx(file, zero, nullptr, FILE_END))
            return LastErrno();
        while (written < bytes.size()) {
            DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written, 1u << 20));
            DWORD n = 0;
            if (!::WriteFile(file, bytes.data() + written, piece, &n, nullptr))
                return LastErrno();
            if (n == 0)
                return EIO;
            written += n;
        }
        return 0;
    }

    int Truncate(Handle handle, std::uint64_t size) override
    {
        HANDLE file = HandleOfInt(handle);
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(size);
        if (!::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) || !::SetEndOfFile(file))
            return LastErrno();
        return 0;
    }

    int Close(Handle handle) override
    {
        return ::CloseHandle(HandleOfInt(handle)) ? 0 : LastErrno();
    }

private:
    static HANDLE Open(const std::string& path)
    {
        // Others may read the logs during a run, and delete or rename them as on Linux.
        return ::CreateFileA(path.c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
};

} // namespace

LogFileSystem& SystemLogFileSystem()
{
    static Win32Files files;
    return files;
}

} // namespace ostrim
