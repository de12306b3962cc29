#include "app/qt/RunPanel.h"

#include "app/DialogTemplate.h"
#include "app/qt/DialogUnits.h"
#include "app/qt/OstrimDlg.h"
#include "sensors/SensorTable.h"

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

#include <cmath>
#include <ctime>

namespace ostrim {

namespace {

QString ClockText(std::chrono::system_clock::time_point time)
{
    std::time_t t = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    if (::localtime_r(&t, &local) == nullptr)
        return QStringLiteral("--:--:--");
    char buffer[16];
    std::strftime(buffer, sizeof buffer, "%H:%M:%S", &local);
    return QString::fromLatin1(buffer);
}

QString StateText(const SensorRow& row)
{
    switch (row.state) {
    case SensorRow::State::Next:
        return QStringLiteral("next");
    case SensorRow::State::Fired:
        return row.switched ? QStringLiteral("fired ") + ClockText(row.switchedAt)
                            : QStringLiteral("fired");
    case SensorRow::State::NotArmed:
        return QString::fromStdString(NotArmedText(row.unreadableNodeId));
    case SensorRow::State::Armed:
        break;
    }
    return QStringLiteral("armed");
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
    QString text = path.empty() ? QStringLiteral("-") : QString::fromStdString(path);
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
    toggle_->setText(QStringLiteral("Details"));
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

    body_ = new QWidget(this);
    auto* bodyLayout = new QVBoxLayout(body_);
    bodyLayout->setContentsMargins(0, 0, 0, 0);
    bodyLayout->setSpacing(3);

    auto* figures = new QGridLayout;
    figures->setHorizontalSpacing(8);
    figures->setVerticalSpacing(1);
    auto label = [this](const char* text) { return new QLabel(QString::fromLatin1(text), body_); };
    fixes_ = Value(body_, "fixesValue");
    rate_ = Value(body_, "rateValue");
    age_ = Value(body_, "ageValue");
    quality_ = Value(body_, "qualityValue");
    gpsLog_ = PathBox(body_, "gpsLogValue");
    rawLog_ = PathBox(body_, "rawLogValue");
    figures->addWidget(label("Fixes logged"), 0, 0);
    figures->addWidget(fixes_, 0, 1);
    figures->addWidget(label("Fix rate"), 0, 2);
    figures->addWidget(rate_, 0, 3);
    figures->addWidget(label("Last fix"), 1, 0);
    figures->addWidget(age_, 1, 1);
    figures->addWidget(label("Last GGA"), 1, 2);
    figures->addWidget(quality_, 1, 3);
    figures->addWidget(label("GPS log"), 2, 0);
    figures->addWidget(gpsLog_, 2, 1, 1, 3);
    figures->addWidget(label("Raw log"), 3, 0);
    figures->addWidget(rawLog_, 3, 1, 1, 3);
    lag_ = Value(body_, "lagValue");
    lag_->setToolTip(QStringLiteral("When a fix reaches the program after its own UTC time: the predictive "
                                    "trigger's Receiver delay"));
    figures->addWidget(lag_, 4, 0, 1, 4);
    figures->setColumnStretch(1, 1);
    figures->setColumnStretch(3, 1);
    bodyLayout->addLayout(figures);

    auto* lists = new QHBoxLayout;
    lists->setSpacing(6);
    sensors_ = new QTableWidget(0, 4, body_);
    sensors_->setObjectName(QStringLiteral("sensorTable"));
    sensors_->setHorizontalHeaderLabels(
        {QStringLiteral("Sensor"), QStringLiteral("Node Id"), QStringLiteral("State"),
         QStringLiteral("Distance")});
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
    timer->start(kRefreshPeriod);
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
    const int height = shown ? kHeight : kHeaderHeight;
    setGeometry(MapDialogRect(units, 0, kDialogHeight, kDialogWidth, height));
    host_->setFixedSize(MapDialogSize(units, kDialogWidth, kDialogHeight + height));
}

void RunPanel::Refresh()
{
    const RunSnapshot s = monitor_.Take();
    fixes_->setText(QString::number(s.fixes));
    lag_->setText(QString::fromStdString(ReceiverLagText(s.receiverLag)));
    rate_->setText(s.haveFix ? QString::number(s.fixRate, 'f', 1) + QStringLiteral(" a second")
                             : QStringLiteral("-"));
    if (!s.haveFix) {
        age_->setText(QStringLiteral("none yet"));
    } else {
        QString age = QString::number(s.lastFixAge, 'f', 1) + QStringLiteral(" s ago");
        if (s.fixStale)
            age += QStringLiteral(", none since");
        age_->setText(age);
    }
    age_->setStyleSheet(s.fixStale ? QStringLiteral("color: #c00000; font-weight: bold")
                                   : QString());
    if (s.quality < 0 && s.satellites < 0) {
        quality_->setText(QStringLiteral("-"));
    } else {
        QString quality = s.quality < 0 ? QStringLiteral("quality -")
                                        : QStringLiteral("quality %1 (%2)")
                                              .arg(s.quality)
                                              .arg(QString::fromStdString(QualityName(s.quality)));
        quality += s.satellites < 0 ? QStringLiteral(", satellites -")
                                    : QStringLiteral(", %1 satellites").arg(s.satellites);
        quality_->setText(quality);
    }
    // Quality 0: the receiver itself says the position is not to be trusted.
    quality_->setStyleSheet(s.quality == 0 ? QStringLiteral("color: #c00000; font-weight: bold")
                                           : QString());
    SetPath(gpsLog_, s.gpsLog);
    SetPath(rawLog_, s.rawLog);

    sensors_->setRowCount(static_cast<int>(s.sensors.size()));
    auto cell = [this](int row, int column, const QString& text) {
        QTableWidgetItem* item = sensors_->item(row, column);
        if (item == nullptr) {
            item = new QTableWidgetItem;
            sensors_->setItem(row, column, item);
        }
        if (item->text() != text)
            item->setText(text);
    };
    for (int i = 0; i < static_cast<int>(s.sensors.size()); ++i) {
        const SensorRow& row = s.sensors[static_cast<std::size_t>(i)];
        cell(i, 0, QString::number(row.number));
        // As the sensor file writes it.
        cell(i, 1, row.unreadableNodeId.empty()
                       ? QStringLiteral("%1").arg(row.nodeId, 8, 16, QLatin1Char('0')).toUpper()
                       : QString::fromStdString(row.unreadableNodeId));
        cell(i, 2, StateText(row));
        cell(i, 3, std::isnan(row.distance) ? QStringLiteral("-")
                                            : QString::number(row.distance, 'f', 1) + QStringLiteral(" m"));
    }
    RefreshHistory();
}

void RunPanel::RefreshHistory()
{
    QScrollBar* bar = history_->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    bool added = false;
    for (const HistoryEntry& entry : monitor_.HistoryFrom(lastShown_.value_or(0))) {
        const QString text = QString::fromStdString(HistoryLine(entry));
        if (lastShown_ && entry.sequence == *lastShown_ && history_->count() > 0) {
            QListWidgetItem* last = history_->item(history_->count() - 1);
            if (last->text() != text)
                last->setText(text);
            continue;
        }
        history_->addItem(text);
        lastShown_ = entry.sequence;
        added = true;
    }
    while (history_->count() > static_cast<int>(RunMonitor::kHistoryLimit))
        delete history_->takeItem(0);
    // Follows the newest text unless the operator has scrolled back to read.
    if (added && atEnd)
        history_->scrollToBottom();
}

} // namespace ostrim
