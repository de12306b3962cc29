// Field updates between the GPS reader thread and the GUI thread.

#include "app/qt/QtDialogFields.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QThread>
#include <QWidget>

#include "tests/support/QtWait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace ostrim {
namespace {

struct Bound {
    QWidget window;
    QLineEdit* status = new QLineEdit(&window);
    QLineEdit* vehicle = new QLineEdit(&window);
    QtDialogFields fields{&window};
    std::vector<std::string> shown; // texts of the status box, as it showed them
    bool allOnGuiThread = true;

    Bound()
    {
        fields.Bind(Field::Status, status);
        fields.Bind(Field::VehicleType, vehicle);
        QObject::connect(status, &QLineEdit::textChanged, [this](const QString& text) {
            shown.push_back(text.toStdString());
            allOnGuiThread = allOnGuiThread && QThread::currentThread() == qApp->thread();
        });
    }
};

TEST(QtDialogFields, SetTextFromReaderThread_ReachesWidgetOnGuiThreadInCallOrder)
{
    Bound bound;
    constexpr int kTexts = 2000;
    std::thread reader([&] {
        for (int i = 1; i <= kTexts; ++i)
            bound.fields.SetText(Field::Status, "Node " + std::to_string(i) + " success");
    });
    reader.join();
    EXPECT_TRUE(bound.shown.empty()) << "nothing touches the widget off the GUI thread";
    EXPECT_EVENTUALLY_EQ(bound.status->text(), QStringLiteral("Node %1 success").arg(kTexts));

    std::vector<std::string> expected;
    for (int i = 1; i <= kTexts; ++i)
        expected.push_back("Node " + std::to_string(i) + " success");
    EXPECT_EQ(bound.shown, expected);
    EXPECT_TRUE(bound.allOnGuiThread);
}

TEST(QtDialogFields, TextSetOnGuiThread_DoesNotOvertakeEarlierReaderText)
{
    Bound bound;
    std::thread reader([&] { bound.fields.SetText(Field::Status, "Node 7 success"); });
    reader.join();
    bound.fields.SetText(Field::Status, "Trigger off");
    EXPECT_EQ(bound.fields.GetText(Field::Status), "Trigger off");
    QTest::qWait(50);
    EXPECT_EQ(bound.status->text(), "Trigger off");
    EXPECT_EQ(bound.shown, (std::vector<std::string>{"Node 7 success", "Trigger off"}));
}

TEST(QtDialogFields, GetText_GivesPendingTextThenOperatorsTyping)
{
    Bound bound;
    bound.fields.SetText(Field::VehicleType, "Dunrel 80k truck");
    EXPECT_EQ(bound.fields.GetText(Field::VehicleType), "Dunrel 80k truck");
    EXPECT_EQ(bound.vehicle->text(), "") << "delivered later, on the event loop";

    // Typing before the pending text arrives is overwritten by it, in the box and the copy.
    QTest::keyClicks(bound.vehicle, "x");
    EXPECT_EQ(bound.fields.GetText(Field::VehicleType), "Dunrel 80k truck");
    EXPECT_EVENTUALLY_EQ(bound.vehicle->text(), QStringLiteral("Dunrel 80k truck"));

    bound.vehicle->setFocus();
    bound.vehicle->end(false);
    QTest::keyClicks(bound.vehicle, " 2");
    EXPECT_EQ(bound.fields.GetText(Field::VehicleType), "Dunrel 80k truck 2");
}

TEST(QtDialogFields, GetTextFromReaderThreadWhileOperatorTypes_ReadsWholeSnapshots)
{
    Bound bound;
    const std::string full = "Dunrel 80k truck with trailer";
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0};
    std::atomic<bool> allPrefixes{true};
    std::thread reader([&] {
        while (!stop) {
            std::string text = bound.fields.GetText(Field::VehicleType);
            if (full.compare(0, text.size(), text) != 0)
                allPrefixes = false;
            ++reads;
        }
    });
    for (int round = 0; round < 20; ++round) {
        bound.vehicle->clear();
        QTest::keyClicks(bound.vehicle, QString::fromStdString(full));
    }
    stop = true;
    reader.join();
    EXPECT_TRUE(allPrefixes);
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(bound.fields.GetText(Field::VehicleType), full);
}

TEST(QtDialogFields, ShowMessage_FromReaderNeverBlocksAndShowsOnGuiThread)
{
    Bound bound;
    std::vector<std::string> messages;
    bool onGuiThread = false;
    bound.fields.SetMessagePresenter([&](const QString& text) {
        messages.push_back(text.toStdString());
        onGuiThread = QThread::currentThread() == qApp->thread();
    });

    std::thread reader([&] { bound.fields.ShowMessage("Error opening GPS receiver port"); });
    reader.join(); // returns although nobody has answered the message yet
    EXPECT_TRUE(messages.empty());
    EXPECT_EVENTUALLY_EQ(messages.size(), std::size_t{1});
    EXPECT_EQ(messages[0], "Error opening GPS receiver port");
    EXPECT_TRUE(onGuiThread);

    bound.fields.ShowMessage("shown at once on the GUI thread");
    EXPECT_EQ(messages.size(), 2u);
}

TEST(QtDialogFields, SelectedPort_FollowsTheListFromAnyThread)
{
    QWidget window;
    auto* list = new QComboBox(&window);
    list->addItem("/dev/ttyUSB0 (usb-FTDI_A10K-if00-port0)", QString("/dev/ttyUSB0"));
    list->addItem("/dev/ttyUSB1", QString("/dev/ttyUSB1"));
    QtDialogFields fields(&window);
    fields.BindPortList(PortField::BaseStation, list);
    EXPECT_EQ(fields.SelectedPort(PortField::BaseStation), "/dev/ttyUSB0");
    list->setCurrentIndex(1);
    std::string seen;
    std::thread reader([&] { seen = fields.SelectedPort(PortField::BaseStation); });
    reader.join();
    EXPECT_EQ(seen, "/dev/ttyUSB1");
    list->setCurrentIndex(-1);
    EXPECT_EQ(fields.SelectedPort(PortField::BaseStation), "");
    EXPECT_EQ(fields.SelectedPort(PortField::Gps), "") << "an unbound list selects nothing";
}

} // namespace
} // namespace ostrim
