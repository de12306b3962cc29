// A named headless run steered by the program's own `ostrim ctl` over the run's control socket,
// while clients that say nothing, send rubbish or come by the dozen are refused, and the run
// goes on as it was.

#include "platform/posix/ControlClient.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchFolder.h"
#include "tools/sim/BaseStationSim.h"
#include "tools/sim/GpsReceiverSim.h"
#include "tools/sim/Track.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace ostrim {
namespace {

using namespace std::chrono_literals;

#ifdef OSTRIM_EXECUTABLE
constexpr const char* kOstrim = OSTRIM_EXECUTABLE;
#else
constexpr const char* kOstrim = nullptr;
#endif

struct Asked {
    int status = -1;
    std::string out;
    std::string err;
};

// A client that connects and then only reads, what a silent or flooding client gets.
class RawClient {
public:
    explicit RawClient(const std::string& path)
    {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { ::close(fd_); }
    bool Connected() const { return connected_; }
    // What came until the run closed the connection, or `timeout` passed.
    std::string Reply(std::chrono::milliseconds timeout)
    {
        std::string text;
        const auto end = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            pollfd entry{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0)
                return text;
            char buffer[512];
            ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0)
                return text;
            text.append(buffer, static_cast<std::size_t>(n));
        }
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

TEST(HeadlessControl, CommandsAnswered_BadClientsRefused_TheRunGoesOn)
{
    if (kOstrim == nullptr)
        GTEST_SKIP() << "the ostrim program is not built (OSTRIM_BUILD_GUI=OFF)";
    test::ScratchFolder folder;
    const std::string logs = folder / "logs";
    const std::string runtime = folder / "runtime";
    std::filesystem::create_directory(logs);
    std::filesystem::create_directory(runtime);
    test::WriteFile(folder / "sensors.txt", sim::BuiltinSensorFileText());
    sim::GpsReceiverSim gps;
    sim::BaseStationSim base;
    std::string error;
    ASSERT_TRUE(gps.Start(&error)) << error;
    ASSERT_TRUE(base.Start(&error)) << error;
    gps.DriveTrack(sim::BuiltinTrack(), 13.9, 10);

    const test::ChildProcess::EnvChanges env = {{"XDG_RUNTIME_DIR", runtime},
                                                {"RUNTIME_DIRECTORY", std::nullopt}};
    const std::vector<std::string> run = {kOstrim, "--headless", "--name", "e2e", "--gps-port",
                                          gps.DevicePath(), "--base-port", base.DevicePath(),
                                          "--sensor-file", folder / "sensors.txt", "--folder", logs};
    test::ChildProcess ostrim;
    ASSERT_TRUE(ostrim.Start(run, env));
    ASSERT_FALSE(ostrim.ReadLinesUntil([](const std::string& l) { return l == "Trigger on"; }, 10s).empty())
        << ostrim.Errors();
    const std::string socket = runtime + "/ostrim/e2e.sock";
    struct stat info{};
    ASSERT_EQ(::stat(socket.c_str(), &info), 0) << socket;
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0660u);

    auto ctl = [&](std::vector<std::string> words) {
        words.insert(words.begin(), {kOstrim, "ctl", "e2e"});
        test::ChildProcess client;
        Asked asked;
        if (!client.Start(words, env))
            return asked;
        std::vector<test::OutputLine> lines;
        asked.status = client.Wait(10s, &lines);
        for (const test::OutputLine& line : lines)
            asked.out += line.text + "\n";
        asked.err = client.Errors();
        return asked;
    };
    // What the run printed since the last look of what requests make it print (node switches
    // come and go with the drive).
    auto printed = [&ostrim] {
        std::vector<std::string> texts;
        while (std::optional<test::OutputLine> line = ostrim.ReadLine(300ms)) {
            if (line->text.rfind("Trigger", 0) == 0 || line->text.rfind("End of Lap", 0) == 0)
                texts.push_back(line->text);
        }
        return texts;
    };

    Asked asked = ctl({"status"});
    EXPECT_EQ(asked.status, 0) << asked.err;
    EXPECT_EQ(asked.out.rfind("State           Switching on (on-fix rule)\n", 0), 0u) << asked.out;
    EXPECT_NE(asked.out.find("\nSensors         4\n"), std::string::npos) << asked.out;
    EXPECT_NE(asked.out.find("\nLast events\n"), std::string::npos) << asked.out;
    printed();

