#pragma once
// The main dialog: the operator's controls, laid out from the control table in dialog units.
// It holds no run logic: each button calls a hook, which the composition of a run (or a test)
// supplies; the fields reach the logic through Fields().

#include "run/PortProbe.h"
#include "run/RunControl.h"
#include "app/qt/DialogOptions.h"
#include "app/qt/QtDialogFields.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace ostrim {

// What the buttons do. An empty hook makes its button do nothing.
struct DialogHooks {
    // The selected entries' device paths, empty for no selection.
    std::function<RunControl::StartOutcome(const std::string& gpsPort,
                                           const std::string& basePort)>
        start;
    std::function<void()> triggerOnOff;
    std::function<void()> loop;
    std::function<void()> backAndForth;
    std::function<void()> endOfLap;
    std::function<void()> ping;
    std::function<void()> testNode;
    // The context menu's "Predictive trigger": the rule the next Start puts in force.
    std::function<void(bool predictive)> chooseRule;
    // The context menu's "Reload sensors" (F5): the sensor file read again, at any time.
    std::function<void()> reloadSensors;
    // The context menu's "Receiver delay": in force from the next fix.
    std::function<void(int ms)> chooseReceiverDelay;
    // Stops the GPS reader and joins its thread; runs before the dialog closes, so no reader
    // callback outlives the dialog.
    std::function<void()> stopGps;
};

// The modal choosers; tests replace them. An empty result means cancelled.
struct DialogPickers {
    std::function<QString(QWidget* parent, const QString& startFolder)> folder;
    std::function<QString(QWidget* parent, const QString& startFolder)> sensorFile;
};

// Asked before Cancel or the close box ends an active run; true ends it. Tests replace it.
using EndConfirmation = std::function<bool(QWidget* parent)>;
// Asks the operator a yes-or-no question; true for yes. Tests replace it.
using Question = std::function<bool(QWidget* parent, const std::string& question)>;

class COstrimDlg : public QDialog {
    Q_OBJECT

public:
    explicit COstrimDlg(const DialogOptions& options = {}, QWidget* parent = nullptr);
    ~COstrimDlg() override;

    QtDialogFields& Fields() { return *fields_; }
    void SetHooks(DialogHooks hooks) { hooks_ = std::move(hooks); }
    void SetPickers(DialogPickers pickers) { pickers_ = std::move(pickers); }
    void SetEndConfirmation(EndConfirmation confirm) { confirmEnd_ = std::move(confirm); }
    void SetQuestion(Question ask) { ask_ = std::move(ask); }

    // The devices to listen on for the GPS receiver, and how; none when the options give no
    // listening or name both ports.
    std::vector<std::string> PortsToProbe() const;
    PortListen Listener() const { return portOptions_.listen; }
    // Selects what the probe found in each list the operator has not chosen yet (nor Start
    // taken); the text to show, empty for none.
    std::string ApplyProbe(const std::vector<PortFinding>& findings);

    // The control with this id, or null.
    QWidget* Control(int id) const;

    // The entries of the list filled last, in list order (both lists hold the same entries
    // until one is opened and filled again).
    std::vector<SerialPortEntry> PortEntries() const { return ports_; }

public slots:
    // Ends the dialog without asking: stops the reader first, then closes. Cancel, Escape and
    // the close box come here, through the guards below while a run is active.
    void reject() override;
    void ShowAbout();

protected:
    // While a run is active Escape does nothing (pressed once too often to close a port list,
    // it would end the run) and the close box asks first.
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void FillPortLists(const DialogOptions& options);
    // The machine's ports now, with the ports named by the options and `selected` added.
    std::vector<SerialPortEntry> ListPorts(const std::string& selected) const;
    int IndexOfPort(const std::string& device) const;
    void AddPortItems(QComboBox* list);
    void RefillPortList(QComboBox* list);
    // The selected entry's index in `ports_`.
    std::optional<std::size_t> SelectedEntry(int listId) const;
    void ConnectHandlers();
    void BindFields();

    void OnStart();
    void OnCancel();
    // True when no run is active or the operator agrees to end it.
    bool MayEnd();
    void OnBrowseFolder();
    void OnBrowseSensorFile();
    void Call(const std::function<void()>& hook);

    std::string folder_; // the folder the LVR and Mainline files are in
    bool runActive_ = false; // Start has opened the GPS port
    // A list the probe leaves alone: named in the options, or opened or chosen by the operator.
    bool gpsHeld_ = false;
    bool baseHeld_ = false;
    bool startPressed_ = false; // from then on the lists are the operator's
    DialogOptions portOptions_; // where the port lists look, and the ports always listed
    std::vector<SerialPortEntry> ports_; // as the list filled last holds them
    DialogHooks hooks_;
    DialogPickers pickers_;
    EndConfirmation confirmEnd_;
    Question ask_;
    std::unique_ptr<QtDialogFields> fields_;
    std::map<int, QWidget*> controls_; // children of the dialog
    QAction* predictive_ = nullptr;    // checkable, on the context menu
};

} // namespace ostrim
