#include "platform/posix/PseudoTerminal.h"

#include "platform/posix/Deadline.h"
#include "platform/posix/FdIo.h"
#include "platform/posix/Poll.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace ostrim {

int PseudoTerminal::Open()
{
    int master = -1;
    int slave = -1;
    termios raw{};
    // Raw from the start: bytes written before the program opens (and sets) its side must
    // not be echoed back or translated.
    ::cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::cfsetispeed(&raw, B38400);
    ::cfsetospeed(&raw, B38400);
    if (::openpty(&master, &slave, nullptr, &raw, nullptr) < 0)
        return errno;
    UniqueFd masterFd(master);
    UniqueFd slaveFd(slave);
    if (::fcntl(master, F_SETFD, FD_CLOEXEC) < 0 || ::fcntl(slave, F_SETFD, FD_CLOEXEC) < 0)
        return errno;
    int flags = ::fcntl(master, F_GETFL);
    if (flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) < 0)
        return errno;
    char name[PATH_MAX];
    if (int err = ::ptsname_r(master, name, sizeof name))
        return err;
    master_ = std::move(masterFd);
    spareSlave_ = std::move(slaveFd);
    slavePath_ = name;
    return 0;
}

int PseudoTerminal::GiveSlaveTo(uid_t uid, gid_t gid) const
{
    if (::chown(slavePath_.c_str(), uid, gid) < 0 || ::chmod(slavePath_.c_str(), 0600) < 0)
        return errno;
    return 0;
}

int PseudoTerminal::ReadMaster(std::uint8_t* buffer, std::size_t size, std::size_t* got) const
{
    return ReadNow(master_.Get(), buffer, size, got);
}

int PseudoTerminal::ReadMaster(std::uint8_t* buffer, std::size_t size,
                               std::chrono::milliseconds timeout, std::size_t* got) const
{
    *got = 0;
    PollEntry entry{.fd = master_.Get(), .wantRead = true};
    if (int err = PollUntil({&entry, 1}, Deadline::After(timeout)))
        return err;
    return entry.Ready() ? ReadMaster(buffer, size, got) : 0;
}

int PseudoTerminal::WriteMaster(const std::uint8_t* bytes, std::size_t count,
                                std::chrono::milliseconds stall, std::size_t* written) const
{
    return WriteAll(master_.Get(), bytes, count, stall, written);
}

void PseudoTerminal::CloseMaster()
{
    master_.Reset();
}

} // namespace ostrim
