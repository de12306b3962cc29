#pragma once
// A program run as a child process, as an operator or a service manager would run it: its
// standard output read line by line (each line stamped with the time it arrived), its standard
// error kept, signals sent, its exit awaited with a bound. A child still running at the end of
// the test is killed.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace ostrim::test {

struct OutputLine {
    std::string text; // without the line feed
    std::chrono::system_clock::time_point arrived;
};

class ChildProcess {
public:
    // Environment changes: a value sets the variable, nullopt removes it.
    using EnvChanges = std::map<std::string, std::optional<std::string>>;

    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess()
    {
        if (pid_ > 0)
            Kill();
        CloseFd(out_);
        CloseFd(err_);
    }

    // args[0] is the program's path. False when it could not be started.
    bool Start(const std::vector<std::string>& args, const EnvChanges& env = {})
    {
        std::vector<std::string> envText;
        for (char** e = environ; *e != nullptr; ++e) {
            std::string entry = *e;
            if (env.count(entry.substr(0, entry.find('='))) == 0)
                envText.push_back(entry);
        }
        for (const auto& [name, value] : env) {
            if (value)
                envText.push_back(name + "=" + *value);
        }
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& e : envText)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        int outPipe[2];
        int errPipe[2];
        if (::pipe2(outPipe, O_CLOEXEC) != 0)
            return false;
        if (::pipe2(errPipe, O_CLOEXEC) != 0) {
            ::close(outPipe[0]);
            ::close(outPipe[1]);
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
        // The child starts with the default signal mask, whatever the test's threads block,
        // and with SIGPIPE's default action, as a shell gives it.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes, &none);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        int spawned = ::posix_spawn(&pid_, argv[0], &actions, &attributes, argv.data(), envp.data());
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        ::close(outPipe[1]);
        ::close(errPipe[1]);
        out_ = outPipe[0];
        err_ = errPipe[0];
        if (spawned != 0) {
            pid_ = -1;
            return false;
        }
        return true;
    }

    // The next line of standard output, or nothing at the end of the output or after `timeout`.
    std::optional<OutputLine> ReadLine(std::chrono::milliseconds timeout)
    {
        const auto end = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (std::optional<OutputLine> line = TakeLine())
                return line;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || out_ < 0)
                return std::nullopt;
            Pump(static_cast<int>(left.count()) + 1);
        }
    }

    // Lines until one satisfies `stop` (included), the output ends, or `timeout` passes.
    template <typename Stop>
    std::vector<OutputLine> ReadLinesUntil(Stop stop, std::chrono::milliseconds timeout)
    {
        const auto end = std::chrono::steady_clock::now() + timeout;
        std::vector<OutputLine> lines;
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            std::optional<OutputLine> line = ReadLine(std::max(left, std::chrono::milliseconds(0)));
            if (!line)
                return lines;
            lines.push_back(*line);
            if (stop(line->text))
                return lines;
        }
    }

    // Stops reading standard output, as `| head -1` does after its line: the child's next
    // writes there fail.
    void CloseOutput()
    {
        CloseFd(out_);
        partial_.clear();
    }

    void Signal(int signal)
    {
        if (pid_ > 0)
            ::kill(pid_, signal);
    }

    // Reads the rest of both outputs and waits for the exit: the exit status, or -1 when the
    // child did not exit within `timeout` (it is killed then) or ended by a signal. The lines
    // not read yet go to `rest`.
    int Wait(std::chrono::milliseconds timeout, std::vector<OutputLine>* rest = nullptr)
    {
        if (pid_ <= 0)
            return -1;
        const auto end = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        int result = -1;
        for (;;) {
            pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                result = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                break;
            }
            if (done < 0)
                break;
            if (std::chrono::steady_clock::now() >= end) {
                Kill();
                break;
            }
            Pump(10); // a child blocked on a full pipe would never exit
        }
        pid_ = -1;
        // What the child wrote just before it ended; bounded, as a grandchild may hold a pipe.
        for (auto drain = std::chrono::steady_clock::now() + std::chrono::seconds(1);
             (out_ >= 0 || err_ >= 0) && std::chrono::steady_clock::now() < drain;) {
            Pump(50);
        }
        while (std::optional<OutputLine> line = TakeLine()) {
            if (rest != nullptr)
                rest->push_back(*line);
        }
        if (!partial_.empty() && rest != nullptr)
            rest->push_back({std::exchange(partial_, std::string()), std::chrono::system_clock::now()});
        return result;
    }

    // Everything the child wrote to standard error so far.
    std::string Errors()
    {
        Pump(0);
        return errors_;
    }

private:
    // SIGTERM first, so a child that starts children of its own (xvfb-run) can end them.
    void Kill()
    {
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 200; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_)
                return;
            ::usleep(10000);
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }

    static void CloseFd(int& fd)
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    std::optional<OutputLine> TakeLine()
    {
        std::size_t nl = partial_.find('\n');
        if (nl == std::string::npos)
            return std::nullopt;
        OutputLine line{partial_.substr(0, nl), std::chrono::system_clock::now()};
        partial_.erase(0, nl + 1);
        return line;
    }

    // Waits up to `ms` for output on either pipe and takes what came; a pipe at its end is
    // closed.
    void Pump(int ms)
    {
        if (out_ < 0 && err_ < 0)
            return;
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (::poll(fds, 2, ms) <= 0)
            return;
        char chunk[4096];
        auto take = [&chunk](int& fd, short revents, std::string& into) {
            if (fd < 0 || revents == 0)
                return;
            ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n > 0)
                into.append(chunk, static_cast<std::size_t>(n));
            else
                CloseFd(fd);
        };
        take(out_, fds[0].revents, partial_);
        take(err_, fds[1].revents, errors_);
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string partial_;
    std::string errors_;
};

} // namespace ostrim::test
