#include "tools/sim/SimDevice.h"

#include <cstring>

namespace ostrim::sim {

bool SimDevice::Start(const std::string& what, std::function<void()> run, std::string* error)
{
    Stop();
    int err = stop_.Create();
    if (err == 0)
        err = pty_.Open();
    if (err != 0) {
        if (error != nullptr)
            *error = "cannot create the " + what + "'s pseudo-terminal: " + std::strerror(err);
        return false;
    }
    thread_ = std::thread(std::move(run));
    return true;
}

void SimDevice::Stop()
{
    if (thread_.joinable()) {
        stop_.Raise();
        thread_.join();
    }
    pty_ = PseudoTerminal();
}

} // namespace ostrim::sim
