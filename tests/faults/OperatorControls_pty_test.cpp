// The operator pressing Trigger On/Off, the mode radios and End of Lap as fast as the GUI thread
// can while the receiver sends 20 fixes a second and nodes switch: nothing crashes, nextIndex
// never leaves its range, every fix is in some GPS log and in the raw log, and every node that
// went on went off again.

#include "tests/support/SessionRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

namespace ostrim {
namespace {

using namespace std::chrono_literals;
using test::Road;
using test::SessionRig;

namespace fs = std::filesystem;

// Every GPS log record in the folders, in time order (a lap's file can be written in stretches).
std::vector<std::string> AllGpsRecords(const std::vector<std::string>& folders)
{
    std::vector<std::string> records;
    for (const std::string& folder : folders) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            const bool gpsLog =
                name.ends_with("-GPS-Data.txt") && !name.ends_with("-Raw-GPS-Data.txt");
            if (gpsLog) {
                for (std::string& line : test::SplitLines(test::ReadFile(entry.path().string())))
                    records.push_back(std::move(line));
            }
        }
    }
    // "vehicle,date,hh,mm,ss.ss,...": the time columns sort as text.
    auto time = [](const std::string& r) {
        std::size_t at = r.find(',', r.find(',') + 1);
        return r.substr(at, 12); // ",hh,mm,ss.ss"
    };
    std::stable_sort(records.begin(), records.end(),
                     [&](const std::string& a, const std::string& b) { return time(a) < time(b); });
    return records;
}

TEST(OperatorControls, PressedRapidlyDuringFixes_NoCrashIndexInRangeEveryFixLogged)
{
    const std::vector<double> sensors = {10, 22, 34, 46, 58, 70, 82, 94};
    SessionRig rig(sensors);
    std::vector<std::string> lapFolders;
    for (int lap = 0; lap < 3; ++lap) {
        lapFolders.push_back(rig.dir / ("lap" + std::to_string(lap)));
        fs::create_directory(lapFolders.back());
    }
    rig.fields.SetText(Field::Folder, lapFolders[0]);
    ASSERT_TRUE(rig.PlugBaseStation());
    ASSERT_EQ(rig.Start(), RunControl::StartOutcome::Running);

    const std::vector<std::string> sentences = Road::Sentences(0, 70, 1.5);
    rig.Play(sentences, 20);

    std::mt19937 random(7);
    RunControl& control = rig.Control();
    RunState& state = rig.GetSession().State();
    const int n = static_cast<int>(sensors.size());
    int presses = 0;
    int lap = 0;
    while (!rig.gps.Finished()) {
        switch (random() % 4) {
        case 0:
            control.OnTriggerOnOff();
            break;
        case 1:
            control.OnLoop();
            break;
        case 2:
            control.OnBackAndForth();
            break;
        case 3:
            lap = (lap + 1) % static_cast<int>(lapFolders.size());
            rig.fields.SetText(Field::Folder, lapFolders[lap]);
            control.OnEndOfLap();
            break;
        }
        ++presses;
        const int next = state.nextIndex.load();
        ASSERT_TRUE(next >= -1 && next < n) << "nextIndex " << next;
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
    }
    ASSERT_TRUE(test::WaitFor([&] { return rig.RawLogLines() == sentences.size(); }, 5s))
        << rig.RawLogLines() << " raw log lines";
    rig.StopRun();
    EXPECT_GT(presses, 500);

    std::string raw;
    for (const std::string& s : sentences)
        raw += s;
    EXPECT_EQ(rig.RawLog(), raw);
    const std::vector<std::string> records = AllGpsRecords(lapFolders);
    ASSERT_EQ(records.size(), sentences.size());
    for (std::size_t i = 0; i < sentences.size(); ++i)
        EXPECT_TRUE(test::RecordMatchesSentence(records[i], sentences[i])) << records[i];

    const auto commands = rig.Base().Commands();
    EXPECT_FALSE(commands.empty()) << "no node switched: the test drove past nothing";
    EXPECT_EQ(rig.Base().BadFrames(), 0);
    ASSERT_EQ(commands.size() % 2, 0u);
    for (std::size_t i = 0; i < commands.size(); i += 2) {
        EXPECT_TRUE(commands[i].on && !commands[i + 1].on) << "command " << i;
        EXPECT_EQ(commands[i].nodeId, commands[i + 1].nodeId) << "command " << i;
    }
}

} // namespace
} // namespace ostrim
