#include "app/qt/DialogSession.h"

#include "app/DialogTemplate.h"
#include "app/qt/RunPanel.h"

#include <QWidget>

namespace ostrim {

DialogSession::DialogSession(COstrimDlg& dialog, Extras extras)
    : dialog_(dialog)
{
    QtDialogFields& fields = dialog.Fields();
    fields_ = std::make_unique<MonitoredFields>(fields, monitor_);
    DialogView view;
    view.enableStart = [&dialog] {
        QMetaObject::invokeMethod(dialog.Control(kIdStart), "setEnabled", Qt::QueuedConnection,
                                  Q_ARG(bool, true));
    };
    view.setTitle = [&dialog](const std::string& title) {
        QMetaObject::invokeMethod(
            &dialog, [&dialog, text = QString::fromStdString(title)] { dialog.setWindowTitle(text); },
            Qt::QueuedConnection);
    };
    run_ = std::make_unique<DialogRun>(
        *fields_, timers_, std::move(view),
        [&fields] { return fields.SelectedPort(PortField::BaseStation); }, std::move(extras.trace));
    Session& run = run_->Run();
    monitor_.Attach(run.State(), run.Table(), run.Input());
    panel_ = RunPanel::AttachBelow(dialog, monitor_);
    if (extras.summary) {
        QObject::connect(&dialog, &QDialog::finished, panel_,
                         [this, show = std::move(extras.summary)] {
                             if (!monitor_.RunStarted())
                                 return;
                             const std::string late = run_->Run().LateFiringsText();
                             show(late.empty() ? monitor_.Summary() : monitor_.Summary() + "\n" + late);
                         });
    }
    timers_.SetHandler([&run](int id) { run.Engine().OnTimer(id); });

    RunControl& control = run.Control();
    DialogHooks buttons;
    buttons.start = [this, after = std::move(extras.afterStart)](const std::string& gpsPort,
                                                                  const std::string& basePort) {
        RunControl::StartOutcome outcome = run_->Start(gpsPort, basePort, gpsPort);
        if (after)
            after();
        return outcome;
    };
    buttons.triggerOnOff = [&control] { control.OnTriggerOnOff(); };
    buttons.loop = [&control] { control.OnLoop(); };
    buttons.backAndForth = [&control] { control.OnBackAndForth(); };
    buttons.endOfLap = [&control] { control.OnEndOfLap(); };
    buttons.chooseRule = [&control](bool predictive) { control.ChooseRule(predictive); };
    buttons.chooseReceiverDelay = [&control](int ms) { control.SetReceiverDelay(ms); };
    // Ping and Test Node hold the GUI thread for their exchange (under a second), as Start's
    // own check does.
    buttons.ping = [&run] { run.BaseStation().OnPing(); };
    buttons.testNode = [&run] { run.BaseStation().OnTestNode(); };
    buttons.stopGps = [&run] { run.Stop(); };
    dialog.SetHooks(std::move(buttons));

    silenceTimer_.setInterval(std::chrono::seconds(1));
    QObject::connect(&silenceTimer_, &QTimer::timeout, &silenceTimer_, [this] { run_->CheckSilence(); });
    silenceTimer_.start();

    std::vector<std::string> probed = dialog.PortsToProbe();
    if (!probed.empty()) {
        // Back on the GUI thread; the timer, gone with this session, drops a late answer.
        auto answer = [this](std::vector<PortFinding> findings) {
            QMetaObject::invokeMethod(
                &silenceTimer_,
                [this, findings = std::move(findings)] {
                    const std::string status = dialog_.ApplyProbe(findings);
                    if (!status.empty())
                        run_->ShowStatus(status);
                },
                Qt::QueuedConnection);
        };
        run_->ProbePorts(dialog.Listener(), std::move(probed), std::move(answer));
    }
}

DialogSession::~DialogSession()
{
    run_->EndProbe(); // its answer is posted to the timer, which goes first
    silenceTimer_.stop();
    dialog_.SetHooks({});
    run_->Run().Stop();
    delete panel_;
}

} // namespace ostrim
