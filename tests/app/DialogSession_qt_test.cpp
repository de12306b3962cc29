// The dialog with a real run behind it, its GPS receiver on a pseudo-terminal.

#include "app/qt/DialogSession.h"
#include "app/DialogTemplate.h"
#include "platform/posix/PseudoTerminal.h"
#include "tests/support/DialogRun.h"
#include "tests/support/DriveScript.h"
#include "tests/support/PtyTestSupport.h"
#include "tests/support/ScratchFolder.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

#include "tests/support/QtWait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrim {
namespace {

using test::Sentence;

TEST(DialogSession, ReceiverUnpluggedDuringRun_SaysSoAndLetsStartAgain)
{
    test::ScratchFolder folder;
    PseudoTerminal receiver;
    ASSERT_EQ(receiver.Open(), 0);
    COstrimDlg dialog(test::OneSensorRunOptions(folder, receiver));
    std::vector<std::string> messages;
    dialog.Fields().SetMessagePresenter(
        [&](const QString& text) { messages.push_back(text.toStdString()); });
    auto text = [&](int id) { return static_cast<QLineEdit*>(dialog.Control(id))->text(); };
    QWidget* start = dialog.Control(kIdStart);
    {
        DialogSession session(dialog);
        static_cast<QAbstractButton*>(start)->click();
        ASSERT_TRUE(messages.empty()) << messages.front();
        EXPECT_FALSE(start->isEnabled());
        // No base station there: the run goes on logging with triggering off.
        EXPECT_EVENTUALLY_EQ(text(kIdStatus), QStringLiteral("Base station failed to open"));

        ASSERT_TRUE(test::WriteToMaster(
            receiver, Sentence("GPGGA,012758.00,5214.4000,N,00651.1551,E,1,08,0.9,100.0,M,46.9,M,,")));
        EXPECT_EVENTUALLY_EQ(text(kIdTime), QStringLiteral("01:27:58"));
        EXPECT_EVENTUALLY_EQ(text(kIdLatitude), QStringLiteral("5214.4000"));
        EXPECT_EVENTUALLY_EQ(text(kIdLongitudeHemisphere), QStringLiteral("E"));

        receiver.CloseSpareSlave();
        receiver.CloseMaster();
        EXPECT_EVENTUALLY_EQ(text(kIdStatus), QStringLiteral("GPS receiver disconnected"));
        EXPECT_EVENTUALLY_EQ(start->isEnabled(), true);

        dialog.reject(); // stops and joins the reader; must not hang
    }
    EXPECT_TRUE(messages.empty());
}

TEST(DialogSession, GpsPortSilentForFiveSeconds_SaysSoAndLetsStartAgain)
{
    test::ScratchFolder folder;
    PseudoTerminal receiver;
    ASSERT_EQ(receiver.Open(), 0);
    DialogOptions options;
    options.listMachinePorts = false;
    options.folder = folder.Path().string();
    options.gpsPort = receiver.SlavePath();
    options.basePort = folder / "no-base-station";
    COstrimDlg dialog(options);
    dialog.Fields().SetMessagePresenter([](const QString&) {});
    QWidget* start = dialog.Control(kIdStart);
    auto status = [&] { return static_cast<QLineEdit*>(dialog.Control(kIdStatus))->text(); };
    DialogSession session(dialog);
    static_cast<QAbstractButton*>(start)->click();
    ASSERT_FALSE(start->isEnabled());
    ASSERT_TRUE(test::WriteToMaster(
        receiver, Sentence("GPGGA,012758.00,5214.4000,N,00651.1551,E,1,08,0.9,100.0,M,46.9,M,,")));
    EXPECT_EVENTUALLY_EQ(static_cast<QLineEdit*>(dialog.Control(kIdTime))->text(),
                         QStringLiteral("01:27:58"));
    EXPECT_FALSE(session.GpsSilent());

    const QString told = QString::fromStdString(SilenceWatch::Text(receiver.SlavePath()));
    EXPECT_EQ(test::Eventually(status, told, std::chrono::seconds(8)), told);
    EXPECT_TRUE(start->isEnabled());
    EXPECT_TRUE(session.GpsSilent());
    dialog.reject();
}

// The status line is soon overwritten; the title keeps a stretch of sparse fixes in view.
TEST(DialogSession, FixesFurtherApartThanTheThreshold_ShownInTheTitleUntilTheyCloseUp)
{
    DialogOptions options;
    options.listMachinePorts = false;
    COstrimDlg dialog(options);
    DialogSession session(dialog);
    auto fix = [&](const char* latitude) {
        std::vector<std::uint8_t> s = Sentence(std::string("GPGGA,012758.00,") + latitude +
                                               ",N,00651.1551,E,1,08,0.9,100.0,M,46.9,M,,");
        session.Run().Input().AssembleSentence(static_cast<int>(s.size()), reinterpret_cast<const char*>(s.data()));
    };
    // 0.0194 minutes of latitude: 36 m.
    for (const char* latitude : {"5214.4000", "5214.4194", "5214.4388", "5214.4582"})
        fix(latitude);
    EXPECT_EVENTUALLY_EQ(dialog.windowTitle(), QStringLiteral("Ostrim - Fixes 36 m apart: sensors may be missed"));
    for (const char* latitude : {"5214.4593", "5214.4604", "5214.4615"})
        fix(latitude);
    EXPECT_EVENTUALLY_EQ(dialog.windowTitle(), QStringLiteral("Ostrim"));
}

// The rule chosen on the context menu is the one Start puts in force, and it holds for the run;
// the summary counts its late firings.
TEST(DialogSession, PredictiveTriggerChosenBeforeStart_InForceForTheRun)
{
    test::ScratchFolder folder;
    PseudoTerminal receiver;
    ASSERT_EQ(receiver.Open(), 0);
    COstrimDlg dialog(test::OneSensorRunOptions(folder, receiver));
    dialog.Fields().SetMessagePresenter([](const QString&) {});
    std::vector<std::string> summaries;
    DialogSession::Extras extras;
    extras.summary = [&](const std::string& text) { summaries.push_back(text); };
    DialogSession session(dialog, std::move(extras));
    QAction* predictive = dialog.findChild<QAction*>("predictiveAction");
    ASSERT_NE(predictive, nullptr);
    EXPECT_TRUE(dialog.actions().contains(predictive));
    EXPECT_EQ(predictive->text(), "Predictive trigger");
    EXPECT_FALSE(predictive->isChecked());
    predictive->trigger();
    EXPECT_EQ(session.Run().State().predictive.load(), 0) << "before Start";
    static_cast<QAbstractButton*>(dialog.Control(kIdStart))->click();
    EXPECT_EQ(session.Run().State().predictive.load(), 1);
    EXPECT_FALSE(predictive->isEnabled());
    dialog.reject();
    ASSERT_EQ(summaries.size(), 1u);
    EXPECT_NE(summaries[0].find("\nPredictive trigger: 0 firings late"), std::string::npos) << summaries[0];
}

// A mistyped Folder: nothing reaches the disk during the run. Closing the window asks where the
// held records go, prefilled with the rescue folder; they are written there under the logs' own
// names and the summary says so, and "Reload sensors" is on the context menu beside the rule.
TEST(DialogSession, ClosedWithRecordsHeld_AsksWhereAndWritesThemThere)
{
    test::ScratchFolder folder;
    PseudoTerminal receiver;
    ASSERT_EQ(receiver.Open(), 0);
    DialogOptions options = test::OneSensorRunOptions(folder, receiver);
    options.folder = folder / "no-such-folder";
    COstrimDlg dialog(options);
    dialog.Fields().SetMessagePresenter([](const QString&) {});
    std::vector<std::string> summaries;
    std::vector<std::size_t> asked;
    DialogSession::Extras extras;
    extras.summary = [&](const std::string& text) { summaries.push_back(text); };
    extras.trace = [](const std::string&) {};
    const std::string rescue = folder / "rescue";
    extras.rescueFolder = [&](QWidget*, std::size_t records, const std::string& prefilled,
                              const std::string&) -> std::optional<std::string> {
        asked.push_back(records);
        EXPECT_NE(prefilled.find("/ostrim/rescue/"), std::string::npos) << prefilled;
        return rescue;
    };
    DialogSession session(dialog, std::move(extras));
    EXPECT_NE(dialog.findChild<QAction*>("reloadSensorsAction"), nullptr);
    static_cast<QAbstractButton*>(dialog.Control(kIdStart))->click();
    EXPECT_EVENTUALLY_EQ(static_cast<QLineEdit*>(dialog.Control(kIdStatus))->text(),
                         QStringLiteral("Failed to create log file"));
    for (const char* time : {"012758.00", "012758.10", "012758.20"}) {
        ASSERT_TRUE(test::WriteToMaster(
            receiver, Sentence(std::string("GPGGA,") + time + ",5214.4000,N,00651.1551,E,1,08,0.9,100.0,M,46.9,M,,")));
    }
    EXPECT_EVENTUALLY_EQ(session.Run().Input().Accepted(), 3u);
    EXPECT_EQ(session.Monitor().Take().fixesLogged, 0u);

    dialog.reject();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_GE(asked[0], 6u) << "three fixes in the GPS log and in the raw log";
    const std::string gpsLog = std::filesystem::path(session.Run().State().logPaths.Gps()).filename().string();
    EXPECT_EQ(test::CountLines(test::ReadFile(rescue + "/" + gpsLog)), 3u);
    ASSERT_EQ(summaries.size(), 1u);
    EXPECT_EQ(summaries[0].rfind("Run summary: 0 fixes logged", 0), 0u) << summaries[0];
    EXPECT_NE(summaries[0].find("written to " + rescue), std::string::npos) << summaries[0];
}

// The ports are listened on when the dialog opens, without holding the window; what was heard
// is on the status line and stays in the history.
TEST(DialogSession, PortsListenedOnAtOpen_ReceiverPreselectedAndToldInTheHistory)
{
    DialogOptions options;
    options.listMachinePorts = false;
    options.extraPorts = {{"/dev/ttyS0", ""}, {"/dev/ttyUSB0", "usb-u-blox_GNSS-if00"}, {"/dev/ttyUSB1", ""}};
    options.listen = [](const std::string& device, std::chrono::milliseconds, const std::atomic<bool>&,
                        const std::function<bool(std::string_view)>& received) {
        if (device == "/dev/ttyUSB0") {
            const std::vector<std::uint8_t> gga = Sentence(
                "GPGGA,012758.00,5214.4000,N,00651.1551,E,1,08,0.9,100.0,M,46.9,M,,");
            received(std::string_view(reinterpret_cast<const char*>(gga.data()), gga.size()));
        }
        return ListenResult{};
    };
    COstrimDlg dialog(options);
    auto selected = [&](int id) {
        return static_cast<QComboBox*>(dialog.Control(id))->currentData().toString().toStdString();
    };
    ASSERT_EQ(selected(kIdGpsPort), "/dev/ttyS0") << "the counting rule's choice until the answer";
    DialogSession session(dialog);
    const std::string heard = "GPS receiver heard on /dev/ttyUSB0 (usb-u-blox_GNSS-if00)";
    EXPECT_EVENTUALLY_EQ(static_cast<QLineEdit*>(dialog.Control(kIdStatus))->text().toStdString(), heard);
    EXPECT_EQ(selected(kIdGpsPort), "/dev/ttyUSB0");
    EXPECT_EQ(selected(kIdBaseStationPort), "/dev/ttyS0");
    const std::vector<HistoryEntry> history = session.Monitor().HistoryFrom(0);
    ASSERT_FALSE(history.empty());
    EXPECT_EQ(history.back().text, heard);
}

// The receiver delay beside the predictive trigger is one of a submenu's choices, in force at once, also in a run.
TEST(DialogSession, ReceiverDelayChosenAtAnyTime_InForceAtOnce)
{
    test::ScratchFolder folder;
    PseudoTerminal receiver;
    ASSERT_EQ(receiver.Open(), 0);
    COstrimDlg dialog(test::OneSensorRunOptions(folder, receiver));
    dialog.Fields().SetMessagePresenter([](const QString&) {});
    DialogSession session(dialog, {});
    QAction* delay = dialog.findChild<QAction*>("receiverDelayAction");
    ASSERT_NE(delay, nullptr);
    ASSERT_NE(delay->menu(), nullptr);
    EXPECT_TRUE(dialog.actions().contains(delay));
    EXPECT_EQ(delay->text(), "Receiver delay");
    auto choice = [&](const char* text) -> QAction* {
        for (QAction* action : delay->menu()->actions()) {
            if (action->text() == QLatin1String(text))
                return action;
        }
        return nullptr;
    };
    ASSERT_NE(choice("0 ms"), nullptr);
    EXPECT_TRUE(choice("0 ms")->isChecked());
    ASSERT_NE(choice("60 ms"), nullptr);
    choice("60 ms")->trigger();
    EXPECT_EQ(session.Run().State().receiverDelayMs.load(), 60);
    EXPECT_FALSE(choice("0 ms")->isChecked());
    static_cast<QAbstractButton*>(dialog.Control(kIdStart))->click();
    ASSERT_NE(choice("100 ms"), nullptr);
    EXPECT_TRUE(choice("100 ms")->isEnabled());
    choice("100 ms")->trigger();
    EXPECT_EQ(session.Run().State().receiverDelayMs.load(), 100);
    dialog.reject();
}

} // namespace
} // namespace ostrim
