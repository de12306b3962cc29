#include "app/qt/DialogSession.h"

#include "app/DialogTemplate.h"
#include "app/qt/RunPanel.h"
#include "run/DialogDefaults.h"

#include <QInputDialog>
#include <QWidget>

namespace ostrim {

namespace {

std::optional<std::string> AskRescueFolder(QWidget* parent, std::size_t records,
                                           const std::string& folder, const std::string& failure)
{
    QString question = QString::fromStdString(RescueQuestion(records));
    if (!failure.empty())
        question = QString::fromStdString(failure) + QStringLiteral("\n\n") + question;
    bool ok = false;
    const QString chosen = QInputDialog::getText(parent, QStringLiteral("Ostrim"), question,
                                                 QLineEdit::Normal, QString::fromStdString(folder), &ok);
    if (!ok || chosen.trimmed().isEmpty())
        return std::nullopt;
    return chosen.trimmed().toStdString();
}

} // namespace

DialogSession::DialogSession(COstrimDlg& dialog, Extras extras)
    : dialog_(dialog), extras_(std::move(extras))
{
    QtDialogFields& fields = dialog.Fields();
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
        fields, timers_, std::move(view),
        [&fields] { return fields.SelectedPort(PortField::BaseStation); }, extras_.trace);
    Session& run = run_->Run();
    panel_ = RunPanel::AttachBelow(dialog, run.Monitor());
    QObject::connect(&dialog, &QDialog::finished, panel_, [this] { Finish(); });
    timers_.SetHandler([&run](int id) { run.Engine().OnTimer(id); });

    RunControl& control = run.Control();
    DialogHooks buttons;
    buttons.start = [this](const std::string& gpsPort, const std::string& basePort) {
        RunControl::StartOutcome outcome = run_->Start(gpsPort, basePort, gpsPort);
        if (extras_.afterStart)
            extras_.afterStart();
        return outcome;
    };
    buttons.triggerOnOff = [&control] { control.OnTriggerOnOff(); };
    buttons.loop = [&control] { control.OnLoop(); };
    buttons.backAndForth = [&control] { control.OnBackAndForth(); };
    buttons.endOfLap = [&control] { control.OnEndOfLap(); };
    buttons.chooseRule = [&control](bool predictive) { control.ChooseRule(predictive); };
    buttons.reloadSensors = [&control] { control.OnReloadSensors(); };
    buttons.chooseReceiverDelay = [&control](int ms) { control.SetReceiverDelay(ms); };
    // Ping and Test Node hold the GUI thread for their exchange (under a second), as Start's
    // own check does.
    buttons.ping = [&run] { run.BaseStation().OnPing(); };
    buttons.testNode = [&run] { run.BaseStation().OnTestNode(); };
    buttons.stopGps = [this] { run_->Stop(); };
    dialog.SetHooks(std::move(buttons));

    tickTimer_.setInterval(std::chrono::seconds(1));
    QObject::connect(&tickTimer_, &QTimer::timeout, &tickTimer_, [this] { run_->Tick(); });
    tickTimer_.start();

    std::vector<std::string> probed = dialog.PortsToProbe();
    if (!probed.empty()) {
        // Back on the GUI thread; the timer, gone with this session, drops a late answer.
        auto answer = [this](std::vector<PortFinding> findings) {
            QMetaObject::invokeMethod(
                &tickTimer_,
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
    tickTimer_.stop();
    dialog_.SetHooks({});
    run_->Stop();
    delete panel_;
}

void DialogSession::Finish()
{
    if (finished_ || !run_->Run().Monitor().RunStarted())
        return;
    finished_ = true;
    tickTimer_.stop();
    run_->Stop();
    Session& run = run_->Run();
    const HeldRecords held = run.Held();
    if (held.records > 0) {
        auto ask = extras_.rescueFolder ? extras_.rescueFolder : AskRescueFolder;
        std::string failure;
        for (std::string folder = run.DefaultRescueFolder();;) {
            const std::optional<std::string> chosen =
                ask(&dialog_, run.Logs().Held().records, folder, failure);
            if (!chosen)
                break; // given up: the summary says how many are lost
            folder = *chosen;
            const RescueResult rescue = run.Rescue(folder);
            if (rescue.lost == 0)
                break;
            failure = RescueFailedText(folder, rescue.error);
        }
    }
    if (extras_.summary)
        extras_.summary(run.Summary());
}

} // namespace ostrim
