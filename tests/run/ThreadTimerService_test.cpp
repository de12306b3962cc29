#include "run/ThreadTimerService.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <vector>

namespace ostrim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(ThreadTimerService, RestartBeforeExpiry_PushesTheExpiryBack)
{
    ThreadTimerService timers;
    std::promise<Clock::time_point> fired;
    timers.SetHandler([&](int id) {
        EXPECT_EQ(id, 101);
        fired.set_value(Clock::now());
        timers.KillTimer(id);
    });
    const auto start = Clock::now();
    timers.StartTimer(101, 150ms);
    std::this_thread::sleep_for(100ms);
    timers.StartTimer(101, 150ms); // restart: runs out 150 ms from now, not from the first start
    auto future = fired.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_GE(future.get() - start, 240ms);
}

TEST(ThreadTimerService, KilledTimer_NeverFires_OthersDoInOrderOfDeadline)
{
    ThreadTimerService timers;
    std::mutex mutex;
    std::vector<int> order;
    std::promise<void> done;
    timers.SetHandler([&](int id) {
        std::lock_guard lock(mutex);
        order.push_back(id);
        if (order.size() == 2)
            done.set_value();
    });
    timers.StartTimer(102, 120ms);
    timers.StartTimer(101, 40ms);
    timers.StartTimer(7, 60ms);
    timers.KillTimer(7);
    ASSERT_EQ(done.get_future().wait_for(5s), std::future_status::ready);
    std::this_thread::sleep_for(100ms);
    std::lock_guard lock(mutex);
    EXPECT_EQ(order, (std::vector<int>{101, 102}));
}

// The thread waits for the one deadline there is while another thread kills that timer and starts
// a sooner one (the predictive rule replanning at a fix): the new one fires, the old one never.
TEST(ThreadTimerService, AwaitedTimerKilledAndReplaced_OnlyTheNewOneFires)
{
    ThreadTimerService timers;
    std::promise<int> fired;
    std::once_flag once;
    timers.SetHandler([&](int id) { std::call_once(once, [&] { fired.set_value(id); }); });
    timers.StartTimer(5, 400ms);
    std::this_thread::sleep_for(50ms); // the thread is waiting for timer 5
    timers.KillTimer(5);
    timers.StartTimer(6, 50ms);
    auto future = fired.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(future.get(), 6);
}

TEST(ThreadTimerService, Stop_WithTimersPending_ReturnsAndRunsNoHandler)
{
    int calls = 0;
    {
        ThreadTimerService timers;
        timers.SetHandler([&](int) { ++calls; });
        timers.StartTimer(101, 10s);
        timers.Stop();
    }
    EXPECT_EQ(calls, 0);
}

} // namespace
} // namespace ostrim
