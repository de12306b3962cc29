#include "app/win32/MainDialog.h"

#include "run/DialogDefaults.h"
#include "app/DialogTemplate.h"
#include "run/PortPreselection.h"
#include "app/Version.h"
#include "platform/PortList.h"

#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <vector>

namespace ostrim {

namespace {

// The machine's MS-DOS device names in the order the system lists them; none when the call fails.
std::vector<std::string> DosDeviceNames()
{
    std::vector<char> buffer(65535);
    const DWORD count = QueryDosDeviceA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    std::vector<std::string> names;
    for (DWORD at = 0; at < count && buffer[at] != '\0';) {
        std::string name(buffer.data() + at);
        at += static_cast<DWORD>(name.size()) + 1;
        names.push_back(std::move(name));
    }
    return names;
}

std::string WithoutDevicePrefix(const std::string& port)
{
    return port.rfind("\\\\.\\", 0) == 0 ? port.substr(4) : port;
}

// A port list's entry for a name given on the command line.
std::string GpsEntryOf(const std::string& port)
{
    return WithoutDevicePrefix(port);
}

std::string BaseEntryOf(const std::string& port)
{
    std::string entry = WithoutDevicePrefix(port);
    return entry.rfind("COM", 0) == 0 ? entry.substr(3) : entry;
}

void FillList(HWND list, const std::vector<std::string>& entries, int selected)
{
    for (const std::string& entry : entries)
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

// The entries with `wanted` added if missing, kept in order as text; the index of `wanted`, or
// `otherwise` when nothing is wanted.
int Place(std::vector<std::string>& entries, const std::string& wanted, int otherwise)
{
    if (wanted.empty())
        return otherwise;
    auto it = std::find(entries.begin(), entries.end(), wanted);
    if (it == entries.end())
        it = entries.insert(std::lower_bound(entries.begin(), entries.end(), wanted), wanted);
    return static_cast<int>(it - entries.begin());
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
        run_->Run().Stop();
    if (smallIcon_ != nullptr)
        DestroyIcon(smallIcon_);
}

INT_PTR MainDialog::Run(HINSTANCE instance)
{
    instance_ = instance;
    icon_ = LoadIconA(instance, MAKEINTRESOURCEA(OSTRIM_IDI_MAIN));
    smallIcon_ = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(OSTRIM_IDI_MAIN), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(OSTRIM_IDD_MAIN), nullptr, &MainDialog::Procedure,
                           reinterpret_cast<LPARAM>(this));
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
    case kTitleMessage: {
        std::lock_guard lock(titleMutex_);
        SetWindowTextA(window_, title_.c_str());
        return TRUE;
    }
    case WM_TIMER:
        if (wParam == kSilenceTimer)
            run_->CheckSilence();
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
        KillTimer(window_, kSilenceTimer);
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
    SetTimer(window_, kSilenceTimer, 1000, nullptr);
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
    PortPreselection rule = PreselectComPorts(DosDeviceNames());
    const int gps = Place(rule.gpsEntries, GpsEntryOf(options_.gpsPort), rule.gps.value_or(-1));
    const int base = Place(rule.baseEntries, BaseEntryOf(options_.basePort), rule.base.value_or(-1));
    FillList(Control(kIdGpsPort), rule.gpsEntries, gps);
    FillList(Control(kIdBaseStationPort), rule.baseEntries, base);
    if (options_.echoStatus) {
        std::string line = "Ports:";
        for (const std::string& entry : rule.gpsEntries)
            line += " " + entry;
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
}

void MainDialog::OnCommand(int id, int code)
{
    if (code == EN_CHANGE) {
        fields_.OnEdited(id);
        return;
    }
    if (code == CBN_SELCHANGE) {
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
    default:
        break;
    }
}

void MainDialog::OnStart()
{
    // Enter reaches here as IDOK also while Start is disabled.
    if (!IsWindowEnabled(Control(kIdStart)))
        return;
    const std::string gps = fields_.SelectedPort(kIdGpsPort);
    const RunControl::StartOutcome outcome =
        run_->Start(gps.empty() ? std::string() : ComDevicePath(gps),
                    fields_.SelectedPort(kIdBaseStationPort), gps);
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
    run_->Run().Stop(); // no reader callback outlives the dialog
    EndDialog(window_, IDCANCEL);
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
