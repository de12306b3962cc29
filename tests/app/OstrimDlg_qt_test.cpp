// The main dialog under the offscreen platform: controls, layout, keyboard, and which hook each
// control calls.

#include "app/Version.h"
#include "app/qt/AboutDlg.h"
#include "app/qt/OstrimApp.h"
#include "app/qt/OstrimDlg.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "tests/support/QtWait.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace ostrim {
namespace {

enum class Kind { Push, Edit, List, Radio, Label };

struct Row {
    int id; // -1 for a label
    Kind kind;
    const char* text;
    int x, y, w, h;
};

// The dialog as the operator's manual lays it out, in tab order.
const Row kRows[] = {
    {1, Kind::Push, "Start", 251, 17, 50, 16},
    {2, Kind::Push, "Cancel", 251, 43, 50, 16},
    {1000, Kind::Edit, "", 77, 22, 78, 15},
    {1011, Kind::Push, "Browse", 181, 20, 41, 12},
    {-1, Kind::Label, "Folder", 24, 22, 23, 8},
    {1012, Kind::List, "", 77, 45, 71, 10},
    {-1, Kind::Label, "GPS Port", 24, 44, 31, 13},
    {1016, Kind::Push, "End of Lap", 181, 43, 43, 14},
    {1015, Kind::Edit, "", 77, 63, 97, 12},
    {-1, Kind::Label, "Sensor File", 24, 63, 43, 13},
    {1017, Kind::Push, "Browse", 183, 66, 42, 12},
    {1027, Kind::Radio, "LVR", 232, 67, 28, 10},
    {1028, Kind::Radio, "Mainline", 267, 67, 41, 10},
    {1005, Kind::Edit, "", 77, 83, 78, 15},
    {-1, Kind::Label, "Time", 24, 86, 38, 13},
    {1024, Kind::Edit, "", 235, 91, 83, 13},
    {-1, Kind::Label, "Vehicle Type", 187, 92, 44, 9},
    {1001, Kind::Edit, "", 77, 107, 78, 15},
    {-1, Kind::Label, "Latitude", 24, 109, 45, 13},
    {1003, Kind::Edit, "", 177, 109, 23, 12},
    {1025, Kind::Radio, "Loop", 237, 117, 31, 10},
    {1002, Kind::Edit, "", 77, 130, 78, 15},
    {-1, Kind::Label, "Longitude", 24, 132, 51, 13},
    {1004, Kind::Edit, "", 178, 131, 21, 13},
    {1026, Kind::Radio, "Back and Forth", 237, 130, 64, 10},
    {1007, Kind::Edit, "", 77, 155, 77, 12},
    {-1, Kind::Label, "Height", 24, 155, 30, 13},
    {1023, Kind::Edit, "", 207, 156, 95, 12},
    {-1, Kind::Label, "Status", 177, 158, 22, 13},
    {1013, Kind::List, "", 77, 179, 80, 11},
    {-1, Kind::Label, "Base Station", 24, 178, 51, 13},
    {1014, Kind::Push, "Ping", 177, 178, 56, 11},
    {1022, Kind::Push, "Trigger On/Off", 250, 176, 58, 12},
    {1018, Kind::Edit, "", 77, 199, 79, 12},
    {-1, Kind::Label, "Node Id", 24, 201, 46, 13},
    {1019, Kind::Push, "Test Node", 179, 199, 56, 11},
};

// Dialog units to pixels from the font's own measurements.
struct Units {
    explicit Units(const QFont& font)
    {
        QFontMetrics metrics(font);
        double letters = metrics.horizontalAdvance(
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        x = static_cast<int>(std::lround(letters / 52.0));
        y = metrics.height();
    }
    int X(int du) const { return static_cast<int>(std::lround(du * x / 4.0)); }
    int Y(int du) const { return static_cast<int>(std::lround(du * y / 8.0)); }
    QRect Rect(const Row& row) const { return {X(row.x), Y(row.y), X(row.w), Y(row.h)}; }
    int x;
    int y;
};

DialogOptions TestOptions()
{
    DialogOptions options;
    options.folder = "/srv/laps";
    options.listMachinePorts = false;
    options.extraPorts = {{"/dev/ttyUSB1", "usb-FTDI_A10K-if00-port0"}, {"/dev/ttyUSB0", ""}};
    // Another port than the GPS list's first: Start asks nothing.
    options.basePort = "/dev/ttyUSB1";
    return options;
}

struct Calls {
    std::vector<std::string> hooks;
    std::string gpsPort = "unset";
    std::string basePort = "unset";
    RunControl::StartOutcome outcome = RunControl::StartOutcome::Running;
    bool visibleAtStop = false;
};

DialogHooks RecordingHooks(Calls& calls, COstrimDlg& dialog)
{
    DialogHooks hooks;
    hooks.start = [&calls](const std::string& gps, const std::string& base) {
        calls.hooks.push_back("start");
        calls.gpsPort = gps;
        calls.basePort = base;
        return calls.outcome;
    };
    auto record = [&calls](const char* name) {
        return [&calls, name] { calls.hooks.push_back(name); };
    };
    hooks.triggerOnOff = record("triggerOnOff");
    hooks.loop = record("loop");
    hooks.backAndForth = record("backAndForth");
    hooks.endOfLap = record("endOfLap");
    hooks.ping = record("ping");
    hooks.testNode = record("testNode");
    hooks.stopGps = [&calls, &dialog] {
        calls.hooks.push_back("stopGps");
        calls.visibleAtStop = dialog.isVisible();
    };
    return hooks;
}

QString TextOf(QWidget* widget)
{
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        return edit->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    return {};
}

bool IsKind(QWidget* widget, Kind kind)
{
    switch (kind) {
    case Kind::Push: return qobject_cast<QPushButton*>(widget) != nullptr;
    case Kind::Edit: return qobject_cast<QLineEdit*>(widget) != nullptr;
    case Kind::List: return qobject_cast<QComboBox*>(widget) != nullptr;
    case Kind::Radio: return qobject_cast<QRadioButton*>(widget) != nullptr;
    case Kind::Label: return qobject_cast<QLabel*>(widget) != nullptr;
    }
    return false;
}

QLineEdit* Edit(COstrimDlg& dialog, int id)
{
    return dialog.findChild<QLineEdit*>(QStringLiteral("id%1").arg(id));
}

QAbstractButton* Button(COstrimDlg& dialog, int id)
{
    return dialog.findChild<QAbstractButton*>(QStringLiteral("id%1").arg(id));
}

QComboBox* List(COstrimDlg& dialog, int id)
{
    return dialog.findChild<QComboBox*>(QStringLiteral("id%1").arg(id));
}

TEST(OstrimDlg, EveryControl_HasIdKindTextAndDialogUnitGeometry)
{
    COstrimDlg dialog(TestOptions());
    Units units(dialog.font());
    EXPECT_EQ(dialog.font().pointSize(), 8);
    EXPECT_EQ(dialog.windowTitle(), "Ostrim");
    EXPECT_EQ(dialog.size(), QSize(units.X(335), units.Y(232)));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "fixed size";

    QList<QLabel*> labels = dialog.findChildren<QLabel*>();
    for (const Row& row : kRows) {
        SCOPED_TRACE(std::string(row.text) + " " + std::to_string(row.id));
        QWidget* widget = nullptr;
        if (row.id >= 0) {
            widget = dialog.findChild<QWidget*>(QStringLiteral("id%1").arg(row.id));
            ASSERT_NE(widget, nullptr);
            EXPECT_EQ(widget->property("controlId").toInt(), row.id);
            EXPECT_EQ(dialog.Control(row.id), widget);
            if (row.kind != Kind::Edit) {
                EXPECT_EQ(TextOf(widget), QString::fromLatin1(row.text));
            }
        } else {
            for (QLabel* label : labels) {
                if (label->text() == QString::fromLatin1(row.text))
                    widget = label;
            }
            ASSERT_NE(widget, nullptr);
        }
        EXPECT_TRUE(IsKind(widget, row.kind));
        EXPECT_EQ(widget->geometry(), units.Rect(row));
    }
    EXPECT_EQ(labels.size(), 11);
}

TEST(OstrimDlg, Opening_SetsDefaultTexts)
{
    DialogOptions options = TestOptions();
    COstrimDlg dialog(options);
    EXPECT_EQ(Edit(dialog, 1024)->text(), "Dunrel 80k truck");
    EXPECT_EQ(Edit(dialog, 1000)->text(), "/srv/laps");
    EXPECT_EQ(Edit(dialog, 1015)->text(), "/srv/laps/LVR_Cells_VLS.txt");
    EXPECT_EQ(Edit(dialog, 1018)->text(), "4070BF7B");
    for (int id : {1001, 1002, 1003, 1004, 1005, 1007, 1023})
        EXPECT_EQ(Edit(dialog, id)->text(), "") << id;
    EXPECT_TRUE(Button(dialog, 1025)->isChecked());
    EXPECT_FALSE(Button(dialog, 1026)->isChecked());
    EXPECT_TRUE(Button(dialog, 1027)->isChecked());
    EXPECT_FALSE(Button(dialog, 1028)->isChecked());
    EXPECT_TRUE(Button(dialog, 1)->isEnabled());
    EXPECT_EQ(dialog.Fields().GetText(Field::VehicleType), "Dunrel 80k truck");
    EXPECT_EQ(dialog.Fields().GetText(Field::SensorFile), "/srv/laps/LVR_Cells_VLS.txt");
}

TEST(OstrimDlg, NoFolderGiven_UsesLapsFolderInHome)
{
    DialogOptions options = TestOptions();
    options.folder.clear();
    qputenv("HOME", "/home/driver");
    COstrimDlg dialog(options);
    EXPECT_EQ(Edit(dialog, 1000)->text(), "/home/driver/LVR_LAPS");
    EXPECT_EQ(Edit(dialog, 1015)->text(), "/home/driver/LVR_LAPS/LVR_Cells_VLS.txt");
}

TEST(OstrimDlg, Options_OverrideSensorFileVehicleAndNode)
{
    DialogOptions options = TestOptions();
    options.sensorFile = "/opt/demo/sensors.txt";
    options.vehicleType = "Demo van";
    options.nodeId = "403BA38B";
    COstrimDlg dialog(options);
    EXPECT_EQ(Edit(dialog, 1015)->text(), "/opt/demo/sensors.txt");
    EXPECT_EQ(Edit(dialog, 1024)->text(), "Demo van");
    EXPECT_EQ(Edit(dialog, 1018)->text(), "403BA38B");
}

// As in any dialog, Tab enters a radio group at its checked button; arrows move inside it.
TEST(OstrimDlg, TabKey_VisitsControlsInTableOrder)
{
    COstrimDlg dialog(TestOptions());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    EXPECT_EQ(QApplication::focusWidget(), Button(dialog, 1));

    std::vector<int> expected;
    for (const Row& row : kRows) {
        if (row.id >= 0 && row.id != 1026 && row.id != 1028) // unchecked radios
            expected.push_back(row.id);
    }
    std::vector<int> visited{QApplication::focusWidget()->property("controlId").toInt()};
    for (std::size_t i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.push_back(QApplication::focusWidget()->property("controlId").toInt());
    }
    EXPECT_EQ(visited, expected);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), Button(dialog, 1)) << "wraps around";
}

