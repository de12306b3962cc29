#include "basestation/BaseStationCommands.h"

#include "sensors/SensorFile.h"

#include "basestation/RadioFrameBuilder.h"

#include <chrono>
#include <cstdio>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

namespace ostrim {
namespace {

constexpr std::uint8_t kPing = 0x01;
constexpr std::uint8_t kPingAnswer = 0x01;
constexpr std::uint8_t kNodeCommand = 0xFE;
// The node needs the pulse; the radio needs nothing between the two frames.
constexpr std::chrono::milliseconds kPulse = kNodePulse;
// Two frames of a switch take 10 ms on a working line; this caps a device that takes each byte
// only just inside a write's limit, so that a switch still ends within 2.5 s.
constexpr std::chrono::milliseconds kFrameLimit{500};
// The Node Id box is read into a 260-byte buffer: 259 characters and the terminator.
constexpr std::size_t kNodeIdTextMax = 259;

std::string NodeStatus(std::uint32_t nodeId, bool ok)
{
    // The id is shown as a signed decimal number, as the operators know it.
    char text[40];
    std::snprintf(text, sizeof text, ok ? "Node %d success" : "Node %d failed",
                  static_cast<int>(static_cast<std::int32_t>(nodeId)));
    return text;
}

// Why a frame did not go out whole, for the event log; empty when it did.
std::string FrameFailure(int result)
{
    if (result == 0)
        return {};
    if (result == 1)
        return "the base station did not take the frame in time";
    return "the write call failed";
}

// The process's one line to the base station.
std::mutex& ExchangeMutex()
{
    static std::mutex mutex;
    return mutex;
}

} // namespace

BaseStationExchange::BaseStationExchange(const std::string& portName, int stopFd)
    : lock_(ExchangeMutex()), handle_(OpenBaseStationPort(portName.c_str(), stopFd))
{
    if (handle_ == nullptr)
        openError_ = LastBaseStationOpenError();
}

BaseStationExchange::~BaseStationExchange()
{
    if (handle_ != nullptr)
        CloseBaseStationPort(handle_);
}

int PingBaseStation(BaseStationPortHandle handle)
{
    // The write discards whatever waits in the input first, so a stale byte is never taken for
    // the answer.
    if (int result = WriteBaseStationPort(handle, &kPing, 1))
        return result;
    std::uint8_t answer = 0;
    if (int result = ReadBaseStationPort(handle, &answer, 1))
        return result;
    return answer == kPingAnswer ? 0 : 2;
}

int SendNodeCommand(BaseStationPortHandle handle, std::uint32_t nodeId, int on)
{
    std::vector<std::uint8_t> frame = RadioFrameBuilder().MakeTxRequest(
        {kNodeCommand, static_cast<std::uint8_t>(on != 0 ? 0x01 : 0x00)}, nodeId);
    const auto end = std::chrono::steady_clock::now() + kFrameLimit;
    // One byte a write, as the base station has always been fed.
    for (std::uint8_t byte : frame) {
        if (std::chrono::steady_clock::now() >= end)
            return 1;
        if (int result = WriteBaseStationPort(handle, &byte, 1))
            return result;
    }
    return 0;
}

std::uint32_t ParseNodeIdText(const std::string& text)
{
    // The sensor file's node-id rule; only the default when nothing converts differs.
    std::uint32_t value = 0;
    return ScanHex32(text, value) ? value : kDefaultTestNode;
}

BaseStationCommands::BaseStationCommands(DialogFields& fields,
                                         std::function<std::string()> selectedPort)
    : fields_(fields), selectedPort_(std::move(selectedPort))
{
    stop_.Create(); // without it nothing cuts a wait short, yet every wait still ends in time
}

void BaseStationCommands::Stop()
{
    stop_.Raise();
}

void BaseStationCommands::Raise(EventType type, std::uint32_t nodeId, EventResult result,
                                std::string reason)
{
    if (events_ == nullptr)
        return;
    RunEvent event;
    event.type = type;
    event.nodeId = nodeId;
    event.hasNode = true;
    event.result = result;
    event.reason = std::move(reason);
    events_->OnEvent(event);
}

int BaseStationCommands::SwitchNode(std::uint32_t nodeId)
{
    // The program is ending: a node not switched on needs no off, and each switch would add
    // its own short waits to the stop (one fix may find several sensors due).
    if (stop_.IsRaised()) {
        Raise(EventType::NodeOn, nodeId, EventResult::WriteFailed, "not sent: the program is ending");
        return 0;
    }
    BaseStationExchange port(PortNameFromListText(selectedPort_ ? selectedPort_() : std::string()),
                             stop_.Fd());
    // Raised while this switch waited for another exchange: as above.
    if (stop_.IsRaised()) {
        Raise(EventType::NodeOn, nodeId, EventResult::WriteFailed, "not sent: the program is ending");
        return 0;
    }
    if (!port) {
        const int err = port.OpenError();
        Raise(EventType::NodeOn, nodeId, EventResult::OpenFailed,
              err != 0 ? std::generic_category().message(err) : std::string("no port selected"));
        fields_.SetText(Field::Status, "Base station failed to open");
        return 0;
    }
    int on = SendNodeCommand(port.Get(), nodeId, 1);
    Raise(EventType::NodeOn, nodeId, on == 0 ? EventResult::Written : EventResult::WriteFailed,
          FrameFailure(on));
    std::this_thread::sleep_for(kPulse);
    // The off command goes out even when the on command failed: a node must not stay on.
    int off = SendNodeCommand(port.Get(), nodeId, 0);
    Raise(EventType::NodeOff, nodeId, off == 0 ? EventResult::Written : EventResult::WriteFailed,
          FrameFailure(off));
    fields_.SetText(Field::Status, NodeStatus(nodeId, on == 0 && off == 0));
    return 1;
}

void BaseStationCommands::OnPing()
{
    BaseStationExchange port(PortNameFromListText(selectedPort_ ? selectedPort_() : std::string()),
                             stop_.Fd());
    if (!port) {
        fields_.SetText(Field::Status, "Base station failed to open");
        return;
    }
    fields_.SetText(Field::Status, PingBaseStation(port.Get()) == 0
                                       ? "Successfully pinged base station"
                                       : "Failed to ping base station");
}

void BaseStationCommands::OnTestNode()
{
    std::string text = fields_.GetText(Field::NodeId);
    if (text.size() > kNodeIdTextMax)
        text.resize(kNodeIdTextMax);
    const std::uint32_t nodeId = ParseNodeIdText(text);
    if (events_ != nullptr) {
        RunEvent firing;
        firing.type = EventType::Firing;
        firing.kind = FiringKind::TestNode;
        firing.nodeId = nodeId;
        firing.hasNode = true;
        events_->OnEvent(firing);
    }
    SwitchNode(nodeId);
}

} // namespace ostrim
