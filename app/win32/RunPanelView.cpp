#include "app/win32/RunPanelView.h"

#include "app/DialogTemplate.h"

#include <commctrl.h>

#include <algorithm>
#include <cstddef>

namespace ostrim {

namespace {

// One control of the panel, in dialog units from the panel's top-left corner. The panel lies
// below the dialog's controls, at kDialogHeight; rows below kPanelHeaderHeight are the details.
struct PanelControl {
    int id; // -1: a caption
    const char* windowClass;
    DWORD style;
    const char* text;
    int x, y, w, h;
};

constexpr DWORD kValue = SS_LEFTNOWORDWRAP | SS_NOPREFIX;
constexpr DWORD kPath = ES_LEFT | ES_AUTOHSCROLL | ES_READONLY; // scrolls to show a long path

// The state indicator alone takes the whole row; beside the logs indicator, 3 to 2 as in the
// Qt panel.
constexpr int kIndicatorX = 6, kIndicatorY = 14, kIndicatorW = 323, kIndicatorGap = 4;
constexpr int kStateShareW = (kIndicatorW - kIndicatorGap) * 3 / 5;

const PanelControl kControls[] = {
    {RunPanelView::kIdDetails, "Button", BS_AUTOCHECKBOX | WS_TABSTOP, PanelLabels::kDetails, 6, 3, 40, 10},
    {-1, "Static", SS_ETCHEDHORZ, "", 50, 8, 279, 1},
    {RunPanelView::kIdState, "Static", SS_OWNERDRAW, "", kIndicatorX, kIndicatorY, kIndicatorW,
     kPanelIndicatorHeight - 2},
    {RunPanelView::kIdLogsState, "Static", SS_OWNERDRAW, "", kIndicatorX + kStateShareW + kIndicatorGap,
     kIndicatorY, kIndicatorW - kStateShareW - kIndicatorGap, kPanelIndicatorHeight - 2},
    {-1, "Static", kValue, PanelLabels::kFixesLogged, 6, 40, 50, 8},
    {RunPanelView::kIdFixes, "Static", kValue, "-", 58, 40, 60, 8},
    {RunPanelView::kIdHeld, "Static", kValue, "", 120, 40, 209, 8},
    {-1, "Static", kValue, PanelLabels::kFixRate, 6, 50, 50, 8},
    {RunPanelView::kIdRate, "Static", kValue, "-", 58, 50, 60, 8},
    {-1, "Static", kValue, PanelLabels::kLastFix, 120, 50, 30, 8},
    {RunPanelView::kIdAge, "Static", kValue, "-", 152, 50, 177, 8},
    {-1, "Static", kValue, PanelLabels::kLastGga, 6, 60, 50, 8},
    {RunPanelView::kIdQuality, "Static", kValue, "-", 58, 60, 271, 8},
    {-1, "Static", kValue, PanelLabels::kGpsLog, 6, 70, 50, 8},
    {RunPanelView::kIdGpsLog, "Edit", kPath, "-", 58, 70, 271, 9},
    {-1, "Static", kValue, PanelLabels::kRawLog, 6, 80, 50, 8},
    {RunPanelView::kIdRawLog, "Edit", kPath, "-", 58, 80, 271, 9},
    {-1, "Static", kValue, PanelLabels::kEventLog, 6, 90, 50, 8},
    {RunPanelView::kIdEventLog, "Edit", kPath, "-", 58, 90, 271, 9},
    {RunPanelView::kIdLag, "Static", kValue, "", 6, 100, 323, 8},
    {RunPanelView::kIdSensors, WC_LISTVIEWA, LVS_REPORT | LVS_NOSORTHEADER | LVS_SINGLESEL | WS_BORDER,
     "", 6, 111, 184, 59},
    {RunPanelView::kIdHistory, "ListBox",
     LBS_NOINTEGRALHEIGHT | LBS_NOSEL | WS_VSCROLL | WS_HSCROLL | WS_BORDER, "", 194, 111, 135, 59},
};

// The sensor list's columns in dialog units; the state's takes what the others leave, as in
// the Qt panel.
constexpr int kColumnWidths[] = {32, 40, 0, 34};
constexpr int kStateColumn = 2;

COLORREF ColourOf(std::uint32_t rgb)
{
    return RGB((rgb >> 16) & 0xff, (rgb >> 8) & 0xff, rgb & 0xff);
}

std::string WindowText(HWND window)
{
    const int length = GetWindowTextLengthA(window);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    text.resize(static_cast<std::size_t>(GetWindowTextA(window, text.data(), length + 1)));
    return text;
}

// Sets the text only when it differs: a repaint each refresh would flicker.
bool SetIfChanged(HWND window, const std::string& text)
{
    if (window == nullptr || WindowText(window) == text)
        return false;
    SetWindowTextA(window, text.c_str());
    return true;
}

std::string ItemText(HWND list, int row, int column)
{
    char text[512] = {};
    ListView_GetItemText(list, row, column, text, static_cast<int>(sizeof text));
    return text;
}

std::string ListBoxText(HWND list, int row)
{
    const LRESULT length = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(row), 0);
    if (length == LB_ERR)
        return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

} // namespace

RunPanelView::~RunPanelView()
{
    for (HFONT font : {largeFont_, boldFont_})
        if (font != nullptr)
            DeleteObject(font);
    if (brush_ != nullptr)
        DeleteObject(brush_);
}

void RunPanelView::Create(HWND dialog)
{
    dialog_ = dialog;
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&classes);
    const HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    font_ = font;
    LOGFONTA look{};
    if (font != nullptr && GetObjectA(font, sizeof look, &look) == sizeof look) {
        look.lfWeight = FW_BOLD;
        boldFont_ = CreateFontIndirectA(&look);
        look.lfHeight = look.lfHeight * 8 / 5; // 1.6 times, as the Qt panel's
        largeFont_ = CreateFontIndirectA(&look);
    }

