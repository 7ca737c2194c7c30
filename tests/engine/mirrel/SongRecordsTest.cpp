#include "mirrel/engine/SongRecords.h"

#include <gtest/gtest.h>

#include <cstdint>

TEST(SongRecords, songKeyedGeneratorGoldenStates)
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
