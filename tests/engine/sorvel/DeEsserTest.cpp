#include "sorvel/engine/DeEsser.h"
#include "sorvel/engine/primitives/FilterDesign.h"
#include "common/dsp/FastMath.h"
#include "common/dsp/XorShift32.h"
#include "support/FlushToZero.h"
#include "support/Signals.h"
#include "support/AllocationCounter.h"
#include "support/SyntheticVocal.h"
#include "tools/wav/WavFile.h"

#include <gtest/gtest.h>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

using eng::vocal::DeEsser;

namespace
{
using testsupport::pi;
constexpr int soft = 0, mid = 1, hard = 2;
constexpr float autoHz = 0.0f;

struct Signal
{
    std::vector<float> left, right;
    int size() const { return static_cast<int>(left.size()); }
};

struct Render
{
    std::vector<float> left, right, trace, listenLeft, listenRight;
};

// A settings change that takes effect before the given sample.
struct Change
{
    int atSample;
    float amount;
    int character;
    float freqHz;
};

// Runs the de-esser over the whole signal in pieces of the given sizes (cycled), applying each
// change at its sample (pieces are cut there). Listen and trace are always collected.
Render run(DeEsser& d, const Signal& in, int channels, const std::vector<Change>& changes,
           const std::vector<int>& pieces, bool checkHeap = false)
{
    Render r;
    r.left = in.left;
    r.right = channels == 2 ? in.right : std::vector<float>();
    const auto n = static_cast<size_t>(in.size());
    r.trace.assign(n, -1.0f);
    r.listenLeft.assign(n, -1.0f);
    r.listenRight.assign(channels == 2 ? n : 0, -1.0f);

    size_t nextChange = 0, pieceIndex = 0;
    int pos = 0;
    while (pos < in.size())
    {
        while (nextChange < changes.size() && changes[nextChange].atSample <= pos)
        {
            const Change& c = changes[nextChange++];
            if (checkHeap)
                EXPECT_NO_HEAP(d.set({c.amount, c.character, c.freqHz}));
            else
                d.set({c.amount, c.character, c.freqHz});
        }
        int len = std::min(pieces[pieceIndex++ % pieces.size()], in.size() - pos);
        if (nextChange < changes.size())
            len = std::min(len, changes[nextChange].atSample - pos);
        const auto p = static_cast<size_t>(pos);
        float* ch[2] = {r.left.data() + p, channels == 2 ? r.right.data() + p : nullptr};
        float* lis[2] = {r.listenLeft.data() + p, channels == 2 ? r.listenRight.data() + p : nullptr};
        if (checkHeap)
            EXPECT_NO_HEAP(d.process(ch, len, r.trace.data() + p, lis));
        else
            d.process(ch, len, r.trace.data() + p, lis);
        pos += len;
    }
    return r;
}

Render run(DeEsser& d, const Signal& in, int channels, float amount, int character, float freqHz,
           int piece = 256)
{
    return run(d, in, channels, {{0, amount, character, freqHz}}, {piece});
}

Signal sine(double rate, double hz, double peakDb, double seconds, double fadeInSeconds = 0.0)
{
    Signal s;
    const int n = static_cast<int>(seconds * rate);
    const double amp = std::pow(10.0, peakDb / 20.0);
    const int fade = static_cast<int>(fadeInSeconds * rate);
    for (int i = 0; i < n; ++i)
    {
        const double env = i < fade ? 0.5 - 0.5 * std::cos(pi * i / fade) : 1.0;
        s.left.push_back(static_cast<float>(amp * env * std::sin(2.0 * pi * hz * i / rate)));
    }
    s.right = s.left;
    return s;
}

// A "vowel": harmonics of a low fundamental with a falling spectrum, nothing above 2.2 kHz.
double vowel(double rate, int i)
{
    double v = 0.0;
    for (int h = 1; h * 180.0 < 2200.0; ++h)
        v += std::sin(2.0 * pi * 180.0 * h * i / rate + h) / h;
    return 0.2 * v;
}

// Synthetic sibilants: 150 ms vowels and 100 ms noise bands around `essHz` in turn.
Signal sibilantPhrase(double rate, double essHz, double seconds, std::uint32_t seed = 7)
{
    eng::md::RunningSection band1, band2;
    band1.setCoefficients(eng::md::designBandPass(rate, essHz, 3.0));
    band2.setCoefficients(eng::md::designBandPass(rate, essHz, 3.0));
    sv::XorShift32 noise(seed);
    Signal s;
    const int n = static_cast<int>(seconds * rate);
    const int vowelLength = static_cast<int>(0.15 * rate), essLength = static_cast<int>(0.10 * rate);
    for (int i = 0; i < n; ++i)
    {
        const double white = 2.0 * noise.uniform() - 1.0;
        const double ess = band2.processSample(band1.processSample(white));
        const bool inEss = i % (vowelLength + essLength) >= vowelLength;
        s.left.push_back(static_cast<float>(inEss ? 0.8 * ess : vowel(rate, i)));
    }
    s.right = s.left;
    return s;
}

Signal loadPhrase()
{
    Signal s;
    s.left = testsupport::vocalPhrase();
    s.right = s.left;
    return s;
}

double rms(const std::vector<float>& x, size_t from, size_t to)
{
    double sum = 0.0;
    for (size_t i = from; i < to; ++i)
        sum += static_cast<double>(x[i]) * x[i];
    return std::sqrt(sum / static_cast<double>(std::max<size_t>(to - from, 1)));
}

// Cookbook section of the crossover, written from its formula (independent of the module).
struct RbjSection
{
    float b0, b1, b2, a1, a2, s1 = 0, s2 = 0;

