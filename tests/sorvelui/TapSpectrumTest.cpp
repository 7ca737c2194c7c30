#include "support/AllocationCounter.h"

#include "sorvel/ui/TapSpectrum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace
{
constexpr double rate = 48000.0;

// A FIFO (it is large: on the heap) and a writer of tap frames into it.
struct Taps
{
    std::unique_ptr<sv2::TapFifo> fifo = std::make_unique<sv2::TapFifo>();
    double phase = 0.0;

    // n frames: a sine of `amplitude` at hz on tap `sineTap`, silence on the others.
    void push(int n, int sineTap, double amplitude, double hz = 1000.0)
    {
        std::vector<float> taps[3];
        for (auto& t : taps)
            t.assign(static_cast<size_t>(n), 0.0f);
        for (int i = 0; i < n; ++i)
        {
            taps[sineTap][static_cast<size_t>(i)] = static_cast<float>(amplitude * std::sin(phase));
            phase += 2.0 * juce::MathConstants<double>::pi * hz / rate;
        }
        ASSERT_EQ(fifo->push(taps[0].data(), taps[1].data(), taps[2].data(), static_cast<std::uint32_t>(n)),
                  static_cast<std::uint32_t>(n));
    }

    std::uint32_t waiting()
    {
        return fifo->pop([](const sv2::TapFifo::Entry&) {});
    }
};

constexpr std::array<bool, 3> allTaps{true, true, true};

// The band nearest 1 kHz: centre 20 x 1000^(67/119) = 977.5 Hz, widened to 777.5 .. 1177.5 Hz.
constexpr int kiloBand = 67;
} // namespace

TEST(TapSpectrum, bandsAt48kHz)
{
    TapSpectrum s;
    s.prepare(rate);
    const double binsPerHz = 8192.0 / rate;
    // The first band: 20 Hz, widened to half a bin (2.93 Hz) .. 220 Hz, weighted back to a third
    // of an octave.
    EXPECT_NEAR(TapSpectrum::bandHz(0), 20.0f, 1e-4);
    EXPECT_NEAR(s.bands[0].low, 0.5, 1e-5);
    EXPECT_NEAR(s.bands[0].high, 220.0 * binsPerHz, 1e-4);
    EXPECT_NEAR(s.bands[0].weight, 0.021, 0.0005);
    EXPECT_NEAR(s.bands[0].weight, 20.0 * (1.122462 - 0.8908987) / (220.0 - 0.5 * rate / 8192.0), 1e-6);
    EXPECT_NEAR(TapSpectrum::bandHz(119), 20000.0f, 0.05f);

    // True thirds of an octave from about 1.7 kHz up (where a third reaches 400 Hz), widened to
    // 400 Hz below.
    for (int k = 0; k < TapSpectrum::numBands; ++k)
    {
        const double fc = TapSpectrum::bandHz(k);
        const auto& band = s.bands[static_cast<size_t>(k)];
        if (fc * (1.122462 - 0.8908987) >= 400.0)
        {
            EXPECT_GT(fc, 1700.0) << k;
            EXPECT_FLOAT_EQ(band.weight, 1.0f) << k;
            EXPECT_NEAR(band.low / binsPerHz, fc * 0.8908987, 0.01 * fc) << k;
        }
        else
        {
            EXPECT_LT(fc, 1800.0) << k;
            const double lower = std::max(fc - 200.0, 0.5 * rate / 8192.0);
            EXPECT_NEAR((band.high - band.low) / binsPerHz, fc + 200.0 - lower, 0.01) << k;
        }
    }
}

TEST(TapSpectrum, aSineReadsItsPowerAndSilenceReadsTheFloor)
{
    TapSpectrum s;
    s.prepare(rate);
    EXPECT_FALSE(s.analysed[1]);
    EXPECT_FLOAT_EQ(s.levels[1][kiloBand], -120.0f);

    // A 1 kHz sine at -20 dBFS (amplitude 0.1) on tap 1, silence on taps 0 and 2.
    Taps taps;
    taps.push(8192, 1, 0.1);
    ASSERT_TRUE(s.pullAndAnalyse(*taps.fifo, allTaps));
    // The one-sided Hann normalisation gives the sine's mean power, 0.1^2 / 2, summed over its
    // bins; the widened band scales it by its weight, (1.122462 - 0.8908987) 977.5 / 400 = 0.566:
    // 10 log10(0.005 x 0.566) = -25.48 dB.
    const double weight = (1.122462 - 0.8908987) * TapSpectrum::bandHz(kiloBand) / 400.0;
    const double expected = 10.0 * std::log10(0.1 * 0.1 / 2.0 * weight);
    EXPECT_NEAR(expected, -25.48, 0.01);
    EXPECT_NEAR(s.levels[1][kiloBand], expected, 0.05);
    // Bands that do not reach 1 kHz see only the window's leakage.
    EXPECT_LT(s.levels[1][50], expected - 60.0); // 356 Hz
    EXPECT_LT(s.levels[1][95], expected - 60.0); // 5.7 kHz

    // Digital silence: 10 log10(1e-14).
    for (const size_t tap : {0u, 2u})
    {
        EXPECT_TRUE(s.analysed[tap]);
        for (const float level : s.levels[tap])
            ASSERT_FLOAT_EQ(level, -140.0f) << tap;
    }
}

