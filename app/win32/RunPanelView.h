#pragma once
// The run panel of the Windows dialog, below its controls: the state indicator, the run's
// figures, the logs, the sensors and the history, shown from RunMonitor snapshots as
// PanelTexts words (run/PanelText.h), as the Qt dialog's panel shows them. It holds no text
// and no decision of its own. GUI thread only.

#include "run/PanelText.h"
#include "run/RunMonitor.h"

#include <windows.h>
#include <commctrl.h>

#include <map>
#include <string>
#include <vector>

namespace ostrim {

class RunPanelView {
public:
    // The panel's control ids, after the dialog's own.
    enum Id : int {
        kIdDetails = 1200,
        kIdState,
        kIdLogsState,
        kIdFixes,
        kIdHeld,
        kIdRate,
        kIdAge,
        kIdQuality,
        kIdLag,
        kIdGpsLog,
        kIdRawLog,
        kIdEventLog,
        kIdSensors,
        kIdHistory,
    };

    explicit RunPanelView(const RunMonitor& monitor) : monitor_(monitor) {}
    ~RunPanelView();
    RunPanelView(const RunPanelView&) = delete;
    RunPanelView& operator=(const RunPanelView&) = delete;

    // Makes the controls below the dialog's and the dialog tall enough for them.
    void Create(HWND dialog);
    // Shows the monitor's figures now, changing only the controls whose text changed.
    void Refresh();
    // The Details toggle was clicked.
    void OnDetailsClicked();

    // The dialog's colour messages (WM_CTLCOLORSTATIC, WM_CTLCOLOREDIT) for a panel control or
    // the status line; nullptr for a control it does not colour.
    HBRUSH OnControlColour(HDC dc, HWND control);
    // The state indicators are drawn here (WM_DRAWITEM); false for another control.
    bool OnDrawItem(const DRAWITEMSTRUCT& item);
    // The sensor list's NM_CUSTOMDRAW: alarm rows in red. Returns the message's result.
    LRESULT OnCustomDraw(NMLVCUSTOMDRAW& draw);

    // Every control's text as shown, one "name<TAB>text" line each, for the end-to-end tests.
    std::string Dump() const;

private:
    void SetDetailsShown(bool shown);
    void Show(int id, const PanelLine& line);
    void ShowSensors(const std::vector<PanelSensorRow>& rows);
    void ShowHistory();
    std::string TextOf(int id) const;

    const RunMonitor& monitor_;
    HWND dialog_ = nullptr;
    HFONT font_ = nullptr;      // the dialog's, not ours to delete
    HFONT largeFont_ = nullptr; // the indicators'
    HFONT boldFont_ = nullptr;  // theirs when a text would not fit in large letters; alarms'
    std::vector<HWND> body_; // hidden with the details
    std::map<int, PanelLevel> levels_; // of the controls shown in colours
    std::vector<bool> alarmRows_;
    HistoryFeed historyFeed_;
    HBRUSH brush_ = nullptr;
};

} // namespace ostrim
