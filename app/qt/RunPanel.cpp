#include "app/qt/RunPanel.h"

#include "app/DialogTemplate.h"
#include "app/qt/DialogUnits.h"
#include "app/qt/OstrimDlg.h"
#include "run/PanelText.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>


namespace ostrim {

namespace {

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

QString Rgb(std::uint32_t rgb)
{
    return QColor(static_cast<QRgb>(rgb)).name();
}

// Red for what is wrong, as everywhere in the panel.
QString TextStyle(PanelLevel level)
{
    return level == PanelLevel::Alarm ? QStringLiteral("color: %1; font-weight: bold").arg(Rgb(kAlarmTextRgb))
                                      : QString();
}

// The indicator: a coloured block, readable from the driver's seat.
QString IndicatorStyle(PanelLevel level)
{
    if (level == PanelLevel::Normal)
        return QStringLiteral("font-weight: bold; padding: 0 6px");
    const PanelColours colours = IndicatorColours(level);
    return QStringLiteral("background: %1; color: %2; font-weight: bold; padding: 0 6px")
        .arg(Rgb(colours.background), Rgb(colours.text));
}

void Show(QLabel* label, const PanelLine& line)
{
    const QString text = Text(line.text);
    if (label->text() != text)
        label->setText(text);
    const QString style = TextStyle(line.level);
    if (label->styleSheet() != style)
        label->setStyleSheet(style);
}

void ShowIndicator(QLabel* label, const PanelLine& line)
{
    const QString text = Text(line.text);
    if (label->text() != text)
        label->setText(text);
    label->setVisible(!line.text.empty());
    const QString style = IndicatorStyle(line.level);
    if (label->styleSheet() != style)
        label->setStyleSheet(style);
}

QLineEdit* PathBox(QWidget* parent, const char* name)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setReadOnly(true);
    box->setFrame(false);
    box->setFocusPolicy(Qt::ClickFocus); // Tab stays among the operator's controls
    return box;
}

QLabel* Value(QWidget* parent, const char* name)
{
    auto* label = new QLabel(QStringLiteral("-"), parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

void SetPath(QLineEdit* box, const std::string& path)
{
    QString text = QString::fromStdString(path);
    if (box->text() == text)
        return; // keeps the operator's scroll position in a long path
    box->setText(text);
    box->setCursorPosition(0);
    box->setToolTip(text);
}

} // namespace

RunPanel::RunPanel(const RunMonitor& monitor, QWidget* parent) : QWidget(parent), monitor_(monitor)
{
    setObjectName(QStringLiteral("runPanel"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(6, 0, 6, 4);
    outer->setSpacing(2);

    auto* header = new QHBoxLayout;
    toggle_ = new QToolButton(this);
    toggle_->setObjectName(QStringLiteral("detailsToggle"));
    toggle_->setText(QString::fromLatin1(PanelLabels::kDetails));
    toggle_->setCheckable(true);
    toggle_->setChecked(true);
    toggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toggle_->setArrowType(Qt::DownArrow);
    toggle_->setAutoRaise(true);
    toggle_->setFocusPolicy(Qt::NoFocus);
    header->addWidget(toggle_);
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    header->addWidget(line, 1);
    outer->addLayout(header);

    // What the engine will do with the next fix; beside it, while records wait, the logs.
    auto* indicators = new QHBoxLayout;
    indicators->setSpacing(6);
    QFont large = font();
    large.setPointSizeF(large.pointSizeF() * 1.6);
    state_ = new QLabel(this);
    state_->setObjectName(QStringLiteral("stateIndicator"));
    logsState_ = new QLabel(this);
    logsState_->setObjectName(QStringLiteral("logsIndicator"));
    for (QLabel* indicator : {state_, logsState_}) {
        indicator->setFont(large);
        indicator->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        indicator->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
        indicator->setVisible(false);
    }
    indicators->addWidget(state_, 3);
    indicators->addWidget(logsState_, 2);
    outer->addLayout(indicators);

    body_ = new QWidget(this);
    auto* bodyLayout = new QVBoxLayout(body_);
    bodyLayout->setContentsMargins(0, 0, 0, 0);
    bodyLayout->setSpacing(3);

    auto* figures = new QGridLayout;
    figures->setHorizontalSpacing(8);
    figures->setVerticalSpacing(1);
    auto label = [this](const char* text) { return new QLabel(QString::fromLatin1(text), body_); };
    fixes_ = Value(body_, "fixesValue");
    held_ = Value(body_, "heldValue");
    held_->setText(QString());
    rate_ = Value(body_, "rateValue");
    age_ = Value(body_, "ageValue");
    quality_ = Value(body_, "qualityValue");
    gpsLog_ = PathBox(body_, "gpsLogValue");
    rawLog_ = PathBox(body_, "rawLogValue");
    eventLog_ = PathBox(body_, "eventLogValue");
    figures->addWidget(label(PanelLabels::kFixesLogged), 0, 0);
    figures->addWidget(fixes_, 0, 1);
    figures->addWidget(held_, 0, 2, 1, 2);
    figures->addWidget(label(PanelLabels::kFixRate), 1, 0);
    figures->addWidget(rate_, 1, 1);
    figures->addWidget(label(PanelLabels::kLastFix), 1, 2);
    figures->addWidget(age_, 1, 3);
    figures->addWidget(label(PanelLabels::kLastGga), 2, 0);
    figures->addWidget(quality_, 2, 1, 1, 3);
    figures->addWidget(label(PanelLabels::kGpsLog), 3, 0);
    figures->addWidget(gpsLog_, 3, 1, 1, 3);
    figures->addWidget(label(PanelLabels::kRawLog), 4, 0);
    figures->addWidget(rawLog_, 4, 1, 1, 3);
    figures->addWidget(label(PanelLabels::kEventLog), 5, 0);
    figures->addWidget(eventLog_, 5, 1, 1, 3);
    lag_ = Value(body_, "lagValue");
    lag_->setToolTip(QStringLiteral("When a fix reaches the program after its own UTC time: the predictive "
                                    "trigger's Receiver delay"));
    figures->addWidget(lag_, 6, 0, 1, 4);
    figures->setColumnStretch(1, 1);
    figures->setColumnStretch(3, 1);
    bodyLayout->addLayout(figures);

    auto* lists = new QHBoxLayout;
    lists->setSpacing(6);
    sensors_ = new QTableWidget(0, 4, body_);
    sensors_->setObjectName(QStringLiteral("sensorTable"));
    QStringList columns;
    for (const char* column : PanelLabels::kSensorColumns)
        columns << QString::fromLatin1(column);
    sensors_->setHorizontalHeaderLabels(columns);
    sensors_->verticalHeader()->hide();
    sensors_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 2);
    sensors_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    sensors_->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    sensors_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    sensors_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    sensors_->setSelectionMode(QAbstractItemView::NoSelection);
    sensors_->setFocusPolicy(Qt::NoFocus);
    lists->addWidget(sensors_, 1);

    history_ = new QListWidget(body_);
    history_->setObjectName(QStringLiteral("historyList"));
    history_->setFocusPolicy(Qt::ClickFocus);
    history_->setToolTip(QStringLiteral("Every status text, with its time"));
    lists->addWidget(history_, 1);
    bodyLayout->addLayout(lists, 1);
    outer->addWidget(body_, 1);

    connect(toggle_, &QToolButton::toggled, this, &RunPanel::SetDetailsShown);
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &RunPanel::Refresh);
    timer->start(kPanelRefreshPeriod);
    Refresh();
}

RunPanel* RunPanel::AttachBelow(COstrimDlg& dialog, const RunMonitor& monitor)
{
    auto* panel = new RunPanel(monitor, &dialog);
    panel->host_ = &dialog;
    panel->SetDetailsShown(true);
    panel->show();
    return panel;
}

void RunPanel::SetDetailsShown(bool shown)
{
    body_->setVisible(shown);
    toggle_->setArrowType(shown ? Qt::DownArrow : Qt::RightArrow);
    if (host_ == nullptr)
        return;
    const DialogBaseUnits units = BaseUnitsOf(host_->font());
    const int height = shown ? kPanelHeight : kPanelHeaderHeight;
    setGeometry(MapDialogRect(units, 0, kDialogHeight, kDialogWidth, height));
    host_->setFixedSize(MapDialogSize(units, kDialogWidth, kDialogHeight + height));
}

void RunPanel::Refresh()
{
    const PanelTexts p = MakePanelTexts(monitor_.Take());
    ShowIndicator(state_, p.state);
    ShowIndicator(logsState_, p.logsState);
    Show(fixes_, p.fixesLogged);
    Show(held_, p.held);
    Show(rate_, p.fixRate);
    Show(age_, p.fixAge);
    Show(quality_, p.quality);
    SetPath(gpsLog_, p.gpsLog);
    SetPath(rawLog_, p.rawLog);
    SetPath(eventLog_, p.eventLog);
    Show(lag_, p.receiverLag);

    sensors_->setRowCount(static_cast<int>(p.sensors.size()));
    auto cell = [this](int row, int column, const PanelLine& line) {
        QTableWidgetItem* item = sensors_->item(row, column);
        if (item == nullptr) {
            item = new QTableWidgetItem;
            sensors_->setItem(row, column, item);
        }
        const QString text = Text(line.text);
        if (item->text() != text)
            item->setText(text);
        item->setForeground(line.level == PanelLevel::Alarm ? QBrush(QColor(static_cast<QRgb>(kAlarmTextRgb)))
                                                            : QBrush());
    };
    for (int i = 0; i < static_cast<int>(p.sensors.size()); ++i) {
        const PanelSensorRow& row = p.sensors[static_cast<std::size_t>(i)];
        cell(i, 0, {row.number, PanelLevel::Normal});
        cell(i, 1, {row.nodeId, PanelLevel::Normal});
        cell(i, 2, row.state);
        cell(i, 3, {row.distance, PanelLevel::Normal});
    }

    // The status line in red while it reports a failure ("Off: no sensors loaded" among them).
    if (host_ != nullptr) {
        if (auto* status = qobject_cast<QLineEdit*>(host_->Control(kIdStatus))) {
            const QString style = TextStyle(IsAlarmText(status->text().toStdString())
                                                ? PanelLevel::Alarm
                                                : PanelLevel::Normal);
            if (status->styleSheet() != style)
                status->setStyleSheet(style);
        }
    }
    RefreshHistory();
}

void RunPanel::RefreshHistory()
{
    QScrollBar* bar = history_->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    const HistoryFeed::Update update = historyFeed_.Next(monitor_);
    if (update.last && history_->count() > 0) {
        QListWidgetItem* last = history_->item(history_->count() - 1);
        const QString text = QString::fromStdString(*update.last);
        if (last->text() != text)
            last->setText(text);
    }
    for (const std::string& line : update.added)
        history_->addItem(QString::fromStdString(line));
    const bool added = !update.added.empty();
    while (history_->count() > static_cast<int>(RunMonitor::kHistoryLimit))
        delete history_->takeItem(0);
    // Follows the newest text unless the operator has scrolled back to read.
    if (added && atEnd)
        history_->scrollToBottom();
}

} // namespace ostrim
