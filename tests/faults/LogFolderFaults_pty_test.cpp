// The log folder failing during a run: taken away, made read-only, or full; then given back.
// The operator is told when the logs stop being written and when they write again, and every
// record is in the logs, in order and whole, once they can be written.

#include "platform/posix/UniqueFd.h"
#include "run/PanelText.h"
#include "tests/support/ScopedMount.h"
#include "tests/support/SessionRig.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <cerrno>
#include <unistd.h>

#include <filesystem>
#include <optional>

namespace ostrim {
namespace {

using namespace std::chrono_literals;
using test::LogsHoldExactly;
using test::Road;
using test::SessionRig;

namespace fs = std::filesystem;

bool StatusContains(const SessionRig& rig, const std::string& part)
{
    for (const std::string& s : rig.fields.StatusHistory())
        if (s.find(part) != std::string::npos)
            return true;
    return false;
}

// What a fault does to the folder, and how it is given back.
struct FolderFault {
    const char* name;
    const char* reason; // as the status line gives the system's reason
    bool needsMount;
    // Whether the records written before the fault survive it (a deleted folder takes them along).
    bool earlierRecordsKept;
    void (*take)(const std::string& folder, test::ScopedMount* mount);
    void (*giveBack)(const std::string& folder, test::ScopedMount* mount);
};

void PrintTo(const FolderFault& fault, std::ostream* out)
{
    *out << fault.name;
}

const FolderFault kFolderFaults[] = {
    {"RenamedAwayAndBack", "No such file or directory", false, true,
     [](const std::string& folder, test::ScopedMount*) { fs::rename(folder, folder + ".away"); },
     [](const std::string& folder, test::ScopedMount*) { fs::rename(folder + ".away", folder); }},
    {"DeletedAndMadeAgain", "No such file or directory", false, false,
     [](const std::string& folder, test::ScopedMount*) { fs::remove_all(folder); },
     [](const std::string& folder, test::ScopedMount*) { fs::create_directory(folder); }},
    // A read-only mount refuses root too, unlike permission bits.
    {"ReadOnlyAndWritableAgain", "Read-only file system", true, true,
     [](const std::string&, test::ScopedMount* mount) { ASSERT_EQ(mount->Remount(true), 0); },
     [](const std::string&, test::ScopedMount* mount) { ASSERT_EQ(mount->Remount(false), 0); }},
};

class LogFolder : public ::testing::TestWithParam<FolderFault> {};

TEST_P(LogFolder, FailsDuringARunAndIsGivenBack_OperatorToldAndEveryRecordLoggedInOrder)
{
    const FolderFault& fault = GetParam();
    test::ScratchFolder outer;
    const std::string folder = outer / "logs";
    fs::create_directory(folder);
    std::optional<test::ScopedMount> mount;
    if (fault.needsMount) {
        mount.emplace(folder, 1 << 20);
        if (!mount->Mounted())
            GTEST_SKIP() << mount->Error();
    }

    SessionRig rig({}, folder);
    ASSERT_EQ(rig.Start(), RunControl::StartOutcome::Running);
    const std::vector<std::string> sentences = Road::Sentences(0, 150, 0.7);
    rig.Play(sentences, 100);
    ASSERT_TRUE(rig.LogsReach(20, 5s));

    const std::size_t writtenBefore = rig.gps.SentencesSent();
    fault.take(folder, mount ? &*mount : nullptr);
    ASSERT_TRUE(test::WaitFor([&] { return StatusContains(rig, fault.reason); }, 3s))
        << "status: " << rig.fields.Status();
    EXPECT_TRUE(rig.StatusSeen(std::string("GPS log write failed: ") + fault.reason +
                               "; Raw log write failed: " + fault.reason));
    const std::size_t sentAtFailure = rig.gps.SentencesSent();
    ASSERT_TRUE(test::WaitFor([&] { return rig.gps.SentencesSent() >= sentAtFailure + 10; }, 3s));
    fault.giveBack(folder, mount ? &*mount : nullptr);

    ASSERT_TRUE(rig.PlayedAll(10s));
    ASSERT_TRUE(test::WaitFor(
        [&] { return rig.StatusSeen("GPS log writing again; Raw log writing again"); }, 3s))
        << "status: " << rig.fields.Status();
    rig.StopRun();
    EXPECT_EQ(rig.GetSession().Logs().GpsBacklog(), 0u);
    EXPECT_EQ(rig.GetSession().Logs().RawBacklog(), 0u);

    const std::string raw = rig.RawLog();
    const std::vector<std::string> gps = rig.GpsLogLines();
    if (fault.earlierRecordsKept) {
        EXPECT_TRUE(LogsHoldExactly(raw, gps, sentences));
    } else {
        // The folder took the records written before it went; from the failure on none is lost.
        const std::size_t lost =
            sentences.size() - std::min(sentences.size(), test::SplitLines(raw).size());
        EXPECT_LE(lost, writtenBefore);
        EXPECT_TRUE(LogsHoldExactly(
            raw, gps, {sentences.begin() + static_cast<long>(lost), sentences.end()}));
    }
}

INSTANTIATE_TEST_SUITE_P(LogFolderFaults, LogFolder, ::testing::ValuesIn(kFolderFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// The run ends while the logs cannot be written: a folder mistyped at Start, or taken away
// during the run and not back by the stop. Nothing held is counted as logged, and nothing held is
// dropped: the rescue writes it under the logs' own names, in order.
TEST(LogFolderFaults, NotWritableWhenTheRunEnds_CountsSayWhatIsOnDiskAndHeldRecordsRescued)
{
    const struct {
        const char* name;
        bool mistyped;   // the folder never existed: Start could not create the logs
        int beforeFault; // sentences logged before the folder went
    } cases[] = {{"mistyped folder", true, 0}, {"folder taken away, then stop", false, 12}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ScratchFolder outer;
        const std::string folder = outer / "logs";
        if (!c.mistyped)
            fs::create_directory(folder);
        SessionRig rig({}, folder);
        const RunControl::StartOutcome started = rig.Start();
        EXPECT_EQ(started, c.mistyped ? RunControl::StartOutcome::LogFailed : RunControl::StartOutcome::Running);
        const std::string gpsLog = rig.GetSession().State().logPaths.Gps();
        const std::string rawLog = rig.GetSession().State().logPaths.Raw();
        const std::vector<std::string> sentences = Road::Sentences(0, 30, 0.7);
        if (c.beforeFault > 0) {
            rig.Play({sentences.begin(), sentences.begin() + c.beforeFault}, 100);
            ASSERT_TRUE(rig.LogsReach(static_cast<std::size_t>(c.beforeFault), 5s));
            fs::rename(folder, folder + ".away");
        }
        rig.Play({sentences.begin() + c.beforeFault, sentences.end()}, 100);
        ASSERT_TRUE(rig.Accepted(sentences.size(), 10s));

        const RunSnapshot during = rig.GetSession().Monitor().Take();
        EXPECT_EQ(during.fixesLogged, static_cast<std::uint64_t>(c.beforeFault));
        EXPECT_GE(during.held.records, 2 * (sentences.size() - static_cast<std::size_t>(c.beforeFault)));
        EXPECT_EQ(MakePanelTexts(during).logsState.text.rfind("Logs not written since ", 0), 0u);

        rig.StopRun();
        Session& session = rig.GetSession();
        ASSERT_GT(session.Held().records, 0u);
        const std::string rescueFolder = outer / "rescue/run";
        const RescueResult rescue = session.Rescue(rescueFolder);
        EXPECT_EQ(rescue.lost, 0u);
        const std::vector<std::string> held(sentences.begin() + c.beforeFault, sentences.end());
        const std::string rescuedRaw = test::ReadFile(rescueFolder + "/" + fs::path(rawLog).filename().string());
        const std::string rescuedGps = test::ReadFile(rescueFolder + "/" + fs::path(gpsLog).filename().string());
        EXPECT_TRUE(LogsHoldExactly(rescuedRaw, test::SplitLines(rescuedGps), held));

        const std::string summary = session.Summary();
        EXPECT_EQ(summary.rfind("Run summary: " + std::to_string(c.beforeFault) + " fix", 0), 0u) << summary;
        EXPECT_NE(summary.find("written to " + rescueFolder), std::string::npos) << summary;
        EXPECT_EQ(summary.find("lost"), std::string::npos) << summary;
    }
}

// Fills the file system that holds `path`: the filler grows until a write of even one byte fails.
bool FillUp(const std::string& path)
{
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.Valid())
        return false;
    const std::string block(4096, 'f');
    std::size_t size = block.size();
    while (size > 0) {
        const ssize_t n = ::write(fd.Get(), block.data(), size);
        if (n < 0 && errno == ENOSPC)
            size /= 2;
        else if (n < 0 && errno != EINTR)
            return false;
    }
    return true;
}

TEST(LogFolderFaults, DiskFullDuringARunAndSpaceGivenBack_OperatorToldNoRecordLostOrTorn)
{
    test::ScratchFolder outer;
    const std::string folder = outer / "logs";
    fs::create_directory(folder);
    test::ScopedMount mount(folder, 256 * 1024);
    if (!mount.Mounted())
        GTEST_SKIP() << mount.Error();

    SessionRig rig({}, folder);
    ASSERT_EQ(rig.Start(), RunControl::StartOutcome::Running);
    const std::vector<std::string> sentences = Road::Sentences(0, 300, 0.7);
    rig.Play(sentences, 100);
    ASSERT_TRUE(rig.LogsReach(20, 5s));

    ASSERT_TRUE(FillUp(folder + "/filler"));
    // The logs' last pages still have room for some records; then the writes fail.
    ASSERT_TRUE(test::WaitFor(
        [&] { return StatusContains(rig, "write failed: No space left on device"); }, 5s))
        << "status: " << rig.fields.Status();
    const std::size_t sentAtFailure = rig.gps.SentencesSent();
    ASSERT_TRUE(test::WaitFor([&] { return rig.gps.SentencesSent() >= sentAtFailure + 10; }, 3s));
    fs::remove(folder + "/filler");

    ASSERT_TRUE(rig.PlayedAll(10s));
    ASSERT_TRUE(rig.LogsReach(sentences.size(), 5s));
    rig.StopRun();
    EXPECT_TRUE(StatusContains(rig, "log writing again"));
    EXPECT_TRUE(LogsHoldExactly(rig.RawLog(), rig.GpsLogLines(), sentences));
}

} // namespace
} // namespace ostrim
