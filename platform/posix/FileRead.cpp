#include "platform/FileRead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace ostrim {

int OpenRegularFile(const std::string& path, int* fd)
{
    // Non-blocking only so that opening a FIFO cannot wait for a writer; pipes are refused below.
    int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (file < 0)
        return errno;
    struct stat info {};
    int err = 0;
    if (::fstat(file, &info) != 0)
        err = errno;
    else if (S_ISDIR(info.st_mode))
        err = EISDIR;
    else if (!S_ISREG(info.st_mode))
        err = ENODEV;
    if (err != 0) {
        ::close(file);
        return err;
    }
    *fd = file;
    return 0;
}

long ReadFileBytes(int fd, void* buffer, std::size_t size)
{
    return ::read(fd, buffer, size);
}

void CloseFile(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

bool ParentFolderExists(const std::string& path)
{
    std::string::size_type slash = path.rfind('/');
    std::string folder;
    if (slash == std::string::npos)
        folder = ".";
    else if (slash == 0)
        folder = "/";
    else
        folder = path.substr(0, slash);
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace ostrim