TEST(OstrimDlg, StartIsDefaultButton_EnterInAnEditPressesIt)
{
    COstrimDlg dialog(TestOptions());
    Calls calls;
    calls.outcome = RunControl::StartOutcome::LogFailed;
    dialog.SetHooks(RecordingHooks(calls, dialog));
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    for (QPushButton* button : dialog.findChildren<QPushButton*>())
        EXPECT_EQ(button->isDefault(), button == Button(dialog, 1)) << button->text().toStdString();

    Edit(dialog, 1024)->setFocus();
    QTest::keyClick(Edit(dialog, 1024), Qt::Key_Return);
    EXPECT_EQ(calls.hooks, std::vector<std::string>{"start"});
    EXPECT_TRUE(dialog.isVisible()) << "Start does not close the dialog";
}

TEST(OstrimDlg, EscapeCancelAndCloseBox_StopReaderThenClose)
{
    enum class How { Escape, Cancel, CloseBox };
    for (How how : {How::Escape, How::Cancel, How::CloseBox}) {
        COstrimDlg dialog(TestOptions());
        Calls calls;
        dialog.SetHooks(RecordingHooks(calls, dialog));
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        switch (how) {
        case How::Escape: QTest::keyClick(&dialog, Qt::Key_Escape); break;
        case How::Cancel: Button(dialog, 2)->click(); break;
        case How::CloseBox: dialog.close(); break;
        }
        EXPECT_FALSE(dialog.isVisible()) << static_cast<int>(how);
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_EQ(calls.hooks, std::vector<std::string>{"stopGps"});
        EXPECT_TRUE(calls.visibleAtStop) << "the reader stops before the dialog goes";
    }
}

