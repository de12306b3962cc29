#include "gps/LogFileSystem.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrim {

namespace {

class PosixFiles final : public LogFileSystem {
public:
    int Create(const std::string& path) override
    {
        if (path.empty())
            return ENOENT;
        // No O_TRUNC: a second Start or End of Lap in the same minute must not empty the log.
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return errno;
        return Close(fd);
    }

    int CreateFolder(const std::string& path) override
    {
        if (path.empty())
            return ENOENT;
        // Each level in turn, from the top; a level that exists already is passed.
        for (std::size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
            const std::string level = path.substr(0, at);
            if (::mkdir(level.c_str(), 0755) != 0 && errno != EEXIST)
                return errno;
            if (at == std::string::npos)
                break;
        }
        struct stat st{};
        if (::stat(path.c_str(), &st) != 0)
            return errno;
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    }

    int OpenAppend(const std::string& path, Handle& handle, std::uint64_t& size) override
    {
        // O_CREAT: a log removed during a run is created again rather than losing the records.
        int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return errno;
        struct stat st{};
        if (::fstat(fd, &st) != 0) {
            int err = errno;
            ::close(fd);
            return err;
        }
        handle = fd;
        size = static_cast<std::uint64_t>(st.st_size);
        return 0;
    }

    int Write(Handle handle, std::string_view bytes, std::size_t& written) override
    {
        written = 0;
        while (written < bytes.size()) {
            ssize_t n = ::write(handle, bytes.data() + written, bytes.size() - written);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            if (n == 0)
                return EIO;
            written += static_cast<std::size_t>(n);
        }
        return 0;
    }

    int Truncate(Handle handle, std::uint64_t size) override
    {
        while (::ftruncate(handle, static_cast<off_t>(size)) != 0) {
            if (errno != EINTR)
                return errno;
        }
        return 0;
    }

    int Close(Handle handle) override
    {
        // On Linux the descriptor is gone even when close reports EINTR: never close twice.
        return ::close(handle) == 0 ? 0 : errno;
    }
};

} // namespace

LogFileSystem& SystemLogFileSystem()
{
    static PosixFiles files;
    return files;
}

} // namespace ostrim
