#include "app/win32/Win32TimerService.h"

#include <algorithm>

namespace ostrim {

void Win32TimerService::Attach(HWND window, Handler handler)
{
    window_ = window;
    handler_ = std::move(handler);
}

void Win32TimerService::StartTimer(int id, std::chrono::milliseconds period)
{
    std::lock_guard lock(mutex_);
    requests_.push_back({id, std::clamp<long long>(period.count(), 0, 0x7fffffff)});
    PostMessageA(window_, kApplyMessage, 0, 0);
}

void Win32TimerService::KillTimer(int id)
{
    std::lock_guard lock(mutex_);
    requests_.push_back({id, -1});
    PostMessageA(window_, kApplyMessage, 0, 0);
}

std::set<int> Win32TimerService::ApplyRequests()
{
    std::set<int> named;
    std::deque<Request> requests;
    {
        std::lock_guard lock(mutex_);
        requests.swap(requests_);
    }
    for (const Request& request : requests) {
        const auto id = static_cast<UINT_PTR>(request.id);
        named.insert(request.id);
        if (request.ms >= 0) {
            // Setting a running timer again restarts it with the new period.
            ::SetTimer(window_, id, static_cast<UINT>(request.ms), nullptr);
            active_.insert(request.id);
        } else {
            ::KillTimer(window_, id);
            active_.erase(request.id);
        }
    }
    return named;
}

void Win32TimerService::OnTimer(int id)
{
    // The engine's requests made before this expiry was taken from the queue come first; one
    // for this timer means the expiry is no longer wanted (killed) or not yet due (started again).
    if (ApplyRequests().count(id) != 0 || active_.erase(id) == 0)
        return;
    ::KillTimer(window_, static_cast<UINT_PTR>(id));
    if (handler_)
        handler_(id);
}

} // namespace ostrim