    RbjSection(double rate, double hz, bool highPass)
    {
        const double w = 2.0 * pi * hz / rate, c = std::cos(w), alpha = std::sin(w) / std::sqrt(2.0);
        const double a0 = 1.0 + alpha;
        const double outer = highPass ? (1.0 + c) / 2.0 : (1.0 - c) / 2.0;
        b0 = static_cast<float>(outer / a0);
        b1 = static_cast<float>((highPass ? -(1.0 + c) : 1.0 - c) / a0);
        b2 = b0;
        a1 = static_cast<float>(-2.0 * c / a0);
        a2 = static_cast<float>((1.0 - alpha) / a0);
    }
    float process(float x)
    {
        const float y = b0 * x + s1;
        s1 = b1 * x - a1 * y + s2;
        s2 = b2 * x - a2 * y;
        return y;
    }
    double magnitude(double rate, double hz) const
    {
        const double w = 2.0 * pi * hz / rate;
        return std::sqrt(eng::md::squaredMagnitude({b0, b1, b2, a1, a2}, w));
    }
};

} // namespace

TEST(DeEsser, amountZeroIsPureDelay)
{
    struct Case
    {
        double rate;
        int channels;
        int expectedDelay;
    };
    for (const Case c : {Case{44100.0, 1, 66}, Case{48000.0, 2, 72}, Case{96000.0, 2, 144}})
    {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.channels << " channels");
        Signal in = sibilantPhrase(c.rate, 7000.0, 0.5);
        for (size_t i = 0; i < in.right.size(); ++i)
            in.right[i] = -0.5f * in.left[i];
        DeEsser d;
        d.prepare(c.rate, c.channels);
        EXPECT_EQ(d.getLookaheadSamples(), c.expectedDelay);
        const Render r = run(d, in, c.channels, 0.0f, hard, autoHz, 100);
        for (int i = 0; i < in.size(); ++i)
        {
            const auto k = static_cast<size_t>(i);
            const auto from = static_cast<size_t>(i - c.expectedDelay);
            ASSERT_EQ(r.left[k], i < c.expectedDelay ? 0.0f : in.left[from]) << "sample " << i;
            if (c.channels == 2)
            {
                ASSERT_EQ(r.right[k], i < c.expectedDelay ? 0.0f : in.right[from]) << "sample " << i;
            }
            ASSERT_EQ(r.trace[k], 0.0f) << "sample " << i;
            ASSERT_EQ(r.listenLeft[k], 0.0f) << "sample " << i;
        }
        EXPECT_EQ(d.takePeakReductionDb(), 0.0f);
        EXPECT_FALSE(d.takeEssFlag());
    }
}

