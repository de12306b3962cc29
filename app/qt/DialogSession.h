#pragma once
// Puts a run's Session behind the dialog: the dialog's fields and timers feed the session, its
// buttons call the session's handlers. RunDialog uses it; end-to-end tests use it to drive the
// dialog against the simulator without RunDialog's application object.

#include "run/DialogRun.h"
#include "run/RunMonitor.h"
#include "app/qt/OstrimDlg.h"
#include "app/qt/QtTimerService.h"

#include <QTimer>

#include <functional>
#include <memory>

namespace ostrim {

class RunPanel;

// Owns the session and the timers of one dialog. Create it on the GUI thread after the dialog
// and destroy it before the dialog: it stops the reader and joins its thread on the way out.
class DialogSession {
public:
    struct Extras {
        // Runs on the GUI thread each time Start has run its steps, whatever their outcome.
        std::function<void()> afterStart;
        // The distance trace; empty: standard output.
        TriggerEngine::Trace trace;
        // Given the run's summary when the dialog closes after a run; empty: nothing shown.
        std::function<void(const std::string& summary)> summary;
    };

    explicit DialogSession(COstrimDlg& dialog, Extras extras = {});
    ~DialogSession();
    DialogSession(const DialogSession&) = delete;
    DialogSession& operator=(const DialogSession&) = delete;

    Session& Run() { return run_->Run(); }
    QtTimerService& Timers() { return timers_; }
    RunMonitor& Monitor() { return monitor_; }
    RunPanel* Panel() const { return panel_; }

    // The GPS port has been silent for SilenceWatch::kLimit since its last sentence.
    bool GpsSilent() const { return run_->GpsSilent(); }

private:
    COstrimDlg& dialog_;
    QtTimerService timers_;
    RunMonitor monitor_;
    std::unique_ptr<MonitoredFields> fields_; // the dialog's fields, each status text recorded
    std::unique_ptr<DialogRun> run_;
    QTimer silenceTimer_;
    RunPanel* panel_ = nullptr; // a child of the dialog, deleted before the monitor goes
};

} // namespace ostrim
