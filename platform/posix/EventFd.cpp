#include "platform/posix/EventFd.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace ostrim {

int EventFd::Create()
{
    int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        return errno;
    fd_.Reset(fd);
    return 0;
}

void EventFd::Raise() const
{
    if (!fd_.Valid())
        return;
    int savedErrno = errno; // a signal handler must leave errno as it found it
    std::uint64_t one = 1;
    // EAGAIN means the counter is full, so the event is raised already.
    while (::write(fd_.Get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
    errno = savedErrno;
}

void EventFd::Clear() const
{
    if (!fd_.Valid())
        return;
    std::uint64_t value = 0;
    while (::read(fd_.Get(), &value, sizeof value) < 0 && errno == EINTR) {
    }
}

bool EventFd::IsRaised() const
{
    pollfd event{.fd = fd_.Get(), .events = POLLIN, .revents = 0};
    return fd_.Valid() && ::poll(&event, 1, 0) == 1 && (event.revents & POLLIN) != 0;
}

} // namespace ostrim
