// The ostrim-sim program as an operator runs it.

#include "basestation/BaseStationCommands.h"
#include "basestation/BaseStationPort.h"
#include "platform/posix/Poll.h"
#include "platform/posix/UniqueFd.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace ostrim {
namespace {

using namespace std::chrono_literals;

// ostrim-sim running with its standard output (and errors) on a pipe.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return;
        UniqueFd readEnd(fds[0]);
        UniqueFd writeEnd(fds[1]);
        std::vector<char*> argv;
        std::string program = OSTRIM_SIM_EXECUTABLE;
        argv.push_back(program.data());
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(writeEnd.Get(), STDOUT_FILENO);
            ::dup2(writeEnd.Get(), STDERR_FILENO);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        out_ = std::move(readEnd);
    }
    ~SimProcess()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
    }

    // The next line, or empty after `timeout`.
    std::string ReadLine(std::chrono::milliseconds timeout = 2000ms)
    {
        Deadline end = Deadline::After(timeout);
        for (;;) {
            std::size_t nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return line;
            }
            PollEntry entry{.fd = out_.Get(), .wantRead = true};
            if (PollUntil({&entry, 1}, end) != 0 || !entry.Ready())
                return std::string();
            char chunk[512];
            ssize_t n = ::read(out_.Get(), chunk, sizeof chunk);
            if (n <= 0)
                return std::string();
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }
    std::string ReadAll() // until the program closes its output
    {
        Deadline end = Deadline::After(2000ms);
        for (;;) {
            PollEntry entry{.fd = out_.Get(), .wantRead = true};
            if (PollUntil({&entry, 1}, end) != 0 || !entry.Ready())
                break;
            char chunk[512];
            ssize_t n = ::read(out_.Get(), chunk, sizeof chunk);
            if (n <= 0)
                break;
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
        return std::exchange(buffer_, std::string());
    }
    void Signal(int signal) { ::kill(pid_, signal); }
    int Wait() // exit status, or -1
    {
        int status = 0;
        if (pid_ <= 0 || ::waitpid(pid_, &status, 0) != pid_)
            return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    UniqueFd out_;
    std::string buffer_;
};

TEST(OstrimSim, BaseStation_PrintsItsPathAndOneLinePerEvent)
{
    SimProcess sim({"--base"});
    std::string first = sim.ReadLine();
    const std::string prefix = "Base station: ";
    ASSERT_EQ(first.substr(0, prefix.size()), prefix) << first;
    std::string path = first.substr(prefix.size());

    BaseStationPortHandle port = OpenBaseStationPort(path.c_str());
    ASSERT_NE(port, nullptr) << path;
    EXPECT_EQ(PingBaseStation(port), 0);
    EXPECT_EQ(SendNodeCommand(port, 0x4070BF7B, 1), 0);
    CloseBaseStationPort(port);
    std::string ping = sim.ReadLine();
    std::string command = sim.ReadLine();
    EXPECT_NE(ping.find("ping, answered"), std::string::npos) << ping;
    EXPECT_NE(command.find("node 0x4070BF7B on"), std::string::npos) << command;
    EXPECT_EQ(command[2], ':') << "starts with the time: " << command;

    sim.Signal(SIGTERM);
    std::string summary = sim.ReadLine();
    EXPECT_NE(summary.find("1 commands, 1 pings, 0 bad frames"), std::string::npos) << summary;
    EXPECT_EQ(sim.Wait(), 0);
}

TEST(OstrimSim, NoOptions_RunsTheBuiltinTrackAndTheBaseStationUntilInterrupted)
{
    SimProcess sim({});
    std::string gps = sim.ReadLine();
    std::string base = sim.ReadLine();
    EXPECT_EQ(gps.rfind("GPS receiver: /dev/", 0), 0u) << gps;
    EXPECT_EQ(base.rfind("Base station: /dev/", 0), 0u) << base;
    sim.Signal(SIGINT);
    std::string sent = sim.ReadLine();
    EXPECT_EQ(sent.rfind("GPS receiver: ", 0), 0u) << sent;
    EXPECT_NE(sent.find(" lines sent"), std::string::npos) << sent;
    EXPECT_NE(sim.ReadLine().find("0 commands"), std::string::npos);
    EXPECT_EQ(sim.Wait(), 0);
}

TEST(OstrimSim, CommandLine_HelpAndMistakes)
{
    {
        SimProcess sim({"--help"});
        std::string help = sim.ReadAll();
        for (const char* option : {"--gps-file", "--rate", "--track", "--speed", "--fix-rate",
                                   "--base", "--sensor-file", "--sensors", "--help"})
            EXPECT_NE(help.find(option), std::string::npos) << option;
        EXPECT_EQ(sim.Wait(), 0);
    }
    const std::vector<std::vector<std::string>> mistakes = {
        {"--bogus"},
        {"--gps-file", "a.log", "--track", "builtin"},
        {"--rate", "fast"},
        {"--speed", "-3"},
        {"--track"},
        {"--track", "/nonexistent/track.txt"},
        {"--gps-file", "/nonexistent/capture.log"},
        {"--sensors", "4"},
        {"--sensor-file", "/tmp/ostrim-never-written.txt", "--sensors", "25"},
        {"--sensor-file", "/tmp/ostrim-never-written.txt", "--sensors", "2.5"},
    };
    for (const auto& args : mistakes) {
        SimProcess sim(args);
        std::string message = sim.ReadAll();
        EXPECT_NE(message.find("ostrim-sim: "), std::string::npos) << args[0];
        EXPECT_NE(sim.Wait(), 0) << args[0];
    }
}

} // namespace
} // namespace ostrim