TEST(OstrimDlg, RunActive_EscapeIgnoredCancelAndCloseBoxAskFirst)
{
    enum class How { Escape, Cancel, CloseBox };
    struct Case {
        How how;
        bool answer;
        int questions;
        bool closed;
    };
    const Case cases[] = {
        {How::Escape, true, 0, false},  {How::Cancel, false, 1, false},
        {How::Cancel, true, 1, true},   {How::CloseBox, false, 1, false},
        {How::CloseBox, true, 1, true},
    };
    for (const Case& c : cases) {
        COstrimDlg dialog(TestOptions());
        Calls calls;
        dialog.SetHooks(RecordingHooks(calls, dialog));
        int questions = 0;
        dialog.SetEndConfirmation([&](QWidget*) {
            ++questions;
            return c.answer;
        });
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
        Button(dialog, 2)->setFocus();
        Button(dialog, 1)->click();
        EXPECT_NE(QApplication::focusWidget(), Button(dialog, 2)) << "focus left on Cancel";
        switch (c.how) {
        case How::Escape: QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape); break;
        case How::Cancel: Button(dialog, 2)->click(); break;
        case How::CloseBox: dialog.close(); break;
        }
        const int row = static_cast<int>(&c - cases);
        EXPECT_EQ(questions, c.questions) << row;
        EXPECT_EQ(dialog.isVisible(), !c.closed) << row;
        EXPECT_EQ(calls.hooks.back(), c.closed ? "stopGps" : "start") << row;
    }
}

