#include "common/dsp/LoudnessMeter.h"
#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace
{
constexpr double twoPi = 6.283185307179586;

std::vector<float> sine(double rate, double hz, double dbfs, int samples, int offset = 0)
{
    std::vector<float> x(static_cast<size_t>(samples));
    const double amp = std::pow(10.0, dbfs / 20.0);
    for (int i = 0; i < samples; ++i)
        x[static_cast<size_t>(i)] = static_cast<float>(amp * std::sin(twoPi * hz * (i + offset) / rate));
    return x;
}

int subBlock(double rate)
{
    return static_cast<int>(std::lround(rate / 10.0));
}

// Feeds the same signal to both channels, in uneven pieces as a host would.
void feedStereo(sv::LoudnessMeter& m, const std::vector<float>& x)
{
    const int pieces[] = {1, 7, 480, 33, 4096, 512};
    size_t pos = 0, k = 0;
    while (pos < x.size())
    {
        const size_t n = std::min<size_t>(static_cast<size_t>(pieces[k++ % 6]), x.size() - pos);
        m.process(x.data() + pos, x.data() + pos, static_cast<int>(n));
        pos += n;
    }
}
} // namespace

class LoudnessAtRate : public ::testing::TestWithParam<double>
{
};

TEST_P(LoudnessAtRate, sineAtMinus20DbfsReadsMinus20Lufs)
{
    const double rate = GetParam();
    sv::LoudnessMeter m;
    m.prepare(rate);
    const int q = subBlock(rate);

    const auto x = sine(rate, 1000.0, -20.0, 31 * q);
    feedStereo(m, std::vector<float>(x.begin(), x.begin() + 4 * q));
    EXPECT_NEAR(m.momentary(), -20.0, 0.1) << "momentary after 400 ms";
    EXPECT_EQ(m.shortTerm(), -100.0f);

    feedStereo(m, std::vector<float>(x.begin() + 4 * q, x.begin() + 30 * q));
    EXPECT_NEAR(m.shortTerm(), -20.0, 0.1) << "short-term after 3 s";
    EXPECT_NEAR(m.integrated(), -20.0, 0.1);
}

INSTANTIATE_TEST_SUITE_P(Rates, LoudnessAtRate, ::testing::Values(44100.0, 48000.0, 96000.0));

TEST(LoudnessMeter, valuesAppearExactlyAtTheFourthAndThirtiethSubBlock)
{
    const double rate = 48000.0;
    const int q = subBlock(rate);
    sv::LoudnessMeter m;
    m.prepare(rate);
    const auto x = sine(rate, 1000.0, -20.0, 30 * q);

    m.process(x.data(), x.data(), 4 * q - 1);
    EXPECT_EQ(m.momentary(), -100.0f);
    EXPECT_EQ(m.integrated(), -100.0f);
    m.process(x.data() + 4 * q - 1, x.data() + 4 * q - 1, 1);
    EXPECT_GT(m.momentary(), -21.0f);

    m.process(x.data() + 4 * q, x.data() + 4 * q, 26 * q - 1);
    EXPECT_EQ(m.shortTerm(), -100.0f);
    m.process(x.data() + 30 * q - 1, x.data() + 30 * q - 1, 1);
    EXPECT_GT(m.shortTerm(), -21.0f);
}

TEST(LoudnessMeter, nullRightChannelReadsThreeLuLower)
{
    const double rate = 48000.0;
    const auto x = sine(rate, 1000.0, -20.0, 10 * subBlock(rate));
    sv::LoudnessMeter both, leftOnly;
    both.prepare(rate);
    leftOnly.prepare(rate);
    both.process(x.data(), x.data(), static_cast<int>(x.size()));
    leftOnly.process(x.data(), nullptr, static_cast<int>(x.size()));
    EXPECT_NEAR(both.momentary() - leftOnly.momentary(), 3.01, 0.02);
}

TEST(LoudnessMeter, relativeGateLeavesOutTheQuietHalf)
{
    // 10 s at -20 LUFS then 10 s at -40: the ungated mean is about -23 LUFS, the relative gate
    // (-33) drops the quiet half, so integrated stays at -20.
    const double rate = 48000.0;
    const int n = 100 * subBlock(rate);
    sv::LoudnessMeter m;
    m.prepare(rate);
    feedStereo(m, sine(rate, 1000.0, -20.0, n));
    feedStereo(m, sine(rate, 1000.0, -40.0, n, n));
    EXPECT_NEAR(m.momentary(), -40.0, 0.1);
    EXPECT_NEAR(m.integrated(), -20.0, 0.1);
}

TEST(LoudnessMeter, silenceNeverPassesTheAbsoluteGate)
{
    const double rate = 48000.0;
    sv::LoudnessMeter m;
    m.prepare(rate);
    feedStereo(m, sine(rate, 1000.0, -20.0, 20 * subBlock(rate)));
    m.reset();
    feedStereo(m, std::vector<float>(static_cast<size_t>(50 * subBlock(rate)), 0.0f));
    EXPECT_EQ(m.integrated(), -100.0f);
    EXPECT_EQ(m.momentary(), -100.0f);
    EXPECT_EQ(m.shortTerm(), -100.0f);
}

TEST(LoudnessMeter, resetWhilePlayingRestartsAllThreeAndTheHistogram)
{
    const double rate = 48000.0;
    const int q = subBlock(rate);
    sv::LoudnessMeter m;
    m.prepare(rate);
    feedStereo(m, sine(rate, 1000.0, -10.0, 40 * q));
    ASSERT_NEAR(m.integrated(), -10.0, 0.1);

    m.reset();
    EXPECT_EQ(m.momentary(), -100.0f);
    EXPECT_EQ(m.shortTerm(), -100.0f);
    EXPECT_EQ(m.integrated(), -100.0f);

    // Only what came after the reset counts.
    feedStereo(m, sine(rate, 1000.0, -30.0, 10 * q));
    EXPECT_NEAR(m.integrated(), -30.0, 0.1);
    EXPECT_EQ(m.shortTerm(), -100.0f);
}

TEST(LoudnessMeter, processNeverTouchesTheHeap)
{
    sv::LoudnessMeter m;
    m.prepare(48000.0);
    const auto x = sine(48000.0, 1000.0, -20.0, 48000);
    EXPECT_NO_HEAP(m.process(x.data(), x.data(), static_cast<int>(x.size())));
    EXPECT_NO_HEAP(m.reset());
}
