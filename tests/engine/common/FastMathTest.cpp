#include "common/dsp/FastMath.h"
#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

// Levels from the floors the detectors use (1e-20 for powers, 1e-9 for peaks) up to +30 dB, in
// steps that are not powers of two, so every mantissa region and both sides of sqrt(2) are seen.
// The error is that of a float holding the result: within 2e-7 of the value in dB, plus 1e-6 dB.
TEST(FastMath, logMatchesTheLibraryToFloatPrecision)
{
    double worst = 0.0, where = 0.0;
    for (double x = 1e-20; x < 1e3; x *= 1.0007)
    {
        const float v = static_cast<float>(x);
        const double exact = 10.0 * std::log10(static_cast<double>(v));
        const double error = std::abs(sv::fastPowerToDb(v) - exact) / (1e-6 + 2e-7 * std::abs(exact));
        if (error > worst)
        {
            worst = error;
            where = x;
        }
    }
    EXPECT_LT(worst, 1.0) << "worst at " << where;
    EXPECT_EQ(sv::fastLog2(1.0f), 0.0f);
    EXPECT_EQ(sv::fastLog2(0.25f), -2.0f);
    EXPECT_NEAR(sv::fastAmplitudeToDb(1e-9f), -180.0f, 1e-4f);
}

// Relative error within 3e-7 for each unit of the exponent's size: no worse than rounding the
// argument to a float already makes it.
TEST(FastMath, expMatchesTheLibraryToFloatPrecision)
{
    double worst = 0.0, where = 0.0;
    for (double db = -200.0; db <= 60.0; db += 0.0137)
    {
        const double exact = std::pow(10.0, db / 20.0);
        const double exponent = std::abs(db / 20.0 * std::log2(10.0));
        const double error = std::abs(sv::fastDbToAmplitude(static_cast<float>(db)) / exact - 1.0) /
                             (3e-7 * std::max(1.0, exponent));
        if (error > worst)
        {
            worst = error;
            where = db;
        }
    }
    EXPECT_LT(worst, 1.0) << "worst at " << where << " dB";
    EXPECT_EQ(sv::fastExp2(0.0f), 1.0f);
    EXPECT_EQ(sv::fastExp2(-3.0f), 0.125f);
    // Both ends of the domain.
    EXPECT_EQ(sv::fastExp2(-126.0f), std::ldexp(1.0f, -126));
    EXPECT_EQ(sv::fastExp2(126.0f), std::ldexp(1.0f, 126));
}

// The floored logarithm is the plain one of the larger value, to the bit, for everything that
// can reach it: negative values, both zeros, denormals, values on both sides of the floor and
// right at it, and infinity. Floors as the detectors use them.
TEST(FastMath, flooredLogIsTheLogOfTheLargerValue)
{
    std::vector<float> inputs = {
        -1e30f, -1.0f, -1e-30f, -0.0f, 0.0f, 1e-45f, 1e-39f, 1e-30f, std::numeric_limits<float>::infinity()};
    for (double x = 1e-25; x < 1e6; x *= 1.37)
        inputs.push_back(static_cast<float>(x));
    for (const float floor : {1e-20f, 1e-9f, 1e-6f, 0.5f})
    {
        inputs.push_back(floor);
        inputs.push_back(std::nextafter(floor, 0.0f));
        inputs.push_back(std::nextafter(floor, 1.0f));
        for (const float x : inputs)
        {
            const float expected = sv::fastLog2(std::max(x, floor));
            EXPECT_EQ(sv::fastLog2AtLeast(x, floor), expected) << "x " << x << ", floor " << floor;
            EXPECT_EQ(sv::fastPowerToDbAtLeast(x, floor), sv::fastPowerToDb(std::max(x, floor)))
                << "x " << x << ", floor " << floor;
        }
    }
}

TEST(FastMath, loopsOverArraysAllocateNothing)
{
    std::vector<float> x(256, 0.3f), y(256);
    EXPECT_NO_HEAP(for (size_t i = 0; i < x.size(); ++i) y[i] =
                       sv::fastDbToPower(sv::fastAmplitudeToDb(x[i])));
    EXPECT_NEAR(y[0], 0.09f, 1e-7f);
}
