#include "sorvel/engine/Shimmer.h"
#include "common/dsp/XorShift32.h"
#include "support/Signals.h"
#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

using eng::vocal::Shimmer;
using eng::vocal::ShimmerMeter;

namespace
{
using testsupport::largestStep;
using testsupport::pi;
constexpr double hostRates[] = {44100.0, 48000.0, 96000.0};
constexpr int silk = 0, air = 1, glass = 2;
const char* const characterNames[] = {"Silk", "Air", "Glass"};

using Signal = std::vector<float>;

int samplesFor(double seconds, double rate)
{
    return static_cast<int>(std::lround(seconds * rate));
}

Signal sine(int n, double hz, double rate, double amplitude, double phase = 0.0)
{
    Signal x(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        x[static_cast<size_t>(i)] =
            static_cast<float>(amplitude * std::sin(2.0 * pi * hz * i / rate + phase));
    return x;
}

Signal noise(int n, double amplitude, std::uint32_t seed)
{
    sv::XorShift32 random(seed);
    Signal x(static_cast<size_t>(n));
    for (auto& v : x)
        v = static_cast<float>(amplitude * (2.0 * random.uniform() - 1.0));
    return x;
}

Signal operator+(Signal a, const Signal& b)
{
    for (size_t i = 0; i < a.size(); ++i)
        a[i] += b[i];
    return a;
}

// Hann-windowed single-frequency DFT over [start, start + length).
std::complex<double> tone(const Signal& x, int start, int length, double hz, double rate)
{
    std::complex<double> sum = 0.0, phasor = 1.0;
    const std::complex<double> turn = std::polar(1.0, -2.0 * pi * hz / rate);
    for (int i = 0; i < length; ++i)
    {
        const double w = 0.5 - 0.5 * std::cos(2.0 * pi * (i + 0.5) / length);
        sum += w * static_cast<double>(x[static_cast<size_t>(start + i)]) * phasor;
        phasor *= turn;
    }
    return sum;
}

std::complex<double> response(const eng::md::Section& s, double w)
{
    const std::complex<double> z1 = std::polar(1.0, -w);
    return (s.b0 + z1 * (s.b1 + z1 * s.b2)) / (1.0 + z1 * (s.a1 + z1 * s.a2));
}

double gainDbAt(const Signal& in, const Signal& out, int start, int length, double hz, double rate)
{
    return 20.0 * std::log10(std::abs(tone(out, start, length, hz, rate)) /
                             std::abs(tone(in, start, length, hz, rate)));
}

// A stereo render at the doubled rate, processed in pieces the way the chain hands them over.
struct Render
{
    Signal left, right, listenLeft, listenRight;
    Signal trace; // one value per host sample, may stay empty

    explicit Render(const Signal& input)
        : left(input), right(input), listenLeft(input.size()), listenRight(input.size())
    {
    }

    // Processes [from, to) (doubled-rate samples, even) in pieces of `pieceHost` host samples.
    void run(Shimmer& shimmer, int from, int to, int pieceHost = 256, bool withListen = true)
    {
        for (int pos = from; pos < to;)
        {
            const int n = std::min(2 * pieceHost, to - pos);
            piece(shimmer, pos, n, withListen);
            pos += n;
        }
    }

    void piece(Shimmer& shimmer, int pos, int n, bool withListen = true)
    {
        float* io[2] = {left.data() + pos, right.data() + pos};
        float* ls[2] = {listenLeft.data() + pos, listenRight.data() + pos};
        const float* t = trace.empty() ? nullptr : trace.data() + pos / 2;
        shimmer.process(io, withListen ? ls : nullptr, n, t);
    }
};

Shimmer prepared(double hostRate, float amount, int character, bool on = true, int channels = 2)
{
    Shimmer s;
    s.prepare(2.0 * hostRate, channels);
    s.set({amount, character, on});
    return s;
}

// The analog high shelf a shelf design follows: A^2 ((1 - A W^2)^2 + A W^2 / Q^2) / ((A - W^2)^2 + ...).
double analogShelfDb(double gainDb, double cornerHz, double q, double hz)
{
    const double A = std::pow(10.0, gainDb / 40.0);
    const double W2 = (hz / cornerHz) * (hz / cornerHz);
    const double cross = A * W2 / (q * q);
    return 10.0 *
           std::log10(A * A * ((1.0 - A * W2) * (1.0 - A * W2) + cross) / ((A - W2) * (A - W2) + cross));
}

} // namespace

TEST(Shimmer, amountZeroLeavesTheInputUnchanged)
{
    for (double fs : hostRates)
        for (int character : {silk, air, glass})
        {
            SCOPED_TRACE(testing::Message() << characterNames[character] << " at " << fs);
            const double rate = 2.0 * fs;
            const int n = samplesFor(0.2, rate);
            const Signal input = noise(n, 0.5, 7u) + sine(n, 5500.0, rate, 0.3);
            Shimmer shimmer = prepared(fs, 0.0f, character);
            Render r(input);
            r.trace.assign(static_cast<size_t>(n / 2), 1.0f);
            r.run(shimmer, 0, n, 173);

            for (int i = 0; i < n; ++i)
            {
                ASSERT_EQ(r.left[static_cast<size_t>(i)], input[static_cast<size_t>(i)]) << "sample " << i;
                ASSERT_EQ(r.listenLeft[static_cast<size_t>(i)], 0.0f) << "sample " << i;
            }
            const ShimmerMeter m = shimmer.takeMeter();
            EXPECT_EQ(m.sparkleDb(), -120.0f);
            EXPECT_EQ(m.liftDb(), 0.0f);
            EXPECT_EQ(m.tamingPeakDb, 0.0f);
            EXPECT_FALSE(shimmer.isActive());
        }
}

TEST(Shimmer, amountBackToZeroLetsGoWithinTwoControlIntervalsAndRests)
{
    for (int character : {silk, glass})
    {
        SCOPED_TRACE(characterNames[character]);
        const double fs = 48000.0, rate = 2.0 * fs;
        const int n = samplesFor(0.3, rate), change = samplesFor(0.1, rate) & ~1;
        const Signal input = noise(n, 0.3, 8u) + sine(n, 5000.0, rate, 0.2);
        Shimmer shimmer = prepared(fs, 10.0f, character);
        Render r(input);
        r.run(shimmer, 0, change);
        shimmer.set({0.0f, character, true});
        const int letGo = change + 2 * eng::vocal::ShimmerCore::controlInterval;
        r.run(shimmer, change, letGo);
        EXPECT_FALSE(shimmer.getActiveCore().isShelfOn());
        EXPECT_FALSE(shimmer.isActive());
        r.run(shimmer, letGo, n);
        EXPECT_TRUE(shimmer.getActiveCore().isResting());
        for (int i = letGo; i < n; ++i)
        {
            ASSERT_EQ(r.left[static_cast<size_t>(i)], input[static_cast<size_t>(i)]) << "sample " << i;
            ASSERT_EQ(r.listenLeft[static_cast<size_t>(i)], 0.0f) << "sample " << i;
        }

        // Back at work: from clean states, the shelf up again at the first update.
        shimmer.set({10.0f, character, true});
        Render again(input);
        again.run(shimmer, 0, 2 * eng::vocal::ShimmerCore::controlInterval);
        EXPECT_FALSE(shimmer.getActiveCore().isResting());
        EXPECT_TRUE(shimmer.getActiveCore().isShelfOn());
    }
}

// A loud low carrier with quiet probes: no esses, so the shelf stands at its full gain.
TEST(Shimmer, silkAtPlusTenIsANinePointFourDbShelfAtTenKilohertzShowingSixAtTwelve)
{
    const double probes[] = {1000.0, 3000.0, 5000.0, 8000.0, 10000.0, 12000.0, 16000.0, 20000.0};
    for (double fs : hostRates)
    {
        SCOPED_TRACE(testing::Message() << "host rate " << fs);
        const double rate = 2.0 * fs;
        const int n = samplesFor(0.35, rate);
        Signal input = sine(n, 200.0, rate, 0.5);
        for (size_t k = 0; k < std::size(probes); ++k)
            input = input + sine(n, probes[k], rate, 0.005, 0.7 * static_cast<double>(k));

        Shimmer shimmer = prepared(fs, 10.0f, silk);
        Render r(input);
        const int settle = samplesFor(0.1, rate);
        r.run(shimmer, 0, settle);
        shimmer.takeMeter();
        r.run(shimmer, settle, n);

        const auto& core = shimmer.getActiveCore();
        EXPECT_NEAR(core.getShelfGainDb(), 9.4, 1e-4);
        EXPECT_NEAR(core.getDisplayDb(), 6.0, 0.05);
        EXPECT_NEAR(core.getDisplayDb(), analogShelfDb(9.4, 10000.0, 0.65, 12000.0), 1e-4);
        const ShimmerMeter m = shimmer.takeMeter();
        EXPECT_NEAR(m.liftDb(), core.getDisplayDb(), 1e-4);
        EXPECT_EQ(m.sparkleDb(), -120.0f);
        EXPECT_EQ(m.tamingPeakDb, 0.0f);

        double worst = 0.0;
        for (double hz : probes)
        {
            const double measured = gainDbAt(input, r.left, settle, n - settle, hz, rate);
            const double analog = analogShelfDb(9.4, 10000.0, 0.65, hz);
            EXPECT_NEAR(measured, analog, 0.1) << "at " << hz << " Hz";
            EXPECT_NEAR(gainDbAt(input, r.right, settle, n - settle, hz, rate), measured, 1e-9)
                << "at " << hz << " Hz";
            worst = std::max(worst, std::abs(measured - analog));
        }
        std::printf("[ shimmer  ] Silk +10 at %.0f Hz: worst shelf error %.4f dB, display %.3f dB\n", fs,
                    worst, static_cast<double>(core.getDisplayDb()));
    }
}

// The ess comes from the de-esser's trace (the vocal itself carries none), so the easing follower
// sees a clean step: a 1 ms rise and the 60 ms release.
TEST(Shimmer, sustainedEssFromTheDeEsserPullsTheShelfToAFifthAndItRecoversWithTheRelease)
{
    for (double fs : hostRates)
    {
        SCOPED_TRACE(testing::Message() << "host rate " << fs);
        const double rate = 2.0 * fs;
        const int essEnd = 2 * samplesFor(0.2, fs);
        const int n = essEnd + 2 * samplesFor(0.5, fs);
        Shimmer shimmer = prepared(fs, 10.0f, silk);
        Render r(sine(n, 200.0, rate, 0.5));
        r.trace.assign(static_cast<size_t>(n / 2), 0.0f);
        std::fill(r.trace.begin(), r.trace.begin() + essEnd / 2, 1.0f);

        r.run(shimmer, 0, essEnd, 64);
        const auto& core = shimmer.getActiveCore();
        EXPECT_NEAR(core.getShelfGainDb(), 9.4 * 0.2, 0.006);

        // 60 ms after the ess the easing is down to 1/e; the shelf was last designed from the peak
        // of an interval that began up to two control intervals earlier.
        const int release = 2 * samplesFor(0.060, fs);
        r.run(shimmer, essEnd, essEnd + release, 64);
        const double lag = 2.0 * eng::vocal::ShimmerCore::controlInterval / rate;
        EXPECT_LE(core.getShelfGainDb(), 9.4 * (1.0 - 0.8 * std::exp(-1.0)) + 0.006);
        EXPECT_GE(core.getShelfGainDb(), 9.4 * (1.0 - 0.8 * std::exp(-(0.060 - lag) / 0.060)) - 0.006);

        r.run(shimmer, essEnd + release, n, 64);
        EXPECT_NEAR(core.getShelfGainDb(), 9.4, 0.02);
    }
}

TEST(Shimmer, ownEssMeasurementEasesTheShelfWhileAnEssSounds)
{
    for (double fs : hostRates)
    {
        SCOPED_TRACE(testing::Message() << "host rate " << fs);
        const double rate = 2.0 * fs;
        const int essEnd = samplesFor(0.2, rate);
        const int n = samplesFor(0.8, rate);
        Signal input = sine(n, 200.0, rate, 0.1);
        const Signal ess = sine(n, 7000.0, rate, 0.5);
        for (int i = 0; i < essEnd; ++i)
            input[static_cast<size_t>(i)] += ess[static_cast<size_t>(i)];

        Shimmer shimmer = prepared(fs, 10.0f, silk);
        Render r(input);
        r.run(shimmer, 0, essEnd);
        const auto& core = shimmer.getActiveCore();
        EXPECT_NEAR(core.getShelfGainDb(), 9.4 * 0.2, 0.006);
        EXPECT_NEAR(core.getEasing(), 1.0, 1e-3);

        r.run(shimmer, essEnd, n);
        EXPECT_NEAR(core.getShelfGainDb(), 9.4, 0.02);
    }
}

// Each character's harsh band is a sine at its centre: 10 dB above the half- and double-frequency
// bands, level with the full signal.
TEST(Shimmer, minusTenCutsABandThatStandsOutByTwelveDbReleasedOverEightyMs)
{
    double worstCentre = 0.0;
    for (double fs : hostRates)
        for (int character : {silk, air, glass})
        {
            SCOPED_TRACE(testing::Message() << characterNames[character] << " at " << fs);
            const double rate = 2.0 * fs;
            const double centreHz = eng::vocal::tune::shimmerChars[static_cast<size_t>(character)][7];
            const int steady = samplesFor(0.25, rate);
            const int n = steady + 2 * samplesFor(0.080, fs);
            const Signal input = sine(n, centreHz, rate, 0.3);

            Shimmer shimmer = prepared(fs, -10.0f, character);
            Render r(input);
            r.run(shimmer, 0, steady);
            const auto& core = shimmer.getActiveCore();
            EXPECT_NEAR(core.getReductionDb(), 12.0, 0.01);
            // The cut is x + (g - 1) bp(x) with the matched band-pass, which is not quite zero-phase
            // at its centre: the centre loses up to 0.85 dB of the 12 (Air at 44.1 kHz).
            const std::complex<double> bp =
                response(eng::md::designBandPass(rate, centreHz, 1.4), 2.0 * pi * centreHz / rate);
            const double expectedDb = 20.0 * std::log10(std::abs(1.0 + (std::pow(10.0, -0.6) - 1.0) * bp));
            const int window = samplesFor(0.05, rate);
            const double measuredDb = gainDbAt(input, r.left, steady - window, window, centreHz, rate);
            EXPECT_NEAR(measuredDb, expectedDb, 0.03);
            EXPECT_NEAR(measuredDb, -12.0, 0.9);
            worstCentre = std::max(worstCentre, measuredDb + 12.0);
            EXPECT_NEAR(shimmer.takeMeter().tamingPeakDb, 12.0, 0.01);
            EXPECT_FALSE(core.isShelfOn());

            // With the amount back at 0 the cut lets go with the 80 ms release.
            shimmer.set({0.0f, character, true});
            r.run(shimmer, steady, n);
            EXPECT_NEAR(core.getReductionDb(), 12.0 * std::exp(-1.0), 0.02);
            EXPECT_TRUE(shimmer.isActive()) << "still releasing";
        }
    std::printf("[ shimmer  ] -10 on a standing-out band: centre cut short of 12 dB by at most %.3f dB\n",
                worstCentre);
}

TEST(Shimmer, minusTenLeavesBandsThatDoNotStandOutOrAreTooQuiet)
{
    struct Case
    {
        const char* name;
        std::function<Signal(int n, double centreHz, double rate)> make;
    };
    const Case cases[] = {
        {"centre 6 dB below its neighbours", [](int n, double c, double rate)
         { return sine(n, c, rate, 0.15) + sine(n, 0.5 * c, rate, 0.3) + sine(n, 2.0 * c, rate, 0.3, 1.0); }},
        {"centre 55 dB below a low carrier", [](int n, double c, double rate)
         { return sine(n, 30.0, rate, 0.3) + sine(n, c, rate, 0.3 * 0.0017783); }},
    };
    const double fs = 48000.0, rate = 2.0 * fs;
    for (const Case& k : cases)
        for (int character : {silk, air, glass})
        {
            SCOPED_TRACE(testing::Message() << k.name << ", " << characterNames[character]);
            const double centreHz = eng::vocal::tune::shimmerChars[static_cast<size_t>(character)][7];
            const int n = samplesFor(0.8, rate), from = samplesFor(0.5, rate);
            const Signal input = k.make(n, centreHz, rate);
            Shimmer shimmer = prepared(fs, -10.0f, character);
            Render r(input);
            r.run(shimmer, 0, from);
            shimmer.takeMeter(); // followers starting from nothing may cut briefly
            r.run(shimmer, from, n);
            EXPECT_LT(shimmer.takeMeter().tamingPeakDb, 0.01f);
            EXPECT_NEAR(gainDbAt(input, r.left, from, n - from, centreHz, rate), 0.0, 0.01);
        }
}

TEST(Shimmer, negativeAmountsNeverLiftOrSparkle)
{
    for (double fs : hostRates)
    {
        const double rate = 2.0 * fs;
        const int n = samplesFor(0.4, rate);
        const Signal input = noise(n, 0.3, 11u) + sine(n, 9000.0, rate, 0.2);
        eng::md::Design high;
        eng::md::design(high, eng::md::highPass, 3, rate, 9000.0, 0.0, 0.70710678);
        const auto highEnergy = [&](Signal x)
        {
            eng::md::Cascade<2> filter;
            filter.setDesign(high);
            filter.process(x.data(), n);
            double e = 0.0;
            for (float v : x)
                e += static_cast<double>(v) * v;
            return e;
        };
        const double inputHigh = highEnergy(input);

        for (int character : {silk, air, glass})
            for (float amount : {-10.0f, -2.5f, -0.1f})
            {
                SCOPED_TRACE(testing::Message()
                             << characterNames[character] << " at " << amount << ", " << fs);
                Shimmer shimmer = prepared(fs, amount, character);
                Render r(input);
                for (int pos = 0; pos < n; pos += 512)
                {
                    r.piece(shimmer, pos, std::min(512, n - pos));
                    ASSERT_FALSE(shimmer.getActiveCore().isShelfOn());
                    ASSERT_FALSE(shimmer.getActiveCore().isShelfMoving());
                }
                const ShimmerMeter m = shimmer.takeMeter();
                EXPECT_EQ(m.sparklePower, 0.0);
                EXPECT_EQ(m.liftSumDb, 0.0);
                EXPECT_LE(highEnergy(r.left), inputHigh * 1.0001);
            }
    }
}

TEST(Shimmer, positiveAmountsNeverCut)
{
    for (double fs : hostRates)
        for (int character : {silk, air, glass})
            for (float amount : {10.0f, 2.5f, 0.1f})
            {
                SCOPED_TRACE(testing::Message()
                             << characterNames[character] << " at " << amount << ", " << fs);
                const double rate = 2.0 * fs;
                const double centreHz = eng::vocal::tune::shimmerChars[static_cast<size_t>(character)][7];
                const int n = samplesFor(0.3, rate);
                const Signal input = sine(n, centreHz, rate, 0.3) + noise(n, 0.003, 5u);
                Shimmer shimmer = prepared(fs, amount, character);
                Render r(input);
                for (int pos = 0; pos < n; pos += 512)
                {
                    r.piece(shimmer, pos, std::min(512, n - pos));
                    ASSERT_EQ(shimmer.getActiveCore().getReductionDb(), 0.0f);
                }
                EXPECT_EQ(shimmer.takeMeter().tamingPeakDb, 0.0f);
                EXPECT_GE(gainDbAt(input, r.left, n / 2, n / 2, centreHz, rate), -0.001);
            }
}

TEST(Shimmer, onlyGlassSparkles)
{
    for (double fs : hostRates)
        for (int character : {silk, air, glass})
        {
            SCOPED_TRACE(testing::Message() << characterNames[character] << " at " << fs);
            const double rate = 2.0 * fs;
            const int n = samplesFor(0.4, rate);
            const Signal input = noise(n, 0.2, 3u) + sine(n, 180.0, rate, 0.3);
            Shimmer shimmer = prepared(fs, 10.0f, character);
            Render r(input);
            r.run(shimmer, 0, n / 2);
            shimmer.takeMeter();
            r.run(shimmer, n / 2, n);
            const ShimmerMeter m = shimmer.takeMeter();
            if (character == glass)
            {
                // A trace: some 30 dB under the 3.5..7 kHz band (about -30 dBFS here), but there.
                EXPECT_GT(m.sparkleDb(), -75.0f);
                EXPECT_LT(m.sparkleDb(), -50.0f);
                if (fs == 48000.0)
                    std::printf("[ shimmer  ] Glass +10 sparkle on noise and a sine: %.1f dB\n",
                                static_cast<double>(m.sparkleDb()));
            }
            else
            {
                EXPECT_EQ(m.sparklePower, 0.0);
                EXPECT_EQ(m.sparkleDb(), -120.0f);
            }
        }
}

TEST(Shimmer, glassSparkleFollowsTheAmountAndStopsBelowZero)
{
    const double fs = 48000.0, rate = 2.0 * fs;
    const int n = samplesFor(0.3, rate);
    const Signal input = noise(n, 0.2, 3u);
    float previous = -200.0f;
    for (float amount : {1.0f, 3.0f, 10.0f})
    {
        Shimmer shimmer = prepared(fs, amount, glass);
        Render r(input);
        r.run(shimmer, 0, n / 2);
        shimmer.takeMeter();
        r.run(shimmer, n / 2, n);
        const float db = shimmer.takeMeter().sparkleDb();
        EXPECT_GT(db, previous + 5.0f) << "amount " << amount;
        previous = db;
    }

    // From +10 to -10 mid-stream: the sparkle is gone within two control intervals.
    Shimmer shimmer = prepared(fs, 10.0f, glass);
    Render r(input);
    r.run(shimmer, 0, n / 2);
    shimmer.set({-10.0f, glass, true});
    r.run(shimmer, n / 2, n / 2 + 2 * eng::vocal::ShimmerCore::controlInterval);
    shimmer.takeMeter();
    r.run(shimmer, n / 2 + 2 * eng::vocal::ShimmerCore::controlInterval, n);
    EXPECT_EQ(shimmer.takeMeter().sparklePower, 0.0);
}

// The two characters treat the signal very differently where its natural steps are small, so a
// core switched in without the crossfade (starting from cleared states) would jump.
TEST(Shimmer, characterChangeCrossfadesTheCoresWithoutAClick)
{
    struct Case
    {
        const char* name;
        float amount;
        int from, to;
        std::function<Signal(int n, double rate)> make;
    };
    const Case cases[] = {
        {"taming, Silk to Glass on a harsh 4 kHz", -10.0f, silk, glass,
         [](int n, double rate) { return sine(n, 4000.0, rate, 0.3); }},
        {"lift, Silk to Air on a low tone with a quiet 14 kHz", 10.0f, silk, air,
         [](int n, double rate) { return sine(n, 200.0, rate, 0.5) + sine(n, 14000.0, rate, 0.02, 0.4); }},
    };
    for (double fs : hostRates)
        for (const Case& k : cases)
        {
            SCOPED_TRACE(testing::Message() << k.name << " at " << fs);
            const double rate = 2.0 * fs;
            const int n = samplesFor(0.4, rate);
            const Signal input = k.make(n, rate);
            const int change = 2 * samplesFor(0.2, fs);
            const int fadeLength = samplesFor(0.020, rate);
            const int warm = samplesFor(0.1, rate);

            float steadyStep = 0.0f;
            for (int character : {k.from, k.to})
            {
                Shimmer steady = prepared(fs, k.amount, character);
                Render r(input);
                r.run(steady, 0, n);
                steadyStep = std::max(steadyStep, largestStep(r.left, warm, n));
            }

            Shimmer shimmer = prepared(fs, k.amount, k.from);
            Render r(input);
            r.run(shimmer, 0, change);
            shimmer.set({k.amount, k.to, true});
            EXPECT_TRUE(shimmer.isCrossfading());
            EXPECT_EQ(shimmer.getIncomingCharacter(), k.to);
            r.run(shimmer, change, change + fadeLength - 2);
            EXPECT_TRUE(shimmer.isCrossfading());
            EXPECT_EQ(shimmer.getCharacter(), k.from);
            r.run(shimmer, change + fadeLength - 2, n);
            EXPECT_FALSE(shimmer.isCrossfading());
            EXPECT_EQ(shimmer.getCharacter(), k.to);

            const double changeStep = largestStep(r.left, warm, n);
            EXPECT_LE(changeStep, steadyStep * 1.02);
            if (fs == 48000.0)
                std::printf("[ shimmer  ] %s: largest step %.5f, steady renders %.5f\n", k.name, changeStep,
                            steadyStep);
        }
}

TEST(Shimmer, characterChangeDuringACrossfadeWaitsForItsEnd)
{
    const double fs = 48000.0, rate = 2.0 * fs;
    const int n = samplesFor(0.2, rate);
    const int fadeLength = samplesFor(0.020, rate);
    const Signal input = noise(n, 0.2, 1u);

    struct Case
    {
        const char* name;
        int second;         // asked for during the first crossfade (Silk -> Air)
        int afterFirstFade; // heard once the first fade has ended
        bool fadesAgain;
    };
    const Case cases[] = {
        {"a third character follows", glass, air, true},
        {"back to the first follows", silk, air, true},
        {"the running target cancels", air, air, false},
    };
    for (const Case& k : cases)
    {
        SCOPED_TRACE(k.name);
        Shimmer shimmer = prepared(fs, 5.0f, silk);
        Render r(input);
        r.run(shimmer, 0, 1000);
        shimmer.set({5.0f, air, true});
        r.run(shimmer, 1000, 1000 + fadeLength / 2);
        shimmer.set({5.0f, glass, true}); // replaced by the next request
        shimmer.set({5.0f, k.second, true});
        r.run(shimmer, 1000 + fadeLength / 2, 1000 + fadeLength);
        EXPECT_EQ(shimmer.getCharacter(), k.afterFirstFade);
        EXPECT_EQ(shimmer.isCrossfading(), k.fadesAgain);
        r.run(shimmer, 1000 + fadeLength, n);
        EXPECT_FALSE(shimmer.isCrossfading());
        EXPECT_EQ(shimmer.getCharacter(), k.second);
    }
}

TEST(Shimmer, switchingOffFadesOutOverTwentyMsAndOnAgainStartsClean)
{
    for (double fs : hostRates)
    {
        SCOPED_TRACE(testing::Message() << "host rate " << fs);
        const double rate = 2.0 * fs;
        const int fadeLength = samplesFor(0.020, rate);
        const int n = samplesFor(0.6, rate);
        const Signal input = sine(n, 4000.0, rate, 0.3);
        Shimmer shimmer = prepared(fs, -10.0f, silk);
        Render r(input);
        const int offAt = samplesFor(0.2, rate) & ~1;
        r.run(shimmer, 0, offAt);
        ASSERT_NEAR(shimmer.getActiveCore().getReductionDb(), 12.0, 0.05);

        shimmer.set({-10.0f, silk, false});
        r.run(shimmer, offAt, offAt + fadeLength / 2 * 2);
        EXPECT_NEAR(shimmer.getFade(), 1.0 - static_cast<double>(fadeLength / 2 * 2) / fadeLength, 1e-4);
        const int onAt = offAt + 2 * fadeLength;
        r.run(shimmer, offAt + fadeLength / 2 * 2, onAt);
        EXPECT_EQ(shimmer.getFade(), 0.0f);
        EXPECT_FALSE(shimmer.isActive());
        for (int i = offAt + fadeLength; i < onAt; ++i)
        {
            ASSERT_EQ(r.left[static_cast<size_t>(i)], input[static_cast<size_t>(i)]) << "sample " << i;
            ASSERT_EQ(r.listenLeft[static_cast<size_t>(i)], 0.0f) << "sample " << i;
        }

        // Back on: every follower starts from nothing, so the cut builds up again.
        shimmer.set({-10.0f, silk, true});
        EXPECT_EQ(shimmer.getActiveCore().getReductionDb(), 0.0f);
        EXPECT_EQ(shimmer.getActiveCore().getEasing(), 0.0f);
        r.run(shimmer, onAt, onAt + 2);
        EXPECT_LT(shimmer.getActiveCore().getReductionDb(), 0.1f);
        r.run(shimmer, onAt + 2, n);
        EXPECT_NEAR(shimmer.getActiveCore().getReductionDb(), 12.0, 0.05);
        EXPECT_EQ(shimmer.getFade(), 1.0f);
    }
}

TEST(Shimmer, firstSettingIsTakenDirectly)
{
    Shimmer shimmer;
    shimmer.prepare(96000.0, 2);
    shimmer.set({10.0f, glass, false});
    EXPECT_EQ(shimmer.getCharacter(), glass);
    EXPECT_FALSE(shimmer.isCrossfading());
    EXPECT_EQ(shimmer.getFade(), 0.0f);
    EXPECT_FALSE(shimmer.isActive());

    // While fully off a character change is taken at once, with nothing to crossfade.
    shimmer.set({10.0f, air, false});
    EXPECT_EQ(shimmer.getCharacter(), air);
    EXPECT_FALSE(shimmer.isCrossfading());
    shimmer.set({10.0f, silk, true});
    EXPECT_EQ(shimmer.getCharacter(), silk);
    EXPECT_FALSE(shimmer.isCrossfading());
    EXPECT_TRUE(shimmer.isActive());
}

TEST(Shimmer, listenIsWhatShimmerAddsOrTakesOut)
{
    const double fs = 48000.0, rate = 2.0 * fs;
    const int n = samplesFor(0.3, rate);
    const Signal input = noise(n, 0.2, 21u) + sine(n, 3000.0, rate, 0.3);
    for (float amount : {7.0f, -7.0f})
    {
        SCOPED_TRACE(testing::Message() << "amount " << amount);
        Shimmer shimmer = prepared(fs, amount, glass);
        Render r(input);
        r.run(shimmer, 0, n / 2, 100);
        shimmer.set({amount, silk, true}); // a crossfade inside the render
        r.run(shimmer, n / 2, n, 100);
        double listenEnergy = 0.0;
        for (int i = 0; i < n; ++i)
        {
            const auto k = static_cast<size_t>(i);
            ASSERT_EQ(r.listenLeft[k], r.left[k] - input[k]) << "sample " << i;
            ASSERT_EQ(r.listenRight[k], r.right[k] - input[k]) << "sample " << i;
            listenEnergy += static_cast<double>(r.listenLeft[k]) * r.listenLeft[k];
        }
        EXPECT_GT(listenEnergy, 1.0);
    }
}

TEST(Shimmer, liftAndTamingDisplaysCountTheFade)
{
    const double fs = 48000.0, rate = 2.0 * fs;
    const int n = samplesFor(0.4, rate);
    const int fadeLength = samplesFor(0.020, rate);
    // Switched off at half time: the fade runs linearly from 1 to 0 and then nothing is counted.
    const auto fadeOut = [&](float amount, const Signal& input)
    {
        Shimmer shimmer = prepared(fs, amount, silk);
        Render r(input);
        r.run(shimmer, 0, n / 2);
        const ShimmerMeter steady = shimmer.takeMeter();
        shimmer.set({amount, silk, false});
        r.run(shimmer, n / 2, n);
        const ShimmerMeter faded = shimmer.takeMeter();
        EXPECT_EQ(faded.samples, fadeLength);
        EXPECT_EQ(shimmer.takeMeter().samples, 0) << "taking clears";
        return std::make_pair(steady, faded);
    };

    // The lift counts on average half over the fade.
    const auto [liftSteady, liftFaded] = fadeOut(10.0f, sine(n, 200.0, rate, 0.5));
    EXPECT_NEAR(liftSteady.liftDb(), 6.013, 0.001);
    EXPECT_NEAR(liftFaded.liftSumDb, 6.013 * 0.5 * (fadeLength - 1), 6.013 * fadeLength * 1e-4);

    // The taming peak is the reduction times the fade, largest at the fade's first sample.
    const auto [tameSteady, tameFaded] = fadeOut(-10.0f, sine(n, 4000.0, rate, 0.3));
    EXPECT_NEAR(tameSteady.tamingPeakDb, 12.0, 0.01);
    EXPECT_NEAR(tameFaded.tamingPeakDb, 12.0 * (1.0 - 1.0 / fadeLength), 0.01);
    EXPECT_EQ(tameFaded.liftSumDb, 0.0);
}

TEST(Shimmer, monoMatchesEitherSideOfAnIdenticalStereoPair)
{
    const double fs = 44100.0, rate = 2.0 * fs;
    const int n = samplesFor(0.3, rate);
    const Signal input = noise(n, 0.2, 4u) + sine(n, 7000.0, rate, 0.2);
    for (float amount : {10.0f, -10.0f})
    {
        Shimmer stereo = prepared(fs, amount, glass);
        Shimmer mono = prepared(fs, amount, glass, true, 1);
        Render s(input), m(input);
        s.run(stereo, 0, n);
        m.run(mono, 0, n);
        for (int i = 0; i < n; ++i)
            ASSERT_EQ(m.left[static_cast<size_t>(i)], s.left[static_cast<size_t>(i)]) << "sample " << i;
        // Mono wrote only its one channel.
        EXPECT_EQ(m.right, input);
    }
}

TEST(Shimmer, onePieceAndRandomPiecesGiveIdenticalOutput)
{
    for (double fs : hostRates)
    {
        SCOPED_TRACE(testing::Message() << "host rate " << fs);
        const double rate = 2.0 * fs;
        const int n = 2 * samplesFor(0.4, fs);
        const Signal input = noise(n, 0.2, 17u) + sine(n, 5000.0, rate, 0.3) + sine(n, 150.0, rate, 0.3);
        Signal trace(static_cast<size_t>(n / 2));
        for (size_t i = 0; i < trace.size(); ++i)
            trace[i] = static_cast<float>(0.5 + 0.5 * std::sin(2.0 * pi * 3.0 * static_cast<double>(i) / fs));

        // Settings change at fixed places, which both renders cut at.
        struct Change
        {
            int at;
            float amount;
            int character;
            bool on;
        };
        const Change changes[] = {{0, 10.0f, glass, true},
                                  {n / 5 & ~1, 10.0f, silk, true},
                                  {n / 4 & ~1, -8.0f, air, true},
                                  {n / 2 & ~1, -8.0f, air, false},
                                  {3 * n / 5 & ~1, 4.0f, glass, true},
                                  {7 * n / 10 & ~1, 0.0f, glass, true}, // rests
                                  {4 * n / 5 & ~1, 6.0f, silk, true}};

        const auto render = [&](bool randomPieces)
        {
            Shimmer shimmer;
            shimmer.prepare(rate, 2);
            Render r(input);
            r.trace = trace;
            std::mt19937 pieces(5u);
            for (size_t c = 0; c < std::size(changes); ++c)
            {
                shimmer.set({changes[c].amount, changes[c].character, changes[c].on});
                const int end = c + 1 < std::size(changes) ? changes[c + 1].at : n;
                for (int pos = changes[c].at; pos < end;)
                {
                    const int host = randomPieces ? std::uniform_int_distribution<int>(1, 300)(pieces) : n;
                    const int len = std::min(2 * host, end - pos);
                    r.piece(shimmer, pos, len);
                    pos += len;
                }
            }
            return r;
        };
        const Render whole = render(false), cut = render(true);
        for (int i = 0; i < n; ++i)
        {
            ASSERT_EQ(whole.left[static_cast<size_t>(i)], cut.left[static_cast<size_t>(i)]) << "sample " << i;
            ASSERT_EQ(whole.right[static_cast<size_t>(i)], cut.right[static_cast<size_t>(i)])
                << "sample " << i;
            ASSERT_EQ(whole.listenLeft[static_cast<size_t>(i)], cut.listenLeft[static_cast<size_t>(i)])
                << "sample " << i;
        }
    }
}

TEST(Shimmer, settingsAndProcessingDoNotAllocate)
{
    for (int channels : {1, 2})
    {
        Shimmer shimmer;
        shimmer.prepare(96000.0, channels);
        const int n = 1024;
        Render r(noise(n * 8, 0.3, 2u));
        r.trace.assign(static_cast<size_t>(n * 4), 0.3f);
        int pos = 0;
        for (int character : {silk, glass, air})
            for (float amount : {10.0f, -10.0f})
            {
                EXPECT_NO_HEAP(shimmer.set({amount, character, true}));
                EXPECT_NO_HEAP(r.piece(shimmer, pos, n));
                pos = (pos + n) % (n * 7);
            }
        EXPECT_NO_HEAP(shimmer.set({5.0f, silk, false}));
        EXPECT_NO_HEAP(r.piece(shimmer, 0, n));
        EXPECT_NO_HEAP(shimmer.set({5.0f, air, true}));
        EXPECT_NO_HEAP(r.piece(shimmer, 0, n));
        EXPECT_NO_HEAP(shimmer.takeMeter());
    }
}