    asked = ctl({"trigger", "off"});
    EXPECT_EQ(asked.status, 0) << asked.err;
    EXPECT_EQ(asked.out, "Trigger off\n");
    asked = ctl({"trigger", "off"});
    EXPECT_EQ(asked.status, 0) << asked.err;
    EXPECT_EQ(asked.out, "Trigger off (it was already)\n");
    EXPECT_EQ(printed(), std::vector<std::string>{"Trigger off"}) << "a repeat is no toggle";
    asked = ctl({"trigger", "toggle"});
    EXPECT_EQ(asked.status, 1);
    EXPECT_EQ(asked.err, "ostrim ctl: \"trigger\" takes on or off, not \"toggle\"\n");
    asked = ctl({"reload-sensors"});
    EXPECT_EQ(asked.status, 0) << asked.err;
    EXPECT_EQ(asked.out, "Sensors reloaded: 4 sensors, no change, in force from the next fix\n");
    std::filesystem::rename(folder / "sensors.txt", folder / "moved.txt");
    asked = ctl({"reload-sensors"});
    EXPECT_EQ(asked.status, 1);
    EXPECT_NE(asked.err.find("Sensors not reloaded: "), std::string::npos) << asked.err;
    std::filesystem::rename(folder / "moved.txt", folder / "sensors.txt");
    asked = ctl({"lap"});
    EXPECT_EQ(asked.status, 0) << asked.err;
    EXPECT_EQ(asked.out.rfind("End of Lap: " + logs + "/", 0), 0u) << asked.out;
    EXPECT_EQ(printed(), std::vector<std::string>{asked.out.substr(0, asked.out.size() - 1)});

    // Bad clients: rubbish, a line without end, then twenty at once that say nothing (more than
    // the run serves at a time).
    std::string reply;
    EXPECT_EQ(AskControlSocket(socket, std::string("\x1b[2J\0", 5), 5s, &reply), 0);
    EXPECT_EQ(reply, "error: the command holds a byte that is not text: \"\\x1B[2J\\x00\"\n");
    EXPECT_EQ(AskControlSocket(socket, std::string(5000, 'x'), 5s, &reply), 0);
    EXPECT_EQ(reply, "error: the command is longer than 255 characters\n");
    std::vector<std::unique_ptr<RawClient>> silent;
    for (int i = 0; i < 20; ++i) {
        silent.push_back(std::make_unique<RawClient>(socket));
        ASSERT_TRUE(silent.back()->Connected());
    }
    int busy = 0;
    int timedOut = 0;
    for (auto& client : silent) {
        const std::string text = client->Reply(5s);
        busy += text.rfind("error: busy: 8 requests at once already", 0) == 0 ? 1 : 0;
        timedOut += text == "error: no command within 2 s\n" ? 1 : 0;
    }
    EXPECT_EQ(busy + timedOut, 20);
    EXPECT_LE(timedOut, 8);

    // Untouched: triggering as it was, the fixes still logged, nothing printed.
    asked = ctl({"status"});
    EXPECT_EQ(asked.status, 0) << asked.err;
    EXPECT_EQ(asked.out.rfind("State           Off: turned off by the operator\n", 0), 0u) << asked.out;
    EXPECT_NE(asked.out.find("s ago, quality 1 (GPS)"), std::string::npos) << asked.out;
    EXPECT_EQ(printed(), std::vector<std::string>{});

    // One name, one run.
    test::ChildProcess twin;
    ASSERT_TRUE(twin.Start(run, env));
    EXPECT_EQ(twin.Wait(10s), 2);
    EXPECT_NE(twin.Errors().find("ostrim: another run named e2e answers on " + socket), std::string::npos)
        << twin.Errors();

    ostrim.Signal(SIGTERM);
    EXPECT_EQ(ostrim.Wait(10s), 0);
    EXPECT_FALSE(std::filesystem::exists(socket));
    asked = ctl({"status"});
    EXPECT_EQ(asked.status, 2);
    EXPECT_NE(asked.err.find("no run named e2e is running"), std::string::npos) << asked.err;
}

} // namespace
} // namespace ostrim
