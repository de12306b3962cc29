#pragma once
// A PositionConsumer that records every position it is given, in order.

#include "trigger/TriggerInterfaces.h"

#include <mutex>
#include <utility>
#include <vector>

namespace ostrim::test {

class RecordingPositionConsumer : public PositionConsumer {
public:
    int TriggerOnPosition(double latitude, double longitude) override
    {
        std::lock_guard lock(mutex_);
        positions_.emplace_back(latitude, longitude);
        return 0;
    }

    std::vector<std::pair<double, double>> Positions() const
    {
        std::lock_guard lock(mutex_);
        return positions_;
    }
    std::size_t Count() const
    {
        std::lock_guard lock(mutex_);
        return positions_.size();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<double, double>> positions_;
};

} // namespace ostrim::test