TEST(TapSpectrum, onlyTheShownTapsAreAnalysedAndOnlyEvery1024Samples)
{
    TapSpectrum s;
    s.prepare(rate);
    Taps taps;
    taps.push(1023, 0, 0.1);
    EXPECT_FALSE(s.pullAndAnalyse(*taps.fifo, allTaps)); // not enough yet
    taps.push(1, 0, 0.1);
    EXPECT_TRUE(s.pullAndAnalyse(*taps.fifo, {true, false, false}));
    EXPECT_TRUE(s.analysed[0]);
    EXPECT_FALSE(s.analysed[1]);
    EXPECT_FALSE(s.analysed[2]);
    EXPECT_FLOAT_EQ(s.levels[2][0], -120.0f);

    s.reset();
    EXPECT_FALSE(s.analysed[0]);
    EXPECT_FLOAT_EQ(s.levels[0][kiloBand], -120.0f);
}

TEST(TapSpectrum, levelsSmoothWithAThirdOfASecond)
{
    TapSpectrum s;
    s.prepare(rate);
    Taps taps;
    taps.push(1024, 2, 0.0);
    ASSERT_TRUE(s.pullAndAnalyse(*taps.fifo, allTaps));
    EXPECT_FLOAT_EQ(s.levels[2][kiloBand], -140.0f);

    // 8192 new samples of the sine: the power moves 1 - exp(-8192 / (0.3 x 48000)) = 43 % of the
    // way from silence.
    taps.push(8192, 2, 0.1);
    ASSERT_TRUE(s.pullAndAnalyse(*taps.fifo, allTaps));
    const double weight = (1.122462 - 0.8908987) * TapSpectrum::bandHz(kiloBand) / 400.0;
    const double a = 1.0 - std::exp(-8192.0 / (0.3 * rate));
    EXPECT_NEAR(s.levels[2][kiloBand], 10.0 * std::log10(0.005 * weight * a), 0.05);
}

TEST(TapSpectrum, onePullEmptiesTheFifoAndKeepsTheNewestSamples)
{
    TapSpectrum s;
    s.prepare(rate);
    Taps taps;
    // Two rings' worth, far more than one pull of 2048 frames: the sine, then silence.
    taps.push(8192, 1, 0.5);
    taps.push(8192, 1, 0.0);
    EXPECT_EQ(s.pull(*taps.fifo), 16384u);
    EXPECT_EQ(taps.waiting(), 0u);
    ASSERT_TRUE(s.analyse(allTaps));
    EXPECT_FLOAT_EQ(s.levels[1][kiloBand], -140.0f); // only the newest 8192 samples are left

    // drain() forgets what waits.
    taps.push(3000, 1, 0.5);
    TapSpectrum::drain(*taps.fifo);
    EXPECT_EQ(taps.waiting(), 0u);
}

TEST(TapSpectrum, analysisAllocatesNothingAfterPrepare)
{
    TapSpectrum s;
    s.prepare(44100.0);
    Taps taps;
    taps.push(32768, 1, 0.2); // a full FIFO
    EXPECT_NO_HEAP(s.pullAndAnalyse(*taps.fifo, allTaps));
    taps.push(4096, 0, 0.2);
    EXPECT_NO_HEAP(s.pullAndAnalyse(*taps.fifo, allTaps));
    EXPECT_NO_HEAP(s.reset());
}

TEST(TapSpectrum, aRateOfZeroPreparesFor48kHz)
{
    TapSpectrum s;
    s.prepare(0.0);
    EXPECT_DOUBLE_EQ(s.sampleRate, 48000.0);
    EXPECT_NEAR(s.bands[0].low, 0.5, 1e-5);
}
