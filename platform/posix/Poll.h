#pragma once
// Waiting on several descriptors at once: the serial port, and the events that wake or stop the
// thread that reads it.

#include "platform/posix/Deadline.h"

#include <cstddef>
#include <span>

namespace ostrim {

struct PollEntry {
    int fd = -1; // negative: the entry is ignored
    bool wantRead = false;
    bool wantWrite = false;
    // Results of the last PollUntil.
    bool readable = false;
    bool writable = false;
    bool hangup = false; // the other side is gone (POLLHUP)
    bool error = false;  // POLLERR or POLLNVAL

    bool Ready() const { return readable || writable || hangup || error; }
};

// Waits until at least one entry is ready or the deadline passes, retrying on EINTR with the
// time that is left. Returns 0 (check the entries; none ready means the deadline passed) or
// errno of a failed poll().
int PollUntil(std::span<PollEntry> entries, const Deadline& deadline);

} // namespace ostrim
