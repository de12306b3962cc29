#include "app/qt/QtTimerService.h"

#include <QTimer>

#include <algorithm>

namespace ostrim {

QtTimerService::QtTimerService(QObject* parent)
    : QObject(parent)
{
}

void QtTimerService::SetHandler(Handler handler)
{
    handler_ = std::move(handler);
}

void QtTimerService::StartTimer(int id, std::chrono::milliseconds period)
{
    auto ms = static_cast<int>(std::clamp<long long>(period.count(), 0, 0x7fffffff));
    {
        std::lock_guard lock(mutex_);
        requests_.push_back({id, ms});
    }
    QMetaObject::invokeMethod(this, "ApplyQueued", Qt::QueuedConnection);
}

void QtTimerService::KillTimer(int id)
{
    {
        std::lock_guard lock(mutex_);
        requests_.push_back({id, -1});
    }
    QMetaObject::invokeMethod(this, "ApplyQueued", Qt::QueuedConnection);
}

void QtTimerService::ApplyQueued()
{
    std::deque<Request> requests;
    {
        std::lock_guard lock(mutex_);
        requests.swap(requests_);
    }
    for (const Request& request : requests) {
        if (request.ms >= 0) {
            TimerFor(request.id)->start(request.ms);
        } else if (auto it = timers_.find(request.id); it != timers_.end()) {
            it->second->stop();
        }
    }
}

bool QtTimerService::IsActive(int id) const
{
    auto it = timers_.find(id);
    return it != timers_.end() && it->second->isActive();
}

QTimer* QtTimerService::TimerFor(int id)
{
    auto it = timers_.find(id);
    if (it != timers_.end())
        return it->second;
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, id] {
        if (handler_)
            handler_(id);
    });
    timers_.emplace(id, timer);
    return timer;
}

} // namespace ostrim
