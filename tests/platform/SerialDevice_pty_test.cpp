#include "platform/posix/SerialDevice.h"

#include "platform/posix/Deadline.h"
#include "platform/posix/EventFd.h"
#include "platform/posix/Poll.h"
#include "platform/posix/PseudoTerminal.h"
#include "platform/posix/RawTermios.h"
#include "tests/support/PtyTestSupport.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <numeric>
#include <thread>
#include <vector>

namespace ostrim {
namespace {

using namespace std::chrono_literals;
using test::Clock;
using test::MsSince;
using test::ReadFromMaster;
using test::WriteToMaster;

class SerialDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(pty.Open(), 0); }

    SerialDevice OpenConfigured()
    {
        SerialDevice device;
        EXPECT_EQ(device.Open(pty.SlavePath()), 0);
        EXPECT_EQ(device.Configure(SerialSettings{}), 0);
        return device;
    }

    PseudoTerminal pty;
};

TEST_F(SerialDeviceTest, HeldDevice_SecondOpenFailsUntilClosed)
{
    SerialDevice first;
    SerialDevice second;
    ASSERT_EQ(first.Open(pty.SlavePath()), 0);
    EXPECT_EQ(second.Open(pty.SlavePath()), EBUSY);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(first.Close(), 0);
    EXPECT_EQ(second.Open(pty.SlavePath()), 0);
}

TEST_F(SerialDeviceTest, HeldDevice_OrdinaryUserIsRefusedAndReopensAfterClose)
{
    ASSERT_EQ(pty.GiveSlaveTo(test::kNobody, test::kNobody), 0);
    const std::string path = pty.SlavePath();
    // 10: first open failed; 11: second open not refused; 12: reopen after close failed
    // (TIOCEXCL left behind). A program that does not lock is let in on a pseudo-terminal,
    // where the exclusive flag would outlive a crash.
    int result = test::RunAsNobody([&path] {
        SerialDevice first;
        SerialDevice second;
        if (first.Open(path) != 0)
            return 10;
        if (second.Open(path) != EBUSY)
            return 11;
        first.Close();
        for (int round = 0; round < 3; ++round) {
            if (second.Open(path) != 0)
                return 12;
            second.Close();
        }
        return 0;
    });
    if (result == test::kCannotChangeUser)
        GTEST_SKIP() << "this process cannot change user";
    EXPECT_EQ(result, 0);
}

