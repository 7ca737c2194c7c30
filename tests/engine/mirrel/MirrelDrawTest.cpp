#include "mirrel/engine/Mirrel.h"
#include "mirrel/engine/SongRecords.h"

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

TEST(MirrelRandom, songKeyedGeneratorGoldenStates)
{
    // Computed independently (SplitMix64 finalizer of key ^ (seed << 40 ^ 0x9E3779B97F4A7C15),
    // folded to 32 bits, one xorshift step).
    struct Case
    {
        std::int64_t key;
        int seed;
        std::uint32_t state;
    };
    const Case cases[] = {
        {0, 1, 0x9fa61554u},     {64, 1, 0x871feac2u},          {64, 2, 0x2b65a692u},
        {-32, 999, 0xbb723d25u}, {123456789, 500, 0xacfdda2fu}, {64, 0, 0x871feac2u} /* seed clamps to 1 */,
    };
    for (const auto& c : cases)
        EXPECT_EQ(mr::keyedRandom(c.key, c.seed).state, c.state) << "key " << c.key << " seed " << c.seed;
    EXPECT_EQ(mr::songKey(2.03125), 33) << "sixty-fourth notes";
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

TEST(SongRecords, insertEraseAndLookUp)
{
    mr::SongRecords s;
    s.reserve();
    for (int k : {10, 30, 20, 20, 40})
        s.insert({k, static_cast<float>(k) / 100.0f, 1});
    ASSERT_EQ(s.size(), 5);
    for (int i = 1; i < s.size(); ++i)
        EXPECT_LE(s[i - 1].key, s[i].key);

    EXPECT_EQ(s.lastBefore(20)->key, 10);
    EXPECT_EQ(s.lastBefore(21)->key, 20);
    EXPECT_EQ(s.lastBefore(10), nullptr);

    s.eraseRange(20, 40); // 20, 20, 30 go; 40 stays (end is exclusive)
    ASSERT_EQ(s.size(), 2);
    EXPECT_EQ(s[0].key, 10);
    EXPECT_EQ(s[1].key, 40);
}

TEST(SongRecords, aFullStoreDropsFromTheFarEnd)
{
    mr::SongRecords s;
    s.reserve();
    for (int k = 0; k < mr::SongRecords::capacity; ++k)
        s.insert({2 * k, 0.0f, 0});

    s.insert({2 * 6000 + 1, 0.5f, 1}); // upper half: the lowest record goes
    EXPECT_EQ(s.size(), mr::SongRecords::capacity);
    EXPECT_EQ(s[0].key, 2);
    EXPECT_EQ(s[s.size() - 1].key, 2 * (mr::SongRecords::capacity - 1));

    s.insert({3, 0.5f, 1}); // lower half: the highest record goes
    EXPECT_EQ(s[0].key, 2);
    EXPECT_EQ(s[1].key, 3);
    EXPECT_EQ(s[s.size() - 1].key, 2 * (mr::SongRecords::capacity - 2));
}
