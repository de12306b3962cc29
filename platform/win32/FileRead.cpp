#include "platform/FileRead.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>

namespace ostrim {

int OpenRegularFile(const std::string& path, int* fd)
{
    // Binary: the C library's text mode would drop CRs and stop at a Ctrl-Z.
    int file = ::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    struct _stat64 info {};
    if (file < 0) {
        // Windows refuses to open a folder as access denied; say what it is.
        int err = errno;
        if (err == EACCES && ::_stat64(path.c_str(), &info) == 0 &&
            (info.st_mode & _S_IFMT) == _S_IFDIR)
            return EISDIR;
        return err;
    }
    int err = 0;
    if (::_fstat64(file, &info) != 0)
        err = errno;
    else if ((info.st_mode & _S_IFMT) == _S_IFDIR)
        err = EISDIR;
    else if ((info.st_mode & _S_IFMT) != _S_IFREG)
        err = ENODEV;
    if (err != 0) {
        ::_close(file);
        return err;
    }
    *fd = file;
    return 0;
}

long ReadFileBytes(int fd, void* buffer, std::size_t size)
{
    unsigned piece = size > INT_MAX ? INT_MAX : static_cast<unsigned>(size);
    return ::_read(fd, buffer, piece);
}

void CloseFile(int fd)
{
    if (fd >= 0)
        ::_close(fd);
}

bool ParentFolderExists(const std::string& path)
{
    std::string::size_type slash = path.find_last_of("/\\");
    std::string folder;
    if (slash == std::string::npos)
        folder = ".";
    else if (slash == 0 || (slash == 2 && path.size() > 1 && path[1] == ':'))
        folder = path.substr(0, slash + 1); // "\" or "C:\": the root itself
    else
        folder = path.substr(0, slash);
    struct _stat64 info {};
    return ::_stat64(folder.c_str(), &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFDIR;
}

} // namespace ostrim
