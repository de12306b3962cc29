#include "app/win32/MainDialog.h"

#include "run/DialogDefaults.h"
#include "app/DialogTemplate.h"
#include "run/PortPreselection.h"
#include "run/PortProbe.h"
#include "app/Version.h"

#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>
#include <vector>

namespace ostrim {

namespace {

// A port named on the command line ("5", "com5", "\\.\COM5") as the lists show it: "COM5".
std::string EntryOf(const std::string& port)
{
    std::string entry = port.rfind("\\\\.\\", 0) == 0 ? port.substr(4) : port;
    for (char& c : entry)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!entry.empty() && entry.find_first_not_of("0123456789") == std::string::npos)
        entry = "COM" + entry;
    return entry;
}

// `entries` with `wanted` added where missing, kept sorted as text.
void AddEntry(std::vector<std::string>& entries, const std::string& wanted)
{
    if (wanted.empty() || std::find(entries.begin(), entries.end(), wanted) != entries.end())
        return;
    entries.insert(std::lower_bound(entries.begin(), entries.end(), wanted), wanted);
}

// The text of the list's selected entry; empty for none.
std::string SelectedText(HWND list)
{
    const LRESULT index = SendMessageA(list, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR)
        return {};
    const LRESULT length = SendMessageA(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR)
        return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

INT_PTR CALLBACK AboutProcedure(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        const std::string version = std::string("Ostrim Version ") + kVersion;
        SetDlgItemTextA(window, OSTRIM_IDC_ABOUT_VERSION, version.c_str());
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(window, LOWORD(wParam));
            return TRUE;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

} // namespace

MainDialog::MainDialog(Win32DialogOptions options)
    : options_(std::move(options)), folder_(options_.folder.empty() ? DefaultFolder() : options_.folder)
{
}

MainDialog::~MainDialog()
{
    if (run_)
        run_->Stop();
    run_.reset(); // the probe's thread too, before the members it reports to go
    if (modeless_ && window_ != nullptr && IsWindow(window_))
        DestroyWindow(window_);
    if (smallIcon_ != nullptr)
        DestroyIcon(smallIcon_);
}

void MainDialog::LoadIcons(HINSTANCE instance)
{
    instance_ = instance;
    icon_ = LoadIconA(instance, MAKEINTRESOURCEA(OSTRIM_IDI_MAIN));
    smallIcon_ = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(OSTRIM_IDI_MAIN), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
}

INT_PTR MainDialog::Run(HINSTANCE instance)
{
    LoadIcons(instance);
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(OSTRIM_IDD_MAIN), nullptr, &MainDialog::Procedure,
                           reinterpret_cast<LPARAM>(this));
}

HWND MainDialog::Create(HINSTANCE instance)
{
    LoadIcons(instance);
    modeless_ = true;
    return CreateDialogParamA(instance, MAKEINTRESOURCEA(OSTRIM_IDD_MAIN), nullptr,
                              &MainDialog::Procedure, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK MainDialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        auto* self = reinterpret_cast<MainDialog*>(lParam);
        self->window_ = window;
    }
    auto* self = reinterpret_cast<MainDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    return self == nullptr ? FALSE : self->Handle(message, wParam, lParam);
}

INT_PTR MainDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        return TRUE; // the focus goes to the first control, Start
    case Win32DialogFields::kApplyMessage:
        fields_.ApplyQueued();
        return TRUE;
    case Win32TimerService::kApplyMessage:
        timers_.ApplyQueued();
        return TRUE;
    case kEnableStartMessage:
        EnableWindow(Control(kIdStart), TRUE); // Start again opens the port anew, new logs
        return TRUE;
    case kProbeDoneMessage:
        OnProbeDone();
        return TRUE;
    case kTitleMessage: {
        std::lock_guard lock(titleMutex_);
        SetWindowTextA(window_, title_.c_str());
        return TRUE;
    }
    case WM_TIMER:
        if (wParam == kTickTimer)
            run_->Tick();
        else if (wParam == kPanelTimer)
            RefreshPanel();
        else
            timers_.OnTimer(static_cast<int>(wParam));
        return TRUE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == OSTRIM_IDM_ABOUT) {
            DialogBoxParamA(instance_, MAKEINTRESOURCEA(OSTRIM_IDD_ABOUT), window_, AboutProcedure, 0);
            return TRUE;
        }
        if ((wParam & 0xFFF0) == OSTRIM_IDM_PREDICTIVE) {
            TogglePredictive();
            return TRUE;
        }
        if ((wParam & 0xFFF0) == OSTRIM_IDM_RELOAD) {
            run_->Run().Control().OnReloadSensors();
            return TRUE;
        }
        if (const std::size_t choice = ReceiverDelayChoiceOf(wParam & 0xFFF0); choice < std::size(kReceiverDelayChoicesMs)) {
            ChooseReceiverDelay(choice);
            return TRUE;
        }
        return FALSE;
    case WM_PAINT:
        if (IsIconic(window_)) {
            PaintMinimised();
            return TRUE;
        }
        return FALSE;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
        if (panel_)
            return reinterpret_cast<INT_PTR>(panel_->OnControlColour(reinterpret_cast<HDC>(wParam),
                                                                     reinterpret_cast<HWND>(lParam)));
        return FALSE;
    case WM_DRAWITEM:
        return panel_ && panel_->OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)) ? TRUE : FALSE;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (!panel_ || header->idFrom != RunPanelView::kIdSensors || header->code != NM_CUSTOMDRAW)
            return FALSE;
        SetWindowLongPtrA(window_, DWLP_MSGRESULT,
                          panel_->OnCustomDraw(*reinterpret_cast<NMLVCUSTOMDRAW*>(lParam)));
        return TRUE;
    }
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(icon_);
    case WM_COMMAND:
        // A choice of the system menu's submenu comes as a menu command (Wine sends those so).
        if (const std::size_t choice = ReceiverDelayChoiceOf(LOWORD(wParam));
            lParam == 0 && HIWORD(wParam) == 0 && choice < std::size(kReceiverDelayChoicesMs)) {
            ChooseReceiverDelay(choice);
            return TRUE;
        }
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_CLOSE:
        OnCancel();
        return TRUE;
    case WM_DESTROY:
        KillTimer(window_, kTickTimer);
        KillTimer(window_, kPanelTimer);
        return FALSE;
    default:
        return FALSE;
    }
}