TEST(OstrimDlg, Buttons_CallTheirHooks)
{
    struct Case {
        int id;
        std::vector<std::string> hooks;
    };
    const Case cases[] = {
        {1022, {"triggerOnOff"}}, {1025, {"loop"}},    {1026, {"backAndForth"}},
        {1016, {"endOfLap"}},     {1014, {"ping"}},    {1019, {"testNode"}},
        {1, {"start"}},           {1027, {}},          {1028, {}},
    };
    for (const Case& c : cases) {
        COstrimDlg dialog(TestOptions());
        Calls calls;
        dialog.SetHooks(RecordingHooks(calls, dialog));
        Button(dialog, c.id)->click();
        EXPECT_EQ(calls.hooks, c.hooks) << c.id;
    }
}

TEST(OstrimDlg, RadioPressedAgain_CallsItsHookAgain)
{
    COstrimDlg dialog(TestOptions());
    Calls calls;
    dialog.SetHooks(RecordingHooks(calls, dialog));
    Button(dialog, 1026)->click();
    Button(dialog, 1026)->click();
    Button(dialog, 1025)->click();
    EXPECT_EQ(calls.hooks, (std::vector<std::string>{"backAndForth", "backAndForth", "loop"}));
    EXPECT_TRUE(Button(dialog, 1025)->isChecked());
    EXPECT_FALSE(Button(dialog, 1026)->isChecked());
    EXPECT_TRUE(Button(dialog, 1027)->isChecked()) << "the groups are independent";
}

