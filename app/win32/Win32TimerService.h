#pragma once
// The trigger engine's timers as window timers of the dialog (SetTimer, KillTimer, WM_TIMER),
// with the engine's own ids 101 and 102.
//
// Thread rule: the engine starts and kills timers from the GPS reader thread, but a window timer
// can only be set by the thread that owns the window. StartTimer and KillTimer from any thread
// therefore queue the request and post kApplyMessage; ApplyQueued, on the GUI thread, acts on
// the requests in call order. Each timer runs out once: OnTimer kills it before the handler runs.
// An expiry that a later request overtook (a kill, or a start again) is dropped.

#include "trigger/TriggerInterfaces.h"

#include <windows.h>

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <set>

namespace ostrim {

class Win32TimerService : public TimerService {
public:
    static constexpr UINT kApplyMessage = WM_APP + 2;
    using Handler = std::function<void(int id)>;

    // GUI thread, before the first StartTimer.
    void Attach(HWND window, Handler handler);

    void StartTimer(int id, std::chrono::milliseconds period) override;
    void KillTimer(int id) override;
    std::chrono::milliseconds Now() const override
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    }

    // GUI thread: on kApplyMessage; on WM_TIMER for the engine's ids.
    void ApplyQueued() { ApplyRequests(); }
    void OnTimer(int id);

    // GUI thread: whether the timer is running.
    bool IsActive(int id) const { return active_.count(id) != 0; }

private:
    // The ids that the applied requests named.
    std::set<int> ApplyRequests();

    struct Request {
        int id;
        long long ms; // -1: kill
    };

    HWND window_ = nullptr;
    Handler handler_;
    std::set<int> active_; // GUI thread only

    std::mutex mutex_;
    std::deque<Request> requests_;
};

} // namespace ostrim
