#include "sensors/Distance.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ostrim {

namespace {

// pi/180 to 15 digits; the difference from the exact factor is below one part in 1e15.
constexpr double kDegreesToRadians = 0.0174532925199433;

// WGS-84.
constexpr double kA = 6378137.0;           // semi-major axis, m
constexpr double kB = 6356752.31424518;    // semi-minor axis, m
constexpr double kF = 0.0033528106647473664; // flattening, (a - b) / a
constexpr double kOneMinusF = 0.9966471893352526;
constexpr double kFOver16 = 0.0002095506665467104;

constexpr double kPi = std::numbers::pi;
constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kHalfPi = std::numbers::pi / 2.0;

// 1e-10 rad is 0.6 mm on the ground: closer to a pole, tan() of the latitude loses all meaning.
constexpr double kPoleTolerance = 1e-10;
// 1e-12 rad of longitude on the auxiliary sphere is 6 micrometres on the ground, far below what a
// GPS fix resolves; the usual choice for this method.
constexpr double kConvergence = 1e-12;
// Short lines converge in 2 to 5 passes; only nearly antipodal lines need more, and those do not
// converge at all.
constexpr int kMostPasses = 50;

double PoleGuard(double phi)
{
    if (std::fabs(kHalfPi - std::fabs(phi)) < kPoleTolerance)
        return std::copysign(kHalfPi - kPoleTolerance, phi);
    return phi;
}

// Whole turns are taken off towards zero, so a negative longitude stays negative. std::trunc
// instead of a conversion to int: a huge or NaN longitude must not be undefined behaviour.
double ReduceLongitude(double lambda)
{
    double turns = std::trunc(lambda / kTwoPi);
    return lambda - (2.0 * turns) * kPi;
}

} // namespace

double GeodesicDistance(double latitude1, double longitude1, double latitude2, double longitude2)
{
    const double phi1 = PoleGuard(latitude1 * kDegreesToRadians);
    const double phi2 = PoleGuard(latitude2 * kDegreesToRadians);
    const double lambda1 = ReduceLongitude(longitude1 * kDegreesToRadians);
    const double lambda2 = ReduceLongitude(longitude2 * kDegreesToRadians);

    // Reduced latitudes.
    const double u1 = std::atan(kOneMinusF * std::tan(phi1));
    const double u2 = std::atan(kOneMinusF * std::tan(phi2));
    const double sinU1 = std::sin(u1);
    const double cosU1 = std::cos(u1);
    const double sinU2 = std::sin(u2);
    const double cosU2 = std::cos(u2);

    double l = std::fabs(lambda2 - lambda1);
    if (l > kPi)
        l = kTwoPi - l;

    double lambda = l;
    double lambdaPrev = 0.0;
    double sigma = 0.0;
    double sinSigma = 0.0;
    double cosSigma = 0.0;
    double cos2SigmaM = 0.0;
    double cosSqAlpha = 0.0;
    int passes = 0;
    for (;;) {
        // A NaN difference stops too: NaN is not greater than anything.
        if (passes > 0 && !(std::fabs(lambda - lambdaPrev) > kConvergence))
            break;
        if (++passes > kMostPasses)
            break;
        lambdaPrev = lambda;

        const double sinLambda = std::sin(lambda);
        const double cosLambda = std::cos(lambda);
        const double a = cosU2 * sinLambda;
        const double b = cosU1 * sinU2 - sinU1 * cosU2 * cosLambda;
        const double sinSigmaStar = std::sqrt(a * a + b * b);
        // Coincident points: the azimuth below would be 0/0.
        if (sinSigmaStar == 0.0)
            return 0.0;
        const double cosSigmaStar = sinU1 * sinU2 + cosU1 * cosU2 * cosLambda;
        sigma = std::atan2(sinSigmaStar, cosSigmaStar);
        sinSigma = std::sin(sigma);
        cosSigma = std::cos(sigma);
        // On the equator the quotient is 1 in exact arithmetic and can round to just above it;
        // asin would make that NaN. Clamping keeps a NaN a NaN.
        const double alpha = std::asin(std::clamp(cosU1 * cosU2 * sinLambda / sinSigma, -1.0, 1.0));
        const double cosAlpha = std::cos(alpha);
        cosSqAlpha = cosAlpha * cosAlpha;
        cos2SigmaM = cosSigma - 2.0 * sinU1 * sinU2 / cosSqAlpha;
        const double c = kFOver16 * cosSqAlpha * (4.0 + kF * (4.0 - 3.0 * cosSqAlpha));
        lambda = l + (1.0 - c) * kF * std::sin(alpha) *
                         (sigma + c * sinSigma *
                                      (cos2SigmaM +
                                       c * cosSigma * (2.0 * cos2SigmaM * cos2SigmaM - 1.0)));
        // Nearly antipodal: the iteration would run away; use this pass.
        if (lambda > kPi)
            break;
    }

    const double uSq = cosSqAlpha * (kA * kA - kB * kB) / (kB * kB);
    const double bigA =
        1.0 + uSq * 0.00006103515625 * (4096.0 + uSq * (-768.0 + uSq * (320.0 - 175.0 * uSq)));
    const double bigB = uSq * 0.0009765625 * (256.0 + uSq * (-128.0 + uSq * (74.0 - 47.0 * uSq)));
    const double deltaSigma =
        bigB * sinSigma *
        (cos2SigmaM + bigB / 4.0 *
                          (cosSigma * (2.0 * cos2SigmaM * cos2SigmaM - 1.0) -
                           bigB / 6.0 * cos2SigmaM * (4.0 * sinSigma * sinSigma - 3.0) *
                               (4.0 * cos2SigmaM * cos2SigmaM - 3.0)));
    return kB * bigA * (sigma - deltaSigma);
}

} // namespace ostrim
