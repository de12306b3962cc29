// Receiver bytes through a real pseudo-terminal and the GPS port monitor, as the program reads
// them: the monitor reads the port in bursts and hands out one character per request.
//
// Checks: the consumer gets every byte, in order, each exactly once and unchanged whatever its
// value (no XON/XOFF, CR, NUL or signal byte eaten or translated), one character per code 3,
// and never a character it did not ask for; whether the next read is asked for from inside the
// callback or from another thread. A byte that never arrives fails after 5 s, so a stall is
// reported rather than hanging the run.

#include "gps/PortMonitor.h"
#include "platform/posix/PseudoTerminal.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

using namespace std::chrono_literals;

void Check(bool condition, const char* what)
{
    if (condition)
        return;
    std::fprintf(stderr, "gps_port_fuzz: %s\n", what);
    std::abort();
}

struct Consumer {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::uint8_t> received;
    bool asked = true;         // a read has been asked for and not yet delivered
    bool askFromCallback = true;
    bool ended = false;
};

void OnPort(ostrim::PortMonitor* monitor, std::int32_t code, void* context)
{
    auto& c = *static_cast<Consumer*>(context);
    std::unique_lock lock(c.mutex);
    if (code == 1)
        c.ended = true;
    if (code != 3) {
        c.changed.notify_all();
        return;
    }
    Check(c.asked, "a character that was not asked for");
    Check(monitor->GetReadCount() == 1, "not one character per delivery");
    c.received.push_back(static_cast<std::uint8_t>(monitor->GetReadBuffer()[0]));
    c.asked = false;
    if (c.askFromCallback) {
        c.asked = true;
        lock.unlock();
        monitor->RequestNextRead();
        lock.lock();
    }
    c.changed.notify_all();
}

ostrim::PseudoTerminal* pty = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static ostrim::PseudoTerminal made;
    if (made.Open() != 0) {
        std::perror("pseudo-terminal");
        std::abort();
    }
    pty = &made;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    Consumer consumer;
    consumer.askFromCallback = (data[0] & 1) != 0;
    ostrim::PortMonitor monitor;
    monitor.SetCallback(OnPort, &consumer);
    Check(monitor.Open(pty->SlavePath().c_str(), 38400, 0, 8, 0) == ostrim::PortMonitor::kOk,
          "the monitor cannot open the pseudo-terminal");
    monitor.RequestNextRead();

    // The receiver sends the input in pieces; the tty holds 4 KiB, so the writes wait for the
    // monitor to read when they must.
    std::size_t sent = 0;
    std::size_t piece = 1 + data[size / 2] % 64;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (sent < size) {
        std::size_t count = std::min(piece, size - sent);
        std::size_t written = 0;
        Check(pty->WriteMaster(data + sent, count, 5s, &written) == 0 && written == count,
              "the monitor stopped reading");
        sent += count;
        if (!consumer.askFromCallback) {
            // Another thread asks for each next character once the last one has come.
            std::unique_lock lock(consumer.mutex);
            while (consumer.received.size() < sent) {
                if (!consumer.asked) {
                    consumer.asked = true;
                    lock.unlock();
                    monitor.RequestNextRead();
                    lock.lock();
                }
                Check(consumer.changed.wait_until(lock, deadline, [&] {
                    return !consumer.asked || consumer.received.size() >= sent || consumer.ended;
                }), "a character never came");
                Check(!consumer.ended, "the monitor ended on its own");
            }
        }
    }
    {
        std::unique_lock lock(consumer.mutex);
        Check(consumer.changed.wait_until(lock, deadline,
                                          [&] { return consumer.received.size() >= size; }),
              "a character never came");
        Check(!consumer.ended, "the monitor ended on its own");
    }
    monitor.Stop();
    Check(consumer.received.size() == size, "more characters than were sent");
    for (std::size_t i = 0; i < size; ++i)
        Check(consumer.received[i] == data[i], "a character lost, changed or out of order");
    return 0;
}
