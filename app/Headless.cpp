#include "app/Headless.h"

#include "app/HeadlessControl.h"
#include "run/PanelText.h"
#include "run/ReceiverLag.h"
#include "run/Session.h"
#include "run/ThreadTimerService.h"
#include "platform/Signals.h"

#include <cerrno>
#include <csignal>
#include <system_error>

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

// The facts of a run that no status text carries, as lines of their own.
class EventLines : public EventSink {
public:
    explicit EventLines(PrintingFields& fields) : fields_(fields) {}
    void OnEvent(const RunEvent& event) override
    {
        if (event.type == EventType::Missed)
            fields_.Print(MissLine(event));
        else if (event.type == EventType::SensorsApplied)
            fields_.Print("Sensor table reloaded: in force from this fix");
    }

private:
    PrintingFields& fields_;
};

// Runs until SIGINT or SIGTERM, acting on the operator's signals on this thread as the dialog
// acts on its buttons, and ticking the run once a second: nobody is there to press Start again
// when the receiver comes back, nor to switch triggering on after a failed base-station check.
void WaitRunning(Session& session, HeadlessControl& remote)
{
    for (;;) {
        switch (WaitForRunSignalOrInput(remote.PendingFd(), 1s)) {
        case kInputReady:
            remote.AnswerPending();
            break;
        case SIGINT:
        case SIGTERM:
            return;
        case kTriggerOnOffSignal:
            session.Control().OnTriggerOnOff();
            break;
        case kEndOfLapSignal:
            session.Control().OnEndOfLap();
            break;
        case kReloadSensorsSignal:
            session.Control().OnReloadSensors();
            break;
        default:
            break;
        }
        session.Tick();
    }
}

// Held records go to the rescue folder; 0, or 4 when some are lost all the same.
int RescueHeldRecords(Session& session, PrintingFields& fields)
{
    const HeldRecords held = session.Held();
    std::size_t lost = session.Logs().Dropped();
    if (held.records > 0) {
        const std::string folder = session.DefaultRescueFolder();
        const RescueResult rescue = session.Rescue(folder);
        if (rescue.written > 0)
            fields.Print(std::to_string(rescue.written) + " records not written during the run are in " + folder);
        if (rescue.lost > 0)
            fields.ShowMessage("cannot write the held records to " + folder + ": " +
                               std::generic_category().message(rescue.error));
        lost += rescue.lost;
    }
    return lost > 0 ? 4 : 0;
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
    Session::Hooks hooks{[port = line.basePort] { return port; },
                         [&fields](const std::string& text) { fields.Write(text); }, {}};
    hooks.restartWhenReceiverBack = true;
    Session session(fields, timers, std::move(hooks));
    EventLines eventLines(fields);
    session.Events().AddListener(eventLines);
    timers.SetHandler([&session](int id) { session.Engine().OnTimer(id); });

    RunControl& control = session.Control();
    control.ChooseRule(line.predictive);
    control.SetReceiverDelay(line.receiverDelayMs);
    if (line.backAndForth)
        control.OnBackAndForth();
    if (!line.triggerOn)
        control.OnTriggerOnOff();

    // Opened before Start, so a name already in use ends the program before it takes a port.
    HeadlessControl remote(control, session.State(), session.Monitor(), session.Fields());
    if (line.name) {
        if (const std::string error = remote.Open(*line.name); !error.empty()) {
            std::fprintf(stderr, "ostrim: %s\n", error.c_str());
            EndRun(session, timers);
            return 2;
        }
    }

    int result = 0;
    switch (session.Start(line.gpsPort, line.basePort, line.gpsPort)) {
    case RunControl::StartOutcome::GpsPortFailed:
        result = 2; // the message is already on standard error
        break;
    case RunControl::StartOutcome::LogFailed:
        std::fprintf(stderr, "ostrim: cannot create the logs in \"%s\"\n", line.folder.c_str());
        result = 3;
        break;
    case RunControl::StartOutcome::Running:
        WaitRunning(session, remote);
        break;
    }
    EndRun(session, timers);
    if (session.Monitor().RunStarted()) {
        const int rescue = RescueHeldRecords(session, fields);
        if (result == 0)
            result = rescue;
        fields.Print(session.Summary());
        // What the receiver delay should be: measured at every fix, told at the end.
        if (session.State().predictive.load() != 0)
            fields.Print(ReceiverLagText(session.Monitor().Take().receiverLag));
    }
    return result;
}

} // namespace ostrim
