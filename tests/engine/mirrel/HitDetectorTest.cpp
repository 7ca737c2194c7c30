#include "mirrel/engine/HitDetector.h"
#include "support/Signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using testsupport::pi;

namespace
{
constexpr double rate = 48000.0;

// Tone bursts of `hz`: `onMs` long (fading in and out over `fadeMs`), then silence, starting every
// `period` samples.
std::vector<float> bursts(double hz, float amplitude, int period, int count, double onMs = 30.0,
                          double fadeMs = 0.0)
{
    std::vector<float> x(static_cast<size_t>(period * count), 0.0f);
    const int on = static_cast<int>(onMs * 0.001 * rate);
    const double fade = fadeMs * 0.001 * rate;
    for (int b = 0; b < count; ++b)
        for (int i = 0; i < on; ++i)
        {
            const double in = fade > 0.0 ? std::min(1.0, std::min(i, on - i) / fade) : 1.0;
            x[static_cast<size_t>(b * period + i)] =
                amplitude *
                static_cast<float>((0.5 - 0.5 * std::cos(pi * in)) * std::sin(2.0 * pi * hz * i / rate));
        }
    return x;
}

std::vector<int> hitsIn(const std::vector<float>& x, float thresholdRatio = 2.5118864f)
{
    mr::HitDetector d;
    d.prepare(rate);
    d.setThresholdRatio(thresholdRatio);
    std::vector<int> hits;
    for (size_t i = 0; i < x.size(); ++i)
        if (d.process(x[i]))
            hits.push_back(static_cast<int>(i));
    return hits;
}
} // namespace

// Bursts 250 ms apart inside the band are one hit each, found within a few milliseconds of
// their start. Bursts of 200 ms that fade in and out over 50 ms are heard inside the band and not
// below it.
TEST(HitDetector, oneHitPerBurstInsideTheBand)
{
    const int period = static_cast<int>(0.25 * rate);
    const auto hits = hitsIn(bursts(1000.0, 0.5f, period, 8));
    ASSERT_EQ(hits.size(), 8u);
    for (size_t k = 0; k < hits.size(); ++k)
    {
        const int offset = hits[k] - static_cast<int>(k) * period;
        EXPECT_GE(offset, 0) << "hit " << k;
        EXPECT_LT(offset, static_cast<int>(0.005 * rate)) << "hit " << k;
    }
    EXPECT_GE(hitsIn(bursts(1000.0, 0.5f, 2 * period, 4, 200.0, 50.0)).size(), 4u);
    EXPECT_TRUE(hitsIn(bursts(20.0, 0.5f, 2 * period, 4, 200.0, 50.0)).empty()) << "20 Hz is below the band";
    EXPECT_TRUE(hitsIn(bursts(1000.0, 0.002f, period, 8)).empty()) << "below the 0.003 floor";
}

// A second rising edge within 40 ms of a hit is not a hit; one after the hold is.
TEST(HitDetector, holdsFortyMillisecondsAgainstRetriggers)
{
    for (const auto& [gapMs, expected] : {std::pair{35.0, 1u}, std::pair{60.0, 2u}})
    {
        // 2 ms clicks of 1 kHz with the gap between their starts.
        std::vector<float> x(static_cast<size_t>(0.3 * rate), 0.0f);
        for (const double startMs : {10.0, 10.0 + gapMs})
            for (int i = 0; i < static_cast<int>(0.002 * rate); ++i)
                x[static_cast<size_t>(startMs * 0.001 * rate) + static_cast<size_t>(i)] =
                    0.8f * static_cast<float>(std::sin(2.0 * pi * 1000.0 * i / rate));
        EXPECT_EQ(hitsIn(x).size(), expected) << "gap " << gapMs << " ms";
    }
}

// The sensitivity is how far the fast envelope must rise above the slow one: a steady tone that
// swells by 6 dB is a hit at a ratio of 1.5 and none at 4.
TEST(HitDetector, sensitivityIsTheRiseOverTheSlowEnvelope)
{
    std::vector<float> x(static_cast<size_t>(rate), 0.0f);
    for (size_t i = 0; i < x.size(); ++i)
    {
        const float level = i < x.size() / 2 ? 0.1f : 0.2f;
        x[i] = level * static_cast<float>(std::sin(2.0 * pi * 1000.0 * static_cast<double>(i) / rate));
    }
    const auto sensitive = hitsIn(x, 1.5f);
    ASSERT_FALSE(sensitive.empty());
    EXPECT_NEAR(sensitive.back(), static_cast<int>(x.size() / 2), static_cast<int>(0.01 * rate));
    const auto coarse = hitsIn(x, 4.0f);
    for (const int h : coarse)
        EXPECT_LT(h, static_cast<int>(x.size() / 2)) << "the swell is no hit at a ratio of 4";
}
