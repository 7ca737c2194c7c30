#include "sorvel/engine/primitives/DelayLine.h"
#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cstdint>
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

TEST(DelayLine, cubicReadsAreCatmullRomAndWholeDelaysGiveTheSampleItself)
{
    sv::DelayLine line;
    line.prepare(64);
    const auto value = [](int i) { return static_cast<float>((i * 7) % 23) - 11.0f; };
    for (int i = 0; i < 150; ++i) // wraps twice: reads below cross the ring's end
        line.push(value(i));
    const std::uint32_t now = line.getWritePosition() - 1u; // the slot of sample 149

    for (int back : {0, 3, 20, 60})
        EXPECT_EQ(line.read(now, back), value(149 - back)) << back << " samples back";

    // Between samples: Catmull-Rom through the four around the read (p1 the newer of the middle
    // two, at distance f from p2).
    for (double delay : {1.25, 9.5, 30.75, 58.1})
    {
        const int whole = static_cast<int>(delay);
        const double f = 1.0 - (delay - whole);
        const double p0 = value(149 - whole + 1), p1 = value(149 - whole), p2 = value(149 - whole - 1),
                     p3 = value(149 - whole - 2);
        const double expected =
            p2 +
            0.5 * f * (p1 - p3 + f * (2.0 * p3 - 5.0 * p2 + 4.0 * p1 - p0 + f * (3.0 * (p2 - p1) + p0 - p3)));
        EXPECT_NEAR(line.read(now, delay), expected, 1e-4) << "delay " << delay;
    }
}

TEST(DelayLine, runsAndPathsReadWhatSingleReadsReadAcrossTheEnd)
{
    sv::DelayLine line;
    line.prepare(128);
    for (int i = 0; i < 200; ++i)
        line.push(static_cast<float>((i * 13) % 29) - 14.0f);
    constexpr int n = 100;
    const std::uint32_t now = line.getWritePosition() - n; // reads end at the newest sample

    // One delay over the run, then a path that glides across several whole samples, holds, and
    // jumps: every sample as one read would give it.
    std::vector<float> run(n), path(n);
    std::vector<double> delays(n);
    for (int i = 0; i < n; ++i)
        delays[static_cast<size_t>(i)] = i < 60 ? 10.3 + 0.07 * i : (i < 80 ? 14.5 : 3.0 + 0.5 * (i - 80));
    EXPECT_NO_HEAP(line.readFixed(now, 17.6, run.data(), n));
    EXPECT_NO_HEAP(line.readPath(now, delays.data(), path.data(), n));
    for (int i = 0; i < n; ++i)
    {
        const auto at = static_cast<std::uint32_t>(i);
        ASSERT_EQ(run[static_cast<size_t>(i)], line.read(now + at, 17.6)) << "sample " << i;
        ASSERT_EQ(path[static_cast<size_t>(i)], line.read(now + at, delays[static_cast<size_t>(i)]))
            << "sample " << i;
    }
}
