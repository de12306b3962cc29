#include "run/SilenceWatch.h"

#include <gtest/gtest.h>

namespace ostrim {
namespace {

using namespace std::chrono_literals;

TEST(SilenceWatch, FiveSecondsWithoutAcceptedSentence_ToldOncePerSilence)
{
    const SilenceWatch::Clock::time_point t0{};
    const std::string told = "No data from the GPS receiver on /dev/ttyUSB0 for 5 s";
    SilenceWatch watch;
    EXPECT_EQ(watch.Check(t0 + 60s, 0), "") << "no run, no silence";

    watch.Arm("/dev/ttyUSB0", t0, 7);
    struct Step {
        std::chrono::milliseconds at;
        std::uint64_t accepted;
        std::string text;
        bool silent;
    };
    const Step steps[] = {
        {4900ms, 7, "", false},  {5000ms, 7, told, true},  {6000ms, 7, "", true},
        {7000ms, 8, "", false},  {11900ms, 8, "", false},  {12000ms, 8, told, true},
        {30000ms, 8, "", true},
    };
    for (const Step& s : steps) {
        EXPECT_EQ(watch.Check(t0 + s.at, s.accepted), s.text) << s.at.count();
        EXPECT_EQ(watch.Silent(), s.silent) << s.at.count();
    }
    watch.Disarm();
    EXPECT_FALSE(watch.Silent());
}

} // namespace
} // namespace ostrim