TEST(OstrimDlg, ArrowKeyInModeGroup_SelectsAndCallsHook)
{
    COstrimDlg dialog(TestOptions());
    Calls calls;
    dialog.SetHooks(RecordingHooks(calls, dialog));
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    Button(dialog, 1025)->setFocus();
    QTest::keyClick(Button(dialog, 1025), Qt::Key_Down);
    EXPECT_TRUE(Button(dialog, 1026)->isChecked());
    EXPECT_EQ(calls.hooks, std::vector<std::string>{"backAndForth"});
}

TEST(OstrimDlg, Start_PassesSelectedDevicesAndDisablesItselfOnlyWhenRunning)
{
    struct Case {
        RunControl::StartOutcome outcome;
        bool enabledAfter;
    };
    const Case cases[] = {
        {RunControl::StartOutcome::GpsPortFailed, true},
        {RunControl::StartOutcome::LogFailed, true},
        {RunControl::StartOutcome::Running, false},
    };
    for (const Case& c : cases) {
        COstrimDlg dialog(TestOptions());
        Calls calls;
        calls.outcome = c.outcome;
        dialog.SetHooks(RecordingHooks(calls, dialog));
        List(dialog, 1013)->setCurrentIndex(1);
        Button(dialog, 1)->click();
        EXPECT_EQ(calls.gpsPort, "/dev/ttyUSB0");
        EXPECT_EQ(calls.basePort, "/dev/ttyUSB1");
        EXPECT_EQ(Button(dialog, 1)->isEnabled(), c.enabledAfter);
    }
}

TEST(OstrimDlg, EnterAfterRunStarted_DoesNotCloseTheDialog)
{
    COstrimDlg dialog(TestOptions());
    Calls calls;
    dialog.SetHooks(RecordingHooks(calls, dialog));
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); // Start has the focus
    ASSERT_FALSE(Button(dialog, 1)->isEnabled());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(calls.hooks, std::vector<std::string>{"start"});
}

TEST(OstrimDlg, PortLists_ShowDevicesWithStableNamesSorted)
{
    DialogOptions options = TestOptions();
    options.basePort.clear();
    COstrimDlg dialog(options);
    for (int id : {1012, 1013}) {
        QComboBox* list = List(dialog, id);
        ASSERT_EQ(list->count(), 2);
        EXPECT_EQ(list->itemText(0), "/dev/ttyUSB0");
        EXPECT_EQ(list->itemText(1), "/dev/ttyUSB1 (usb-FTDI_A10K-if00-port0)");
        EXPECT_EQ(list->itemData(1).toString(), "/dev/ttyUSB1");
        EXPECT_EQ(list->currentIndex(), 0) << "the rule selects the first of two";
    }
}

TEST(OstrimDlg, NamedPorts_WinOverTheRuleAndAreListedIfMissing)
{
    DialogOptions options = TestOptions();
    options.gpsPort = "/dev/ttyUSB1";
    options.basePort = "/dev/pts/7";
    COstrimDlg dialog(options);
    EXPECT_EQ(List(dialog, 1012)->currentData().toString(), "/dev/ttyUSB1");
    EXPECT_EQ(List(dialog, 1013)->currentData().toString(), "/dev/pts/7");
    EXPECT_EQ(List(dialog, 1012)->itemText(0), "/dev/pts/7");
    EXPECT_EQ(dialog.Fields().SelectedPort(PortField::Gps), "/dev/ttyUSB1");
    EXPECT_EQ(dialog.Fields().SelectedPort(PortField::BaseStation), "/dev/pts/7");
}

