// The engine's timers on the GUI thread, started and killed from any thread.

#include "app/qt/QtTimerService.h"

#include <QApplication>
#include <QTest>
#include <QThread>

#include "tests/support/QtWait.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace ostrim {
namespace {

using namespace std::chrono_literals;

struct Recorder {
    QtTimerService timers;
    std::vector<int> expired;
    bool onGuiThread = true;

    Recorder()
    {
        timers.SetHandler([this](int id) {
            expired.push_back(id);
            onGuiThread = onGuiThread && QThread::currentThread() == qApp->thread();
        });
    }
};

TEST(QtTimerService, StartFromReaderThread_ExpiresOnceOnGuiThread)
{
    Recorder r;
    std::thread reader([&] { r.timers.StartTimer(kAllTriggeredTimer, 20ms); });
    reader.join();
    EXPECT_EVENTUALLY_EQ(r.expired.size(), std::size_t{1});
    QTest::qWait(100);
    EXPECT_EQ(r.expired, std::vector<int>{kAllTriggeredTimer}) << "single-shot";
    EXPECT_TRUE(r.onGuiThread);
    EXPECT_FALSE(r.timers.IsActive(kAllTriggeredTimer));
}

TEST(QtTimerService, StartWhileRunning_RestartsWithNewPeriod)
{
    Recorder r;
    r.timers.StartTimer(kRearmTimer, 60s);
    r.timers.StartTimer(kRearmTimer, 20ms);
    EXPECT_EVENTUALLY_EQ(r.expired, std::vector<int>{kRearmTimer});

    r.expired.clear();
    r.timers.StartTimer(kRearmTimer, 400ms);
    QTest::qWait(20);
    r.timers.StartTimer(kRearmTimer, 60s); // the 400 ms run is replaced, not added to
    QTest::qWait(800);
    EXPECT_TRUE(r.expired.empty());
    EXPECT_TRUE(r.timers.IsActive(kRearmTimer));
}

TEST(QtTimerService, Kill_StopsOnlyThatTimer)
{
    Recorder r;
    r.timers.StartTimer(kRearmTimer, 100ms);
    r.timers.StartTimer(kAllTriggeredTimer, 100ms);
    std::thread reader([&] { r.timers.KillTimer(kRearmTimer); });
    reader.join();
    QTest::qWait(400);
    EXPECT_EQ(r.expired, std::vector<int>{kAllTriggeredTimer});
}

TEST(QtTimerService, KillOnGuiThreadAfterReaderStart_ActsInCallOrder)
{
    Recorder r;
    std::thread reader([&] { r.timers.StartTimer(kRearmTimer, 100ms); });
    reader.join();
    r.timers.KillTimer(kRearmTimer); // called after the start: the timer ends stopped
    QTest::qWait(400);
    EXPECT_TRUE(r.expired.empty());
    EXPECT_FALSE(r.timers.IsActive(kRearmTimer));
}

} // namespace
} // namespace ostrim
