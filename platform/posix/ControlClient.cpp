#include "platform/posix/ControlClient.h"

#include "platform/posix/Deadline.h"
#include "platform/posix/Poll.h"
#include "platform/posix/UniqueFd.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace ostrim {

int AskControlSocket(const std::string& path, const std::string& request,
                     std::chrono::milliseconds timeout, std::string* reply)
{
    reply->clear();
    const Deadline limit = Deadline::After(timeout);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return ENAMETOOLONG;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd)
        return errno;
    // A full backlog (a run swamped with connections) refuses at once; try again until the limit.
    while (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
        if (errno != EAGAIN && errno != EINTR)
            return errno;
        if (limit.Expired())
            return ETIMEDOUT;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    const std::string line = request + "\n";
    std::size_t sent = 0;
    while (sent < line.size()) {
        PollEntry entry{.fd = fd.Get(), .wantWrite = true};
        if (int err = PollUntil({&entry, 1}, limit))
            return err;
        if (!entry.Ready())
            return ETIMEDOUT;
        ssize_t n = ::send(fd.Get(), line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            // The run may have refused the connection (busy) and closed it: read why.
            break;
        }
        sent += static_cast<std::size_t>(n);
    }
    for (;;) {
        PollEntry entry{.fd = fd.Get(), .wantRead = true};
        if (int err = PollUntil({&entry, 1}, limit))
            return err;
        if (!entry.Ready())
            return ETIMEDOUT;
        char buffer[4096];
        ssize_t n = ::recv(fd.Get(), buffer, sizeof buffer, 0);
        if (n == 0)
            return 0;
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            return reply->empty() ? errno : 0;
        }
        reply->append(buffer, static_cast<std::size_t>(n));
    }
}

} // namespace ostrim
