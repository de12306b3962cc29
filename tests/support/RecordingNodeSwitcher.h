#pragma once
// A NodeSwitcher that records the nodes it is asked to switch and sets the status text the real
// one sets: "Node %d success", or "Base station failed to open" when told the port does not open.

#include "runstate/DialogFields.h"
#include "trigger/TriggerInterfaces.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace ostrim::test {

class RecordingNodeSwitcher : public NodeSwitcher {
public:
    explicit RecordingNodeSwitcher(DialogFields& fields) : fields_(fields) {}

    // Runs inside SwitchNode, where the real one waits 100 ms: a test acts for the other thread.
    std::function<void(std::uint32_t)> duringSwitch;

    int SwitchNode(std::uint32_t nodeId) override
    {
        {
            std::lock_guard lock(mutex_);
            switched_.push_back(nodeId);
        }
        if (duringSwitch)
            duringSwitch(nodeId);
        if (!portOpens_.load()) {
            fields_.SetText(Field::Status, "Base station failed to open");
            return 0;
        }
        fields_.SetText(Field::Status, SuccessText(nodeId));
        return 1;
    }

    static std::string SuccessText(std::uint32_t nodeId)
    {
        return "Node " + std::to_string(static_cast<std::int32_t>(nodeId)) + " success";
    }

    void SetPortOpens(bool opens) { portOpens_.store(opens); }
    std::vector<std::uint32_t> Switched() const
    {
        std::lock_guard lock(mutex_);
        return switched_;
    }
    void Clear()
    {
        std::lock_guard lock(mutex_);
        switched_.clear();
    }

private:
    DialogFields& fields_;
    std::atomic<bool> portOpens_{true};
    mutable std::mutex mutex_;
    std::vector<std::uint32_t> switched_;
};

} // namespace ostrim::test