// 8 kHz at 0 dBFS stands about 0.65 dB under the full band above a 4225 Hz split, far past every
// knee: the detection is 1, the reduction is the full 1.2 x 10 dB and the upper band gets
// 1.3 x 12 = 15.6 dB less.
TEST(DeEsser, steadyEssAtFullAmountHardSettlesAtTwelveDbAndLowersUpperBandBy15_6Db)
{
    for (const double rate : {44100.0, 48000.0})
    {
        SCOPED_TRACE(testing::Message() << rate << " Hz");
        const Signal in = sine(rate, 8000.0, 0.0, 0.5);
        DeEsser d;
        d.prepare(rate, 1);
        const Render r = run(d, in, 1, {{0, 10.0f, hard, 6500.0f}}, {512}, true);
        EXPECT_FLOAT_EQ(d.getSplitHz(), 4225.0f);
        EXPECT_NEAR(d.getReductionDb(), 12.0f, 1e-4f);
        EXPECT_NEAR(d.takePeakReductionDb(), 12.0f, 1e-4f);
        EXPECT_EQ(d.takePeakReductionDb(), 0.0f) << "a take clears the peak";
        EXPECT_TRUE(d.takeEssFlag());
        EXPECT_FALSE(d.takeEssFlag()) << "a take clears the flag";

        // Steady half: the trace is the full detection; the listen signal is (1 - G) x high and
        // output + listen is the crossover's all-pass sum (unit magnitude), so their level ratio
        // is (1 - G) |HP(8 kHz)|^2.
        const auto from = r.trace.size() / 2, to = r.trace.size();
        for (size_t i = from; i < to; ++i)
            ASSERT_NEAR(r.trace[i], 1.0f, 1e-6f) << "sample " << i;
        std::vector<float> sum(to);
        for (size_t i = 0; i < to; ++i)
            sum[i] = r.left[i] + r.listenLeft[i];
        const double highPassMagnitude = RbjSection(rate, 4225.0, true).magnitude(rate, 8000.0);
        const double ratio = rms(r.listenLeft, from, to) / rms(sum, from, to);
        const double upperBandDb = 20.0 * std::log10(1.0 - ratio / (highPassMagnitude * highPassMagnitude));
        EXPECT_NEAR(upperBandDb, -15.6, 0.02);
        const double outputDb = 20.0 * std::log10(rms(r.left, from, to) / rms(sum, from, to));
        std::printf("[ DeEsser  ] %.0f Hz: reduction %.4f dB, upper band %.3f dB, 8 kHz output %.2f dB\n",
                    rate, d.getReductionDb(), upperBandDb, outputDb);
    }
}

// Two channels are detected on their mean and cut alike: an ess in one channel is found (6 dB
// down, still far past the knee), one in anti-phase on both cancels in the detector.
TEST(DeEsser, stereoIsDetectedOnTheMeanOfTheChannels)
{
    const Signal ess = sine(48000.0, 8000.0, -6.0, 0.3);
    struct Case
    {
        float rightSign;
        float expectedDb;
    };
    for (const Case c : {Case{0.0f, 12.0f}, Case{1.0f, 12.0f}, Case{-1.0f, 0.0f}})
    {
        SCOPED_TRACE(testing::Message() << "right = " << c.rightSign << " x left");
        Signal in = ess;
        for (float& x : in.right)
            x *= c.rightSign;
        DeEsser d;
        d.prepare(48000.0, 2);
        const Render r = run(d, in, 2, 10.0f, hard, 6500.0f);
        EXPECT_NEAR(d.getReductionDb(), c.expectedDb, 1e-3f);
        for (size_t i = 0; i < r.left.size(); ++i)
            ASSERT_EQ(r.listenRight[i], c.rightSign * r.listenLeft[i]) << "sample " << i;
    }
}

// The level gate: nothing below -66 dB in the ess band, half of the smoothstep at -60 dB, all of it
// from -54 dB. The 8 kHz level is given in the ess band (after the sidechain's high-passes) as
// the sine's peak power, which the power follower rides about 0.1 dB under.
// The shortcut that skips the detection's logarithms must never shut the gate where the level
// it stands for would open it: every power in the octave up to the bound (every float of it)
// comes out under the -66 dB floor, and the bound is not needlessly low.
TEST(DeEsser, gateShortcutBoundLiesBelowTheGateFloor)
{
    const float bound = DeEsser::shutBelowPower;
    float worstDb = -1000.0f;
    for (float power = 0.5f * bound; power <= bound; power = std::nextafter(power, 1.0f))
        worstDb = std::max(worstDb, sv::fastPowerToDb(power));
    EXPECT_LT(worstDb, -66.0f);
    EXPECT_GT(worstDb, -66.05f);
}

// Likewise for the knee: an upper band at the largest power the shortcut passes as under the
// knee comes out under the knee's corner once both bands are in dB, for every character's
// corner and full-band powers from the floor to well above full scale.
TEST(DeEsser, kneeShortcutBoundLiesBelowTheKneeCorner)
{
    for (const auto& character : eng::vocal::tune::deessChars)
    {
        const float cornerDb = character.thresholdDb - 0.5f * character.kneeDb;
        const float ratio = DeEsser::kneeShutRatioFor(cornerDb);
        float worst = -1000.0f;
        for (double full = 1e-20; full < 1e3; full *= 1.0173)
        {
            // Both bands are floored at 1e-20 before the test, so an upper band under the floor
            // never passes it.
            const float f = static_cast<float>(full);
            const float u = f * ratio;
            if (u < 1e-20f)
                continue;
            worst = std::max(worst, sv::fastPowerToDb(u) - sv::fastPowerToDb(f) - cornerDb);
        }
        EXPECT_LT(worst, 0.0f) << "corner " << cornerDb << " dB";
        EXPECT_GT(worst, -0.02f) << "corner " << cornerDb << " dB: bound needlessly low";
    }
}

