// The run panel under the dialog shows a real run's figures, and the dialog gives the summary
// when it closes.

#include "app/qt/DialogSession.h"
#include "app/DialogTemplate.h"
#include "app/qt/RunPanel.h"
#include "platform/posix/PseudoTerminal.h"
#include "tests/support/DialogRun.h"
#include "tests/support/PtyTestSupport.h"
#include "tests/support/ScratchFolder.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTableWidget>
#include <QToolButton>

#include "tests/support/QtWait.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace ostrim {
namespace {

using test::Sentence;

TEST(RunPanel, RunInTheDialog_PanelShowsFiguresSensorsHistoryAndSummaryOnClose)
{
    test::ScratchFolder folder;
    PseudoTerminal receiver;
    ASSERT_EQ(receiver.Open(), 0);
    COstrimDlg dialog(test::OneSensorRunOptions(folder, receiver));
    const int bareHeight = dialog.height();
    std::vector<std::string> summaries;
    DialogSession::Extras extras;
    extras.summary = [&](const std::string& text) { summaries.push_back(text); };
    DialogSession session(dialog, std::move(extras));
    RunPanel* panel = session.Panel();
    ASSERT_NE(panel, nullptr);
    EXPECT_GT(dialog.height(), bareHeight) << "the panel sits below the controls";
    auto label = [&](const char* name) { return panel->findChild<QLabel*>(name)->text(); };
    auto path = [&](const char* name) { return panel->findChild<QLineEdit*>(name)->text(); };
    auto* sensors = panel->findChild<QTableWidget*>("sensorTable");
    auto* history = panel->findChild<QListWidget*>("historyList");
    auto historyHas = [&](const QString& text) {
        for (int i = 0; i < history->count(); ++i) {
            if (history->item(i)->text().endsWith(text))
                return true;
        }
        return false;
    };

    static_cast<QAbstractButton*>(dialog.Control(kIdStart))->click();
    EXPECT_EVENTUALLY_EQ(historyHas(QStringLiteral("Base station failed to open")), true);
    EXPECT_TRUE(historyHas(QStringLiteral("Trigger on"))) << "an earlier text is kept";
    for (const char* time : {"012758.00", "012758.10", "012758.20"}) {
        ASSERT_TRUE(test::WriteToMaster(
            receiver, Sentence(std::string("GPGGA,") + time
                               + ",5214.4000,N,00651.1551,E,1,08,0.9,100.0,M,46.9,M,,")));
    }
    EXPECT_EVENTUALLY_EQ(label("fixesValue"), QStringLiteral("3"));
    EXPECT_EQ(label("qualityValue"), QStringLiteral("quality 1 (GPS), 8 satellites"));
    EXPECT_EQ(path("gpsLogValue").toStdString(), session.Run().State().logPaths.Gps());
    EXPECT_EQ(path("rawLogValue").toStdString(), session.Run().State().logPaths.Raw());
    EXPECT_NE(path("gpsLogValue"), QStringLiteral("-"));
    ASSERT_EQ(sensors->rowCount(), 1);
    EXPECT_EQ(sensors->item(0, 1)->text(), QStringLiteral("4070BF7B"));
    // Triggering went off with the failed check: nothing can fire, whatever the table says.
    EXPECT_EQ(sensors->item(0, 2)->text(), QStringLiteral("held: switching off"));
    EXPECT_EQ(label("stateIndicator"), QStringLiteral("Off: base station did not answer, checking every 3 s"));
    EXPECT_EQ(sensors->item(0, 3)->text(), QStringLiteral("72.4 m")); // 0.00106 deg of longitude east

    // Details hidden: the dialog gives the room back.
    const int shownHeight = dialog.height();
    panel->findChild<QToolButton*>("detailsToggle")->click();
    EXPECT_LT(dialog.height(), shownHeight);
    EXPECT_GT(dialog.height(), bareHeight);
    EXPECT_FALSE(sensors->isVisibleTo(panel));

    dialog.reject();
    ASSERT_EQ(summaries.size(), 1u);
    EXPECT_NE(summaries[0].find("3 fixes logged to the GPS log " + session.Run().State().logPaths.Gps()),
              std::string::npos)
        << summaries[0];
    EXPECT_NE(summaries[0].find("\"Base station failed to open\""), std::string::npos) << summaries[0];
}

} // namespace
} // namespace ostrim
