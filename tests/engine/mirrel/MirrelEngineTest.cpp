#include "mirrel/engine/MirrelEngine.h"
#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace
{
constexpr double rate = 48000.0;

// Silence, then a 1 kHz burst from `onset` on: one clear hit.
std::vector<float> burst(int length, int onset, float amplitude = 0.5f)
{
    std::vector<float> x(static_cast<size_t>(length), 0.0f);
    for (int i = onset; i < length; ++i)
        x[static_cast<size_t>(i)] =
            amplitude * static_cast<float>(std::sin(2.0 * M_PI * 1000.0 * (i - onset) / rate));
    return x;
}

struct Trace
{
    int detection = -1;           // sample at which the hit was counted
    std::vector<float> positions; // pan position after each sample
};

// Runs one sample per block, so the sample a hit is detected at and the pan after every sample
// can be read from the engine.
Trace runSampleBySample(mr::MirrelEngine& e, const std::vector<float>& x, const mr::Mirrel::Settings& s,
                        const mr::TransportState& t = {})
{
    Trace trace;
    for (size_t i = 0; i < x.size(); ++i)
    {
        float l = x[i], r = x[i];
        e.process(&l, &r, 1, s, t, true);
        if (trace.detection < 0 && e.feed.hitCount.load() > 0)
            trace.detection = static_cast<int>(i);
        trace.positions.push_back(e.position());
    }
    return trace;
}
} // namespace

TEST(MirrelEngine, lookAheadIsFiveMilliseconds)
{
    mr::MirrelEngine e;
    const std::pair<double, int> cases[] = {{44100.0, 221}, {48000.0, 240}, {96000.0, 480}};
    for (const auto& [fs, samples] : cases)
    {
        e.prepare(fs);
        EXPECT_EQ(e.latencySamples(), samples) << fs;
    }
}

TEST(MirrelEngine, glideLandsTwoMillisecondsBeforeTheHitIsHeard)
{
    mr::MirrelEngine e;
    e.prepare(rate);
    mr::Mirrel::Settings s; // slew 2 ms
    const auto trace = runSampleBySample(e, burst(2000, 500), s);
    ASSERT_GE(trace.detection, 500);
    EXPECT_EQ(e.latencySamples(), 240);
    EXPECT_EQ(e.slewSamples(), 96);

    const int d = trace.detection;
    const float target = trace.positions.back();
    ASSERT_GE(std::abs(target), 0.3f) << "the default hole keeps the hit off the centre";
    EXPECT_EQ(trace.positions[static_cast<size_t>(d + 47)], 0.0f) << "countdown 48: still resting";
    EXPECT_NE(trace.positions[static_cast<size_t>(d + 48)], 0.0f)
        << "the glide starts 48 samples after detection";
    EXPECT_NE(trace.positions[static_cast<size_t>(d + 142)], target);
    EXPECT_EQ(trace.positions[static_cast<size_t>(d + 143)], target)
        << "and ends at 143, exactly on the target";
    // Linear in between.
    const float step =
        trace.positions[static_cast<size_t>(d + 49)] - trace.positions[static_cast<size_t>(d + 48)];
    EXPECT_NEAR(step, target / 96.0f, 1e-6f);
}

TEST(MirrelEngine, aSlewLongerThanTheLookAheadStartsAtDetection)
{
    mr::MirrelEngine e;
    e.prepare(rate);
    mr::Mirrel::Settings s;
    s.slewMs = 20.0f;
    const auto trace = runSampleBySample(e, burst(3000, 500), s);
    const int d = trace.detection;
    ASSERT_GT(d, 0);
    const float target = trace.positions.back();
    EXPECT_EQ(trace.positions[static_cast<size_t>(d - 1)], 0.0f);
    EXPECT_NE(trace.positions[static_cast<size_t>(d)], 0.0f) << "countdown 0: the glide starts at the hit";
    EXPECT_NE(trace.positions[static_cast<size_t>(d + 958)], target);
    EXPECT_EQ(trace.positions[static_cast<size_t>(d + 959)], target) << "960 samples";
}