TEST(DeEsser, essBandBelowMinus66DbIsNeverReduced)
{
    struct Case
    {
        double essBandDb;
        double expectedDb; // -1: never reduced at all
    };
    const double rate = 48000.0;
    const double highPassMagnitude = RbjSection(rate, 4225.0, true).magnitude(rate, 8000.0);
    const double sidechainDb = 40.0 * std::log10(highPassMagnitude);
    for (const Case c :
         {Case{-90.0, -1.0}, Case{-72.0, -1.0}, Case{-66.2, -1.0}, Case{-60.0, 6.0}, Case{-50.0, 12.0}})
    {
        SCOPED_TRACE(testing::Message() << "ess band at " << c.essBandDb << " dB");
        const Signal in = sine(rate, 8000.0, c.essBandDb - sidechainDb, 0.5, 0.01);
        DeEsser d;
        d.prepare(rate, 1);
        const Render r = run(d, in, 1, 10.0f, hard, 6500.0f);
        const float peak = d.takePeakReductionDb();
        if (c.expectedDb >= 0.0)
        {
            EXPECT_NEAR(d.getReductionDb(), c.expectedDb, 0.3);
            continue;
        }
        EXPECT_EQ(peak, 0.0f);
        EXPECT_FALSE(d.takeEssFlag());
        for (size_t i = 0; i < r.trace.size(); ++i)
        {
            ASSERT_EQ(r.trace[i], 0.0f) << "sample " << i;
            ASSERT_EQ(r.listenLeft[i], 0.0f) << "sample " << i;
        }
    }
}

TEST(DeEsser, handSetFrequencyIsClampedAndPlacesTheSplit)
{
    struct Case
    {
        double rate;
        float freqHz;
        bool isAuto;
        float essHz;
        float splitHz;
    };
    const Case cases[] = {
        {48000.0, 5000.0f, false, 5000.0f, 3250.0f},   {48000.0, 2950.0f, false, 3000.0f, 2000.0f},
        {48000.0, 12000.0f, false, 12000.0f, 7800.0f}, {48000.0, 20000.0f, false, 12000.0f, 7800.0f},
        {48000.0, 2940.0f, true, 6500.0f, 4225.0f},    {44100.0, 0.0f, true, 6500.0f, 4225.0f},
        {16000.0, 12000.0f, false, 12000.0f, 6400.0f},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.freqHz << " Hz set at " << c.rate << " Hz");
        DeEsser d;
        d.prepare(c.rate, 2);
        EXPECT_EQ(d.getSplitHz(), -1.0f);
        d.set({5.0f, mid, c.freqHz});
        EXPECT_EQ(d.isAuto(), c.isAuto);
        EXPECT_FLOAT_EQ(d.getEssFrequencyHz(), c.essHz);
        EXPECT_FLOAT_EQ(d.getSplitHz(), c.splitHz);
    }
}

// A single steady sine makes both followers ride the same envelope, so the upper band stands
// exactly 40 log10 |HP(f)| (the two cookbook high-passes of the sidechain) below the full band;
// the frequency then sets the distance. The reduction must follow the character's knee:
// 12 dB x smoothstep((distance - (T - W/2)) / W).
TEST(DeEsser, charactersSetThresholdAndKnee)
{
    const double rate = 48000.0;
    const RbjSection highPass(rate, 4225.0, true);
    // The frequency at which the upper band stands `distanceDb` below the full band.
    const auto frequencyFor = [&](double distanceDb)
    {
        double lo = 100.0, hi = 20000.0;
        for (int i = 0; i < 60; ++i)
        {
            const double mid = std::sqrt(lo * hi);
            (40.0 * std::log10(highPass.magnitude(rate, mid)) < distanceDb ? lo : hi) = mid;
        }
        return lo;
    };
    for (int character = 0; character < 3; ++character)
    {
        const auto row = eng::vocal::tune::deessChars[static_cast<size_t>(character)];
        const double t = row.thresholdDb, w = row.kneeDb;
        for (const double position : {-0.6, -0.25, 0.0, 0.25, 0.5, 0.6})
        {
            const double distanceDb = t + position * w;
            const double hz = frequencyFor(distanceDb);
            const double x = std::clamp(position + 0.5, 0.0, 1.0);
            const double expected = 12.0 * x * x * (3.0 - 2.0 * x);
            DeEsser d;
            d.prepare(rate, 1);
            run(d, sine(rate, hz, -6.0, 0.3), 1, 10.0f, character, 6500.0f);
            EXPECT_NEAR(d.getReductionDb(), expected, 0.1)
                << "character " << character << ", upper band " << distanceDb << " dB under the full band ("
                << hz << " Hz)";
        }
    }
}

