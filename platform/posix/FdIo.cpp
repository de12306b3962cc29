#include "platform/posix/FdIo.h"

#include "platform/posix/Deadline.h"
#include "platform/posix/Poll.h"

#include <unistd.h>

#include <cerrno>

namespace ostrim {

int ReadNow(int fd, std::uint8_t* buffer, std::size_t size, std::size_t* got)
{
    *got = 0;
    if (size == 0)
        return 0;
    for (;;) {
        ssize_t n = ::read(fd, buffer, size);
        if (n > 0) {
            *got = static_cast<std::size_t>(n);
            return 0;
        }
        if (n == 0)
            return EIO;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN ? 0 : errno;
    }
}

int WriteAll(int fd, const std::uint8_t* bytes, std::size_t count, std::chrono::milliseconds stall,
             std::size_t* written, const Deadline& limit, int stopFd)
{
    *written = 0;
    Deadline stuck = Deadline::Earlier(Deadline::After(stall), limit);
    while (*written < count) {
        ssize_t n = ::write(fd, bytes + *written, count - *written);
        if (n > 0) {
            *written += static_cast<std::size_t>(n);
            stuck = Deadline::Earlier(Deadline::After(stall), limit);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return errno;
        if (stuck.Expired())
            break;
        PollEntry waits[2] = {{.fd = fd, .wantWrite = true}, {.fd = stopFd, .wantRead = true}};
        if (int err = PollUntil(waits, stuck))
            return err;
        const PollEntry& entry = waits[0];
        if (entry.error || (entry.hangup && !entry.writable))
            return EIO;
        if (waits[1].Ready() && !entry.writable)
            return ECANCELED;
        if (!entry.Ready())
            break; // nothing taken for `stall`
    }
    return 0;
}

} // namespace ostrim
