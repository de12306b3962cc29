#pragma once
// The control command's requests carried out on a run (run/ControlProtocol.h has the words):
// what Trigger On/Off and End of Lap do in the dialog, and the run panel as text.
//
// Thread rule: Answer runs on the run's own thread, where the front end calls RunControl (the
// headless run's signal loop); it reads the monitor's snapshot, which reads the sensor table.

#include "run/RunControl.h"
#include "run/RunMonitor.h"
#include "runstate/DialogFields.h"
#include "runstate/RunState.h"

#include <string>
#include <string_view>
#include <vector>

namespace ostrim {

class ControlCommands {
public:
    ControlCommands(RunControl& control, const RunState& state, RunMonitor& monitor,
                    DialogFields& fields)
        : control_(control), state_(state), monitor_(monitor), fields_(fields)
    {
    }

    // The reply to one request line: ControlOk with what the operator reads, or ControlError.
    std::string Answer(std::string_view line);

private:
    std::string Trigger(bool on);
    std::string Lap();
    std::string ReloadSensors();

    RunControl& control_;
    const RunState& state_;
    RunMonitor& monitor_;
    DialogFields& fields_;
};

// History entries the status shows, newest last.
inline constexpr std::size_t kStatusEvents = 10;

// The run panel as text, in the panel's own words (run/PanelText.h): the state indicator, fixes
// logged and held, the last fix, the logs, nodes switched, a row a sensor and the last events.
std::string StatusText(const RunSnapshot& run, const std::vector<HistoryEntry>& lastEvents);

} // namespace ostrim
