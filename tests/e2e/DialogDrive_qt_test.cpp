// The dialog with its run, end to end in this process (offscreen): the operator's clicks, the
// simulated receiver and base station on pseudo-terminals, the status line, the logs.

#include "app/Demo.h"
#include "app/qt/DialogSession.h"
#include "app/DialogTemplate.h"
#include "app/qt/RunDialog.h"
#include "tests/support/DriveScript.h"
#include "tests/support/ScopedTimeZone.h"
#include "tests/support/ScratchFolder.h"
#include "tools/sim/BaseStationSim.h"
#include "tools/sim/GpsReceiverSim.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>

#include "tests/support/QtWait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace ostrim {
namespace {

using namespace std::chrono_literals;

struct StatusChange {
    std::string text;
    std::chrono::system_clock::time_point shown;
};

// The status line's texts as shown, with the time each appeared. Setting the text a line
// already shows changes nothing on the screen, so repeats in a row show once.
std::vector<std::string> ShownTexts(const std::vector<std::string>& texts)
{
    std::vector<std::string> shown;
    for (const std::string& t : texts) {
        if (shown.empty() || shown.back() != t)
            shown.push_back(t);
    }
    return shown;
}

int Find(const std::vector<StatusChange>& changes, const std::string& text)
{
    for (std::size_t i = 0; i < changes.size(); ++i) {
        if (changes[i].text == text)
            return static_cast<int>(i);
    }
    return -1;
}

double SecondsBetween(std::chrono::system_clock::time_point from,
                      std::chrono::system_clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

class DialogDrive : public ::testing::TestWithParam<bool> {};

TEST_P(DialogDrive, PastThreeSensors_SwitchesTheNodesInOrderAndLogsEveryFix)
{
    const bool backAndForth = GetParam();
    const test::DriveScript drive = backAndForth ? test::BackAndForthDrive() : test::LoopDrive();
    const std::vector<int> firings = backAndForth ? test::kBackAndForthFirings : test::kLoopFirings;
    const std::vector<std::string> statuses =
        backAndForth ? test::BackAndForthStatuses() : test::LoopStatuses();

    test::ScopedTimeZone utc("UTC");
    test::ScratchFolder folder;
    test::WriteFile(folder / "sensors.txt", test::DriveScript::SensorFileText());
    ASSERT_TRUE(drive.WriteCapture(folder / "drive.nmea"));
    sim::GpsReceiverSim gps;
    sim::BaseStationSim base;
    std::string error;
    ASSERT_TRUE(gps.Start(&error)) << error;
    ASSERT_TRUE(base.Start(&error)) << error;

    DialogOptions options;
    options.listMachinePorts = false;
    options.folder = folder.Path().string();
    options.sensorFile = folder / "sensors.txt";
    options.gpsPort = gps.DevicePath();
    options.basePort = base.DevicePath();
    COstrimDlg dialog(options);
    std::vector<std::string> messages;
    dialog.Fields().SetMessagePresenter(
        [&](const QString& text) { messages.push_back(text.toStdString()); });
    std::vector<StatusChange> changes;
    QObject::connect(static_cast<QLineEdit*>(dialog.Control(kIdStatus)), &QLineEdit::textChanged,
                     [&](const QString& text) {
                         changes.push_back({text.toStdString(), std::chrono::system_clock::now()});
                     });
    auto status = [&] { return changes.empty() ? std::string() : changes.back().text; };

    std::atomic<int> traceLines{0};
    {
        DialogSession::Extras extras;
        extras.trace = [&traceLines](const std::string&) { ++traceLines; };
        DialogSession session(dialog, std::move(extras));
        if (backAndForth)
            static_cast<QAbstractButton*>(dialog.Control(kIdBackAndForth))->click();
        static_cast<QAbstractButton*>(dialog.Control(kIdStart))->click();
        EXPECT_EVENTUALLY_EQ(status(), statuses[backAndForth ? 2 : 1]);
        ASSERT_TRUE(messages.empty()) << messages.front();

        const std::string dateBefore = test::LocalDateText();
        ASSERT_TRUE(gps.PlayFile(folder / "drive.nmea", test::DriveScript::kRate, &error)) << error;
        auto driven = [&] {
            std::string log = test::FindLog(options.folder, "-GPS-Data.txt");
            return gps.Finished() && !log.empty() &&
                   test::CountLines(test::ReadFile(log)) >= drive.Fixes();
        };
        ASSERT_TRUE(test::Eventually(driven, true, 40s)) << "the drive did not reach the log";
        // The last fixes' status texts are queued to the widget.
        QTest::qWait(200);
        dialog.reject();

        if (dateBefore == test::LocalDateText()) {
            EXPECT_EQ(test::ReadFile(test::FindLog(options.folder, "-GPS-Data.txt")),
                      drive.ExpectedGpsLog("Dunrel 80k truck", dateBefore));
            EXPECT_EQ(test::ReadFile(test::FindLog(options.folder, "-Raw-GPS-Data.txt")),
                      drive.ExpectedRawLog());
        }
    }
    EXPECT_TRUE(messages.empty());

    std::vector<std::string> texts;
    for (const StatusChange& c : changes)
        texts.push_back(c.text);
    EXPECT_EQ(texts, ShownTexts(statuses));
    EXPECT_EQ(traceLines.load(), backAndForth ? 5 * 3 + 1 : 3 * static_cast<int>(drive.Fixes()));

    const std::vector<sim::NodeCommand> commands = base.Commands();
    ASSERT_EQ(commands.size(), 2 * firings.size());
    for (std::size_t i = 0; i < firings.size(); ++i) {
        const std::uint32_t node = test::kScriptSensors[firings[i]].nodeId;
        EXPECT_TRUE(commands[2 * i].on && commands[2 * i].nodeId == node) << commands[2 * i].line;
        EXPECT_TRUE(!commands[2 * i + 1].on && commands[2 * i + 1].nodeId == node)
            << commands[2 * i + 1].line;
    }

    // The timers run on the GUI thread: 5 s, then the fourth firing needs what they re-armed.
    const auto fourth = commands[6].time;
    if (backAndForth) {
        int set = Find(changes, "Back and Forth timer set");
        int reset = Find(changes, "Back and forth timer reset");
        ASSERT_TRUE(set >= 0 && reset > set);
        // Shown at the first fix of the hold; the timer restarts at the two after it.
        EXPECT_GE(SecondsBetween(changes[set].shown, changes[reset].shown), 5.1);
        EXPECT_LE(SecondsBetween(changes[set].shown, changes[reset].shown), 7.5);
        EXPECT_GT(fourth, changes[reset].shown);
    } else {
        int rearmed = Find(changes, "All sensors triggered");
        ASSERT_GE(rearmed, 0);
        EXPECT_GE(SecondsBetween(commands[4].time, changes[rearmed].shown), 5.0);
        EXPECT_LE(SecondsBetween(commands[4].time, changes[rearmed].shown), 7.0);
        EXPECT_GT(fourth, changes[rearmed].shown);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, DialogDrive, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "BackAndForth" : "Loop");
                         });

TEST(DialogDemo, Opens_OnTheSimulatedPortsWithTheDemoFilesAndStartDrives)
{
    test::ScratchFolder folder;
    Demo demo;
    std::string error;
    ASSERT_TRUE(demo.Prepare(folder / "demo", &error)) << error;

    DialogOptions options = DemoDialogOptions(demo);
    options.listMachinePorts = false;
    COstrimDlg dialog(options);
    auto list = [&](int id) { return static_cast<QComboBox*>(dialog.Control(id)); };
    auto text = [&](int id) { return static_cast<QLineEdit*>(dialog.Control(id))->text().toStdString(); };
    EXPECT_EQ(list(kIdGpsPort)->currentText().toStdString(),
              demo.GpsPort() + " (simulated GPS receiver)");
    EXPECT_EQ(list(kIdBaseStationPort)->currentText().toStdString(),
              demo.BasePort() + " (simulated base station)");
    EXPECT_EQ(text(kIdSensorFile), folder / "demo/demo-sensors.txt");
    EXPECT_EQ(text(kIdFolder), folder / "demo");
    EXPECT_EQ(test::ReadFile(text(kIdSensorFile)), std::string(DemoSensorFileText()));

    std::vector<std::string> messages;
    dialog.Fields().SetMessagePresenter(
        [&](const QString& m) { messages.push_back(m.toStdString()); });
    {
        DialogSession::Extras extras;
        extras.afterStart = [&demo] { demo.Drive(0); };
        extras.trace = [](const std::string&) {};
        DialogSession session(dialog, std::move(extras));
        static_cast<QAbstractButton*>(dialog.Control(kIdStart))->click();
        EXPECT_TRUE(messages.empty());
        // The first sensor stands 50 m down the road: 2 s at the demo's speed.
        EXPECT_EQ(test::Eventually([&] { return text(kIdStatus); },
                                   std::string("Node 1081130875 success"), 10s),
                  "Node 1081130875 success");
        EXPECT_FALSE(text(kIdTime).empty());
        EXPECT_EQ(text(kIdLatitudeHemisphere), "N");

        // The logs grow while the vehicle drives.
        const std::string log = test::FindLog(folder / "demo", "-GPS-Data.txt");
        ASSERT_FALSE(log.empty());
        std::size_t before = test::CountLines(test::ReadFile(log));
        EXPECT_GT(before, 0u);
        EXPECT_TRUE(test::Eventually(
            [&] { return test::CountLines(test::ReadFile(log)) >= before + 5; }, true, 5s));
        dialog.reject();
    }
    EXPECT_EQ(demo.NodesSwitched(), 1);
}

} // namespace
} // namespace ostrim