    for (const PanelControl& c : kControls) {
        RECT r{c.x, kDialogHeight + c.y, c.x + c.w, kDialogHeight + c.y + c.h};
        MapDialogRect(dialog, &r);
        HWND control = CreateWindowExA(0, c.windowClass, c.text, WS_CHILD | WS_VISIBLE | c.style, r.left,
                                       r.top, r.right - r.left, r.bottom - r.top, dialog,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)),
                                       reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE)),
                                       nullptr);
        if (control == nullptr)
            continue;
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        if (c.y >= kPanelHeaderHeight)
            body_.push_back(control);
    }
    ShowWindow(GetDlgItem(dialog, kIdState), SW_HIDE);
    ShowWindow(GetDlgItem(dialog, kIdLogsState), SW_HIDE);

    HWND sensors = GetDlgItem(dialog, kIdSensors);
    ListView_SetExtendedListViewStyle(sensors, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    int widths[4] = {};
    RECT client{};
    GetClientRect(sensors, &client);
    // Room for a vertical scroll bar: 24 sensors do not fit, and no sideways one then.
    widths[kStateColumn] = client.right - GetSystemMetrics(SM_CXVSCROLL);
    for (int k = 0; k < 4; ++k) {
        if (k == kStateColumn)
            continue;
        RECT width{0, 0, kColumnWidths[k], 0};
        MapDialogRect(dialog, &width);
        widths[k] = width.right;
        widths[kStateColumn] -= width.right;
    }
    for (int k = 0; k < 4; ++k) {
        LVCOLUMNA column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<char*>(PanelLabels::kSensorColumns[k]);
        column.cx = widths[k];
        column.iSubItem = k;
        ListView_InsertColumn(sensors, k, &column);
    }
    // A history line can be longer than the list is wide: it scrolls sideways.
    RECT extent{0, 0, 400, 0};
    MapDialogRect(dialog, &extent);
    SendDlgItemMessageA(dialog, kIdHistory, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(extent.right), 0);

    CheckDlgButton(dialog, kIdDetails, BST_CHECKED);
    SetDetailsShown(true);
    Refresh();
}

void RunPanelView::OnDetailsClicked()
{
    SetDetailsShown(IsDlgButtonChecked(dialog_, kIdDetails) == BST_CHECKED);
}