TEST(MirrelEngine, bypassGlidesToTheCentreAndLeavesTheHistoryAlone)
{
    mr::MirrelEngine e;
    e.prepare(rate);
    mr::Mirrel::Settings s;
    runSampleBySample(e, burst(2000, 200), s);
    ASSERT_NE(e.position(), 0.0f);
    const int hits = e.feed.hitCount.load();
    const float lastHit = e.feed.panLastHit.load();

    s.bypass = true;
    // max(slew 2 ms, 10 ms) = 480 samples; a second burst during bypass is not drawn.
    auto x = burst(3000, 1500);
    const auto trace = runSampleBySample(e, x, s);
    EXPECT_NE(trace.positions[478], 0.0f);
    EXPECT_EQ(trace.positions[479], 0.0f);
    EXPECT_EQ(trace.positions.back(), 0.0f);
    EXPECT_EQ(e.feed.hitCount.load(), hits);
    EXPECT_EQ(e.feed.panLastHit.load(), lastHit);
}

TEST(MirrelEngine, balanceLawAndDelay)
{
    mr::MirrelEngine e;
    e.prepare(rate);
    mr::Mirrel::Settings s;
    s.width = 0.0f; // any hit is placed at the centre

    // Left only, at the centre: left comes out unchanged (5 ms later), right stays silent.
    std::vector<float> l(1000), r(1000, 0.0f);
    for (size_t i = 0; i < l.size(); ++i)
        l[i] = 0.1f * static_cast<float>(std::sin(0.01 * static_cast<double>(i)));
    auto outL = l, outR = r;
    e.process(outL.data(), outR.data(), 1000, s, {}, true);
    for (size_t i = 0; i < 1000; ++i)
    {
        ASSERT_EQ(outL[i], i < 240 ? 0.0f : l[i - 240]) << i;
        ASSERT_EQ(outR[i], 0.0f);
    }
}

TEST(MirrelEngine, hardRightSilencesLeftAndRaisesRightBySqrtTwo)
{
    mr::MirrelEngine e;
    e.prepare(rate);
    mr::Mirrel::Settings s;
    s.hole = 100.0f;
    s.alternate = 2;
    // Hits until one lands on the right edge.
    for (int n = 0; n < 8 && e.position() < 0.99f; ++n)
        runSampleBySample(e, burst(9000, 5000), s); // 100 ms of silence lets the slow envelope fall
    ASSERT_FLOAT_EQ(e.position(), 1.0f);

    std::vector<float> l(600, 0.25f), r(600, 0.25f);
    s.sensitivity = 20.0f;
    e.process(l.data(), r.data(), 600, s, {}, true);
    EXPECT_NEAR(l.back(), 0.0f, 1e-6f);
    EXPECT_NEAR(r.back(), 0.25f * std::sqrt(2.0f), 1e-6f);
}

namespace
{
// Renders a drum-like pattern (a burst every 250 ms) with the transport as given and returns the
// placements of the hits in order.
std::vector<float> placements(mr::MirrelEngine& e, const mr::Mirrel::Settings& s, bool playing,
                              double startQn, int blocks = 96, int blockSize = 480)
{
    std::vector<float> result;
    mr::TransportState t;
    t.playing = playing;
    t.hasPosition = true;
    t.hasTempo = true;
    t.bpm = 120.0;
    t.quarterNotes = startQn;
    int lastCount = e.feed.hitCount.load();
    std::vector<float> l(static_cast<size_t>(blockSize)), r;
    for (int b = 0; b < blocks; ++b)
    {
        for (int i = 0; i < blockSize; ++i)
        {
            const int n = b * blockSize + i;
            const int sinceHit = n % 12000;
            l[static_cast<size_t>(i)] =
                sinceHit < 2400
                    ? 0.5f * static_cast<float>(std::sin(0.13 * sinceHit)) * std::exp(-sinceHit / 600.0f)
                    : 0.0f;
        }
        r = l;
        e.process(l.data(), r.data(), blockSize, s, t, true);
        if (e.feed.hitCount.load() != lastCount)
        {
            lastCount = e.feed.hitCount.load();
            result.push_back(e.feed.panLastHit.load());
        }
        if (playing)
            t.quarterNotes += blockSize / rate * 2.0;
    }
    return result;
}
} // namespace

