#include "app/qt/OstrimDlg.h"

#include "run/DialogDefaults.h"
#include "run/PortPreselection.h"
#include "app/qt/AboutDlg.h"
#include "app/DialogTemplate.h"
#include "app/qt/DialogUnits.h"
#include "app/qt/OstrimApp.h"
#include "app/qt/PortListBox.h"

#include <QAbstractItemView>
#include <QAction>
#include <QActionGroup>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

#include <algorithm>
#include <cstdio>

namespace ostrim {

namespace {

QString SensorFileFilter()
{
    QStringList filters;
    for (const FileFilter& filter : kSensorFileFilters)
        filters << QString::fromLatin1(filter.name);
    return filters.join(QStringLiteral(";;"));
}

QString DefaultFolderPicker(QWidget* parent, const QString& startFolder)
{
    return QFileDialog::getExistingDirectory(parent, QString::fromLatin1(kFolderPickerTitle),
                                             startFolder);
}

QString DefaultSensorFilePicker(QWidget* parent, const QString& startFolder)
{
    return QFileDialog::getOpenFileName(parent, QString(), startFolder,
                                        SensorFileFilter());
}

bool DefaultQuestion(QWidget* parent, const std::string& question)
{
    return QMessageBox::question(parent, QStringLiteral("Ostrim"), QString::fromStdString(question),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

bool DefaultConfirmEnd(QWidget* parent)
{
    return QMessageBox::question(parent, QStringLiteral("Ostrim"),
                                 QString::fromLatin1(kConfirmEndText),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

QString ObjectNameOf(const ControlTemplate& control)
{
    if (control.id != kNoId)
        return QStringLiteral("id%1").arg(control.id);
    return QStringLiteral("label") + QString::fromLatin1(control.text).remove(QLatin1Char(' '));
}

} // namespace

COstrimDlg::COstrimDlg(const DialogOptions& options, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
    , folder_(options.folder.empty() ? DefaultFolder() : options.folder)
    , pickers_{DefaultFolderPicker, DefaultSensorFilePicker}
    , confirmEnd_(DefaultConfirmEnd)
    , ask_(DefaultQuestion)
    , fields_(std::make_unique<QtDialogFields>(this))
{
    setWindowTitle(QStringLiteral("Ostrim"));
    setWindowIcon(AppIcon());
    setFont(DialogFont());
    setFixedSize(MapDialogSize(BaseUnitsOf(font()), kDialogWidth, kDialogHeight));

    CreateControls();
    FillPortLists(options);

    // The initial values, set before any handler can run.
    static_cast<QLineEdit*>(Control(kIdSensorFile))
        ->setText(QString::fromStdString(
            options.sensorFile.empty() ? LvrSensorFile(folder_) : options.sensorFile));
    static_cast<QRadioButton*>(Control(kIdLoop))->setChecked(true);
    static_cast<QRadioButton*>(Control(kIdLvr))->setChecked(true);
    static_cast<QLineEdit*>(Control(kIdVehicleType))
        ->setText(QString::fromStdString(options.vehicleType));
    static_cast<QLineEdit*>(Control(kIdFolder))->setText(QString::fromStdString(folder_));
    static_cast<QLineEdit*>(Control(kIdNodeId))->setText(QString::fromStdString(options.nodeId));

    for (QLineEdit* edit : findChildren<QLineEdit*>())
        edit->setCursorPosition(0);

    BindFields();
    ConnectHandlers();

    // X11 window managers offer no way to add to their window menu: the About box is on the
    // dialog's context menu (right click on the dialog's background, a label or a button) and
    // on F1.
    auto* about = new QAction(QStringLiteral("&About Ostrim..."), this);
    about->setObjectName(QStringLiteral("aboutAction"));
    about->setShortcut(QKeySequence(Qt::Key_F1));
    about->setShortcutContext(Qt::WindowShortcut);
    connect(about, &QAction::triggered, this, &COstrimDlg::ShowAbout);
    addAction(about);
    // The sensor file read again, at any time; the table changes at the next fix.
    auto* reload = new QAction(QString::fromLatin1(kReloadSensorsText), this);
    reload->setObjectName(QStringLiteral("reloadSensorsAction"));
    reload->setShortcut(QKeySequence(Qt::Key_F5));
    reload->setShortcutContext(Qt::WindowShortcut);
    connect(reload, &QAction::triggered, this, [this] { Call(hooks_.reloadSensors); });
    addAction(reload);
    // The receiver delay may change at any time, also in a run: the operator sets it from the
    // lag the run panel measures.
    auto* delays = new QMenu(this);
    auto* delayGroup = new QActionGroup(delays);
    for (int ms : kReceiverDelayChoicesMs) {
        QAction* choice = delays->addAction(QString::fromStdString(ReceiverDelayChoiceText(ms)));
        choice->setCheckable(true);
        choice->setChecked(ms == 0);
        choice->setActionGroup(delayGroup);
        connect(choice, &QAction::triggered, this, [this, ms] {
            if (hooks_.chooseReceiverDelay)
                hooks_.chooseReceiverDelay(ms);
        });
    }
    auto* delay = new QAction(QString::fromLatin1(kReceiverDelayText), this);
    delay->setObjectName(QStringLiteral("receiverDelayAction"));
    delay->setMenu(delays);
    addAction(delay);
    // The firing rule is chosen before Start and holds for the run: the item is greyed after.
    predictive_ = new QAction(QString::fromLatin1(kPredictiveTriggerText), this);
    predictive_->setObjectName(QStringLiteral("predictiveAction"));
    predictive_->setCheckable(true);
    connect(predictive_, &QAction::toggled, this, [this](bool on) {
        if (hooks_.chooseRule)
            hooks_.chooseRule(on);
    });
    addAction(predictive_);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    Control(kIdStart)->setFocus();
}

COstrimDlg::~COstrimDlg() = default;

QWidget* COstrimDlg::Control(int id) const
{
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

void COstrimDlg::CreateControls()
{
    DialogBaseUnits units = BaseUnitsOf(font());
    QButtonGroup* group = nullptr;
    QWidget* previous = nullptr;
    for (const ControlTemplate& control : kMainDialogControls) {
        QString text = QString::fromLatin1(control.text);
        QWidget* widget = nullptr;
        switch (control.kind) {
        case ControlKind::DefaultButton:
        case ControlKind::Button: {
            auto* button = new QPushButton(text, this);
            button->setDefault(control.kind == ControlKind::DefaultButton);
            widget = button;
            break;
        }
        case ControlKind::Edit:
            widget = new QLineEdit(this);
            break;
        case ControlKind::PortList:
            widget = new PortListBox(this);
            break;
        case ControlKind::Label: {
            auto* label = new QLabel(text, this);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            widget = label;
            break;
        }
        case ControlKind::RadioGroupStart:
        case ControlKind::Radio: {
            auto* radio = new QRadioButton(text, this);
            if (control.kind == ControlKind::RadioGroupStart || group == nullptr) {
                group = new QButtonGroup(this);
                group->setExclusive(true);
            }
            group->addButton(radio, control.id);
            widget = radio;
            break;
        }
        }
        widget->setObjectName(ObjectNameOf(control));
        widget->setGeometry(MapDialogRect(units, control.x, control.y, control.w, control.h));
        if (control.id == kNoId)
            continue;
        widget->setProperty("controlId", control.id);
        controls_[control.id] = widget;
        if (previous != nullptr)
            setTabOrder(previous, widget);
        previous = widget;
    }
}

std::vector<SerialPortEntry> COstrimDlg::ListPorts(const std::string& selected) const
{
    std::vector<SerialPortEntry> ports;
    if (portOptions_.listMachinePorts)
        ports = ListSerialPorts(portOptions_.portRoots);
    auto add = [&ports](const SerialPortEntry& entry) {
        bool listed = std::any_of(ports.begin(), ports.end(), [&](const SerialPortEntry& e) {
            return e.device == entry.device;
        });
        if (!listed && !entry.device.empty())
            ports.push_back(entry);
    };
    for (const SerialPortEntry& entry : portOptions_.extraPorts)
        add(entry);
    add({portOptions_.gpsPort, {}});
    add({portOptions_.basePort, {}});
    add({selected, {}});
    std::sort(ports.begin(), ports.end(), [](const SerialPortEntry& a, const SerialPortEntry& b) {
        return NaturalLess(a.device, b.device);
    });
    return ports;
}

int COstrimDlg::IndexOfPort(const std::string& device) const
{
    for (std::size_t i = 0; i < ports_.size(); ++i) {
        if (!device.empty() && ports_[i].device == device)
            return static_cast<int>(i);
    }
    return -1;
}

void COstrimDlg::AddPortItems(QComboBox* list)
{
    int widest = 0;
    QFontMetrics metrics(list->font());
    for (const SerialPortEntry& entry : ports_) {
        QString label = QString::fromStdString(entry.Label());
        list->addItem(label, QString::fromStdString(entry.device));
        widest = std::max(widest, metrics.horizontalAdvance(label));
    }
    // The box is as narrow as the layout says; the open list shows whole stable names.
    list->view()->setMinimumWidth(widest + 4 * metrics.averageCharWidth());
}

void COstrimDlg::FillPortLists(const DialogOptions& options)
{
    portOptions_ = options;
    ports_ = ListPorts({});
    ListedPreselection rule = PreselectListedPorts(static_cast<int>(ports_.size()));
    auto fill = [this](int id, int selected) {
        auto* list = static_cast<PortListBox*>(Control(id));
        AddPortItems(list);
        list->setCurrentIndex(selected);
        list->setToolTip(list->currentText());
        connect(list, &QComboBox::currentTextChanged, list, &QWidget::setToolTip);
        bool& held = id == kIdGpsPort ? gpsHeld_ : baseHeld_;
        // Opened or chosen by the operator: the probe leaves the list alone from then on.
        connect(list, &QComboBox::activated, this, [&held] { held = true; });
        list->SetBeforeOpen([this, list, &held] {
            held = true;
            RefillPortList(list);
        });
    };
    auto pick = [this](const std::string& device, std::optional<int> otherwise) {
        int index = IndexOfPort(device);
        return index >= 0 ? index : otherwise.value_or(-1);
    };
    fill(kIdGpsPort, pick(options.gpsPort, rule.gps));
    fill(kIdBaseStationPort, pick(options.basePort, rule.base));
    gpsHeld_ = IndexOfPort(options.gpsPort) >= 0;
    baseHeld_ = IndexOfPort(options.basePort) >= 0;
}

std::vector<std::string> COstrimDlg::PortsToProbe() const
{
    std::vector<std::string> devices;
    if (!portOptions_.listen || (gpsHeld_ && baseHeld_))
        return devices;
    for (const SerialPortEntry& entry : ports_)
        devices.push_back(entry.device);
    return devices;
}

std::optional<std::size_t> COstrimDlg::SelectedEntry(int listId) const
{
    auto* list = static_cast<QComboBox*>(Control(listId));
    const int index = IndexOfPort(list->currentData().toString().toStdString());
    return index < 0 ? std::nullopt : std::optional<std::size_t>(static_cast<std::size_t>(index));
}

std::string COstrimDlg::ApplyProbe(const std::vector<PortFinding>& findings)
{
    if (startPressed_)
        return {}; // Start took the lists as they were
    std::vector<std::string> devices;
    std::vector<std::string> labels;
    for (const SerialPortEntry& entry : ports_) {
        devices.push_back(entry.device);
        labels.push_back(entry.Label());
    }
    const PortChoice now{SelectedEntry(kIdGpsPort), SelectedEntry(kIdBaseStationPort), {}};
    const PortChoice choice = ChoosePorts(devices, labels, findings, now, gpsHeld_, baseHeld_);
    auto select = [this, &devices](int id, std::optional<std::size_t> entry) {
        auto* list = static_cast<QComboBox*>(Control(id));
        list->setCurrentIndex(entry ? list->findData(QString::fromStdString(devices[*entry])) : -1);
    };
    if (!gpsHeld_)
        select(kIdGpsPort, choice.gps);
    if (!baseHeld_)
        select(kIdBaseStationPort, choice.base);
    return choice.status;
}

void COstrimDlg::RefillPortList(QComboBox* list)
{
    // The selected device stays listed even when it has gone, so the selection never moves
    // by itself; the fields see no change.
    const std::string selected = list->currentData().toString().toStdString();
    ports_ = ListPorts(selected);
    QSignalBlocker quiet(list);
    list->clear();
    AddPortItems(list);
    list->setCurrentIndex(IndexOfPort(selected));
    list->setToolTip(list->currentText());
}

void COstrimDlg::BindFields()
{
    for (Field field : {Field::Folder, Field::Latitude, Field::Longitude, Field::LatitudeHemisphere,
                        Field::LongitudeHemisphere, Field::Time, Field::Height, Field::SensorFile,
                        Field::NodeId, Field::Status, Field::VehicleType}) {
        fields_->Bind(field, static_cast<QLineEdit*>(Control(static_cast<int>(field))));
    }
    fields_->BindPortList(PortField::Gps, static_cast<QComboBox*>(Control(kIdGpsPort)));
    fields_->BindPortList(PortField::BaseStation,
                          static_cast<QComboBox*>(Control(kIdBaseStationPort)));
}

void COstrimDlg::ConnectHandlers()
{
    auto button = [this](int id) { return static_cast<QAbstractButton*>(Control(id)); };
    auto on = [this, button](int id, auto handler) {
        connect(button(id), &QAbstractButton::clicked, this, handler);
    };
    on(kIdStart, [this] { OnStart(); });
    on(kIdCancel, [this] { OnCancel(); });
    on(kIdFolderBrowse, [this] { OnBrowseFolder(); });
    on(kIdSensorBrowse, [this] { OnBrowseSensorFile(); });
    on(kIdTriggerOnOff, [this] { Call(hooks_.triggerOnOff); });
    on(kIdLoop, [this] { Call(hooks_.loop); });
    on(kIdBackAndForth, [this] { Call(hooks_.backAndForth); });
    on(kIdEndOfLap, [this] { Call(hooks_.endOfLap); });
    on(kIdPing, [this] { Call(hooks_.ping); });
    on(kIdTestNode, [this] { Call(hooks_.testNode); });
    on(kIdLvr, [this] { fields_->SetText(Field::SensorFile, LvrSensorFile(folder_)); });
    on(kIdMainline, [this] { fields_->SetText(Field::SensorFile, MainlineSensorFile(folder_)); });
}

void COstrimDlg::Call(const std::function<void()>& hook)
{
    if (hook)
        hook();
}

void COstrimDlg::OnStart()
{
    if (!hooks_.start)
        return;
    startPressed_ = true;
    const std::string gps = fields_->SelectedPort(PortField::Gps);
    const std::string base = fields_->SelectedPort(PortField::BaseStation);
    if (SameSerialPort(gps, base) && ask_) {
        auto* list = static_cast<QComboBox*>(Control(kIdGpsPort));
        if (!ask_(this, SamePortQuestion(list->currentText().toStdString())))
            return;
    }
    RunControl::StartOutcome outcome = hooks_.start(gps, base);
    if (outcome == RunControl::StartOutcome::GpsPortFailed)
        return;
    runActive_ = true; // the reader runs, also when the logs failed
    if (outcome != RunControl::StartOutcome::Running)
        return;
    predictive_->setEnabled(false);
    // Left alone, the focus would pass on to Cancel, where the next Enter or Space would end
    // the run.
    QWidget* focus = focusWidget();
    if (focus == nullptr || focus == Control(kIdStart) || focus == Control(kIdCancel))
        Control(kIdStatus)->setFocus();
    Control(kIdStart)->setEnabled(false);
}

void COstrimDlg::OnCancel()
{
    if (MayEnd())
        reject();
}

bool COstrimDlg::MayEnd()
{
    return !runActive_ || !confirmEnd_ || confirmEnd_(this);
}

void COstrimDlg::keyPressEvent(QKeyEvent* event)
{
    if (runActive_ && event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void COstrimDlg::closeEvent(QCloseEvent* event)
{
    if (isVisible() && !MayEnd()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void COstrimDlg::OnBrowseFolder()
{
    QString folder = pickers_.folder(this, QString::fromStdString(fields_->GetText(Field::Folder)));
    if (folder.isEmpty())
        return;
    std::string path = folder.toStdString();
    std::fputs(FolderSelectedLine(path).c_str(), stdout);
    std::fflush(stdout);
    fields_->SetText(Field::Folder, path);
}

void COstrimDlg::OnBrowseSensorFile()
{
    QString current = QString::fromStdString(fields_->GetText(Field::SensorFile));
    QString file = pickers_.sensorFile(this, QFileInfo(current).absolutePath());
    if (file.isEmpty()) {
        fields_->SetText(Field::Status, kNoFileSelected);
        return;
    }
    fields_->SetText(Field::SensorFile, file.toStdString());
}

void COstrimDlg::ShowAbout()
{
    CAboutDlg about(this);
    about.exec();
}

void COstrimDlg::reject()
{
    Call(hooks_.stopGps);
    QDialog::reject();
}

} // namespace ostrim
