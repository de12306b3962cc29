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
    Session::Hooks hooks;
    hooks.trace = std::move(extras.trace);
    hooks.selectedBasePort = [&fields] { return fields.SelectedPort(PortField::BaseStation); };
    // Start again once the receiver is back: it opens the port anew and starts new logs.
    hooks.onDisconnected = [&dialog] {
        QMetaObject::invokeMethod(dialog.Control(kIdStart), "setEnabled", Qt::QueuedConnection,
                                  Q_ARG(bool, true));
    };
    // The status line is soon replaced; the title keeps the warning in view while it holds.
    hooks.onSpacing = [&dialog](const std::string& warning) {
        const QString title = warning.empty() ? QStringLiteral("Ostrim")
                                              : QStringLiteral("Ostrim - ") + QString::fromStdString(warning);
        QMetaObject::invokeMethod(&dialog, [&dialog, title] { dialog.setWindowTitle(title); },
                                  Qt::QueuedConnection);
    };
        session_ = std::make_unique<Session>(*fields_, timers_, std::move(hooks));
    monitor_.Attach(session_->State(), session_->Table(), session_->Input());
    panel_ = RunPanel::AttachBelow(dialog, monitor_);
    if (extras.summary) {
        QObject::connect(&dialog, &QDialog::finished, panel_,
                         [this, show = std::move(extras.summary)] {
                             if (monitor_.RunStarted())
                                 show(monitor_.Summary());
                         });
    }
    timers_.SetHandler([this](int id) { session_->Engine().OnTimer(id); });

    Session& run = *session_;
    RunControl& control = run.Control();
    DialogHooks buttons;
    buttons.start = [this, &control, after = std::move(extras.afterStart)](
                        const std::string& gpsPort, const std::string& basePort) {
        RunControl::StartOutcome outcome = control.OnStart(gpsPort, basePort);
        if (outcome != RunControl::StartOutcome::GpsPortFailed)
            silence_.Arm(gpsPort, SilenceWatch::Clock::now(), session_->Input().Accepted());
        if (after)
            after();
        return outcome;
    };
    buttons.triggerOnOff = [&control] { control.OnTriggerOnOff(); };
    buttons.loop = [&control] { control.OnLoop(); };
    buttons.backAndForth = [&control] { control.OnBackAndForth(); };
    buttons.endOfLap = [&control] { control.OnEndOfLap(); };
    // Ping and Test Node hold the GUI thread for their exchange (under a second), as Start's
    // own check does.
    buttons.ping = [&run] { run.BaseStation().OnPing(); };
    buttons.testNode = [&run] { run.BaseStation().OnTestNode(); };
    buttons.stopGps = [&run] { run.Stop(); };
    dialog.SetHooks(std::move(buttons));

    silenceTimer_.setInterval(std::chrono::seconds(1));
    QObject::connect(&silenceTimer_, &QTimer::timeout, &silenceTimer_, [this] { CheckSilence(); });
    silenceTimer_.start();
}

void DialogSession::CheckSilence()
{
    const std::string text =
        silence_.Check(SilenceWatch::Clock::now(), session_->Input().Accepted());
    if (text.empty())
        return;
    fields_->SetText(Field::Status, text); // through the monitor, so the history has it
    dialog_.Control(kIdStart)->setEnabled(true);
}

DialogSession::~DialogSession()
{
    silenceTimer_.stop();
    dialog_.SetHooks({});
    session_->Stop();
    delete panel_;
}

} // namespace ostrim
