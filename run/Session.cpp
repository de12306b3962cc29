#include "run/Session.h"

#include "gps/PortMonitor.h"
#include "platform/LocalTime.h"
#include "platform/PortList.h"
#include "run/ThreadTimerService.h"

#include <cstdlib>

namespace ostrim {

namespace {
constexpr char kReceiverLost[] = "GPS receiver disconnected";

void RaiseReceiver(EventSink& events, EventType type)
{
    RunEvent event;
    event.type = type;
    events.OnEvent(event);
}
} // namespace

// The engine's own texts after the receiver has gone come from its timers, unasked; the
// disconnection is shown again after each, so the operator still sees why nothing moves.
class Session::EngineFields : public DialogFields {
public:
    EngineFields(DialogFields& fields, const std::atomic<bool>& receiverLost)
        : fields_(fields), receiverLost_(receiverLost)
    {
    }
    void SetText(Field field, const std::string& text) override
    {
        fields_.SetText(field, text);
        if (field == Field::Status && receiverLost_.load())
            fields_.SetText(Field::Status, kReceiverLost);
    }
    std::string GetText(Field field) const override { return fields_.GetText(field); }
    void ShowMessage(const std::string& text) override { fields_.ShowMessage(text); }

private:
    DialogFields& fields_;
    const std::atomic<bool>& receiverLost_;
};

// Feeds the GPS port's characters into the chain, one at a time, and asks for the next only
// when the chain is done with this one.
class Session::ReaderLink : public GpsReceiverLink {
public:
    explicit ReaderLink(Session& session) : session_(session) {}

    int Open(const std::string& path, int& error) override
    {
        Stop(); // a reader ended here is not a receiver lost
        monitor_ = std::make_unique<PortMonitor>();
        monitor_->SetCallback(&ReaderLink::Notify, this);
        stopping_.store(false);
        // The receiver's line: 38400 baud, no parity, 8 data bits, modem lines watched.
        const int result = monitor_->Open(path.c_str(), 38400, 0, 8, 1);
        error = result == 0 ? 0 : monitor_->LastError();
        if (result != 0)
            monitor_.reset();
        else if (session_.receiverLost_.exchange(false))
            RaiseReceiver(session_.events_, EventType::ReceiverBack);
        return result;
    }

    bool Running() const override { return monitor_ && monitor_->Running(); }

    void Stop() override
    {
        stopping_.store(true);
        if (monitor_)
            monitor_->Stop();
    }

private:
    static void Notify(PortMonitor* monitor, std::int32_t code, void* context)
    {
        auto* self = static_cast<ReaderLink*>(context);
        if (monitor == nullptr || self == nullptr)
            return;
        if (code == 3) {
            self->session_.input_.AssembleSentence(monitor->GetReadCount(), monitor->GetReadBuffer());
            monitor->RequestNextRead();
        } else if (code == 1 && !self->stopping_.load()) {
            self->session_.receiverLost_.store(true);
            self->session_.restartPending_.store(true);
            RaiseReceiver(self->session_.events_, EventType::ReceiverLost);
            self->session_.fields_.SetText(Field::Status, kReceiverLost);
            if (self->session_.hooks_.onDisconnected)
                self->session_.hooks_.onDisconnected();
        }
    }

