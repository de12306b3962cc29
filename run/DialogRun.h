#pragma once
// The run behind a dialog's buttons, the same for the Qt and the Windows dialog: the Session,
// its once-a-second tick, and what the dialog is told when the receiver goes or the fixes
// spread out. The front end only shows it: enabling Start, the window title.
//
// Thread rule: Start, the other buttons' handlers, Tick, Stop, ProbePorts and EndProbe run on
// the GUI thread. The DialogView's functions are called from the GPS reader thread as well, and
// the probe's answer from its own; they must queue their work to the GUI thread.

#include "runstate/DialogFields.h"
#include "run/PortProbe.h"
#include "run/RunControl.h"
#include "run/Session.h"
#include "run/ThreadTimerService.h"

#include <functional>
#include <memory>
#include <string>

namespace ostrim {

struct DialogView {
    // Enables Start again: the receiver went away, or the GPS port has been silent. Any thread.
    std::function<void()> enableStart;
    // The window title to show. Any thread.
    std::function<void(const std::string& title)> setTitle;
};

class DialogRun {
public:
    // `selectedBasePort` gives the Base Station list's selection, from any thread.
    DialogRun(DialogFields& fields, TimerService& timers, DialogView view,
              std::function<std::string()> selectedBasePort, TriggerEngine::Trace trace = {});
    ~DialogRun();
    DialogRun(const DialogRun&) = delete;
    DialogRun& operator=(const DialogRun&) = delete;

    Session& Run() { return *session_; }

    // Listens on `devices` for the GPS receiver in the background (see PortProbe); `done` gets
    // the findings on the probe's thread. Start ends the probe first, so the run finds its
    // ports free.
    void ProbePorts(PortListen listen, std::vector<std::string> devices, PortProbe::Done done);
    // Ends a probe still listening; `done` is not called after this returns.
    void EndProbe() { probe_.reset(); }

    // A text of the dialog's own on the status line (and in the run's history).
    void ShowStatus(const std::string& text) { session_->Fields().SetText(Field::Status, text); }

    // Start: `gpsPort` the device to open, `basePort` the Base Station entry, empty for none.
    // A reader that runs afterwards is watched for silence under the name `gpsName`.
    RunControl::StartOutcome Start(const std::string& gpsPort, const std::string& basePort,
                                   const std::string& gpsName);

    // About once a second (Session::Tick): a GPS port silent for SilenceWatch::kLimit is told
    // and Start enabled, so another port can be picked; a base station that failed its check
    // is checked again every 3 s, and switching comes on when it answers.
    void Tick();
    bool GpsSilent() const { return session_->GpsSilent(); }

    // Ends the run as the window closes: the base station's stop first, then the reader and the
    // planned switches' thread. Held records stay for Rescue.
    void Stop();

    // The title for a spacing warning; "Ostrim" when there is none.
    static std::string TitleFor(const std::string& warning);

private:
    // The window's timers serve the re-arm timers; a planned switch runs on a thread of its own,
    // as the reader's do, so a base station slow to answer never freezes the window.
    class PlanTimers : public TimerService {
    public:
        explicit PlanTimers(TimerService& window) : window_(window) {}
        void StartTimer(int id, std::chrono::milliseconds period) override;
        void KillTimer(int id) override;
        // The plans' clock: the predictive rule times its plans on it.
        std::chrono::milliseconds Now() const override { return plans_.Now(); }
        ThreadTimerService& Plans() { return plans_; }

    private:
        static bool IsPlan(int id);
        TimerService& window_;
        ThreadTimerService plans_;
    };

    DialogView view_;
    PlanTimers timers_;
    std::unique_ptr<Session> session_;
    std::unique_ptr<PortProbe> probe_;
};

} // namespace ostrim
