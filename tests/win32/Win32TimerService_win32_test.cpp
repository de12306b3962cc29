// The engine's timers as window timers: what the GPS reader thread starts runs out on the
// window's own thread, once, and an expiry that a later request overtook is not handed on.

#include "app/win32/Win32TimerService.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace ostrim {
namespace {

using namespace std::chrono_literals;

// A message-only window on the test's thread standing in for the dialog (no display needed),
// its messages routed as the dialog procedure routes them.
class TimerWindow {
public:
    TimerWindow()
    {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = &TimerWindow::Procedure;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "OstrimTestTimers";
        RegisterClassA(&windowClass);
        current = this;
        window = CreateWindowExA(0, "OstrimTestTimers", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
        timers.Attach(window, [this](int id) {
            expired.push_back(id);
            expiredOn.push_back(GetCurrentThreadId());
        });
    }
    ~TimerWindow()
    {
        DestroyWindow(window);
        current = nullptr;
    }

    // Handles this thread's messages for `duration`.
    void Pump(std::chrono::milliseconds duration)
    {
        const auto end = std::chrono::steady_clock::now() + duration;
        MSG message;
        while (std::chrono::steady_clock::now() < end) {
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&message);
            Sleep(1);
        }
    }

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (current != nullptr && message == Win32TimerService::kApplyMessage) {
            current->timers.ApplyQueued();
            return 0;
        }
        if (current != nullptr && message == WM_TIMER) {
            current->timers.OnTimer(static_cast<int>(wParam));
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }

    static inline TimerWindow* current = nullptr;
    HWND window = nullptr;
    Win32TimerService timers;
    std::vector<int> expired;
    std::vector<DWORD> expiredOn;
};

void OnAnotherThread(const std::function<void()>& work)
{
    std::thread thread(work);
    thread.join();
}

TEST(Win32TimerService, StartedFromReaderThread_RunsOutOnceOnTheWindowsThread)
{
    TimerWindow dialog;
    ASSERT_NE(dialog.window, nullptr);
    OnAnotherThread([&] { dialog.timers.StartTimer(kAllTriggeredTimer, 20ms); });
    dialog.Pump(200ms);
    EXPECT_EQ(dialog.expired, std::vector<int>{kAllTriggeredTimer});
    EXPECT_EQ(dialog.expiredOn, std::vector<DWORD>{GetCurrentThreadId()});
    EXPECT_FALSE(dialog.timers.IsActive(kAllTriggeredTimer));
}

// The reader thread kills or restarts the timer just after its expiry was taken from the queue.
TEST(Win32TimerService, RequestAfterExpiryTaken_DropsTheStaleExpiry)
{
    struct Case {
        const char* name;
        bool restart;
        std::vector<int> expired; // in the 300 ms after
    };
    for (const Case& c : {Case{"kill", false, {}}, Case{"restart", true, {kRearmTimer}}}) {
        TimerWindow dialog;
        dialog.timers.StartTimer(kRearmTimer, 10ms);
        dialog.Pump(5ms); // applies the start
        Sleep(60);
        MSG expiry;
        ASSERT_TRUE(PeekMessageA(&expiry, dialog.window, WM_TIMER, WM_TIMER, PM_REMOVE)) << c.name;
        OnAnotherThread([&] {
            if (c.restart)
                dialog.timers.StartTimer(kRearmTimer, 100ms);
            else
                dialog.timers.KillTimer(kRearmTimer);
        });
        DispatchMessageA(&expiry);
        EXPECT_TRUE(dialog.expired.empty()) << c.name;
        dialog.Pump(300ms);
        EXPECT_EQ(dialog.expired, c.expired) << c.name;
    }
}

} // namespace
} // namespace ostrim
