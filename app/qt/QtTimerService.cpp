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
    QMetaObject::invokeMethod(
        this, [this, id, ms] { TimerFor(id)->start(ms); }, Qt::QueuedConnection);
}

void QtTimerService::KillTimer(int id)
{
    QMetaObject::invokeMethod(
        this,
        [this, id] {
            auto it = timers_.find(id);
            if (it != timers_.end())
                it->second->stop();
        },
        Qt::QueuedConnection);
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
