#include "app/Headless.h"

#include "app/HeadlessControl.h"
#include "run/RunMonitor.h"
#include "run/Session.h"
#include "run/SilenceWatch.h"
#include "run/ThreadTimerService.h"
#include "platform/PortList.h"
#include "platform/Signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>

namespace ostrim {

void PrintingFields::Emit(Stream& stream, const std::string& text, bool flush)
{
    if (stream.gone)
        return;
    errno = 0;
    bool failed = std::fputs(text.c_str(), stream.file) == EOF;
    if (flush)
        failed = std::fflush(stream.file) == EOF || failed;
    if (!failed)
        return;
    // Nobody reads any more (a closed pipe): stop trying. Other errors may pass (a full disk
    // behind a redirection), so the next line tries again.
    if (errno == EPIPE)
        stream.gone = true;
    std::clearerr(stream.file);
}

void PrintingFields::SetText(Field field, const std::string& text)
{
    std::lock_guard lock(mutex_);
    texts_[field] = text;
    if (field == Field::Status)
        Emit(out_, text + "\n", true);
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
    Emit(err_, "ostrim: " + indented + "\n", true);
}

void PrintingFields::Print(const std::string& line)
{
    std::lock_guard lock(mutex_);
    Emit(out_, line + "\n", true);
}

void PrintingFields::Write(const std::string& text)
{
    std::lock_guard lock(mutex_);
    Emit(out_, text, false);
}

namespace {

using namespace std::chrono_literals;

// Often enough that a base station plugged in late is used within seconds; rarely enough that
// its exclusive open seldom meets a node switch of the reader thread.
constexpr auto kRecheckEvery = 3s;

// Runs until SIGINT or SIGTERM, acting on the operator's signals on this thread as the dialog
// acts on its buttons. Nobody is there to press Start again when the receiver comes back (a USB
// adapter unplugged and plugged in again), so the run starts again by itself once its device
// is back: new logs, a new base-station check, as Start does. Nor is anybody there to switch
// triggering on again after a failed check, so the check is repeated until the base station
// answers.
void WaitRunning(Session& session, PrintingFields& fields, const CommandLine& line,
                 std::atomic<bool>& disconnected, HeadlessControl& remote)
{
    RunControl& control = session.Control();
    auto nextRecheck = std::chrono::steady_clock::now() + kRecheckEvery;
    SilenceWatch silence;
    silence.Arm(line.gpsPort, SilenceWatch::Clock::now(), session.Input().Accepted());
    for (;;) {
        switch (WaitForRunSignalOrInput(remote.PendingFd(), 1s)) {
        case kInputReady:
            remote.AnswerPending();
            break;
        case SIGINT:
        case SIGTERM:
            return;
        case kTriggerOnOffSignal:
            control.OnTriggerOnOff();
            break;
        case kEndOfLapSignal:
            // The dialog shows nothing on success; here the new name is all there is to see.
            if (control.OnEndOfLap())
                fields.SetText(Field::Status, "End of Lap: " + session.State().logPaths.Gps());
            break;
        default:
            break;
        }
        const std::string silent =
            silence.Check(SilenceWatch::Clock::now(), session.Input().Accepted());
        if (!silent.empty())
            fields.SetText(Field::Status, silent);
        if (disconnected && SerialPortPresent(line.gpsPort)) {
            disconnected = false;
            if (control.OnStart(line.gpsPort, line.basePort) != RunControl::StartOutcome::Running)
                disconnected = true; // try again at the next second
        }
        const auto now = std::chrono::steady_clock::now();
        if (control.TriggeringHeldByCheck() && now >= nextRecheck) {
            control.RecheckBaseStation(line.basePort);
            nextRecheck = now + kRecheckEvery;
        }
    }
}

} // namespace

int RunHeadless(const CommandLine& line)
{
    BlockRunSignals(); // before any thread starts, so only the wait below sees them

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
                    Session::Hooks{[port = line.basePort] { return port; },
                                   [&fields](const std::string& text) { fields.Write(text); },
                                   [&disconnected] { disconnected = true; }});
    monitor.Attach(session.State(), session.Table(), session.Input());
    timers.SetHandler([&session](int id) { session.Engine().OnTimer(id); });

    RunControl& control = session.Control();
    control.ChooseRule(line.predictive);
    control.SetReceiverDelay(line.receiverDelayMs);
    if (line.backAndForth)
        control.OnBackAndForth();
    if (!line.triggerOn)
        control.OnTriggerOnOff();

    // Opened before Start, so a name already in use ends the program before it takes a port.
    HeadlessControl remote(control, session.State(), monitor, monitored);
    if (line.name) {
        if (const std::string error = remote.Open(*line.name); !error.empty()) {
            std::fprintf(stderr, "ostrim: %s\n", error.c_str());
            timers.Stop();
            session.Stop();
            return 2;
        }
    }

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
        WaitRunning(session, fields, line, disconnected, remote);
        break;
    }
    timers.Stop();
    session.Stop();
    if (monitor.RunStarted()) {
        fields.Print(monitor.Summary());
        if (const std::string late = session.LateFiringsText(); !late.empty()) {
            fields.Print(late);
            // What the receiver delay should be: measured at every fix, told at the end.
            fields.Print(ReceiverLagText(monitor.Take().receiverLag));
        }
    }
    return result;
}

} // namespace ostrim
