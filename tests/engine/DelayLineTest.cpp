#include "sorvel/engine/DelayLine.h"
#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <vector>

TEST(DelayLine, readsWholeAndFractionalDelaysClampedInsideTheLine)
{
    sv::DelayLine line;
    line.prepare(100);
    ASSERT_EQ(line.getLength(), 128);
    for (int i = 0; i < 300; ++i)
        line.push(static_cast<float>(i)); // newest is 299

    EXPECT_FLOAT_EQ(line.readLinear(1.0f), 298.0f);
    EXPECT_FLOAT_EQ(line.readLinear(10.0f), 289.0f);
    EXPECT_FLOAT_EQ(line.readLinear(10.25f), 288.75f);
    EXPECT_FLOAT_EQ(line.readLinear(0.0f), 298.0f) << "at least one sample back";
    EXPECT_FLOAT_EQ(line.readLinear(500.0f), 299.0f - 126.0f) << "at most length - 2 back";
    // As if the newest five samples were not there yet.
    EXPECT_FLOAT_EQ(line.readLinear(10.5f, 5), 283.5f);

    line.clear();
    EXPECT_EQ(line.readLinear(3.0f), 0.0f);
}

TEST(DelayLine, aRunAtOneDelayEqualsSampleBySampleReadsAcrossTheWrap)
{
    sv::DelayLine line;
    line.prepare(64);
    // 70 samples in: the write position has wrapped, so the run below crosses the buffer's end.
    for (int i = 0; i < 70; ++i)
        line.push(static_cast<float>(i * i % 37) - 18.0f);

    for (float delay : {1.0f, 3.3f, 7.75f, 20.5f})
    {
        constexpr int n = 12;
        std::vector<float> run(n, 1.0f), expected(n, 1.0f);
        EXPECT_NO_HEAP(line.addRun(delay, n - 1, 0.5f, run.data(), n));
        for (int t = 0; t < n; ++t)
            expected[static_cast<size_t>(t)] += 0.5f * line.readLinear(delay, n - 1 - t);
        EXPECT_EQ(run, expected) << "delay " << delay;
    }
}
