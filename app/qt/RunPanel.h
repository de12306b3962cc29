#pragma once
// The run panel below the dialog's controls: the switching state in large letters, the run's
// figures, the sensors and the history of status texts, shown on a timer as PanelTexts words
// (run/PanelText.h) of RunMonitor snapshots. It holds no logic and no text of its own.

#include "run/PanelText.h"
#include "run/RunMonitor.h"

#include <QWidget>


class QLabel;
class QLineEdit;
class QListWidget;
class QTableWidget;
class QToolButton;

namespace ostrim {

class COstrimDlg;

class RunPanel : public QWidget {
    Q_OBJECT

public:
    RunPanel(const RunMonitor& monitor, QWidget* parent);

    // Puts a panel below the dialog's controls, which keep their places, and makes the dialog
    // tall enough for it; the Details toggle gives the room back.
    static RunPanel* AttachBelow(COstrimDlg& dialog, const RunMonitor& monitor);

    // Shows the monitor's figures now; the timer calls it.
    void Refresh();

private:
    void SetDetailsShown(bool shown);
    void RefreshHistory();

    const RunMonitor& monitor_;
    COstrimDlg* host_ = nullptr; // the dialog whose height follows the toggle, if attached
    QToolButton* toggle_ = nullptr;
    QLabel* state_ = nullptr;
    QLabel* logsState_ = nullptr;
    QWidget* body_ = nullptr;
    QLabel* fixes_ = nullptr;
    QLabel* held_ = nullptr;
    QLabel* rate_ = nullptr;
    QLabel* age_ = nullptr;
    QLabel* quality_ = nullptr;
    QLabel* lag_ = nullptr;
    QLineEdit* gpsLog_ = nullptr;
    QLineEdit* rawLog_ = nullptr;
    QLineEdit* eventLog_ = nullptr;
    QTableWidget* sensors_ = nullptr;
    QListWidget* history_ = nullptr;
    HistoryFeed historyFeed_;
};

} // namespace ostrim