TEST(OstrimDlg, PortListOpened_RefilledKeepingSelectionAndNamedPorts)
{
    test::ScratchFolder dir;
    const std::filesystem::path dev = dir.Path() / "dev";
    std::filesystem::create_directories(dev);
    std::ofstream(dev / "ttyUSB0").put('\0');
    DialogOptions options = TestOptions();
    options.extraPorts.clear();
    options.listMachinePorts = true;
    options.portRoots = {dev.string(), (dir.Path() / "sys").string()};
    options.basePort = "/dev/named-on-the-command-line";
    COstrimDlg dialog(options);
    QComboBox* gps = List(dialog, 1012);
    const QString usb = QString::fromStdString((dev / "ttyUSB0").string());
    const QString acm = QString::fromStdString((dev / "ttyACM0").string());
    gps->setCurrentIndex(gps->findData(usb));

    // The receiver is unplugged and comes back under another name.
    std::filesystem::remove(dev / "ttyUSB0");
    std::ofstream(dev / "ttyACM0").put('\0');
    gps->showPopup();
    gps->hidePopup();
    EXPECT_GE(gps->findData(acm), 0) << "the new device is listed";
    EXPECT_GE(gps->findData(QStringLiteral("/dev/named-on-the-command-line")), 0);
    EXPECT_EQ(gps->count(), 3);
    EXPECT_EQ(gps->currentData().toString(), usb) << "the selection stays";
    EXPECT_EQ(dialog.Fields().SelectedPort(PortField::Gps), usb.toStdString());
}

TEST(OstrimDlg, NoPorts_StartGetsEmptyPortTexts)
{
    DialogOptions options = TestOptions();
    options.extraPorts.clear();
    options.basePort.clear();
    COstrimDlg dialog(options);
    Calls calls;
    dialog.SetHooks(RecordingHooks(calls, dialog));
    EXPECT_EQ(List(dialog, 1012)->currentIndex(), -1);
    Button(dialog, 1)->click();
    EXPECT_EQ(calls.gpsPort, "");
    EXPECT_EQ(calls.basePort, "");
}

TEST(OstrimDlg, SamePortInBothLists_AskedBeforeStart)
{
    struct Case {
        const char* what;
        int baseEntry; // the GPS list is on entry 0
        bool answer;
        int questions;
        bool started;
    };
    const Case cases[] = {
        {"two ports", 1, false, 0, true},
        {"one port, the operator goes back", 0, false, 1, false},
        {"one port, the operator insists", 0, true, 1, true},
    };
    for (const Case& c : cases) {
        COstrimDlg dialog(TestOptions());
        Calls calls;
        dialog.SetHooks(RecordingHooks(calls, dialog));
        std::vector<std::string> asked;
        dialog.SetQuestion([&](QWidget*, const std::string& question) {
            asked.push_back(question);
            return c.answer;
        });
        List(dialog, 1012)->setCurrentIndex(0);
        List(dialog, 1013)->setCurrentIndex(c.baseEntry);
        Button(dialog, 1)->click();
        EXPECT_EQ(static_cast<int>(asked.size()), c.questions) << c.what;
        if (!asked.empty()) {
            EXPECT_EQ(asked[0], SamePortQuestion("/dev/ttyUSB0")) << c.what;
        }
        EXPECT_EQ(calls.hooks.size(), c.started ? 1u : 0u) << c.what;
        EXPECT_EQ(Button(dialog, 1)->isEnabled(), !c.started) << c.what;
    }
}