// The service's user has no CAP_SYS_ADMIN, which alone passes an exclusive flag left on the tty.
TEST_F(SerialDeviceTest, HolderKilled_UnprivilegedProcessOpensAtOnceWhileALiveHolderIsRefused)
{
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(pty.GiveSlaveTo(test::kNobody, test::kNobody), 0);
    }
    const std::string path = pty.SlavePath();
    auto unprivileged = [root](const std::function<int()>& step) {
        if (root)
            return test::RunAsNobody(step);
        pid_t pid = ::fork();
        if (pid == 0)
            ::_exit(step());
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    };
    auto open = [&path] {
        SerialDevice device;
        return device.Open(path);
    };

    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        SerialDevice device;
        char opened = device.Open(path) == 0 ? 1 : 0;
        (void)!::write(ready[1], &opened, 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char opened = 0;
    EXPECT_EQ(::read(ready[0], &opened, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(opened, 1);

    const int whileHeld = unprivileged(open);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    const int afterCrash = unprivileged(open);
    if (whileHeld == test::kCannotChangeUser)
        GTEST_SKIP() << "this process cannot change user";
    EXPECT_EQ(whileHeld, EBUSY);
    EXPECT_EQ(afterCrash, 0) << std::strerror(afterCrash);
}

// Only a pseudo-terminal's slave keeps its tty past the last close; serial devices do not.
TEST(TtyOutlivesLastClose, PseudoTerminalSlavesOnly)
{
    const struct {
        unsigned int major, minor;
        bool outlives;
    } cases[] = {
        {136, 0, true}, {143, 1048575, true}, {3, 0, true}, // Unix98 and legacy pty slaves
        {188, 0, false},                                    // ttyUSB
        {166, 0, false},                                    // ttyACM
        {4, 64, false},                                     // ttyS0
        {128, 0, false},                                    // a pty master
        {5, 2, false},                                      // /dev/ptmx
    };
    for (const auto& c : cases)
        EXPECT_EQ(TtyOutlivesLastClose(::makedev(c.major, c.minor)), c.outlives)
            << c.major << ":" << c.minor;
}

TEST_F(SerialDeviceTest, MissingDevice_ReportsErrno)
{
    SerialDevice device;
    EXPECT_EQ(device.Open("/dev/ostrim-no-such-port"), ENOENT);
    EXPECT_EQ(device.Open(""), ENOENT);
    EXPECT_FALSE(device.IsOpen());
}

TEST_F(SerialDeviceTest, NotATerminal_SettingsRefusedAndNothingHeld)
{
    SerialDevice device;
    ASSERT_EQ(device.Open("/dev/null"), 0);
    EXPECT_EQ(device.Configure(SerialSettings{}), ENOTTY);
    device.Close();
    SerialDevice again;
    EXPECT_EQ(again.Open("/dev/null"), 0);
}

struct SettingsCase {
    SerialSettings settings;
    int expected; // 0 or errno
};

TEST_F(SerialDeviceTest, Configure_ReportsSettingsTheDeviceDidNotTake)
{
    // A pseudo-terminal has no line: it takes any speed but always keeps 8 bits, no parity.
    const SettingsCase cases[] = {
        {{38400, 8, Parity::None}, 0},
        {{9600, 8, Parity::None}, 0},
        {{115200, 8, Parity::None}, 0},
        {{9600, 7, Parity::Even}, EINVAL},
        {{38400, 8, Parity::Odd}, EINVAL},
        {{12345, 8, Parity::None}, EINVAL},
        {{0, 8, Parity::None}, EINVAL},
        {{38400, 9, Parity::None}, EINVAL},
        {{38400, 4, Parity::None}, EINVAL},
    };
    SerialDevice device;
    ASSERT_EQ(device.Open(pty.SlavePath()), 0);
    for (const SettingsCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.settings.baudRate << " baud, " << c.settings.byteSize
                                        << " bits, parity " << static_cast<int>(c.settings.parity));
        EXPECT_EQ(device.Configure(c.settings), c.expected);
        if (c.expected != 0)
            continue;
        SerialSettings back{};
        ASSERT_EQ(device.ReadSettings(&back), 0);
        EXPECT_EQ(back.baudRate, c.settings.baudRate);
        EXPECT_EQ(back.byteSize, c.settings.byteSize);
        EXPECT_EQ(back.parity, c.settings.parity);
    }
}

struct RawCase {
    SerialSettings settings;
    tcflag_t size;
    tcflag_t parityFlags; // PARENB, PARODD as expected in c_cflag
    bool inputCheck;      // INPCK
};

TEST(MakeRaw, FromAFullyCookedLine_LeavesOnlyTheAskedFlags)
{
    const RawCase cases[] = {
        {{38400, 8, Parity::None}, CS8, 0, false},
        {{38400, 8, Parity::Odd}, CS8, PARENB | PARODD, true},
        {{38400, 8, Parity::Even}, CS8, PARENB, true},
        {{9600, 7, Parity::Even}, CS7, PARENB, true},
        {{1200, 5, Parity::None}, CS5, 0, false},
        {{4000000, 6, Parity::None}, CS6, 0, false},
    };
    for (const RawCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.settings.baudRate << " " << c.settings.byteSize);
        termios tio{};
        tio.c_iflag = tio.c_oflag = tio.c_lflag = tio.c_cflag = ~tcflag_t{0};
        ASSERT_TRUE(MakeRaw(c.settings, &tio));
        EXPECT_EQ(tio.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF | IXANY | PARMRK |
                                 BRKINT | IGNPAR),
                  0u);
        EXPECT_EQ(tio.c_iflag & INPCK, c.inputCheck ? tcflag_t{INPCK} : 0u);
        EXPECT_EQ(tio.c_oflag & OPOST, 0u);
        EXPECT_EQ(tio.c_lflag & (ECHO | ECHONL | ICANON | ISIG | IEXTEN), 0u);
        EXPECT_EQ(tio.c_cflag & CSIZE, c.size);
        EXPECT_EQ(tio.c_cflag & (PARENB | PARODD | CMSPAR), c.parityFlags);
        EXPECT_EQ(tio.c_cflag & (CSTOPB | CRTSCTS), 0u);
        EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), tcflag_t{CLOCAL | CREAD});
        EXPECT_EQ(tio.c_cc[VMIN], 1);
        EXPECT_EQ(tio.c_cc[VTIME], 0);
    }
    termios tio{};
    EXPECT_FALSE(MakeRaw({31250, 8, Parity::None}, &tio));
    EXPECT_FALSE(MakeRaw({38400, 9, Parity::None}, &tio));
}

