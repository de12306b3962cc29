#pragma once
// Helpers for tests over pseudo-terminals: the device's side of the line, and running a step as
// an ordinary user (root passes TIOCEXCL, so exclusivity must also be seen without root).

#include "platform/posix/PseudoTerminal.h"
#include "platform/posix/UniqueFd.h"

#include <sys/types.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <grp.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace ostrim::test {

// "$" + body + "*hh" CR LF, as a receiver sends it, for WriteToMaster.
inline std::vector<std::uint8_t> Sentence(const std::string& body)
{
    unsigned checksum = 0;
    for (char c : body)
        checksum ^= static_cast<unsigned char>(c);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", checksum);
    std::string line = "$" + body + tail;
    return {line.begin(), line.end()};
}

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

// A device that has stopped taking bytes (a hung USB adapter): its queue towards the device is
// full and nobody reads it.
class StuckDevice {
public:
    ::testing::AssertionResult Make()
    {
        using namespace std::chrono_literals;
        if (int err = pty_.Open())
            return ::testing::AssertionFailure() << "openpty: " << std::strerror(err);
        UniqueFd writer(
            ::open(pty_.SlavePath().c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (!writer.Valid())
            return ::testing::AssertionFailure() << "open: " << std::strerror(errno);
        // The kernel moves written bytes on towards the master's queue in the background, so
        // the tty takes more after a pause; full is when it still takes nothing after one.
        const std::string block(4096, 'x');
        for (int quiet = 0; quiet < 2;) {
            ssize_t n = ::write(writer.Get(), block.data(), block.size());
            if (n > 0) {
                quiet = 0;
                continue;
            }
            if (errno != EAGAIN)
                return ::testing::AssertionFailure() << "filling: " << std::strerror(errno);
            ++quiet;
            std::this_thread::sleep_for(50ms);
        }
        return ::testing::AssertionSuccess();
    }
    const std::string& Path() const { return pty_.SlavePath(); }

private:
    PseudoTerminal pty_;
};

} // namespace ostrim::test
