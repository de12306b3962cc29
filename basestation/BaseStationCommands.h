#pragma once
// What the program says to the base station: the one-byte ping and the node on/off frames.

#include "app/DialogFields.h"
#include "basestation/BaseStationPort.h"
#include "trigger/TriggerInterfaces.h"

#include <cstdint>
#include <functional>
#include <string>

namespace ostrim {

// 0 answered 0x01; 1 no answer within the read time-out; -1 a call failed; 2 another byte.
int PingBaseStation(BaseStationPortHandle handle);
// The 17-byte frame, one byte a write. 0, 1 or -1 (the first failing write's result).
int SendNodeCommand(BaseStationPortHandle handle, std::uint32_t nodeId, int on);

// The Test Node rule: "%X" of the text, 0x403BA38B when nothing converts.
std::uint32_t ParseNodeIdText(const std::string& text);
inline constexpr std::uint32_t kDefaultTestNode = 0x403BA38B;

// Switching, Ping and Test Node on the port selected in the front end.
// Thread rule: any thread may call these; each opens, exchanges and closes on its own thread.
class BaseStationCommands : public NodeSwitcher {
public:
    // `selectedPort` gives the device path of the selected base-station port, empty for none.
    BaseStationCommands(DialogFields& fields, std::function<std::string()> selectedPort);

    int SwitchNode(std::uint32_t nodeId) override;
    void OnPing();
    void OnTestNode();

private:
    DialogFields& fields_;
    std::function<std::string()> selectedPort_;
};

} // namespace ostrim