TEST_F(SerialDeviceTest, RawLine_EveryByteValuePassesUnchangedBothWays)
{
    SerialDevice device = OpenConfigured();
    std::vector<std::uint8_t> all(256);
    std::iota(all.begin(), all.end(), 0);
    // Twice over, so CR LF pairs and control characters also meet each other.
    all.insert(all.end(), all.rbegin(), all.rend());

    std::size_t written = 0;
    ASSERT_EQ(device.Write(all.data(), all.size(), 1s, &written), 0);
    EXPECT_EQ(written, all.size());
    EXPECT_EQ(ReadFromMaster(pty, all.size() + 1, 300ms), all);

    ASSERT_TRUE(WriteToMaster(pty, all));
    std::vector<std::uint8_t> in(all.size() + 1);
    std::size_t got = 0;
    ASSERT_EQ(device.Read(in.data(), in.size(), {.total = 1000ms, .interByte = 100ms}, &got), 0);
    EXPECT_EQ(std::vector<std::uint8_t>(in.begin(), in.begin() + static_cast<long>(got)), all);
    // Nothing came back the way it went: no echo.
    EXPECT_TRUE(ReadFromMaster(pty, 1, 50ms).empty());
}

TEST_F(SerialDeviceTest, ReadWithNoInput_ShortCountAfterTotalTimeout)
{
    SerialDevice device = OpenConfigured();
    std::uint8_t byte = 0;
    std::size_t got = 99;
    auto start = Clock::now();
    EXPECT_EQ(device.Read(&byte, 1, {.total = 200ms, .interByte = 30ms}, &got), 0);
    long elapsed = MsSince(start);
    EXPECT_EQ(got, 0u);
    EXPECT_GE(elapsed, 200);
    EXPECT_LT(elapsed, 400);
}

TEST_F(SerialDeviceTest, ReadStoppingHalfway_EndsAfterTheGapWithWhatCame)
{
    SerialDevice device = OpenConfigured();
    std::thread sender([this] {
        std::this_thread::sleep_for(50ms);
        WriteToMaster(pty, {0x11});
        std::this_thread::sleep_for(10ms);
        WriteToMaster(pty, {0x13});
    });
    std::uint8_t bytes[4] = {};
    std::size_t got = 0;
    auto start = Clock::now();
    EXPECT_EQ(device.Read(bytes, 4, {.total = 900ms, .interByte = 30ms}, &got), 0);
    long elapsed = MsSince(start);
    sender.join();
    ASSERT_EQ(got, 2u);
    EXPECT_EQ(bytes[0], 0x11);
    EXPECT_EQ(bytes[1], 0x13);
    EXPECT_GE(elapsed, 60 + 30);
    EXPECT_LT(elapsed, 400); // far below the 900 ms total
}

TEST_F(SerialDeviceTest, WriteNobodyReads_ShortCountAfterStall)
{
    SerialDevice device = OpenConfigured();
    std::vector<std::uint8_t> lots(256 * 1024, 0x55);
    std::size_t written = 0;
    auto start = Clock::now();
    EXPECT_EQ(device.Write(lots.data(), lots.size(), 150ms, &written), 0);
    long elapsed = MsSince(start);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, lots.size());
    EXPECT_GE(elapsed, 150);
    EXPECT_LT(elapsed, 1000);
}

TEST_F(SerialDeviceTest, DrainThenDiscardInput_NeverLosesOutput)
{
    // Discarding the output queue of a pseudo-terminal drops bytes the other side has not read
    // yet, about once in two hundred rounds of this pattern; draining and discarding only the
    // input must lose none.
    SerialDevice device = OpenConfigured();
    constexpr int kRounds = 5000;
    std::atomic<bool> done{false};
    std::vector<std::uint8_t> seen;
    std::thread reader([&] {
        std::uint8_t buffer[256];
        while (!done.load() || seen.size() < 2 * kRounds) {
            std::size_t got = 0;
            if (pty.ReadMaster(buffer, sizeof buffer, 20ms, &got) != 0)
                break;
            if (got == 0 && done.load())
                break;
            seen.insert(seen.end(), buffer, buffer + got);
        }
    });
    for (int i = 0; i < kRounds; ++i) {
        std::uint8_t a = static_cast<std::uint8_t>(i);
        std::uint8_t b = static_cast<std::uint8_t>(~i);
        std::size_t written = 0;
        ASSERT_EQ(device.Write(&a, 1, 1s, &written), 0);
        ASSERT_EQ(device.Drain(), 0);
        ASSERT_EQ(device.DiscardInput(), 0);
        ASSERT_EQ(device.Write(&b, 1, 1s, &written), 0);
    }
    done.store(true);
    reader.join();
    ASSERT_EQ(seen.size(), 2u * kRounds);
    for (int i = 0; i < kRounds; ++i) {
        ASSERT_EQ(seen[2 * i], static_cast<std::uint8_t>(i)) << "round " << i;
        ASSERT_EQ(seen[2 * i + 1], static_cast<std::uint8_t>(~i)) << "round " << i;
    }
}

