#pragma once
// Helpers for tests over pseudo-terminals: the device's side of the line, and running a step as
// an ordinary user (root passes TIOCEXCL, so exclusivity must also be seen without root).

#include "platform/posix/PseudoTerminal.h"

#include <sys/types.h>
#include <sys/wait.h>
#include <grp.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

namespace ostrim::test {

inline constexpr uid_t kNobody = 65534;
inline constexpr int kCannotChangeUser = 77;

using Clock = std::chrono::steady_clock;

inline long MsSince(Clock::time_point start)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Reads from the device's side until `count` bytes came or `timeout` passed.
inline std::vector<std::uint8_t> ReadFromMaster(const PseudoTerminal& pty, std::size_t count,
                                                std::chrono::milliseconds timeout)
{
    std::vector<std::uint8_t> bytes;
    auto end = std::chrono::steady_clock::now() + timeout;
    std::uint8_t buffer[4096];
    while (bytes.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        std::size_t want = std::min(sizeof buffer, count - bytes.size());
        std::size_t got = 0;
        if (pty.ReadMaster(buffer, want, left, &got) != 0)
            break;
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return bytes;
}

inline bool WriteToMaster(const PseudoTerminal& pty, const std::vector<std::uint8_t>& bytes)
{
    std::size_t written = 0;
    return pty.WriteMaster(bytes.data(), bytes.size(), std::chrono::seconds(2), &written) == 0 &&
           written == bytes.size();
}

// Runs `step` in a child process as user and group nobody; returns its result, or
// kCannotChangeUser when the process may not change user. `step` must not allocate much or
// take locks: the child of a threaded process may only rely on what it set up itself.
inline int RunAsNobody(const std::function<int()>& step)
{
    pid_t pid = ::fork();
    if (pid < 0)
        return kCannotChangeUser;
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(kCannotChangeUser);
        ::_exit(step());
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace ostrim::test
