#include "tools/sim/BaseStationSim.h"

#include "platform/posix/Poll.h"
#include "tools/sim/SimDevice.h"

#include <mutex>

namespace ostrim::sim {
namespace {

using namespace std::chrono_literals;

constexpr std::uint8_t kPingAnswer = 0x01;
// How often a quiet line is looked at, to report stray bytes and frames cut off.
constexpr auto kIdleLook = 100ms;

} // namespace

struct BaseStationSim::Impl {
    SimDevice device;
    std::function<void(const NodeCommand&)> onCommand;
    std::function<void(const std::string&)> onLine;
    std::atomic<bool> answering{true};

    mutable std::mutex mutex;
    std::vector<NodeCommand> commands;
    std::atomic<int> pings{0};
    std::atomic<int> badFrames{0};
    std::atomic<int> strayBytes{0};

    void Run();
    void Handle(const Decoded& d);
};

void BaseStationSim::Impl::Run()
{
    const PseudoTerminal& pty = device.Pty();
    const EventFd& stop = device.StopEvent();
    FrameDecoder decoder;
    std::vector<Decoded> decoded;
    std::uint8_t buffer[256];
    for (;;) {
        PollEntry entries[2] = {{.fd = stop.Fd(), .wantRead = true},
                                {.fd = pty.MasterFd(), .wantRead = true}};
        if (PollUntil(entries, Deadline::After(kIdleLook)) != 0 || entries[0].readable)
            return;
        decoded.clear();
        auto now = std::chrono::system_clock::now();
        if (!entries[1].Ready()) {
            decoder.Idle(now, &decoded);
        } else {
            std::size_t got = 0;
            if (pty.ReadMaster(buffer, sizeof buffer, &got) != 0) {
                // Not expected while the spare slave is held; do not spin on it.
                PollEntry wait{.fd = stop.Fd(), .wantRead = true};
                PollUntil({&wait, 1}, Deadline::After(kIdleLook));
                continue;
            }
            decoder.Feed(buffer, got, now, &decoded);
        }
        for (const Decoded& d : decoded)
            Handle(d);
    }
}

void BaseStationSim::Impl::Handle(const Decoded& d)
{
    bool answered = answering.load();
    switch (d.kind) {
    case Decoded::Kind::Ping:
        ++pings;
        if (answered) {
            std::size_t written = 0;
            device.Pty().WriteMaster(&kPingAnswer, 1, 1s, &written);
        }
        break;
    case Decoded::Kind::Command:
        if (!d.command.checksumOk)
            ++badFrames;
        {
            std::lock_guard lock(mutex);
            commands.push_back(d.command);
        }
        if (onCommand)
            onCommand(d.command);
        break;
    case Decoded::Kind::BadFrame:
        ++badFrames;
        break;
    case Decoded::Kind::StrayBytes:
        strayBytes += static_cast<int>(d.strayCount);
        break;
    }
    if (onLine) {
        if (d.kind == Decoded::Kind::Ping)
            onLine(d.line + (answered ? ", answered" : ", not answered"));
        else
            onLine(d.line);
    }
}

BaseStationSim::BaseStationSim() : impl_(std::make_unique<Impl>()) {}

BaseStationSim::~BaseStationSim()
{
    Stop();
}

bool BaseStationSim::Start(std::string* error)
{
    return impl_->device.Start("base station", [impl = impl_.get()] { impl->Run(); }, error);
}

std::string BaseStationSim::DevicePath() const
{
    return impl_->device.Pty().SlavePath();
}

void BaseStationSim::Stop()
{
    impl_->device.Stop();
}

void BaseStationSim::SetOnCommand(std::function<void(const NodeCommand&)> onCommand)
{
    impl_->onCommand = std::move(onCommand);
}

void BaseStationSim::SetOnLine(std::function<void(const std::string&)> onLine)
{
    impl_->onLine = std::move(onLine);
}

void BaseStationSim::SetAnswering(bool answering)
{
    impl_->answering.store(answering);
}

std::vector<NodeCommand> BaseStationSim::Commands() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->commands;
}

int BaseStationSim::Pings() const
{
    return impl_->pings.load();
}

int BaseStationSim::BadFrames() const
{
    return impl_->badFrames.load();
}

int BaseStationSim::StrayBytes() const
{
    return impl_->strayBytes.load();
}

} // namespace ostrim::sim