// A USB adapter whose transfer never completes keeps its queue; tcdrain() would wait for ever.
TEST(WaitForEmptyOutput, QueueThatNeverEmpties_EndsAtTheLimitOrOnStop)
{
    const auto stuck = [](int* queued) {
        *queued = 1;
        return 0;
    };
    auto start = Clock::now();
    EXPECT_EQ(WaitForEmptyOutput(stuck, Deadline::After(200ms), -1), ETIMEDOUT);
    EXPECT_GE(MsSince(start), 200);
    EXPECT_LT(MsSince(start), 400);

    EventFd stop;
    ASSERT_EQ(stop.Create(), 0);
    std::thread raiser([&] {
        std::this_thread::sleep_for(50ms);
        stop.Raise();
    });
    start = Clock::now();
    EXPECT_EQ(WaitForEmptyOutput(stuck, Deadline::Never(), stop.Fd()), ECANCELED);
    raiser.join();
    EXPECT_LT(MsSince(start), 250);

    int left = 3; // a working line: the queue empties as the bytes leave
    const auto leaving = [&](int* queued) {
        *queued = left--;
        return 0;
    };
    EXPECT_EQ(WaitForEmptyOutput(leaving, Deadline::After(1s), -1), 0);
    EXPECT_EQ(left, -1);
}

TEST_F(SerialDeviceTest, DiscardInput_DropsWhatWaited)
{
    SerialDevice device = OpenConfigured();
    ASSERT_TRUE(WriteToMaster(pty, {0x01, 0x02, 0x03}));
    std::this_thread::sleep_for(20ms);
    ASSERT_EQ(device.DiscardInput(), 0);
    std::uint8_t byte = 0;
    std::size_t got = 0;
    EXPECT_EQ(device.Read(&byte, 1, {.total = 50ms}, &got), 0);
    EXPECT_EQ(got, 0u);
}

TEST_F(SerialDeviceTest, OtherSideClosed_ReadAndWriteFailWithEio)
{
    SerialDevice device = OpenConfigured();
    pty.CloseMaster();
    std::uint8_t byte = 0x7E;
    std::size_t count = 0;
    auto start = Clock::now();
    EXPECT_EQ(device.Read(&byte, 1, {.total = 2000ms}, &count), EIO);
    EXPECT_LT(MsSince(start), 500);
    EXPECT_EQ(device.Write(&byte, 1, 1s, &count), EIO);
}

TEST_F(SerialDeviceTest, PseudoTerminal_HasNoModemLines)
{
    SerialDevice device = OpenConfigured();
    ModemLines lines;
    int err = device.GetModemLines(&lines);
    EXPECT_TRUE(IsNoModemLines(err)) << err;
    EXPECT_TRUE(IsNoModemLines(device.AssertDtrRts()));
}

extern "C" void IgnoreSignal(int) {}

TEST(PollUntil, InterruptedBySignal_StillWaitsTheWholeTime)
{
    struct sigaction action {};
    action.sa_handler = IgnoreSignal; // no SA_RESTART: poll() returns EINTR
    struct sigaction old {};
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &old), 0);
    PseudoTerminal pty;
    ASSERT_EQ(pty.Open(), 0);

    pthread_t waiter = ::pthread_self();
    std::atomic<bool> waiting{true};
    std::thread interrupter([&] {
        while (waiting.load()) {
            ::pthread_kill(waiter, SIGUSR1);
            std::this_thread::sleep_for(10ms);
        }
    });
    PollEntry entry{.fd = pty.MasterFd(), .wantRead = true};
    auto start = Clock::now();
    int err = PollUntil({&entry, 1}, Deadline::After(150ms));
    long elapsed = MsSince(start);
    waiting.store(false);
    interrupter.join();
    ::sigaction(SIGUSR1, &old, nullptr);
    EXPECT_EQ(err, 0);
    EXPECT_FALSE(entry.Ready());
    EXPECT_GE(elapsed, 150);
}

TEST(Deadline, PollTimeout_RoundsUpAndNeverGoesNegative)
{
    EXPECT_EQ(Deadline::Never().PollTimeoutMs(), -1);
    EXPECT_FALSE(Deadline::Never().Expired());
    int ms = Deadline::After(std::chrono::microseconds(100)).PollTimeoutMs();
    EXPECT_TRUE(ms == 0 || ms == 1) << ms;
    EXPECT_EQ(Deadline::After(-5ms).PollTimeoutMs(), 0);
    EXPECT_TRUE(Deadline::After(-5ms).Expired());
    Deadline soon = Deadline::After(10ms);
    EXPECT_EQ(Deadline::Earlier(Deadline::Never(), soon).When(), soon.When());
}

} // namespace
} // namespace ostrim
