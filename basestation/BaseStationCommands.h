#pragma once
// What the program says to the base station: the one-byte ping and the node on/off frames.

#include "runstate/DialogFields.h"
#include "runstate/RunEvents.h"
#include "basestation/BaseStationPort.h"
#include "platform/EventFd.h"
#include "trigger/TriggerInterfaces.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace ostrim {

// 0 answered 0x01; 1 no answer within the read time-out; -1 a call failed; 2 another byte.
int PingBaseStation(BaseStationPortHandle handle);
// The 17-byte frame, one byte a write. 0, 1 or -1 (the first failing write's result). A frame
// still unfinished after 500 ms (a device that takes each byte only just in time) gives 1.
int SendNodeCommand(BaseStationPortHandle handle, std::uint32_t nodeId, int on);

// One exchange with the base station: the port opened for it and closed after it. Every exchange
// of the process holds one lock from before the open until after the close, so a switch that
// meets a ping (or another switch) waits for it, at most about 600 ms, instead of finding the
// port held (the open is exclusive) and being lost.
//
// Thread rule: any thread; the exchange belongs to the thread that made it. A thread must not
// make a second one while it holds one.
class BaseStationExchange {
public:
    // `stopFd` as OpenBaseStationPort takes it.
    explicit BaseStationExchange(const std::string& portName, int stopFd = -1);
    ~BaseStationExchange();
    BaseStationExchange(const BaseStationExchange&) = delete;
    BaseStationExchange& operator=(const BaseStationExchange&) = delete;

    BaseStationPortHandle Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    // errno of a failed open; 0 when the port opened.
    int OpenError() const { return openError_; }

private:
    std::unique_lock<std::mutex> lock_; // released after the close, in the destructor's wake
    BaseStationPortHandle handle_ = nullptr;
    int openError_ = 0;
};

// The Test Node rule: "%X" of the text, 0x403BA38B when nothing converts.
std::uint32_t ParseNodeIdText(const std::string& text);
inline constexpr std::uint32_t kDefaultTestNode = 0x403BA38B;

// Switching, Ping and Test Node on the port selected in the front end.
// Thread rule: any thread may call these; each opens, exchanges and closes on its own thread, as a
// BaseStationExchange.
class BaseStationCommands : public NodeSwitcher {
public:
    // `selectedPort` gives the device path of the selected base-station port, empty for none.
    BaseStationCommands(DialogFields& fields, std::function<std::string()> selectedPort);

    // Told of each frame of a node command, as it went (NodeOn, NodeOff), and of Test Node's
    // firing. Set before the run starts.
    void SetEventSink(EventSink* events) { events_ = events; }

    // A switch with a base station that takes no bytes reads "Node %d failed" within 2.5 s.
    int SwitchNode(std::uint32_t nodeId) override;
    void OnPing();
    void OnTestNode();

    // For the end of the program, from any thread: an exchange in progress stops waiting for a
    // device that takes no bytes (see OpenBaseStationPort), so the thread that runs it can be
    // joined at once; a working device still gets its frames. Later switches send nothing and
    // return 0; pings go on with short waits.
    void Stop();

private:
    void Raise(EventType type, std::uint32_t nodeId, EventResult result, std::string reason);

    DialogFields& fields_;
    EventSink* events_ = nullptr;
    std::function<std::string()> selectedPort_;
    EventFd stop_;
};

} // namespace ostrim
