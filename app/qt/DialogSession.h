#pragma once
// Puts a run's Session behind the dialog: the dialog's fields and timers feed the session, its
// buttons call the session's handlers. RunDialog uses it; end-to-end tests use it to drive the
// dialog against the simulator without RunDialog's application object.

#include "run/DialogRun.h"
#include "run/RunMonitor.h"
#include "app/qt/OstrimDlg.h"
#include "app/qt/QtTimerService.h"

#include <QTimer>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

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
        // Asked when the run ends with records held: the folder to write them to, prefilled
        // with `folder`, after `failure` (empty the first time) when the last one failed;
        // nothing to give them up. Empty: a dialog asks.
        std::function<std::optional<std::string>(QWidget* parent, std::size_t records,
                                                  const std::string& folder, const std::string& failure)>
            rescueFolder;
    };

    explicit DialogSession(COstrimDlg& dialog, Extras extras = {});
    ~DialogSession();
    DialogSession(const DialogSession&) = delete;
    DialogSession& operator=(const DialogSession&) = delete;

    Session& Run() { return run_->Run(); }
    QtTimerService& Timers() { return timers_; }
    RunMonitor& Monitor() { return run_->Run().Monitor(); }
    RunPanel* Panel() const { return panel_; }

    // The run's end as the window closes: the run stopped, records still held written where the
    // operator says, then the summary.
    void Finish();

    // The GPS port has been silent for SilenceWatch::kLimit since its last sentence.
    bool GpsSilent() const { return run_->GpsSilent(); }

private:
    COstrimDlg& dialog_;
    Extras extras_;
    QtTimerService timers_;
    std::unique_ptr<DialogRun> run_;
    QTimer tickTimer_;
    RunPanel* panel_ = nullptr; // a child of the dialog, deleted before the monitor goes
    bool finished_ = false;
};

} // namespace ostrim