TEST(OstrimDlg, LvrAndMainline_PutTheirFolderFiles)
{
    COstrimDlg dialog(TestOptions());
    Edit(dialog, 1000)->setText("/elsewhere"); // the files stay in the dialog's own folder
    Button(dialog, 1028)->click();
    EXPECT_EVENTUALLY_EQ(Edit(dialog, 1015)->text(), "/srv/laps/Mainline_Cells_VLS.txt");
    Button(dialog, 1027)->click();
    EXPECT_EVENTUALLY_EQ(Edit(dialog, 1015)->text(), "/srv/laps/LVR_Cells_VLS.txt");
}

TEST(OstrimDlg, FolderBrowse_PrintsAndSetsChosenFolder)
{
    COstrimDlg dialog(TestOptions());
    QString startedAt;
    QString answer = "/media/usb/laps";
    dialog.SetPickers({[&](QWidget*, const QString& start) {
                           startedAt = start;
                           return answer;
                       },
                       {}});
    testing::internal::CaptureStdout();
    Button(dialog, 1011)->click();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Selected Folder: /media/usb/laps\n");
    EXPECT_EQ(startedAt, "/srv/laps");
    EXPECT_EVENTUALLY_EQ(Edit(dialog, 1000)->text(), "/media/usb/laps");

    answer.clear(); // cancelled
    testing::internal::CaptureStdout();
    Button(dialog, 1011)->click();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    QTest::qWait(20);
    EXPECT_EQ(Edit(dialog, 1000)->text(), "/media/usb/laps");
}

TEST(OstrimDlg, SensorFileBrowse_SetsFileOrReportsNoFile)
{
    COstrimDlg dialog(TestOptions());
    QString answer = "/srv/laps/north.csv";
    dialog.SetPickers({{}, [&](QWidget*, const QString&) { return answer; }});
    Button(dialog, 1017)->click();
    EXPECT_EVENTUALLY_EQ(Edit(dialog, 1015)->text(), "/srv/laps/north.csv");
    EXPECT_EQ(Edit(dialog, 1023)->text(), "");

    answer.clear();
    Button(dialog, 1017)->click();
    EXPECT_EVENTUALLY_EQ(Edit(dialog, 1023)->text(), "No file selected");
    EXPECT_EQ(Edit(dialog, 1015)->text(), "/srv/laps/north.csv");
}

TEST(OstrimDlg, ContextMenu_OffersAboutBox)
{
    COstrimDlg dialog(TestOptions());
    EXPECT_EQ(dialog.contextMenuPolicy(), Qt::ActionsContextMenu);
    QAction* about = dialog.findChild<QAction*>("aboutAction");
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->text(), "&About Ostrim...");
    EXPECT_TRUE(dialog.actions().contains(about));

    QString title;
    QString version;
    bool hasIcon = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        title = box->windowTitle();
        version = box->findChild<QLabel*>("version")->text();
        hasIcon = !box->findChild<QLabel*>("icon")->pixmap().isNull();
        box->findChild<QPushButton*>("id1")->click();
    });
    about->trigger();
    EXPECT_EQ(title, "About Ostrim");
    EXPECT_EQ(version, QStringLiteral("Ostrim Version ") + QLatin1String(kVersion));
    EXPECT_TRUE(hasIcon);
}

TEST(OstrimDlg, F1_OpensAboutBox)
{
    COstrimDlg dialog(TestOptions());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    QString title;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            box->reject();
        }
    });
    QTest::keyClick(Edit(dialog, 1024), Qt::Key_F1);
    EXPECT_EQ(title, "About Ostrim");
}

TEST(OstrimDlg, AboutBox_HasItsDialogUnitLayout)
{
    CAboutDlg box;
    Units units(box.font());
    EXPECT_EQ(box.size(), QSize(units.X(235), units.Y(55)));
    auto* ok = box.findChild<QPushButton*>("id1");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(ok->geometry(), QRect(units.X(178), units.Y(7), units.X(50), units.Y(16)));
    EXPECT_EQ(box.findChild<QLabel*>("icon")->pos(), QPoint(units.X(11), units.Y(17)));
    EXPECT_FALSE(AppIcon().isNull());
}

} // namespace
} // namespace ostrim