    Session& session_;
    std::unique_ptr<PortMonitor> monitor_;
    std::atomic<bool> stopping_{false};
};

class Session::PingCheck : public BaseStationCheck {
public:
    // The list entry's text, mapped as the node commands map it: a check of another device
    // than the one they open would switch triggering off for nothing.
    Result Check(const std::string& listText) override
    {
        const std::string port = PortNameFromListText(listText);
        const BaseStationExchange exchange(port);
        if (!exchange)
            return kOpenFailed;
        return PingBaseStation(exchange.Get()) == 0 ? kOk : kPingFailed;
    }
};

// Tells the pass tracker of each firing, from whichever thread makes it, and of a table loaded on
// the GUI thread, which the reader thread then tracks.
class Session::PassFeed : public EventSink {
public:
    explicit PassFeed(Session& session) : session_(session) {}
    void OnEvent(const RunEvent& event) override
    {
        if (event.type == EventType::Firing && event.sensor >= 0)
            session_.passes_.Firing(event.sensor);
        else if (event.type == EventType::SensorsLoaded)
            session_.tableLoaded_.store(true);
    }

private:
    Session& session_;
};

Session::Session(DialogFields& fields, TimerService& timers, Hooks hooks)
    : frontFields_(fields), hooks_(std::move(hooks)),
      baseStation_(fields_, hooks_.selectedBasePort ? hooks_.selectedBasePort
                                                    : std::function<std::string()>([] { return std::string(); })),
      engineFields_(std::make_unique<EngineFields>(fields_, receiverLost_)),
      engine_(state_, table_, *engineFields_, timers, baseStation_, hooks_.trace),
      spacing_(state_, fields_, engine_, hooks_.onSpacing), input_(state_, fields_, logs_, spacing_),
      reader_(std::make_unique<ReaderLink>(*this)), pingCheck_(std::make_unique<PingCheck>()),
      control_(state_, table_, fields_, *reader_, *pingCheck_),
      passes_(PassTracker::Options{state_.distanceThreshold}, [this](const PassReport& pass) { OnPass(pass); },
              [this](int sensor, int firstInRegion) { return engine_.HeldReason(sensor, firstInRegion); }),
      passFeed_(std::make_unique<PassFeed>(*this))
{
    monitor_.Attach(state_, table_, input_, &logs_);
    events_.AddListener(monitor_);
    events_.AddListener(*passFeed_);
    baseStation_.SetEventSink(&events_);
    engine_.SetEventSink(&events_);
    input_.SetEventSink(&events_);
    input_.SetFixHook([this](const AcceptedFix& fix) { OnFixAccepted(fix); });
    control_.Link({&logs_, &events_,
                   [this](std::unique_ptr<SensorTable> table) { engine_.OfferTable(std::move(table)); }});
    control_.SetOnTriggerOff([this] { engine_.VoidPlans(); });
}

Session::~Session()
{
    Stop();
}

// On the reader thread, before the fix's own events and before the engine sees it.
void Session::OnFixAccepted(const AcceptedFix& fix)
{
    // Under quality 0 the receiver says it has no position, whatever the fields hold.
    if (fix.quality != 0)
        events_.OnFix(fix.latitude, fix.longitude, fix.utcMs);
    const bool applied = engine_.ApplyOfferedTable();
    // The passes of the table that was in force end here; the new table's begin.
    if (applied || tableLoaded_.exchange(false))
        passes_.SetSensors(TrackedSensorsOf(table_));
    if (applied) {
        RunEvent event;
        event.type = EventType::SensorsApplied;
        event.detail = std::to_string(table_.count.load()) + " sensors";
        events_.OnEvent(event);
    }
    passes_.Fix({fix.latitude, fix.longitude, fix.utcMs, fix.quality, fix.switching,
                 fix.latitudeHemisphere == 'S', fix.longitudeHemisphere == 'W'});
}

void Session::OnPass(const PassReport& pass)
{
    events_.OnEvent(PassEvent(pass, table_));
}

RunControl::StartOutcome Session::Start(const std::string& gpsPort, const std::string& basePort,
                                        const std::string& gpsName)
{
    if (startedAt_ == 0)
        startedAt_ = std::time(nullptr);
    gpsPort_ = gpsPort;
    basePort_ = basePort;
    const RunControl::StartOutcome outcome = control_.OnStart(gpsPort, basePort);
    if (outcome != RunControl::StartOutcome::GpsPortFailed)
        silence_.Arm(gpsName, SilenceWatch::Clock::now(), input_.Accepted());
    if (outcome == RunControl::StartOutcome::Running)
        restartPending_.store(false);
    nextRecheck_ = std::chrono::steady_clock::now() + kRecheckEvery;
    return outcome;
}

Session::TickResult Session::Tick()
{
    TickResult result;
    const std::string silent = silence_.Check(SilenceWatch::Clock::now(), input_.Accepted());
    if (!silent.empty()) {
        fields_.SetText(Field::Status, silent);
        result.gpsFellSilent = true;
    }

    if (hooks_.restartWhenReceiverBack && restartPending_.load() && !gpsPort_.empty()
        && SerialPortPresent(gpsPort_)) {
        // Start again, as the operator would: new logs, a new base-station check. A start that
        // does not get under way is tried again at the next tick.
        if (control_.OnStart(gpsPort_, basePort_) == RunControl::StartOutcome::Running)
            restartPending_.store(false);
        nextRecheck_ = std::chrono::steady_clock::now() + kRecheckEvery;
    }

    const auto now = std::chrono::steady_clock::now();
    if (recheck_.valid()) {
        if (recheck_.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
            control_.ApplyRecheck(recheck_.get());
            nextRecheck_ = now + kRecheckEvery;
        }
    } else if (control_.TriggeringHeldByCheck() && now >= nextRecheck_) {
        const std::string port = hooks_.selectedBasePort ? hooks_.selectedBasePort() : basePort_;
        if (port.empty()) {
            control_.ApplyRecheck(BaseStationCheck::kOpenFailed); // nothing selected to check
            nextRecheck_ = now + kRecheckEvery;
        } else {
            recheck_ = std::async(std::launch::async,
                                  [check = pingCheck_.get(), port] { return check->Check(port); });
        }
    }
    return result;
}

std::string Session::LateFiringsText() const
{
    if (state_.predictive.load() == 0)
        return {};
    const int late = engine_.LateFirings();
    return "Predictive trigger: " + std::to_string(late) + (late == 1 ? " firing" : " firings") +
           " late (a firing region crossed between fixes, unseen)";
}

std::string Session::Summary() const
{
    const std::string late = LateFiringsText();
    return late.empty() ? monitor_.Summary() : monitor_.Summary() + "\n" + late;
}

void Session::Stop()
{
    baseStation_.Stop(); // a switch stuck on the base station would hold the reader's join
    reader_->Stop();
    if (recheck_.valid())
        recheck_.wait();
    // The reader is joined: the passes still open end with the run, on this thread.
    passes_.End();
}

HeldRecords Session::Held()
{
    logs_.Retry();
    return logs_.Held();
}

RescueResult Session::Rescue(const std::string& folder)
{
    RescueResult rescue = logs_.Rescue(folder, startedAt_ != 0 ? startedAt_ : std::time(nullptr));
    monitor_.NoteRescue(rescue, folder);
    return rescue;
}

std::string Session::DefaultRescueFolder() const
{
    std::tm local{};
    const std::time_t start = startedAt_ != 0 ? startedAt_ : std::time(nullptr);
    char stamp[32] = "run";
    if (ToLocalTime(start, &local))
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H-%M-%S", &local);
#ifdef _WIN32
    const char* appData = std::getenv("LOCALAPPDATA");
    const std::string base = appData != nullptr && *appData != '\0' ? std::string(appData) : std::string("C:");
    return base + "\\Ostrim\\rescue\\" + stamp;
#else
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && *state == '/')
        return std::string(state) + "/ostrim/rescue/" + stamp;
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0')
        return std::string(home) + "/.local/state/ostrim/rescue/" + stamp;
    return std::string("/tmp/ostrim-rescue/") + stamp;
#endif
}

void EndRun(Session& session, ThreadTimerService& timers)
{
    session.Stop();
    timers.Stop();
}

} // namespace ostrim
