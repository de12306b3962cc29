#pragma once
// The trigger engine's timers as QTimers on the GUI thread.
//
// Thread rule: StartTimer and KillTimer may be called from any thread; they are queued to the
// thread this object lives on (the GUI thread) and act there in call order. Each id has one
// single-shot QTimer; starting a running timer restarts it with the new period. The handler runs
// on the GUI thread.

#include "trigger/TriggerInterfaces.h"

#include <QObject>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

class QTimer;

namespace ostrim {

class QtTimerService : public QObject, public TimerService {
    Q_OBJECT

public:
    using Handler = std::function<void(int id)>;

    explicit QtTimerService(QObject* parent = nullptr);

    // Set on the GUI thread before the first StartTimer, e.g. to the engine's OnTimer.
    void SetHandler(Handler handler);

    void StartTimer(int id, std::chrono::milliseconds period) override;
    void KillTimer(int id) override;
    // A monotonic clock, as QTimer's.
    std::chrono::milliseconds Now() const override
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    }

    // GUI thread: whether the timer is running (for tests and the headless trace).
    bool IsActive(int id) const;

private:
    // Runs on the GUI thread for each posted request; the requests travel through requests_
    // under mutex_ so ThreadSanitizer sees the hand-over (Qt's event queue synchronises inside an
    // uninstrumented library).
    Q_INVOKABLE void ApplyQueued();
    QTimer* TimerFor(int id);

    struct Request {
        int id;
        int ms; // -1: kill
    };
    std::mutex mutex_;
    std::deque<Request> requests_;

    Handler handler_;
    std::map<int, QTimer*> timers_; // children of this object
};

} // namespace ostrim