TEST(DeEsser, autoKeeps6500HzWithOnlyLowMaterial)
{
    for (const double rate : {44100.0, 48000.0})
    {
        SCOPED_TRACE(testing::Message() << rate << " Hz");
        Signal in;
        for (int i = 0; i < static_cast<int>(2.0 * rate); ++i)
            in.left.push_back(static_cast<float>(2.0 * vowel(rate, i)));
        in.right = in.left;
        DeEsser d;
        d.prepare(rate, 2);
        run(d, in, 2, 10.0f, mid, autoHz);
        EXPECT_EQ(d.getAnalysisSeconds(), 0.0) << "the analysis gate opened";
        EXPECT_EQ(d.getEssFrequencyHz(), 6500.0f);
        EXPECT_FLOAT_EQ(d.getSplitHz(), 4225.0f);
    }
}

// Noise bands between vowels: the search must land within one bank step (a factor of
// 2.5^(1/8), 0.165 octave) of the band's centre.
TEST(DeEsser, autoFindsTheEssBandOfSyntheticSibilants)
{
    const double bankStepOctaves = std::log2(2.5) / 8.0;
    for (const double essHz : {4500.0, 5800.0, 7000.0, 8500.0, 9500.0})
    {
        const Signal in = sibilantPhrase(48000.0, essHz, 3.0);
        DeEsser d;
        d.prepare(48000.0, 2);
        run(d, in, 2, 6.0f, mid, autoHz);
        const double foundOctaves = std::log2(d.getEssFrequencyHz() / essHz);
        std::printf("[ DeEsser  ] noise band at %.0f Hz: found %.0f Hz (%+.3f octave), split %.0f Hz\n",
                    essHz, d.getEssFrequencyHz(), foundOctaves, d.getSplitHz());
        EXPECT_LT(std::abs(foundOctaves), bankStepOctaves) << "noise band at " << essHz << " Hz";
        EXPECT_NEAR(d.getSplitHz() / d.getEssFrequencyHz(), 0.65f, 0.65f * 0.003f);
    }
}

// From Auto (6500 Hz, split 4225 Hz) to a hand-set 5000 Hz: the ess frequency glides in octaves
// with a 250 ms time constant at control rate, and the crossover follows whenever the split has
// moved by 0.3 %.
TEST(DeEsser, autoToHandSetFrequencyGlidesTheSplitWith250MsTimeConstant)
{
    const double rate = 48000.0;
    const Signal in = sine(rate, 300.0, -12.0, 1.5);
    DeEsser d;
    d.prepare(rate, 1);
    const int quarter = static_cast<int>(0.25 * rate);
    std::vector<float> audio = in.left, essHz, splitHz;
    d.set({5.0f, mid, autoHz});
    for (int pos = 0; pos + 32 <= in.size(); pos += 32)
    {
        if (pos == quarter)
            d.set({5.0f, mid, 5000.0f});
        float* ch[1] = {audio.data() + pos};
        d.process(ch, 32, nullptr, nullptr);
        if (pos >= quarter)
        {
            essHz.push_back(d.getEssFrequencyHz());
            splitHz.push_back(d.getSplitHz());
        }
    }
    // One control update every 32 samples: 375 per 250 ms.
    for (const double t : {32.0 / rate, 0.125, 0.25, 0.5, 1.0})
    {
        const double updates = std::floor(t * rate / 32.0);
        const double expected = 5000.0 * std::pow(1.3, std::exp(-updates / 375.0));
        EXPECT_NEAR(essHz[static_cast<size_t>(updates) - 1], expected, expected * 1e-5)
            << "after " << t << " s";
    }
    int redesigns = 0;
    for (size_t k = 0; k < splitHz.size(); ++k)
    {
        ASSERT_NEAR(splitHz[k] / (0.65f * essHz[k]), 1.0f, 0.00301f) << "update " << k;
        const float before = k == 0 ? 4225.0f : splitHz[k - 1];
        if (splitHz[k] != before)
        {
            ++redesigns;
            ASSERT_GE(std::abs(splitHz[k] / before - 1.0f), 0.003f) << "update " << k;
        }
    }
    EXPECT_GT(redesigns, 20);
    EXPECT_LT(redesigns, 120);
    EXPECT_NEAR(splitHz.back(), 3250.0f, 3250.0f * 0.003f);
}