void MainDialog::OnInitDialog()
{
    AddSystemMenuItems();
    SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageA(window_, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(smallIcon_ != nullptr ? smallIcon_ : icon_));

    FillPortLists();
    const std::string sensorFile =
        options_.sensorFile.empty() ? LvrSensorFile(folder_) : options_.sensorFile;
    SetDlgItemTextA(window_, kIdSensorFile, sensorFile.c_str());
    CheckRadioButton(window_, kIdLoop, kIdBackAndForth, kIdLoop);
    CheckRadioButton(window_, kIdLvr, kIdMainline, kIdLvr);
    SetDlgItemTextA(window_, kIdVehicleType, options_.vehicleType.c_str());
    SetDlgItemTextA(window_, kIdFolder, folder_.c_str());
    SetDlgItemTextA(window_, kIdNodeId, options_.nodeId.c_str());

    fields_.Attach(window_);
    fields_.OnPortChanged(kIdGpsPort);
    fields_.OnPortChanged(kIdBaseStationPort);
    if (options_.echoStatus) {
        fields_.SetStatusEcho([](const std::string& text) {
            std::printf("Status: %s\n", text.c_str());
            std::fflush(stdout);
        });
    }

    HWND window = window_;
    DialogView view;
    view.enableStart = [window] { PostMessageA(window, kEnableStartMessage, 0, 0); };
    view.setTitle = [this, window](const std::string& title) {
        std::lock_guard lock(titleMutex_);
        title_ = title;
        PostMessageA(window, kTitleMessage, 0, 0);
    };
    run_ = std::make_unique<DialogRun>(fields_, timers_, std::move(view),
                                       [this] { return fields_.SelectedPort(kIdBaseStationPort); });
    timers_.Attach(window_, [this](int id) { run_->Run().Engine().OnTimer(id); });
    SetTimer(window_, kTickTimer, 1000, nullptr);
    panel_ = std::make_unique<RunPanelView>(run_->Run().Monitor());
    panel_->Create(window_);
    SetTimer(window_, kPanelTimer, static_cast<UINT>(kPanelRefreshPeriod.count()), nullptr);
    if (!scanError_.empty())
        run_->ShowStatus(scanError_);
    ProbePorts();
}

