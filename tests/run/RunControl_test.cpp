#include "run/RunControl.h"
#include "gps/LogFiles.h"

#include "tests/support/FakeDialogFields.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/ScopedTimeZone.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

namespace ostrim {
namespace {

// The separator the log names start with: "/", on Windows "\".
const std::string kSep(1, kGpsLogFormat[0]);

namespace fs = std::filesystem;
using test::FakeDialogFields;

class FakeGpsLink : public GpsReceiverLink {
public:
    int Open(const std::string& path, int& error) override
    {
        ++opens;
        openedPath = path;
        error = openError;
        running = openError == 0;
        return openError == 0 ? 0 : 8;
    }
    bool Running() const override { return running; }
    void Stop() override { running = false; }

    int openError = 0;
    int opens = 0;
    bool running = false;
    std::string openedPath;
};

class FakeBaseCheck : public BaseStationCheck {
public:
    Result Check(const std::string& port) override
    {
        ++checks;
        checkedPort = port;
        return result;
    }
    Result result = kOk;
    int checks = 0;
    std::string checkedPort;
};

// 14:05 local time on 7 December 2026, with TZ fixed to UTC for the test.
constexpr std::time_t kStartTime = 1796652300;

class RunControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fields.SetText(Field::Folder, dir.Path().string());
        fields.SetText(Field::SensorFile, WriteSensors("sensors.txt", "45.26 93.70 7 4070BF7B\n"));
    }
    std::string WriteSensors(const std::string& name, const std::string& text)
    {
        const std::string path = dir.Path().string() + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    RunControl::StartOutcome Start(const std::string& base = "/dev/base")
    {
        return control.OnStart("/dev/gps", base);
    }

    test::ScopedTimeZone zone{"UTC"};
    test::ScratchFolder dir;
    RunState state;
    SensorTable table;
    FakeDialogFields fields;
    FakeGpsLink gps;
    FakeBaseCheck base;
    RunControl control{state, table, fields, gps, base, [] { return kStartTime; }};
};

TEST_F(RunControlTest, Start_LoopModeWithWorkingBaseStation_RunsAndCreatesBothLogs)
{
    EXPECT_EQ(Start(), RunControl::StartOutcome::Running);
    EXPECT_EQ(fields.Status(), "Trigger on");
    EXPECT_EQ(gps.openedPath, "/dev/gps");
    EXPECT_EQ(base.checkedPort, "/dev/base");
    EXPECT_EQ(table.count.load(), 1);
    EXPECT_EQ(state.sensorsLoaded.load(), 1);
    EXPECT_EQ(state.logPaths.Gps(), dir.Path().string() + kSep + "14_05-07-12-2026-GPS-Data.txt");
    EXPECT_EQ(state.logPaths.Raw(), dir.Path().string() + kSep + "14_05-07-12-2026-Raw-GPS-Data.txt");
    EXPECT_TRUE(fs::exists(state.logPaths.Gps()));
    EXPECT_EQ(fs::file_size(state.logPaths.Raw()), 0u);
}

TEST_F(RunControlTest, Start_WithoutGpsPort_ShowsMessageAndCreatesNothing)
{
    EXPECT_EQ(control.OnStart("", "/dev/base"), RunControl::StartOutcome::GpsPortFailed);
    ASSERT_EQ(fields.Messages().size(), 1u);
    EXPECT_EQ(fields.Messages()[0].rfind("Error opening GPS receiver port\n", 0), 0u);
    EXPECT_EQ(gps.opens, 0);
    EXPECT_EQ(base.checks, 0);
    EXPECT_TRUE(fs::is_empty(dir.Path().string()) || !fs::exists(dir.Path().string() + kSep + "14_05-07-12-2026-GPS-Data.txt"));
}

TEST_F(RunControlTest, Start_GpsPortRefused_MessageCarriesTheReason)
{
    struct Case {
        int error;
        const char* reasonPart;
    };
    for (const Case& c : {Case{EACCES, "dialout"}, Case{EBUSY, "in use"}, Case{ENOENT, "plugged in"},
                          Case{EIO, "Input/output error"}}) {
        gps.openError = c.error;
        fields.ClearHistory();
        EXPECT_EQ(Start(), RunControl::StartOutcome::GpsPortFailed);
        ASSERT_EQ(fields.Messages().size(), 1u);
        const std::string text = fields.Messages()[0];
        EXPECT_EQ(text.rfind("Error opening GPS receiver port\n", 0), 0u) << text;
        EXPECT_NE(text.find(c.reasonPart), std::string::npos) << text;
    }
}

TEST_F(RunControlTest, Start_FolderMissing_FailsOnGpsLogThenReusesTheRunningReader)
{
    fields.SetText(Field::Folder, dir.Path().string() + "/no-such-folder");
    EXPECT_EQ(Start(), RunControl::StartOutcome::LogFailed);
    EXPECT_EQ(fields.Status(), "Failed to create log file");
    EXPECT_EQ(base.checks, 0);
    EXPECT_TRUE(gps.running);

    // The operator mends the folder and presses Start again: the first reader goes on.
    fields.SetText(Field::Folder, dir.Path().string());
    EXPECT_EQ(Start(), RunControl::StartOutcome::Running);
    EXPECT_EQ(gps.opens, 1);
    EXPECT_TRUE(fs::exists(state.logPaths.Raw()));
}

TEST_F(RunControlTest, Start_AgainWithAnotherGpsPortAfterFailedStart_ReadsTheNewPort)
{
    fields.SetText(Field::Folder, dir.Path().string() + "/no-such-folder");
    EXPECT_EQ(Start(), RunControl::StartOutcome::LogFailed);

    fields.SetText(Field::Folder, dir.Path().string());
    EXPECT_EQ(control.OnStart("/dev/other-gps", "/dev/base"), RunControl::StartOutcome::Running);
    EXPECT_EQ(gps.opens, 2);
    EXPECT_EQ(gps.openedPath, "/dev/other-gps");
}

TEST_F(RunControlTest, Start_BaseStationCheck_TextsAndTriggering)
{
    struct Case {
        const char* name;
        std::string basePort;
        BaseStationCheck::Result result;
        int loopMode;
        const char* status;
        int triggerEnabled;
    };
    const Case cases[] = {
        {"no selection, loop", "", BaseStationCheck::kOk, 1, "Base station failed to open", 0},
        {"does not open, loop", "/dev/base", BaseStationCheck::kOpenFailed, 1, "Base station failed to open", 0},
        {"no answer, loop", "/dev/base", BaseStationCheck::kPingFailed, 1, "Base station failed to ping", 0},
        {"working, back and forth", "/dev/base", BaseStationCheck::kOk, 0, "Back and Forth mode", 1},
        {"does not open, back and forth", "/dev/base", BaseStationCheck::kOpenFailed, 0,
         "Base station failed to open", 0},
        {"no answer, back and forth", "/dev/base", BaseStationCheck::kPingFailed, 0,
         "Base station failed to ping", 0},
    };
    for (const Case& c : cases) {
        RunState s;
        SensorTable t;
        FakeGpsLink g;
        FakeBaseCheck b;
        b.result = c.result;
        s.loopMode.store(c.loopMode);
        RunControl rc(s, t, fields, g, b, [] { return kStartTime; });
        EXPECT_EQ(rc.OnStart("/dev/gps", c.basePort), RunControl::StartOutcome::Running) << c.name;
        EXPECT_EQ(fields.Status(), c.status) << c.name;
        EXPECT_EQ(s.triggerEnabled.load(), c.triggerEnabled) << c.name;
        EXPECT_EQ(b.checks, c.basePort.empty() ? 0 : 1) << c.name;
    }
}

// A run nobody watches gets triggering back when the base station answers again; the status
// line changes only with the reason, and a restart or the operator's own choice decides it.
TEST_F(RunControlTest, BaseStationCheckFailed_RecheckedUntilItAnswers)
{
    base.result = BaseStationCheck::kOpenFailed;
    ASSERT_EQ(Start(), RunControl::StartOutcome::Running);
    EXPECT_EQ(state.triggerEnabled.load(), 0);
    ASSERT_TRUE(control.TriggeringHeldByCheck());

    fields.ClearHistory();
    const std::pair<BaseStationCheck::Result, std::vector<std::string>> rechecks[] = {
        {BaseStationCheck::kOpenFailed, {}},
        {BaseStationCheck::kPingFailed, {"Base station failed to ping"}},
        {BaseStationCheck::kPingFailed, {"Base station failed to ping"}},
        {BaseStationCheck::kOk, {"Base station failed to ping", "Trigger on"}},
    };
    for (const auto& [result, history] : rechecks) {
        base.result = result;
        control.RecheckBaseStation("/dev/base");
        EXPECT_EQ(fields.StatusHistory(), history) << result;
    }
    EXPECT_EQ(state.triggerEnabled.load(), 1);
    EXPECT_FALSE(control.TriggeringHeldByCheck());

    // The receiver comes back before the base station: the restart holds triggering again,
    // and gives it back once the base station answers.
    gps.running = false;
    base.result = BaseStationCheck::kOpenFailed;
    ASSERT_EQ(Start(), RunControl::StartOutcome::Running);
    EXPECT_EQ(state.triggerEnabled.load(), 0);
    ASSERT_TRUE(control.TriggeringHeldByCheck());
    gps.running = false;
    base.result = BaseStationCheck::kOk;
    ASSERT_EQ(Start(), RunControl::StartOutcome::Running);
    EXPECT_EQ(state.triggerEnabled.load(), 1) << "a restart keeps triggering as it was";

    // Switched off by the operator: neither a restart nor a recheck switches it on.
    control.OnTriggerOnOff();
    gps.running = false;
    base.result = BaseStationCheck::kOpenFailed;
    ASSERT_EQ(Start(), RunControl::StartOutcome::Running);
    EXPECT_FALSE(control.TriggeringHeldByCheck());
    base.result = BaseStationCheck::kOk;
    const int checks = base.checks;
    control.RecheckBaseStation("/dev/base");
    EXPECT_EQ(base.checks, checks);
    EXPECT_EQ(state.triggerEnabled.load(), 0);
}

// The control command's trigger on and off: a repeat changes nothing, and "off" during the hold
// of a failed check keeps triggering off when the base station answers later.
TEST_F(RunControlTest, ExplicitTrigger_NeverTogglesAndOffEndsTheHold)
{
    ASSERT_EQ(Start(), RunControl::StartOutcome::Running);
    fields.ClearHistory();
    control.OnTrigger(true);
    EXPECT_EQ(state.triggerEnabled.load(), 1);
    control.OnTrigger(false);
    control.OnTrigger(false);
    EXPECT_EQ(state.triggerEnabled.load(), 0);
    EXPECT_EQ(fields.StatusHistory(), std::vector<std::string>{"Trigger off"});

    control.OnTrigger(true);
    gps.running = false;
    base.result = BaseStationCheck::kOpenFailed;
    ASSERT_EQ(Start(), RunControl::StartOutcome::Running);
    ASSERT_TRUE(control.TriggeringHeldByCheck());
    fields.ClearHistory();
    control.OnTrigger(false);
    EXPECT_FALSE(control.TriggeringHeldByCheck());
    EXPECT_EQ(fields.StatusHistory(), std::vector<std::string>{"Trigger off"});
    base.result = BaseStationCheck::kOk;
    control.RecheckBaseStation("/dev/base");
    EXPECT_EQ(state.triggerEnabled.load(), 0);
}

TEST_F(RunControlTest, Start_SensorFileWithoutSensors_SaysNoSensorsLoadedAndRereadsAtTriggerOn)
{
    fields.SetText(Field::SensorFile, WriteSensors("empty.txt", "lat lon cell\n\n45.26 93.70 7 4070BF7B\n"));
    EXPECT_EQ(Start(), RunControl::StartOutcome::Running);
    EXPECT_EQ(fields.Status(), kNoSensorsText);
    EXPECT_EQ(state.triggerEnabled.load(), 0);

    fields.SetText(Field::SensorFile, WriteSensors("full.txt", "45.26 93.70 7 4070BF7B\n"));
    control.OnTriggerOnOff();
    EXPECT_EQ(state.triggerEnabled.load(), 1);
    EXPECT_EQ(fields.Status(), "1 sensors");
    EXPECT_EQ(table.count.load(), 1);
}

TEST_F(RunControlTest, Start_UnreadableSensorFile_MessageThenStartsStatus)
{
    fields.SetText(Field::SensorFile, dir.Path().string() + "/missing.txt");
    EXPECT_EQ(Start(), RunControl::StartOutcome::Running);
    ASSERT_EQ(fields.Messages().size(), 1u);
    EXPECT_EQ(fields.Messages()[0], dir.Path().string() + "/missing.txt was not found.");
    const auto history = fields.StatusHistory();
    ASSERT_GE(history.size(), 2u);
    EXPECT_EQ(history[0], "Unable to read Sensor file");
    // Not "Trigger on": with no sensor in the table nothing can fire.
    EXPECT_EQ(history[1], kNoSensorsText);
    EXPECT_EQ(state.sensorsLoaded.load(), 0);
}

TEST_F(RunControlTest, UnreadableSensorFile_CorrectedFileLoadsAtNextTriggerOn)
{
    fields.SetText(Field::SensorFile, dir.Path().string() + "/misspelt.txt");
    EXPECT_EQ(Start(), RunControl::StartOutcome::Running);
    ASSERT_EQ(table.count.load(), 0);

    fields.SetText(Field::SensorFile, WriteSensors("right.txt", "45.26 93.70 7 4070BF7B\n"));
    control.OnTriggerOnOff(); // off: the missing file left triggering on
    control.OnTriggerOnOff();
    EXPECT_EQ(table.count.load(), 1);
    EXPECT_EQ(state.triggerEnabled.load(), 1);
    EXPECT_EQ(fields.Status(), "1 sensors");
}

TEST_F(RunControlTest, EmptyFolder_StartAndEndOfLapRefusedNothingAtRoot)
{
    ASSERT_EQ(Start(), RunControl::StartOutcome::Running);
    const std::string lap = state.logPaths.Gps();
    for (const char* folder : {"", "  "}) {
        fields.SetText(Field::Folder, folder);
        fields.ClearHistory();
        control.OnEndOfLap();
        EXPECT_EQ(state.logPaths.Gps(), lap) << '"' << folder << '"';
        EXPECT_EQ(fields.StatusHistory(),
                  (std::vector<std::string>{"No log folder given: the Folder box is empty",
                                            "Failed to create log file"}));
    }
    RunState fresh;
    RunControl rc{fresh, table, fields, gps, base, [] { return kStartTime; }};
    fields.SetText(Field::Folder, "");
    EXPECT_EQ(rc.OnStart("/dev/gps", "/dev/base"), RunControl::StartOutcome::LogFailed);
    EXPECT_EQ(fields.Status(), "Failed to create log file");
    EXPECT_TRUE(fresh.logPaths.Gps().empty());
}

TEST_F(RunControlTest, SensorFilePath_LongerThan79Characters_IsReadWhole)
{
    const std::string name = std::string(90, 's') + ".txt";
    fields.SetText(Field::SensorFile, WriteSensors(name, "45.26 93.70 7 4070BF7B\n"));
    ASSERT_GT(fields.GetText(Field::SensorFile).size(), 79u);
    control.OnTriggerOnOff(); // off
    control.OnTriggerOnOff(); // on: loads
    EXPECT_EQ(table.count.load(), 1);
    EXPECT_TRUE(fields.Messages().empty());
}

TEST_F(RunControlTest, TriggerOnOff_BeforeStart_TogglesAndLoadsOnFirstSwitchOn)
{
    control.OnTriggerOnOff();
    EXPECT_EQ(state.triggerEnabled.load(), 0);
    EXPECT_EQ(fields.Status(), "Trigger off");
    EXPECT_EQ(state.sensorsLoaded.load(), 0);

    // Start with triggering off does not read the file.
    EXPECT_EQ(Start(), RunControl::StartOutcome::Running);
    EXPECT_EQ(state.sensorsLoaded.load(), 0);

    control.OnTriggerOnOff();
    EXPECT_EQ(state.triggerEnabled.load(), 1);
    EXPECT_EQ(fields.Status(), "1 sensors");
    EXPECT_EQ(state.sensorsLoaded.load(), 1);
}

TEST_F(RunControlTest, TriggerOffAndModeRadios_ResetTheBackAndForthState)
{
    state.nextIndex.store(2);
    state.rearmed.store(1);
    control.OnTriggerOnOff();
    EXPECT_EQ(state.nextIndex.load(), -1);
    EXPECT_EQ(state.rearmed.load(), 1) << "Trigger off leaves rearmed alone";

    state.nextIndex.store(1);
    control.OnBackAndForth();
    EXPECT_EQ(state.loopMode.load(), 0);
    EXPECT_EQ(state.nextIndex.load(), -1);
    EXPECT_EQ(state.rearmed.load(), 0);

    state.nextIndex.store(1);
    state.rearmed.store(1);
    control.OnBackAndForth(); // pressed again: reset all the same
    EXPECT_EQ(state.nextIndex.load(), -1);
    EXPECT_EQ(state.rearmed.load(), 0);

    state.nextIndex.store(1);
    control.OnLoop();
    EXPECT_EQ(state.loopMode.load(), 1);
    EXPECT_EQ(state.nextIndex.load(), 1) << "Loop changes only the mode";
}

TEST_F(RunControlTest, EndOfLap_BeforeStartAndWithLongOrMissingFolder)
{
    control.OnEndOfLap();
    EXPECT_EQ(state.logPaths.Gps(), dir.Path().string() + kSep + "14_05-07-12-2026-GPS-Data.txt");
    EXPECT_TRUE(fs::exists(state.logPaths.Gps()));
    EXPECT_TRUE(state.logPaths.Raw().empty());

    // A long folder text is used whole, not cut at 79 characters.
    const std::string deep = dir.Path().string() + "/" + std::string(100, 'd');
    fs::create_directory(deep);
    fields.SetText(Field::Folder, deep);
    control.OnEndOfLap();
    EXPECT_TRUE(fs::exists(deep + kSep + "14_05-07-12-2026-GPS-Data.txt"));

    fields.SetText(Field::Folder, dir.Path().string() + "/gone");
    control.OnEndOfLap();
    EXPECT_EQ(fields.Status(), "Failed to create log file");
    EXPECT_EQ(state.logPaths.Gps(), dir.Path().string() + "/gone" + kSep + "14_05-07-12-2026-GPS-Data.txt");
}

TEST_F(RunControlTest, EndOfLap_SameMinute_KeepsTheRecordsAlreadyWritten)
{
    ASSERT_EQ(Start(), RunControl::StartOutcome::Running);
    std::ofstream(state.logPaths.Gps(), std::ios::app | std::ios::binary) << "record\r\n";
    control.OnEndOfLap();
    EXPECT_EQ(fs::file_size(state.logPaths.Gps()), 8u);
}

} // namespace
} // namespace ostrim