// Output plus listen: the delayed input while the module is off; the crossover's all-pass sum of
// the delayed input (low + high, the same magnitude with the crossover's phase) while it is on;
// in between, the delayed input plus ramp x (all-pass sum - delayed input).
TEST(DeEsser, listenPlusOutputIsWhatTheCrossoverPassesWhileOnAndTheDelayedInputWhileOff)
{
    const double rate = 48000.0;
    const Signal in = sibilantPhrase(rate, 7000.0, 1.0);
    const int offAt = 24000, rampLength = 960, delay = 72;
    DeEsser d;
    d.prepare(rate, 2);
    const Render r = run(d, in, 2, {{0, 10.0f, hard, 6500.0f}, {offAt, 0.0f, hard, 6500.0f}}, {300});

    RbjSection lp1(rate, 4225.0, false), lp2 = lp1, hp1(rate, 4225.0, true), hp2 = hp1;
    double taken = 0.0;
    for (int i = 0; i < in.size(); ++i)
    {
        const auto k = static_cast<size_t>(i);
        const float x = i < delay ? 0.0f : in.left[static_cast<size_t>(i - delay)];
        const float allPass = lp2.process(lp1.process(x)) + hp2.process(hp1.process(x));
        const float sum = r.left[k] + r.listenLeft[k];
        taken += std::abs(r.listenLeft[k]);
        if (i < offAt)
        {
            ASSERT_NEAR(sum, allPass, 2e-6f) << "sample " << i;
        }
        else if (i < offAt + rampLength)
        {
            const float ramp = 1.0f - static_cast<float>(i - offAt + 1) / rampLength;
            ASSERT_NEAR(sum, x + ramp * (allPass - x), 2e-6f) << "sample " << i;
        }
        else
        {
            ASSERT_EQ(r.left[k], x) << "sample " << i;
            ASSERT_EQ(r.listenLeft[k], 0.0f) << "sample " << i;
        }
        ASSERT_EQ(r.listenRight[k], r.listenLeft[k]) << "sample " << i;
    }
    EXPECT_GT(taken, 100.0) << "nothing was taken out";
}

