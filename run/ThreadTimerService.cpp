#include "run/ThreadTimerService.h"

namespace ostrim {

ThreadTimerService::ThreadTimerService() : thread_([this] { Run(); }) {}

ThreadTimerService::~ThreadTimerService()
{
    Stop();
}

void ThreadTimerService::SetHandler(Handler handler)
{
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

void ThreadTimerService::StartTimer(int id, std::chrono::milliseconds period)
{
    std::lock_guard lock(mutex_);
    deadlines_[id] = Clock::now() + period; // a running timer starts again from zero
    wake_.notify_all();
}

void ThreadTimerService::KillTimer(int id)
{
    std::lock_guard lock(mutex_);
    deadlines_.erase(id);
    wake_.notify_all();
}

std::chrono::milliseconds ThreadTimerService::Now() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch());
}

void ThreadTimerService::Stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        wake_.notify_all();
    }
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

void ThreadTimerService::Run()
{
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (deadlines_.empty()) {
            wake_.wait(lock);
            continue;
        }
        auto earliest = deadlines_.begin();
        for (auto it = deadlines_.begin(); it != deadlines_.end(); ++it)
            if (it->second < earliest->second)
                earliest = it;
        // A copy: the wait reads its deadline again after waking, when a KillTimer from another
        // thread may have erased the entry.
        const Clock::time_point due = earliest->second;
        if (Clock::now() < due) {
            wake_.wait_until(lock, due);
            continue;
        }
        // Like a window timer, it stays set until its handler kills it; drop it here so a
        // handler that forgets does not spin this thread.
        const int id = earliest->first;
        deadlines_.erase(earliest);
        Handler handler = handler_;
        lock.unlock();
        if (handler)
            handler(id);
        lock.lock();
    }
}

} // namespace ostrim
