#include "platform/posix/Poll.h"

#include <poll.h>

#include <cerrno>

namespace ostrim {

int PollUntil(std::span<PollEntry> entries, const Deadline& deadline)
{
    // Small fixed sets (two or three descriptors) on every call: keep them on the stack.
    constexpr std::size_t kMaxEntries = 8;
    if (entries.size() > kMaxEntries)
        return EINVAL;
    pollfd fds[kMaxEntries];
    for (std::size_t i = 0; i < entries.size(); ++i) {
        PollEntry& e = entries[i];
        e.readable = e.writable = e.hangup = e.error = false;
        fds[i].fd = e.fd;
        fds[i].events = static_cast<short>((e.wantRead ? POLLIN : 0) | (e.wantWrite ? POLLOUT : 0));
        fds[i].revents = 0;
    }
    for (;;) {
        int n = ::poll(fds, static_cast<nfds_t>(entries.size()), deadline.PollTimeoutMs());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0 && !deadline.Expired())
            continue; // woke a little early (timer slack); wait for the rest
        break;
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        short r = fds[i].revents;
        PollEntry& e = entries[i];
        e.readable = (r & POLLIN) != 0;
        e.writable = (r & POLLOUT) != 0;
        e.hangup = (r & POLLHUP) != 0;
        e.error = (r & (POLLERR | POLLNVAL)) != 0;
    }
    return 0;
}

} // namespace ostrim