// The vocal phrase (made up: syllables, sibilants and pauses) read the way the chain meters it, one reduction
// peak and ess flag per 10 ms. Each 10 ms of the input is classed on its own (upper band above 4225 Hz
// against the full band): sibilants must be cut by most of the amount; vowels that come more than 150 ms
// after the last ess (past the release) must be left alone.
TEST(DeEsser, realVocalGetsSensibleReductions)
{
    const testsupport::ScopedFlushToZero flush;
    const Signal phrase = loadPhrase();
    ASSERT_GT(phrase.size(), 48000);
    constexpr int interval = 480;
    const int intervals = phrase.size() / interval;

    enum Kind
    {
        quiet,
        sibilant,
        vowel,
        other
    };
    std::vector<Kind> kinds;
    {
        RbjSection hp1(48000.0, 4225.0, true), hp2 = hp1;
        for (int k = 0; k < intervals; ++k)
        {
            double full = 0.0, upper = 0.0;
            for (int i = k * interval; i < (k + 1) * interval; ++i)
            {
                const float x = phrase.left[static_cast<size_t>(i)];
                const float h = hp2.process(hp1.process(x));
                full += static_cast<double>(x) * x;
                upper += static_cast<double>(h) * h;
            }
            const double levelDb = 10.0 * std::log10(full / interval + 1e-20);
            const double upperDb = 10.0 * std::log10(upper / (full + 1e-30) + 1e-20);
            kinds.push_back(levelDb < -45.0   ? quiet
                            : upperDb > -8.0  ? sibilant
                            : upperDb < -18.0 ? vowel
                                              : other);
        }
    }

    struct Case
    {
        float amount;
        int character;
    };
    std::array<int, 3> sibilantsCutAtTen{};
    for (const Case c :
         {Case{3.0f, mid}, Case{6.0f, mid}, Case{10.0f, soft}, Case{10.0f, mid}, Case{10.0f, hard}})
    {
        SCOPED_TRACE(testing::Message() << "amount " << c.amount << ", character " << c.character);
        const float fullDb = 1.2f * c.amount;
        DeEsser d;
        d.prepare(48000.0, 1);
        d.set({c.amount, c.character, autoHz});
        std::vector<float> audio = phrase.left, listen(audio.size()), trace(audio.size());
        int sibilants = 0, sibilantsCut = 0, vowels = 0, vowelsCut = 0, essIntervals = 0, sinceEss = 1000;
        float largest = 0.0f;
        double vowelSum = 0.0;
        for (int k = 0; k < intervals; ++k)
        {
            const auto p = static_cast<size_t>(k * interval);
            float* ch[1] = {audio.data() + p};
            float* lis[1] = {listen.data() + p};
            d.process(ch, interval, trace.data() + p, lis);
            const float peak = d.takePeakReductionDb();
            const bool ess = d.takeEssFlag();
            largest = std::max(largest, peak);
            essIntervals += ess ? 1 : 0;
            sinceEss = ess ? 0 : sinceEss + 1;
            if (kinds[static_cast<size_t>(k)] == sibilant)
            {
                ++sibilants;
                sibilantsCut += peak > 0.5f * fullDb ? 1 : 0;
            }
            else if (kinds[static_cast<size_t>(k)] == vowel && sinceEss > 15)
            {
                ++vowels;
                vowelsCut += peak > 1.0f ? 1 : 0;
                vowelSum += peak;
            }
        }
        const auto end = static_cast<size_t>(intervals * interval);
        const double takenDb = 20.0 * std::log10(rms(listen, 0, end) / rms(phrase.left, 0, end));
        std::printf(
            "[ DeEsser  ] phrase, amount %.0f, character %d: largest %.2f dB; %d of %d sibilant 10 ms cut "
            "by > half; %d of %d later vowel 10 ms cut by > 1 dB (mean %.3f dB); ess flag in %.1f %%; "
            "found %.0f Hz; taken out %.1f dB under the vocal\n",
            static_cast<double>(c.amount), c.character, static_cast<double>(largest), sibilantsCut, sibilants,
            vowelsCut, vowels, vowels > 0 ? vowelSum / vowels : 0.0, 100.0 * essIntervals / intervals,
            static_cast<double>(d.getEssFrequencyHz()), takenDb);
        EXPECT_LE(largest, fullDb + 1e-3f);
        EXPECT_GT(sibilants, 40);
        EXPECT_GT(vowels, 100);
        EXPECT_GE(sibilantsCut, sibilants * 6 / 10) << "sibilants left alone";
        EXPECT_LE(vowelsCut, vowels * 12 / 100) << "vowels cut";
        EXPECT_LT(vowelSum / vowels, 0.06 * fullDb) << "vowels cut";
        if (c.amount == 10.0f)
            sibilantsCutAtTen[static_cast<size_t>(c.character)] = sibilantsCut;
        EXPECT_GT(d.getEssFrequencyHz(), 4000.0f);
        EXPECT_LT(d.getEssFrequencyHz(), 10000.0f);
        // A fifth of the made-up phrase is sibilants, more than in speech: up to -8.7 dB taken out.
        EXPECT_LT(takenDb, -8.0) << "takes out too much of the vocal";
    }
    EXPECT_LT(sibilantsCutAtTen[soft], sibilantsCutAtTen[mid]);
    EXPECT_LT(sibilantsCutAtTen[mid], sibilantsCutAtTen[hard]);
}

// Settings changes (off, on from fully off, hand-set, back to Auto) at fixed samples; the same
// audio in one piece per stretch and in random pieces gives the same bits everywhere.
TEST(DeEsser, randomPieceSizesGiveIdenticalOutputWithoutAllocating)
{
    const testsupport::ScopedFlushToZero flush;
    Signal in = loadPhrase();
    in.left.resize(std::min<size_t>(in.left.size(), 48000 * 3));
    in.right.assign(in.left.size(), 0.0f);
    for (size_t i = 100; i < in.left.size(); ++i)
        in.right[i] = 0.7f * in.left[i - 100];
    const std::vector<Change> changes{{0, 7.0f, mid, autoHz},
                                      {48000, 0.0f, mid, autoHz},
                                      {62000, 7.0f, hard, autoHz},
                                      {96000, 7.0f, hard, 5000.0f},
                                      {120000, 5.0f, soft, autoHz}};

    DeEsser whole;
    whole.prepare(48000.0, 2);
    const Render a = run(whole, in, 2, changes, {1 << 20});

    sv::XorShift32 random(1234);
    std::vector<int> pieces;
    for (int k = 0; k < 2000; ++k)
        pieces.push_back(1 + static_cast<int>(random.uniform() * 700.0f));
    DeEsser cut;
    cut.prepare(48000.0, 2);
    const Render b = run(cut, in, 2, changes, pieces, true);

    for (size_t i = 0; i < a.left.size(); ++i)
    {
        ASSERT_EQ(a.left[i], b.left[i]) << "sample " << i;
        ASSERT_EQ(a.right[i], b.right[i]) << "sample " << i;
        ASSERT_EQ(a.trace[i], b.trace[i]) << "sample " << i;
        ASSERT_EQ(a.listenLeft[i], b.listenLeft[i]) << "sample " << i;
        ASSERT_EQ(a.listenRight[i], b.listenRight[i]) << "sample " << i;
    }
    EXPECT_EQ(whole.getEssFrequencyHz(), cut.getEssFrequencyHz());
    EXPECT_EQ(whole.takePeakReductionDb(), cut.takePeakReductionDb());
}

