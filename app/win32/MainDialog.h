#pragma once
// The Windows dialog: template 102 of res/ostrim.rc, its controls routed to the same DialogRun
// as the Qt dialog's. All of it runs on the GUI thread; what the GPS reader
// thread sends (texts, timers, a lost receiver) arrives as posted messages.

#include "run/DialogRun.h"
#include "app/win32/RunPanelView.h"
#include "app/win32/Win32DialogFields.h"
#include "app/win32/Win32TimerService.h"
#include "platform/PortListen.h"
#include "platform/win32/PortList.h"

#include <windows.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ostrim {

// What the command line may fill in; empty texts take the defaults.
struct Win32DialogOptions {
    std::string folder;
    std::string sensorFile;
    std::string vehicleType = "Dunrel 80k truck";
    std::string nodeId = "4070BF7B";
    std::string gpsPort;  // "COM5" or "\\.\COM5": listed if missing, and selected
    std::string basePort; // "5", "COM5" or "\\.\COM5"
    bool echoStatus = false; // each status text also as a line "Status: ..." on standard output

    // The machine's COM ports, asked when the dialog opens and each time a port list opens.
    std::function<ComPortScan()> scanPorts = [] { return ScanComPorts(); };
    // How the ports are listened on for the GPS receiver when the dialog opens; empty: not.
    PortListen listen = ListenOnSerialPort;
    // Asks the operator a yes-or-no question; empty: a message box.
    std::function<bool(HWND owner, const std::string& question)> ask;
    // Shows the run summary when the window closes after a run; empty: a message box.
    std::function<void(HWND owner, const std::string& summary)> tell;
    // For the end-to-end tests: a file the run panel's controls are written to, as shown,
    // after each refresh; empty: none.
    std::string panelDump;
};

class MainDialog {
public:
    explicit MainDialog(Win32DialogOptions options);
    ~MainDialog();
    MainDialog(const MainDialog&) = delete;
    MainDialog& operator=(const MainDialog&) = delete;

    // Runs the dialog modally until Cancel or the close box; the run's reader is stopped then.
    INT_PTR Run(HINSTANCE instance);
    // The same dialog without a modal loop of its own, for tests that pump its messages; it
    // ends with the object.
    HWND Create(HINSTANCE instance);

private:
    static constexpr UINT kEnableStartMessage = WM_APP + 3;
    static constexpr UINT kTitleMessage = WM_APP + 4;
    static constexpr UINT kProbeDoneMessage = WM_APP + 10;
    static constexpr UINT_PTR kTickTimer = 1; // the engine's timers are 101 and up
    static constexpr UINT_PTR kPanelTimer = 2;

    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);

    void LoadIcons(HINSTANCE instance);
    void OnInitDialog();
    void AddSystemMenuItems();
    void TogglePredictive();
    // The receiver-delay choice of that index, from the system menu; at any time.
    void ChooseReceiverDelay(std::size_t choice);
    // The index of the receiver-delay choice a menu command names; past the last for another.
    static std::size_t ReceiverDelayChoiceOf(WPARAM command);
    void FillPortLists();
    // Lists `entries_` in both port lists, selecting each list's `selected` entry text.
    void ShowPortEntries(const std::string& gps, const std::string& base);
    void RefreshPortLists();
    void ProbePorts();
    void OnProbeDone();
    std::optional<std::size_t> SelectedEntry(int listId) const;
    bool Ask(const std::string& question);
    void OnCommand(int id, int code);
    void OnStart();
    void OnCancel();
    bool MayEnd();
    // The run ended with records held: asks where to write them (Yes: the rescue folder named,
    // No: another folder, Cancel: give them up).
    void RescueHeldRecords();
    void OnBrowseFolder();
    void OnBrowseSensorFile();
    void PaintMinimised();
    void RefreshPanel();

    HWND Control(int id) const { return GetDlgItem(window_, id); }

    Win32DialogOptions options_;
    std::string folder_; // the folder the LVR and Mainline files are in
    HINSTANCE instance_ = nullptr;
    HWND window_ = nullptr;
    HICON icon_ = nullptr;      // the large icon, also drawn when minimised
    HICON smallIcon_ = nullptr; // the caption's and the task bar's, from the 16-pixel image
    bool runActive_ = false; // Start has opened the GPS port
    bool modeless_ = false;  // made by Create

    // Both port lists hold these entries ("COM5"), sorted as text.
    std::vector<std::string> entries_;
    // A list the probe leaves alone: named on the command line, or opened or changed by the
    // operator.
    bool gpsHeld_ = false;
    bool baseHeld_ = false;
    bool startPressed_ = false; // from then on the lists are the operator's
    std::mutex probeMutex_;
    std::optional<std::vector<PortFinding>> findings_; // from the probe, for kProbeDoneMessage
    std::string scanError_; // the first scan's failure, told once the status line is there

    Win32DialogFields fields_;
    Win32TimerService timers_;
    std::unique_ptr<DialogRun> run_;
    std::unique_ptr<RunPanelView> panel_;

    std::mutex titleMutex_;
    std::string title_; // from the reader thread, for kTitleMessage
};

} // namespace ostrim