void MainDialog::AddSystemMenuItems()
{
    char text[64] = {};
    if (LoadStringA(instance_, OSTRIM_IDS_ABOUT, text, sizeof text) <= 0)
        return;
    HMENU menu = GetSystemMenu(window_, FALSE);
    if (menu == nullptr)
        return;
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, OSTRIM_IDM_ABOUT, text);
    AppendMenuA(menu, MF_STRING, OSTRIM_IDM_RELOAD, kReloadSensorsText);
    // Before the predictive trigger, which stays the last item, as the Qt dialog's menu has them.
    HMENU delays = CreatePopupMenu();
    for (std::size_t k = 0; k < std::size(kReceiverDelayChoicesMs); ++k)
        AppendMenuA(delays, MF_STRING | (kReceiverDelayChoicesMs[k] == 0 ? MF_CHECKED : MF_UNCHECKED),
                    OSTRIM_IDM_RECEIVER_DELAY + 16 * k, ReceiverDelayChoiceText(kReceiverDelayChoicesMs[k]).c_str());
    AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(delays), kReceiverDelayText);
    AppendMenuA(menu, MF_STRING | MF_UNCHECKED, OSTRIM_IDM_PREDICTIVE, kPredictiveTriggerText);
}

std::size_t MainDialog::ReceiverDelayChoiceOf(WPARAM command)
{
    if (command < OSTRIM_IDM_RECEIVER_DELAY || (command - OSTRIM_IDM_RECEIVER_DELAY) % 16 != 0)
        return std::size(kReceiverDelayChoicesMs);
    return static_cast<std::size_t>((command - OSTRIM_IDM_RECEIVER_DELAY) / 16);
}

void MainDialog::ChooseReceiverDelay(std::size_t choice)
{
    HMENU menu = GetSystemMenu(window_, FALSE);
    for (std::size_t k = 0; k < std::size(kReceiverDelayChoicesMs); ++k)
        CheckMenuItem(menu, OSTRIM_IDM_RECEIVER_DELAY + 16 * k, MF_BYCOMMAND | (k == choice ? MF_CHECKED : MF_UNCHECKED));
    run_->Run().Control().SetReceiverDelay(kReceiverDelayChoicesMs[choice]);
    if (options_.echoStatus) {
        std::printf("Receiver delay: %d ms\n", kReceiverDelayChoicesMs[choice]);
        std::fflush(stdout);
    }
}