// The module fades in and out over 20 ms between the processed and the delayed signal. The two
// differ by the crossover's phase even where nothing is reduced, so a hard switch would step in a
// low tone; the fade adds no step larger than the steady renders have.
TEST(DeEsser, switchingOnAndOffFadesOver20MsWithoutClicks)
{
    const double rate = 48000.0;
    // A 200 Hz tone with two noise-band esses; both switches fall 20 ms after an ess, while its
    // reduction still releases.
    Signal in = sine(rate, 200.0, -6.0, 1.0);
    const Signal esses = sibilantPhrase(rate, 7000.0, 1.0);
    for (const int burst : {9600, 28800})
        for (int i = burst; i < burst + 4800; ++i)
            in.left[static_cast<size_t>(i)] += esses.left[static_cast<size_t>(i + 7200)];
    const int rampLength = 960, offAt = 15360, onAt = 34560;
    const auto largestStep = [&](const Render& r, int from)
    {
        float step = 0.0f;
        for (int i = from; i < from + rampLength + 10; ++i)
            step =
                std::max(step, std::abs(r.left[static_cast<size_t>(i)] - r.left[static_cast<size_t>(i - 1)]));
        return step;
    };

    DeEsser steadyOn, steadyOff, switched;
    for (DeEsser* d : {&steadyOn, &steadyOff, &switched})
        d->prepare(rate, 1);
    const Render on = run(steadyOn, in, 1, 10.0f, hard, autoHz);
    const Render off = run(steadyOff, in, 1, 0.0f, hard, autoHz);

    switched.set({10.0f, hard, autoHz});
    Render r =
        run(switched, Signal{std::vector<float>(in.left.begin(), in.left.begin() + offAt), {}}, 1, {}, {256});
    EXPECT_GT(switched.getReductionDb(), 3.0f) << "the switch should fall in the release after an ess";
    switched.set({0.0f, hard, autoHz});
    Render part;
    part.left.assign(in.left.begin() + offAt, in.left.begin() + onAt);
    float* ch[1] = {part.left.data()};
    switched.process(ch, rampLength - 1, nullptr, nullptr);
    EXPECT_GT(switched.getRampValue(), 0.0f);
    EXPECT_FALSE(switched.isOff());
    float* rest[1] = {part.left.data() + rampLength - 1};
    switched.process(rest, onAt - offAt - rampLength + 1, nullptr, nullptr);
    EXPECT_TRUE(switched.isOff()) << "off after exactly 20 ms";
    const float frozen = switched.getReductionDb();
    switched.set({10.0f, hard, autoHz});
    EXPECT_EQ(switched.getReductionDb(), 0.0f)
        << "coming in from fully off clears the followers (was " << frozen << " dB)";
    Render last =
        run(switched, Signal{std::vector<float>(in.left.begin() + onAt, in.left.end()), {}}, 1, {}, {256});
    r.left.insert(r.left.end(), part.left.begin(), part.left.end());
    r.left.insert(r.left.end(), last.left.begin(), last.left.end());

    for (const int at : {offAt, onAt})
    {
        const float bound = 1.1f * std::max(largestStep(on, at), largestStep(off, at));
        EXPECT_LE(largestStep(r, at), bound) << "switch at sample " << at;
    }
    // Fully processed again 20 ms after switching on, apart from the restarted filter states.
    EXPECT_NEAR(rms(r.left, static_cast<size_t>(onAt + 4 * rampLength), r.left.size()),
                rms(on.left, static_cast<size_t>(onAt + 4 * rampLength), on.left.size()), 1e-3);
}