TEST(MirrelEngine, placementsFollowTheSongPosition)
{
    mr::Mirrel::Settings s;
    mr::MirrelEngine e;
    e.prepare(rate);
    const auto first = placements(e, s, true, 0.0, 192); // eight hits, half a beat apart
    ASSERT_EQ(first.size(), 8u);

    // The same passage again (a jump back while playing): the same places.
    const auto again = placements(e, s, true, 0.0, 192);
    EXPECT_EQ(again, first);

    // Another seed: other places.
    s.seed = 2;
    mr::MirrelEngine other;
    other.prepare(rate);
    EXPECT_NE(placements(other, s, true, 0.0, 192), first);

    // A jump back to the middle replays the second half: the records supply the placement
    // before the jump, so min jump and alternation go on as on the first pass.
    s.seed = 1;
    const auto secondHalf = placements(e, s, true, 2.0, 96);
    ASSERT_EQ(secondHalf.size(), 4u);
    EXPECT_EQ(secondHalf, std::vector<float>(first.begin() + 4, first.begin() + 8));
}

TEST(MirrelEngine, stoppedTransportUsesTheFreeRunningSequenceWhichRestartsOnPrepare)
{
    mr::Mirrel::Settings s;
    mr::MirrelEngine e;
    e.prepare(rate);
    const auto first = placements(e, s, false, 0.0);
    const auto continued = placements(e, s, false, 0.0);
    EXPECT_NE(continued, first) << "the free-running sequence goes on";
    e.prepare(rate);
    EXPECT_EQ(placements(e, s, false, 0.0), first) << "and restarts at every preparation";

    mr::MirrelEngine playing;
    playing.prepare(rate);
    EXPECT_NE(placements(playing, s, true, 0.0), first);
}

TEST(MirrelEngine, idleAfter100msOfSilenceWhenStopped)
{
    mr::MirrelEngine e;
    e.prepare(rate);
    mr::Mirrel::Settings s;
    std::vector<float> l(480, 0.2f), r(480, 0.2f);
    e.process(l.data(), r.data(), 480, s, {}, true);
    EXPECT_FALSE(e.isIdle());

    // Processing is in place: each block gets fresh silence.
    auto silentBlock = [&](const mr::TransportState& t)
    {
        std::vector<float> zl(480, 0.0f), zr(480, 0.0f);
        e.process(zl.data(), zr.data(), 480, s, t, true);
    };
    for (int block = 0; block < 9; ++block)
    {
        silentBlock({});
        EXPECT_FALSE(e.isIdle()) << "block " << block;
    }
    silentBlock({});
    EXPECT_TRUE(e.isIdle()) << "100 ms of silence";
    EXPECT_TRUE(e.feed.idle.load());

    mr::TransportState playing;
    playing.playing = true;
    silentBlock(playing);
    EXPECT_FALSE(e.isIdle()) << "a playing transport is never idle";
}

TEST(MirrelEngine, processNeverTouchesTheHeapEvenWithAFullRecordStore)
{
    mr::MirrelEngine e;
    e.prepare(rate);
    mr::Mirrel::Settings s;
    s.sensitivity = 3.0f;
    mr::TransportState t;
    t.playing = t.hasPosition = t.hasTempo = true;
    t.bpm = 120.0;
    std::vector<float> l(512), r(512);
    for (int b = 0; b < 300; ++b)
    {
        for (size_t i = 0; i < 512; ++i)
            l[i] = (i % 128 < 4) ? 0.9f : 0.0f; // a click every 128 samples
        r = l;
        EXPECT_NO_HEAP(e.process(l.data(), r.data(), 512, s, t, true));
        t.quarterNotes += 512 / rate * 2.0;
    }
    EXPECT_GT(e.records().size(), 0);
}