void MainDialog::TogglePredictive()
{
    HMENU menu = GetSystemMenu(window_, FALSE);
    const UINT state = GetMenuState(menu, OSTRIM_IDM_PREDICTIVE, MF_BYCOMMAND);
    if (state == static_cast<UINT>(-1) || (state & (MF_GRAYED | MF_DISABLED)) != 0)
        return;
    const bool on = (state & MF_CHECKED) == 0;
    CheckMenuItem(menu, OSTRIM_IDM_PREDICTIVE, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
    run_->Run().Control().ChooseRule(on);
}

void MainDialog::FillPortLists()
{
    const ComPortScan scan = options_.scanPorts();
    const PortPreselection rule = PreselectComPorts(scan.systemOrder);
    entries_ = rule.gpsEntries;
    const std::string gpsNamed = EntryOf(options_.gpsPort);
    const std::string baseNamed = EntryOf(options_.basePort);
    AddEntry(entries_, gpsNamed);
    AddEntry(entries_, baseNamed);
    gpsHeld_ = !gpsNamed.empty();
    baseHeld_ = !baseNamed.empty();
    // The rule picks positions in lists sorted as text; "1" "10" "2" sort as "COM1" "COM10"
    // "COM2" do, so a bare number's entry is the same port.
    const std::string gps = gpsHeld_ ? gpsNamed : rule.gps ? rule.gpsEntries[*rule.gps] : "";
    const std::string base =
        baseHeld_ ? baseNamed : rule.base ? "COM" + rule.baseEntries[*rule.base] : "";
    ShowPortEntries(gps, base);
    if (scan.error != 0)
        scanError_ = PortScanFailedText(scan.error);
}

void MainDialog::ShowPortEntries(const std::string& gps, const std::string& base)
{
    for (const auto& [id, selected] : {std::pair<int, const std::string&>{kIdGpsPort, gps},
                                       std::pair<int, const std::string&>{kIdBaseStationPort, base}}) {
        HWND list = Control(id);
        SendMessageA(list, CB_RESETCONTENT, 0, 0);
        for (const std::string& entry : entries_)
            SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
        const auto at = std::find(entries_.begin(), entries_.end(), selected);
        const WPARAM index = at == entries_.end() ? static_cast<WPARAM>(-1)
                                                  : static_cast<WPARAM>(at - entries_.begin());
        SendMessageA(list, CB_SETCURSEL, index, 0);
    }
    if (options_.echoStatus) {
        std::string line = "Ports:";
        for (const std::string& entry : entries_)
            line += " " + entry;
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
}

void MainDialog::RefreshPortLists()
{
    const ComPortScan scan = options_.scanPorts();
    if (scan.error != 0) {
        // The lists keep what they showed: an empty list would say there are no ports.
        run_->ShowStatus(PortScanFailedText(scan.error));
        return;
    }
    // The selections stay listed even when their ports have gone, so they never move by
    // themselves, and so do the ports named on the command line.
    const std::string gps = SelectedText(Control(kIdGpsPort));
    const std::string base = SelectedText(Control(kIdBaseStationPort));
    entries_ = PreselectComPorts(scan.systemOrder).gpsEntries;
    for (const std::string& kept : {EntryOf(options_.gpsPort), EntryOf(options_.basePort), gps, base})
        AddEntry(entries_, kept);
    ShowPortEntries(gps, base);
}

void MainDialog::ProbePorts()
{
    if (!options_.listen || (gpsHeld_ && baseHeld_) || entries_.empty())
        return;
    HWND window = window_;
    run_->ProbePorts(options_.listen, entries_, [this, window](std::vector<PortFinding> findings) {
        {
            std::lock_guard lock(probeMutex_);
            findings_ = std::move(findings);
        }
        PostMessageA(window, kProbeDoneMessage, 0, 0);
    });
}

void MainDialog::OnProbeDone()
{
    std::vector<PortFinding> findings;
    {
        std::lock_guard lock(probeMutex_);
        if (!findings_)
            return;
        findings = std::move(*findings_);
        findings_.reset();
    }
    if (startPressed_)
        return; // Start took the lists as they were
    const PortChoice now{SelectedEntry(kIdGpsPort), SelectedEntry(kIdBaseStationPort), {}};
    const PortChoice choice = ChoosePorts(entries_, entries_, findings, now, gpsHeld_, baseHeld_);
    auto select = [this](int id, std::optional<std::size_t> entry) {
        const WPARAM index = entry ? static_cast<WPARAM>(*entry) : static_cast<WPARAM>(-1);
        SendMessageA(Control(id), CB_SETCURSEL, index, 0);
        fields_.OnPortChanged(id);
    };
    if (!gpsHeld_)
        select(kIdGpsPort, choice.gps);
    if (!baseHeld_)
        select(kIdBaseStationPort, choice.base);
    if (!choice.status.empty())
        run_->ShowStatus(choice.status);
}

std::optional<std::size_t> MainDialog::SelectedEntry(int listId) const
{
    const LRESULT index = SendMessageA(Control(listId), CB_GETCURSEL, 0, 0);
    if (index == CB_ERR || static_cast<std::size_t>(index) >= entries_.size())
        return std::nullopt;
    return static_cast<std::size_t>(index);
}

bool MainDialog::Ask(const std::string& question)
{
    if (options_.ask)
        return options_.ask(window_, question);
    return MessageBoxA(window_, question.c_str(), "Ostrim",
                       MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

void MainDialog::OnCommand(int id, int code)
{
    if (code == EN_CHANGE) {
        fields_.OnEdited(id);
        return;
    }
    if (code == CBN_DROPDOWN || code == CBN_SELCHANGE) {
        // From now on the operator chooses this list's port, not the probe.
        (id == kIdGpsPort ? gpsHeld_ : baseHeld_) = true;
        if (code == CBN_DROPDOWN)
            RefreshPortLists();
        fields_.OnPortChanged(id);
        return;
    }
    if (code != BN_CLICKED || !run_)
        return;
    Session& run = run_->Run();
    RunControl& control = run.Control();
    switch (id) {
    case kIdStart:
        OnStart();
        break;
    case kIdCancel:
        OnCancel();
        break;
    case kIdFolderBrowse:
        OnBrowseFolder();
        break;
    case kIdSensorBrowse:
        OnBrowseSensorFile();
        break;
    case kIdTriggerOnOff:
        control.OnTriggerOnOff();
        break;
    case kIdLoop:
        control.OnLoop();
        break;
    case kIdBackAndForth:
        control.OnBackAndForth();
        break;
    case kIdEndOfLap:
        control.OnEndOfLap();
        break;
    // Ping and Test Node hold the GUI thread for their exchange (under a second), as Start's
    // own check does.
    case kIdPing:
        run.BaseStation().OnPing();
        break;
    case kIdTestNode:
        run.BaseStation().OnTestNode();
        break;
    case kIdLvr:
        fields_.SetText(Field::SensorFile, LvrSensorFile(folder_));
        break;
    case kIdMainline:
        fields_.SetText(Field::SensorFile, MainlineSensorFile(folder_));
        break;
    case RunPanelView::kIdDetails:
        panel_->OnDetailsClicked();
        break;
    default:
        break;
    }
}

void MainDialog::OnStart()
{
    // Enter reaches here as IDOK also while Start is disabled.
    if (!IsWindowEnabled(Control(kIdStart)))
        return;
    startPressed_ = true;
    const std::string gps = fields_.SelectedPort(kIdGpsPort);
    const std::string base = fields_.SelectedPort(kIdBaseStationPort);
    if (SameSerialPort(gps, base) && !Ask(SamePortQuestion(gps)))
        return;
    const RunControl::StartOutcome outcome =
        run_->Start(gps.empty() ? std::string() : ComDevicePath(gps), base, gps);
    if (outcome == RunControl::StartOutcome::GpsPortFailed)
        return;
    runActive_ = true; // the reader runs, also when the logs failed
    if (outcome != RunControl::StartOutcome::Running)
        return;
    // Left alone, the focus would pass on to Cancel, where the next Enter or Space would end
    // the run.
    HWND focus = GetFocus();
    if (focus == nullptr || focus == Control(kIdStart) || focus == Control(kIdCancel))
        SendMessageA(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Control(kIdStatus)), TRUE);
    EnableWindow(Control(kIdStart), FALSE);
    EnableMenuItem(GetSystemMenu(window_, FALSE), OSTRIM_IDM_PREDICTIVE, MF_BYCOMMAND | MF_GRAYED);
    if (options_.echoStatus) {
        std::printf("Rule: %s\n", run_->Run().State().predictive.load() != 0 ? "predictive" : "on-fix");
        std::fflush(stdout);
    }
}

bool MainDialog::MayEnd()
{
    return !runActive_ || MessageBoxA(window_, kConfirmEndText, "Ostrim",
                                      MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void MainDialog::OnCancel()
{
    // While a run is active Escape does nothing: pressed once too often to close a port list,
    // it would end the run. Cancel and the close box ask first.
    if (runActive_ && (GetKeyState(VK_ESCAPE) & 0x8000) != 0)
        return;
    if (!MayEnd())
        return;
    run_->Stop(); // no reader callback outlives the dialog
    RescueHeldRecords();
    if (run_->Run().Monitor().RunStarted()) {
        const std::string summary = run_->Run().Summary();
        if (options_.echoStatus) {
            std::printf("%s\n", summary.c_str());
            std::fflush(stdout);
        }
        if (options_.tell)
            options_.tell(window_, summary);
        else
            MessageBoxA(window_, summary.c_str(), "Ostrim: run summary", MB_OK | MB_ICONINFORMATION);
    }
    if (modeless_)
        DestroyWindow(window_);
    else
        EndDialog(window_, IDCANCEL);
}

void MainDialog::RescueHeldRecords()
{
    Session& run = run_->Run();
    if (!run.Monitor().RunStarted() || run.Held().records == 0)
        return;
    std::string folder = run.DefaultRescueFolder();
    std::string failure;
    for (;;) {
        const std::string text = (failure.empty() ? std::string() : failure + "\n\n") +
                                 RescueQuestion(run.Logs().Held().records) + "\n\n" + folder +
                                 "\n\nYes: write them there.  No: choose another folder.";
        const int answer = MessageBoxA(window_, text.c_str(), "Ostrim", MB_YESNOCANCEL | MB_ICONWARNING);
        if (answer == IDCANCEL)
            return; // given up: the summary says how many are lost
        if (answer == IDNO) {
            BROWSEINFOA info{};
            info.hwndOwner = window_;
            info.lpszTitle = kFolderPickerTitle;
            info.ulFlags = BIF_RETURNONLYFSDIRS;
            LPITEMIDLIST item = SHBrowseForFolderA(&info);
            if (item == nullptr)
                continue;
            char path[MAX_PATH] = {};
            const bool got = SHGetPathFromIDListA(item, path) != FALSE;
            CoTaskMemFree(item);
            if (!got)
                continue;
            folder = path;
        }
        const RescueResult rescue = run.Rescue(folder);
        if (rescue.lost == 0)
            return;
        failure = RescueFailedText(folder, rescue.error);
    }
}

void MainDialog::OnBrowseFolder()
{
    BROWSEINFOA info{};
    info.hwndOwner = window_; // modal: no Start while the browser is open
    info.lpszTitle = kFolderPickerTitle;
    LPITEMIDLIST item = SHBrowseForFolderA(&info);
    if (item == nullptr)
        return;
    char path[MAX_PATH] = {};
    if (SHGetPathFromIDListA(item, path)) {
        std::fputs(FolderSelectedLine(path).c_str(), stdout);
        std::fflush(stdout);
        fields_.SetText(Field::Folder, path);
    }
    CoTaskMemFree(item);
}

void MainDialog::OnBrowseSensorFile()
{
    std::string filter;
    for (const FileFilter& entry : kSensorFileFilters) {
        filter += entry.name;
        filter += '\0';
        filter += entry.pattern;
        filter += '\0';
    }
    filter += '\0';
    const std::string folder = FolderOf(fields_.GetText(Field::SensorFile));
    char file[MAX_PATH] = {};
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window_;
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof file;
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameA(&dialog)) {
        fields_.SetText(Field::Status, kNoFileSelected);
        return;
    }
    fields_.SetText(Field::SensorFile, file);
}

void MainDialog::RefreshPanel()
{
    panel_->Refresh();
    if (options_.panelDump.empty())
        return;
    // Whole or not at all: a reader never sees half a dump.
    const std::string part = options_.panelDump + ".part";
    // The file calls, not a stream: a stream pulls the C++ locale machinery into the program.
    const std::string text = panel_->Dump();
    HANDLE file = CreateFileA(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    const BOOL wrote = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    if (!wrote || written != text.size())
        return;
    MoveFileExA(part.c_str(), options_.panelDump.c_str(), MOVEFILE_REPLACE_EXISTING);
}

void MainDialog::PaintMinimised()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window_, &paint);
    SendMessageA(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(window_, &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon_);
    EndPaint(window_, &paint);
}

} // namespace ostrim
