#pragma once
// Win32 error codes as errno values: the layers above report errno values, and the operator's
// status line gives the reason in the same words on both systems.

#include <windows.h>

#include <cerrno>

namespace ostrim {

inline int ErrnoOf(DWORD error)
{
    switch (error) {
    case ERROR_SUCCESS:
        return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_BUSY:
        return EBUSY;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
        return ENOENT;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_OPERATION_ABORTED:
        return ECANCELED;
    case ERROR_INVALID_PARAMETER:
        return EINVAL;
    case ERROR_INVALID_HANDLE:
        return EBADF;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
        return ENOTTY;
    default:
        return EIO; // a broken pipe, a device gone, an I/O error
    }
}

inline int LastErrno()
{
    return ErrnoOf(::GetLastError());
}

// A kernel handle as the int the shared interfaces pass, and back. Windows keeps handle values
// within 32 bits so that 32- and 64-bit programs can share them; -1 is no handle.
inline int IntOfHandle(HANDLE handle)
{
    return handle == nullptr || handle == INVALID_HANDLE_VALUE ? -1 : HandleToLong(handle);
}
inline HANDLE HandleOfInt(int value)
{
    return value < 0 ? nullptr : LongToHandle(value);
}

} // namespace ostrim
