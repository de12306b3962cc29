#include "app/Headless.h"

#include "app/RunMonitor.h"
#include "app/Session.h"
#include "app/ThreadTimerService.h"
#include "platform/posix/Signals.h"

#include <atomic>
#include <filesystem>

namespace ostrim {

void PrintingFields::SetText(Field field, const std::string& text)
{
    std::lock_guard lock(mutex_);
    texts_[field] = text;
    if (field == Field::Status) {
        std::fprintf(out_, "%s\n", text.c_str());
        std::fflush(out_);
    }
}

std::string PrintingFields::GetText(Field field) const
{
    std::lock_guard lock(mutex_);
    auto it = texts_.find(field);
    return it == texts_.end() ? std::string() : it->second;
}

void PrintingFields::ShowMessage(const std::string& text)
{
    std::lock_guard lock(mutex_);
    std::string indented;
    for (char c : text) {
        indented += c;
        if (c == '\n')
            indented += "  ";
    }
    std::fprintf(err_, "ostrim: %s\n", indented.c_str());
    std::fflush(err_);
}

void PrintingFields::Print(const std::string& line)
{
    std::lock_guard lock(mutex_);
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
}

namespace {

// Runs until a signal. Nobody is there to press Start again when the receiver comes back (a USB
// adapter unplugged and plugged in again), so the run starts again by itself once its device
// is back: new logs, a new base-station check, as Start does.
void WaitRunning(Session& session, const CommandLine& line, std::atomic<bool>& disconnected)
{
    using namespace std::chrono_literals;
    while (WaitForTerminationSignalFor(1s) == 0) {
        std::error_code ignored;
        if (!disconnected || !std::filesystem::exists(line.gpsPort, ignored))
            continue;
        disconnected = false;
        if (session.Control().OnStart(line.gpsPort, line.basePort) != RunControl::StartOutcome::Running)
            disconnected = true; // try again at the next second
    }
}

} // namespace

int RunHeadless(const CommandLine& line)
{
    BlockTerminationSignals(); // before any thread starts, so only the wait below sees them

    PrintingFields fields(stdout, stderr);
    fields.SetText(Field::VehicleType, line.vehicleType.value_or(kDefaultVehicleType));
    fields.SetText(Field::Folder, line.folder);
    fields.SetText(Field::SensorFile, line.sensorFile);
    fields.SetText(Field::NodeId, kDefaultNodeId);

    ThreadTimerService timers;
    std::atomic<bool> disconnected{false};
    RunMonitor monitor;
    MonitoredFields monitored(fields, monitor);
    Session session(monitored, timers,
                    Session::Hooks{[port = line.basePort] { return port; }, {},
                                   [&disconnected] { disconnected = true; }});
    monitor.Attach(session.State(), session.Table(), session.Input());
    timers.SetHandler([&session](int id) { session.Engine().OnTimer(id); });

    RunControl& control = session.Control();
    if (line.backAndForth)
        control.OnBackAndForth();
    if (!line.triggerOn)
        control.OnTriggerOnOff();

    int result = 0;
    switch (control.OnStart(line.gpsPort, line.basePort)) {
    case RunControl::StartOutcome::GpsPortFailed:
        result = 2; // the message is already on standard error
        break;
    case RunControl::StartOutcome::LogFailed:
        std::fprintf(stderr, "ostrim: cannot create the logs in \"%s\"\n", line.folder.c_str());
        result = 3;
        break;
    case RunControl::StartOutcome::Running:
        WaitRunning(session, line, disconnected);
        break;
    }
    timers.Stop();
    session.Stop();
    if (monitor.RunStarted())
        fields.Print(monitor.Summary());
    return result;
}

} // namespace ostrim
