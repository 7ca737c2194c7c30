#include "mirrel/engine/Mirrel.h"

#include <gtest/gtest.h>

#include <cmath>

using mr::Mirrel;
using mr::Random;

TEST(MirrelRandom, xorshiftSequenceFromAKnownState)
{
    Random r(1);
    EXPECT_EQ(r.next(), 270369u);
    EXPECT_EQ(r.next(), 67634689u);
    EXPECT_EQ(r.next(), 2647435461u);
    EXPECT_FLOAT_EQ(Random::toUniform(0xFFFFFFFFu), 16777215.0f / 16777216.0f);
    EXPECT_FLOAT_EQ(Random::toUniform(0x000000FFu), 0.0f) << "only the top 24 bits count";
}

namespace
{
Mirrel withSettings(float width, float hole, float bias, int alternate, float minJump)
{
    Mirrel m;
    m.settings.width = width;
    m.settings.hole = hole;
    m.settings.bias = bias;
    m.settings.alternate = alternate;
    m.settings.minJump = minJump;
    return m;
}
} // namespace

TEST(MirrelDraw, widthZeroPlacesEveryHitAtTheCentre)
{
    auto m = withSettings(0, 30, 50, 1, 20);
    Random r(7);
    for (int i = 0; i < 50; ++i)
    {
        EXPECT_EQ(m.draw(r), 0.0f);
        EXPECT_EQ(m.lastSide, 0);
    }
}

TEST(MirrelDraw, fullHolePutsEveryHitAtTheEdgesOfTheWidth)
{
    auto m = withSettings(80, 100, 50, 0, 0);
    Random r(11);
    for (int i = 0; i < 200; ++i)
        EXPECT_NEAR(std::abs(m.draw(r)), 0.8f, 1e-6f);
}

TEST(MirrelDraw, holeKeepsHitsAwayFromTheCentreAndBiasPushesThemOut)
{
    auto meanMagnitude = [](float bias)
    {
        auto m = withSettings(100, 30, bias, 0, 0);
        Random r(5);
        double sum = 0;
        for (int i = 0; i < 4000; ++i)
        {
            const float p = m.draw(r);
            EXPECT_GE(std::abs(p), 0.3f - 1e-6f);
            EXPECT_LE(std::abs(p), 1.0f);
            sum += std::abs(p);
        }
        return sum / 4000;
    };
    const double even = meanMagnitude(0), pushed = meanMagnitude(100);
    // Exponent 1: magnitudes uniform, mean 0.3 + 0.7 / 2; exponent 1/6: mean 0.3 + 0.7 * 6/7.
    EXPECT_NEAR(even, 0.65, 0.02);
    EXPECT_NEAR(pushed, 0.9, 0.02);
}

TEST(MirrelDraw, alternationAlwaysAndMostly)
{
    auto always = withSettings(100, 0, 50, 2, 0);
    Random r(3);
    float previous = always.draw(r);
    for (int i = 0; i < 500; ++i)
    {
        const float p = always.draw(r);
        if (previous != 0.0f && p != 0.0f)
        {
            ASSERT_LT(p * previous, 0.0f) << "hit " << i;
        }
        previous = p;
    }

    auto mostly = withSettings(100, 20, 50, 1, 0);
    int changes = 0;
    float last = mostly.draw(r);
    for (int i = 0; i < 10000; ++i)
    {
        const float p = mostly.draw(r);
        changes += (p * last < 0.0f) ? 1 : 0;
        last = p;
    }
    EXPECT_NEAR(changes / 10000.0, 0.8, 0.02) << "0.6 forced plus half of the remaining coins";
}

TEST(MirrelDraw, minJumpNoAttemptMeetsTakesTheEighthAttempt)
{
    auto m = withSettings(10, 0, 50, 0, 100);
    Random r(99);
    m.draw(r); // first hit: one attempt

    Random expected = r;
    for (int i = 0; i < 24; ++i)
        expected.next();
    m.draw(r);
    EXPECT_EQ(r.state, expected.state) << "eight attempts of three steps each";
}

TEST(MirrelDraw, firstHitIgnoresMinJump)
{
    auto m = withSettings(10, 0, 50, 0, 100);
    Random r(99);
    Random expected = r;
    for (int i = 0; i < 3; ++i)
        expected.next();
    m.draw(r);
    EXPECT_EQ(r.state, expected.state) << "the first attempt is taken";
    EXPECT_FALSE(m.firstHit);

    m.resetLast();
    expected = r;
    for (int i = 0; i < 3; ++i)
        expected.next();
    m.draw(r);
    EXPECT_EQ(r.state, expected.state) << "and again after the last placement is forgotten";
}

TEST(MirrelDraw, minJumpIsMetWhenAnAttemptCan)
{
    auto shortJumps = [](float minJump)
    {
        auto m = withSettings(100, 0, 0, 0, minJump);
        Random r(17);
        float last = m.draw(r);
        int count = 0;
        for (int i = 0; i < 4000; ++i)
        {
            const float p = m.draw(r);
            count += std::abs(p - last) < 0.5f ? 1 : 0;
            last = p;
        }
        return count / 4000.0;
    };
    EXPECT_GT(shortJumps(0), 0.25);
    // Only when all eight attempts land too close (well under 1 % of hits).
    EXPECT_LT(shortJumps(50), 0.01);
}
