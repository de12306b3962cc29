#include "sensors/Distance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <limits>
#include <numbers>
#include <ostream>
#include <string>

namespace ostrim {
namespace {

struct ReferenceCase {
    const char* name;
    double latitude1, longitude1, latitude2, longitude2;
    double metres;
    double tolerance; // metres
};

std::ostream& operator<<(std::ostream& out, const ReferenceCase& c)
{
    return out << c.name;
}

class GeodesicReference : public testing::TestWithParam<ReferenceCase> {};

TEST_P(GeodesicReference, Reference_WithinTolerance)
{
    const ReferenceCase& c = GetParam();
    double d = GeodesicDistance(c.latitude1, c.longitude1, c.latitude2, c.longitude2);
    EXPECT_NEAR(d, c.metres, c.tolerance) << c.name;
    // The distance does not depend on the direction of travel.
    double back = GeodesicDistance(c.latitude2, c.longitude2, c.latitude1, c.longitude1);
    EXPECT_NEAR(back, d, 1e-6) << c.name;
}

constexpr double kA = 6378137.0; // WGS-84 equatorial radius
constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;

// 1 mm is what the trigger engine can tell apart at a 10 m threshold with room to spare; the
// pole-to-pole line gets 2 mm because each pole is moved 1e-10 rad (0.64 mm) by the pole guard.
const ReferenceCase kReferences[] = {
    {"AlongMeridian", 45.26, 93.70, 45.26009, 93.70, 10.002, 0.001},
    {"AlongParallel", 45.26, 93.70, 45.26, 93.70013, 10.204, 0.001},
    {"OneDegreeEachWay", 45.0, 93.0, 46.0, 94.0, 135869.091, 0.001},
    {"SignedLongitudes", 45.26, -93.70, 45.26009, -93.70, 10.002, 0.001},
    // Vincenty's 1975 test line, Flinders Peak to Buninyong.
    {"FlindersPeakToBuninyong",
     -(37 + 57 / 60.0 + 3.72030 / 3600), 144 + 25 / 60.0 + 29.52440 / 3600,
     -(37 + 39 / 60.0 + 10.15610 / 3600), 143 + 55 / 60.0 + 35.38390 / 3600,
     54972.271, 0.001},
    // Nearly antipodal: the first pass overshoots pi and the iteration stops there.
    {"NearlyAntipodal", 0.0, 0.0, 0.5, 179.7, 19930468.034, 0.001},
    // Regression: along the equator asin() was handed 1 + 1 ulp and gave NaN. Exact value a * dL.
    {"AlongEquator", 0.0, 0.0, 0.0, 0.0001, kA * 0.0001 * kRadiansPerDegree, 0.001},
    {"AlongEquatorFarther", 0.0, 10.0, 0.0, 10.5, kA * 0.5 * kRadiansPerDegree, 0.001},
    // Twice WGS-84's quarter meridian, 10001965.7293 m.
    {"PoleToPole", 90.0, 0.0, -90.0, 0.0, 20003931.4586, 0.002},
};

INSTANTIATE_TEST_SUITE_P(Distance, GeodesicReference, testing::ValuesIn(kReferences),
                         [](const testing::TestParamInfo<ReferenceCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(GeodesicDistance, WholeTurnsOfLongitude_UseExactPi)
{
    // With a rounded pi these pairs differed by kilometres.
    EXPECT_NEAR(GeodesicDistance(30, 10, 30, 210), GeodesicDistance(30, 10, 30, -150), 1e-6);
    EXPECT_NEAR(GeodesicDistance(30, 400, 31, 0), GeodesicDistance(30, 40, 31, 0), 1e-6);
    EXPECT_NEAR(GeodesicDistance(30, -400, 31, 0), GeodesicDistance(30, -40, 31, 0), 1e-6);
    EXPECT_NEAR(GeodesicDistance(45.26, 93.70 + 720, 45.26009, 93.70), 10.002, 0.001);
}

TEST(GeodesicDistance, IdenticalPositions_GiveZero)
{
    const double positions[][2] = {
        {45.26, 93.70}, {0.0, 0.0}, {-33.9, -151.2}, {90.0, 0.0}, {-90.0, 45.0}, {12.5, 359.9},
    };
    for (const auto& p : positions)
        EXPECT_EQ(GeodesicDistance(p[0], p[1], p[0], p[1]), 0.0) << p[0] << ", " << p[1];
}

TEST(GeodesicDistance, NearPoles_StaysFinite)
{
    const double latitudes[] = {90.0, -90.0, 89.9999999999, -89.9999999999, 89.954373835};
    for (double latitude : latitudes) {
        double d = GeodesicDistance(latitude, 0.0, 45.0, 10.0);
        EXPECT_TRUE(std::isfinite(d)) << latitude;
        EXPECT_GT(d, 0.0) << latitude;
    }
    // Both at the north pole under different longitudes: the guard leaves them within a few mm.
    double d = GeodesicDistance(90.0, 0.0, 90.0, 120.0);
    EXPECT_TRUE(std::isfinite(d));
    EXPECT_LT(d, 0.002);
}

TEST(GeodesicDistance, NanOrInfiniteArgument_GivesNan)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (double bad : {nan, inf, -inf}) {
        EXPECT_TRUE(std::isnan(GeodesicDistance(bad, 93.7, 45.26, 93.7))) << bad;
        EXPECT_TRUE(std::isnan(GeodesicDistance(45.26, bad, 45.26, 93.7))) << bad;
        EXPECT_TRUE(std::isnan(GeodesicDistance(45.26, 93.7, bad, 93.7))) << bad;
        EXPECT_TRUE(std::isnan(GeodesicDistance(45.26, 93.7, 45.26, bad))) << bad;
    }
}

TEST(GeodesicDistance, ShortLinesAroundTrack_AreMonotonicInOffset)
{
    // The engine compares with 10 m; stepping away from a sensor must never shorten the distance.
    double previous = 0.0;
    for (int step = 1; step <= 200; ++step) {
        double offset = step * 1e-6;
        double d = GeodesicDistance(45.26 - offset, 93.70 - offset, 45.26, 93.70);
        EXPECT_GT(d, previous) << step;
        previous = d;
    }
}

} // namespace
} // namespace ostrim