void RunPanelView::SetDetailsShown(bool shown)
{
    for (HWND control : body_)
        ShowWindow(control, shown ? SW_SHOWNA : SW_HIDE);
    RECT client{0, 0, kDialogWidth, kDialogHeight + (shown ? kPanelHeight : kPanelHeaderHeight)};
    MapDialogRect(dialog_, &client);
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrA(dialog_, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrA(dialog_, GWL_EXSTYLE));
    AdjustWindowRectEx(&client, style, FALSE, exStyle);
    SetWindowPos(dialog_, nullptr, 0, 0, client.right - client.left, client.bottom - client.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void RunPanelView::Show(int id, const PanelLine& line)
{
    HWND control = GetDlgItem(dialog_, id);
    const bool changed = SetIfChanged(control, line.text);
    PanelLevel& level = levels_[id];
    if (changed || level != line.level) {
        // Red and bold for what is wrong, as in the Qt panel.
        if (level != line.level && id != kIdState && id != kIdLogsState && boldFont_ != nullptr)
            SendMessageA(control, WM_SETFONT,
                         reinterpret_cast<WPARAM>(line.level == PanelLevel::Alarm ? boldFont_ : font_), FALSE);
        level = line.level;
        InvalidateRect(control, nullptr, TRUE);
    }
}

void RunPanelView::Refresh()
{
    if (dialog_ == nullptr)
        return;
    const PanelTexts p = MakePanelTexts(monitor_.Take());

    // The indicators show only with something to say; the state's takes the row when alone.
    HWND state = GetDlgItem(dialog_, kIdState);
    HWND logs = GetDlgItem(dialog_, kIdLogsState);
    Show(kIdState, p.state);
    Show(kIdLogsState, p.logsState);
    const bool logsShown = !p.logsState.text.empty();
    if ((IsWindowVisible(logs) != FALSE) != logsShown) {
        RECT r{kIndicatorX, kDialogHeight + kIndicatorY,
               kIndicatorX + (logsShown ? kStateShareW : kIndicatorW),
               kDialogHeight + kIndicatorY + kPanelIndicatorHeight - 2};
        MapDialogRect(dialog_, &r);
        SetWindowPos(state, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        ShowWindow(logs, logsShown ? SW_SHOWNA : SW_HIDE);
    }
    if ((IsWindowVisible(state) != FALSE) != !p.state.text.empty())
        ShowWindow(state, p.state.text.empty() ? SW_HIDE : SW_SHOWNA);

    Show(kIdFixes, p.fixesLogged);
    Show(kIdHeld, p.held);
    Show(kIdRate, p.fixRate);
    Show(kIdAge, p.fixAge);
    Show(kIdQuality, p.quality);
    Show(kIdLag, p.receiverLag);
    for (const auto& [id, path] : {std::pair<int, const std::string&>{kIdGpsLog, p.gpsLog},
                                   {kIdRawLog, p.rawLog},
                                   {kIdEventLog, p.eventLog}})
        SetIfChanged(GetDlgItem(dialog_, id), path);
    ShowSensors(p.sensors);
    ShowHistory();

    // The status line in red while it reports a failure; its text changes on its own.
    HWND status = GetDlgItem(dialog_, kIdStatus);
    const PanelLevel statusLevel = IsAlarmText(WindowText(status)) ? PanelLevel::Alarm : PanelLevel::Normal;
    PanelLevel& shown = levels_[kIdStatus];
    if (shown != statusLevel) {
        shown = statusLevel;
        InvalidateRect(status, nullptr, TRUE);
    }
}

void RunPanelView::ShowSensors(const std::vector<PanelSensorRow>& rows)
{
    HWND list = GetDlgItem(dialog_, kIdSensors);
    if (list == nullptr)
        return;
    const int count = static_cast<int>(rows.size());
    while (ListView_GetItemCount(list) > count)
        ListView_DeleteItem(list, ListView_GetItemCount(list) - 1);
    while (ListView_GetItemCount(list) < count) {
        LVITEMA item{};
        item.mask = LVIF_TEXT;
        item.iItem = ListView_GetItemCount(list);
        item.pszText = const_cast<char*>("");
        ListView_InsertItem(list, &item);
    }
    alarmRows_.resize(rows.size(), false);
    for (int i = 0; i < count; ++i) {
        const PanelSensorRow& row = rows[static_cast<std::size_t>(i)];
        const std::string* cells[] = {&row.number, &row.nodeId, &row.state.text, &row.distance};
        for (int k = 0; k < 4; ++k) {
            if (ItemText(list, i, k) != *cells[k])
                ListView_SetItemText(list, i, k, const_cast<char*>(cells[k]->c_str()));
        }
        const bool alarm = row.state.level == PanelLevel::Alarm;
        if (alarmRows_[static_cast<std::size_t>(i)] != alarm) {
            alarmRows_[static_cast<std::size_t>(i)] = alarm;
            ListView_RedrawItems(list, i, i);
        }
    }
}

void RunPanelView::ShowHistory()
{
    HWND list = GetDlgItem(dialog_, kIdHistory);
    if (list == nullptr)
        return;
    const HistoryFeed::Update update = historyFeed_.Next(monitor_);
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    if (update.last && count > 0 && ListBoxText(list, static_cast<int>(count) - 1) != *update.last) {
        SendMessageA(list, LB_DELETESTRING, static_cast<WPARAM>(count - 1), 0);
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(update.last->c_str()));
    }
    if (update.added.empty())
        return;
    // Follows the newest line unless the operator has scrolled back to read.
    RECT client{};
    GetClientRect(list, &client);
    const LRESULT rowHeight = std::max<LRESULT>(1, SendMessageA(list, LB_GETITEMHEIGHT, 0, 0));
    const LRESULT visible = std::max<LRESULT>(1, (client.bottom - client.top) / rowHeight);
    const bool atEnd = SendMessageA(list, LB_GETTOPINDEX, 0, 0) + visible >= count;
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    for (const std::string& line : update.added)
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (; count > static_cast<LRESULT>(RunMonitor::kHistoryLimit); --count)
        SendMessageA(list, LB_DELETESTRING, 0, 0);
    if (atEnd)
        SendMessageA(list, LB_SETTOPINDEX, static_cast<WPARAM>(std::max<LRESULT>(0, count - visible)), 0);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

HBRUSH RunPanelView::OnControlColour(HDC dc, HWND control)
{
    const auto found = levels_.find(GetDlgCtrlID(control));
    if (found == levels_.end() || found->second != PanelLevel::Alarm)
        return nullptr;
    SetTextColor(dc, ColourOf(kAlarmTextRgb));
    // Edits that take input sit on the window colour, the rest on the dialog's.
    const bool input = found->first == kIdStatus && (GetWindowLongPtrA(control, GWL_STYLE) & ES_READONLY) == 0 &&
                       IsWindowEnabled(control);
    const int background = input ? COLOR_WINDOW : COLOR_BTNFACE;
    SetBkColor(dc, GetSysColor(background));
    return GetSysColorBrush(background);
}

bool RunPanelView::OnDrawItem(const DRAWITEMSTRUCT& item)
{
    if (item.CtlID != static_cast<UINT>(kIdState) && item.CtlID != static_cast<UINT>(kIdLogsState))
        return false;
    const PanelLevel level = levels_[static_cast<int>(item.CtlID)];
    const PanelColours colours = IndicatorColours(level);
    RECT r = item.rcItem;
    if (level == PanelLevel::Normal) {
        FillRect(item.hDC, &r, GetSysColorBrush(COLOR_BTNFACE));
        SetTextColor(item.hDC, GetSysColor(COLOR_BTNTEXT));
    } else {
        if (brush_ != nullptr)
            DeleteObject(brush_);
        brush_ = CreateSolidBrush(ColourOf(colours.background));
        FillRect(item.hDC, &r, brush_);
        SetTextColor(item.hDC, ColourOf(colours.text));
    }
    SetBkMode(item.hDC, TRANSPARENT);
    const std::string text = WindowText(item.hwndItem);
    RECT inner{r.left + 6, r.top, r.right - 6, r.bottom};
    // Large when it fits; in the dialog's bold font when it would be cut off.
    for (HFONT font : {largeFont_, boldFont_}) {
        HGDIOBJ old = SelectObject(item.hDC, font != nullptr ? font : GetStockObject(DEFAULT_GUI_FONT));
        RECT need = inner;
        DrawTextA(item.hDC, text.c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        if (font == boldFont_ || need.bottom - need.top <= inner.bottom - inner.top) {
            RECT at = inner;
            at.top += std::max<LONG>(0, ((inner.bottom - inner.top) - (need.bottom - need.top)) / 2);
            DrawTextA(item.hDC, text.c_str(), -1, &at, DT_WORDBREAK | DT_NOPREFIX);
            SelectObject(item.hDC, old);
            break;
        }
        SelectObject(item.hDC, old);
    }
    return true;
}

LRESULT RunPanelView::OnCustomDraw(NMLVCUSTOMDRAW& draw)
{
    switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: {
        const std::size_t row = static_cast<std::size_t>(draw.nmcd.dwItemSpec);
        if (row < alarmRows_.size() && alarmRows_[row])
            draw.clrText = ColourOf(kAlarmTextRgb);
        return CDRF_DODEFAULT;
    }
    default:
        return CDRF_DODEFAULT;
    }
}

std::string RunPanelView::TextOf(int id) const
{
    return WindowText(GetDlgItem(dialog_, id));
}

std::string RunPanelView::Dump() const
{
    std::string dump;
    auto line = [&dump](const char* name, const std::string& text) {
        dump += name;
        dump += '\t';
        dump += text;
        dump += '\n';
    };
    const std::pair<const char*, int> fields[] = {
        {"state", kIdState},     {"logs", kIdLogsState},  {"fixes", kIdFixes},        {"held", kIdHeld},
        {"rate", kIdRate},       {"age", kIdAge},         {"quality", kIdQuality},    {"lag", kIdLag},
        {"gps log", kIdGpsLog},  {"raw log", kIdRawLog},  {"event log", kIdEventLog},
    };
    for (const auto& [name, id] : fields)
        line(name, TextOf(id));
    HWND sensors = GetDlgItem(dialog_, kIdSensors);
    for (int i = 0; i < ListView_GetItemCount(sensors); ++i) {
        std::string row = ItemText(sensors, i, 0);
        for (int k = 1; k < 4; ++k)
            row += '\t' + ItemText(sensors, i, k);
        row += alarmRows_.size() > static_cast<std::size_t>(i) && alarmRows_[static_cast<std::size_t>(i)] ? "\tred" : "";
        line("sensor", row);
    }
    HWND history = GetDlgItem(dialog_, kIdHistory);
    const LRESULT count = SendMessageA(history, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i)
        line("history", ListBoxText(history, static_cast<int>(i)));
    return dump;
}

} // namespace ostrim
