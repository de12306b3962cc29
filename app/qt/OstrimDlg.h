#pragma once
// The main dialog: the operator's controls, laid out from the control table in dialog units.
// It holds no run logic: each button calls a hook, which the composition of a run (or a test)
// supplies; the fields reach the logic through Fields().

#include "app/RunControl.h"
#include "app/qt/DialogOptions.h"
#include "app/qt/QtDialogFields.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <string>

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
    // Stops the GPS reader and joins its thread; runs before the dialog closes, so no reader
    // callback outlives the dialog.
    std::function<void()> stopGps;
};

// The modal choosers; tests replace them. An empty result means cancelled.
struct DialogPickers {
    std::function<QString(QWidget* parent, const QString& startFolder)> folder;
    std::function<QString(QWidget* parent, const QString& startFolder)> sensorFile;
};

class COstrimDlg : public QDialog {
    Q_OBJECT

public:
    explicit COstrimDlg(const DialogOptions& options = {}, QWidget* parent = nullptr);
    ~COstrimDlg() override;

    QtDialogFields& Fields() { return *fields_; }
    void SetHooks(DialogHooks hooks) { hooks_ = std::move(hooks); }
    void SetPickers(DialogPickers pickers) { pickers_ = std::move(pickers); }

    // The control with this id, or null.
    QWidget* Control(int id) const;

    // The entries of the port lists, in list order (both lists hold the same entries).
    std::vector<SerialPortEntry> PortEntries() const { return ports_; }

public slots:
    // Cancel, Escape and the close box: stop the reader first, then close.
    void reject() override;
    void ShowAbout();

private:
    void CreateControls();
    void FillPortLists(const DialogOptions& options);
    void ConnectHandlers();
    void BindFields();

    void OnStart();
    void OnBrowseFolder();
    void OnBrowseSensorFile();
    void Call(const std::function<void()>& hook);

    std::string folder_; // the folder the LVR and Mainline files are in
    std::vector<SerialPortEntry> ports_;
    DialogHooks hooks_;
    DialogPickers pickers_;
    std::unique_ptr<QtDialogFields> fields_;
    std::map<int, QWidget*> controls_; // children of the dialog
};

} // namespace ostrim
