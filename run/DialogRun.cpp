#include "run/DialogRun.h"

namespace ostrim {

DialogRun::DialogRun(DialogFields& fields, TimerService& timers, DialogView view,
                     std::function<std::string()> selectedBasePort, TriggerEngine::Trace trace)
    : view_(std::move(view)), timers_(timers)
{
    Session::Hooks hooks;
    hooks.trace = std::move(trace);
    hooks.selectedBasePort = std::move(selectedBasePort);
    // Start again once the receiver is back: it opens the port anew and starts new logs.
    hooks.onDisconnected = [this] {
        if (view_.enableStart)
            view_.enableStart();
    };
    // The status line is soon replaced; the title keeps the warning in view while it holds.
    hooks.onSpacing = [this](const std::string& warning) {
        if (view_.setTitle)
            view_.setTitle(TitleFor(warning));
    };
    session_ = std::make_unique<Session>(fields, timers_, std::move(hooks));
    timers_.Plans().SetHandler([this](int id) { session_->Engine().OnTimer(id); });
}

DialogRun::~DialogRun()
{
    Stop();
}

void DialogRun::Stop()
{
    EndProbe();
    session_->Stop(); // ends a switch in progress, so the plans' thread can be joined
    timers_.Plans().Stop();
}

bool DialogRun::PlanTimers::IsPlan(int id)
{
    return id >= kPredictedTimer && id < kPredictedTimer + kPredictedTimerIds;
}

void DialogRun::PlanTimers::StartTimer(int id, std::chrono::milliseconds period)
{
    if (IsPlan(id))
        plans_.StartTimer(id, period);
    else
        window_.StartTimer(id, period);
}

void DialogRun::PlanTimers::KillTimer(int id)
{
    if (IsPlan(id))
        plans_.KillTimer(id);
    else
        window_.KillTimer(id);
}

std::string DialogRun::TitleFor(const std::string& warning)
{
    return warning.empty() ? std::string("Ostrim") : "Ostrim - " + warning;
}

void DialogRun::ProbePorts(PortListen listen, std::vector<std::string> devices, PortProbe::Done done)
{
    probe_ = std::make_unique<PortProbe>(std::move(listen));
    probe_->Start(std::move(devices), std::move(done));
}

RunControl::StartOutcome DialogRun::Start(const std::string& gpsPort, const std::string& basePort,
                                          const std::string& gpsName)
{
    EndProbe(); // its ports closed before the run opens them
    return session_->Start(gpsPort, basePort, gpsName);
}

void DialogRun::Tick()
{
    if (session_->Tick().gpsFellSilent && view_.enableStart)
        view_.enableStart();
}

} // namespace ostrim
