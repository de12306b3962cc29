// The Windows dialog's port lists under Wine, on a display (tests/win32/dialog.wine.sh runs it,
// and then finds the receiver by listening with the program itself): filled again when opened,
// and a failed scan told. The machine's ports are stand-ins; the dialog is the real one, from
// the program's resources.

#include "app/DialogTemplate.h"
#include "app/win32/MainDialog.h"
#include "app/win32/RunPanelView.h"
#include "run/PortProbe.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace ostrim {
namespace {

using namespace std::chrono_literals;

// Handles this thread's messages until `done` holds or `limit` has passed.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    MSG message;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(5);
    }
    return true;
}

struct Machine {
    std::vector<std::string> ports; // in the system's order
    int error = 0;                  // the scan fails with this

    std::function<ComPortScan()> Scan()
    {
        return [this] {
            ComPortScan scan;
            scan.error = error;
            if (error == 0)
                scan.systemOrder = ports;
            return scan;
        };
    }
};

class DialogWindow {
public:
    explicit DialogWindow(Win32DialogOptions options) : dialog_(std::move(options))
    {
        window_ = dialog_.Create(GetModuleHandleA(nullptr));
    }
    HWND Window() const { return window_; }

    std::vector<std::string> Entries(int id) const
    {
        std::vector<std::string> entries;
        HWND list = GetDlgItem(window_, id);
        const LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i)
            entries.push_back(Text(list, i));
        return entries;
    }
    std::string Selected(int id) const
    {
        HWND list = GetDlgItem(window_, id);
        return Text(list, SendMessageA(list, CB_GETCURSEL, 0, 0));
    }
    std::string Status() const
    {
        char text[512] = {};
        GetDlgItemTextA(window_, kIdStatus, text, sizeof text);
        return text;
    }
    void Choose(int id, const std::string& entry)
    {
        HWND list = GetDlgItem(window_, id);
        SendMessageA(list, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(entry.c_str()));
        SendMessageA(window_, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    }
    // As when the operator opens the list.
    void Open(int id)
    {
        SendMessageA(window_, WM_COMMAND, MAKEWPARAM(id, CBN_DROPDOWN),
                     reinterpret_cast<LPARAM>(GetDlgItem(window_, id)));
    }
private:
    static std::string Text(HWND list, LRESULT index)
    {
        if (index == CB_ERR)
            return {};
        char text[64] = {};
        SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
        return text;
    }

    MainDialog dialog_;
    HWND window_ = nullptr;
};

Win32DialogOptions Options(Machine& machine)
{
    Win32DialogOptions options;
    options.folder = "C:\\LVR_LAPS";
    options.scanPorts = machine.Scan();
    options.listen = {};
    options.ask = [](HWND, const std::string&) { return false; };
    return options;
}

using Entries = std::vector<std::string>;

TEST(MainDialogPorts, ListOpened_FilledAgainKeepingTheSelection)
{
    Machine machine{{"COM3", "COM1"}};
    DialogWindow dialog(Options(machine));
    ASSERT_NE(dialog.Window(), nullptr);
    EXPECT_EQ(dialog.Entries(kIdGpsPort), (Entries{"COM1", "COM3"}));
    EXPECT_EQ(dialog.Entries(kIdBaseStationPort), (Entries{"COM1", "COM3"})) << "COM names, not bare numbers";
    dialog.Choose(kIdGpsPort, "COM3");

    // The receiver's adapter comes back as COM4; COM3 is gone.
    machine.ports = {"COM1", "COM4"};
    dialog.Open(kIdGpsPort);
    EXPECT_EQ(dialog.Entries(kIdGpsPort), (Entries{"COM1", "COM3", "COM4"}));
    EXPECT_EQ(dialog.Selected(kIdGpsPort), "COM3") << "the selection stays, listed while it is gone";
    EXPECT_EQ(dialog.Selected(kIdBaseStationPort), "COM1");

    // A scan that fails says so; the lists keep what they showed.
    machine.error = EACCES;
    dialog.Open(kIdBaseStationPort);
    EXPECT_TRUE(PumpUntil([&] { return dialog.Status() == PortScanFailedText(EACCES); })) << dialog.Status();
    EXPECT_EQ(dialog.Entries(kIdBaseStationPort), (Entries{"COM1", "COM3", "COM4"}));
}

TEST(MainDialogPorts, ScanFailsAtOpen_StatusSaysSoNotNoPorts)
{
    Machine machine{{}, ENOBUFS};
    DialogWindow dialog(Options(machine));
    EXPECT_TRUE(PumpUntil([&] { return dialog.Status() == PortScanFailedText(ENOBUFS); })) << dialog.Status();
}

// The window is as tall as the control table's dialog units say, with the run panel below the
// controls; Details gives the panel's body back and leaves the state indicator.
TEST(MainDialogPanel, DetailsToggled_WindowFollowsThePanelsDialogUnits)
{
    Machine machine{{"COM1"}};
    DialogWindow dialog(Options(machine));
    ASSERT_NE(dialog.Window(), nullptr);
    auto clientHeight = [&] {
        RECT client{};
        GetClientRect(dialog.Window(), &client);
        return client.bottom;
    };
    auto pixels = [&](int dialogUnits) {
        RECT r{0, 0, 0, dialogUnits};
        MapDialogRect(dialog.Window(), &r);
        return r.bottom;
    };
    HWND details = GetDlgItem(dialog.Window(), RunPanelView::kIdDetails);
    HWND sensors = GetDlgItem(dialog.Window(), RunPanelView::kIdSensors);
    ASSERT_NE(details, nullptr);
    ASSERT_NE(sensors, nullptr) << "the sensor list view";
    EXPECT_EQ(clientHeight(), pixels(kDialogHeight + kPanelHeight));
    EXPECT_TRUE(IsWindowVisible(sensors));

    SendMessageA(details, BM_CLICK, 0, 0);
    EXPECT_EQ(clientHeight(), pixels(kDialogHeight + kPanelHeaderHeight));
    EXPECT_FALSE(IsWindowVisible(sensors));
    SendMessageA(details, BM_CLICK, 0, 0);
    EXPECT_EQ(clientHeight(), pixels(kDialogHeight + kPanelHeight));
}

} // namespace
} // namespace ostrim
