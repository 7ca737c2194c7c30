#include "sorvel/engine/primitives/Oversampler2x.h"
#include "support/Signals.h"
#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace
{
using testsupport::pi;
using cd = std::complex<double>;

// Complex amplitude of the sinusoid at `omega` (radians per sample) in x[start .. start + count),
// by least squares against cos and sin, so that partial cycles do not bias it.
cd fitSine(const std::vector<float>& x, double omega, int start, int count)
{
    double cc = 0, ss = 0, cs = 0, xc = 0, xs = 0;
    for (int i = start; i < start + count; ++i)
    {
        const double c = std::cos(omega * i), s = std::sin(omega * i);
        const double v = x[static_cast<size_t>(i)];
        cc += c * c;
        ss += s * s;
        cs += c * s;
        xc += v * c;
        xs += v * s;
    }
    const double det = cc * ss - cs * cs;
    const double a = (xc * ss - xs * cs) / det; // x ~ a cos + b sin = Re((a - jb) e^(j omega i))
    const double b = (xs * cc - xc * cs) / det;
    return {a, -b};
}

std::vector<float> sine(int n, double omega, double amplitude = 0.5)
{
    std::vector<float> x(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        x[static_cast<size_t>(i)] = static_cast<float>(amplitude * std::sin(omega * i));
    return x;
}

// Zero-phase amplitude of the kernel at theta (radians per doubled-rate sample).
double kernelAmplitude(const sv::Oversampler2x& os, double theta)
{
    double a = 0.0;
    for (int i = 0; i < sv::Oversampler2x::numTaps; ++i)
        a += os.getKernel()[static_cast<size_t>(i)] * std::cos((i - sv::Oversampler2x::centreTap) * theta);
    return a;
}

// Up then down, in pieces of the given sizes (cycled).
std::vector<float> roundTrip(const std::vector<float>& x, const std::vector<int>& pieces)
{
    sv::Oversampler2x upper, downer;
    upper.prepare();
    downer.prepare();
    std::vector<float> doubled(2 * x.size()), y(x.size());
    int pos = 0;
    size_t k = 0;
    while (pos < static_cast<int>(x.size()))
    {
        const int n = std::min(pieces[k++ % pieces.size()], static_cast<int>(x.size()) - pos);
        float* d = doubled.data() + 2 * pos;
        EXPECT_NO_HEAP(upper.up(x.data() + pos, d, n));
        EXPECT_NO_HEAP(downer.down(d, y.data() + pos, n));
        pos += n;
    }
    return y;
}

std::vector<int> randomPieces(unsigned seed, int largest)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> size(1, largest);
    std::vector<int> pieces(64);
    for (auto& p : pieces)
        p = size(rng);
    return pieces;
}
} // namespace

TEST(Oversampler2x, kernelIsANormalisedLinearPhaseHalfBand)
{
    sv::Oversampler2x os;
    os.prepare();
    const auto& h = os.getKernel();
    double sum = 0.0;
    for (int i = 0; i < sv::Oversampler2x::numTaps; ++i)
    {
        sum += h[static_cast<size_t>(i)];
        EXPECT_EQ(h[static_cast<size_t>(i)], h[static_cast<size_t>(62 - i)]) << "tap " << i;
        const int a = i - sv::Oversampler2x::centreTap;
        if (a != 0 && a % 2 == 0)
        {
            EXPECT_EQ(h[static_cast<size_t>(i)], 0.0) << "tap " << i;
        }
    }
    EXPECT_NEAR(sum, 1.0, 1e-12);
    // The centre is 0.5 before normalisation; the Kaiser window (beta 7) leaves the sum within 2e-5 of 1.
    EXPECT_NEAR(h[31], 0.5, 2e-5);
    EXPECT_GT(std::abs(h[0]), 1e-5) << "the window leaves the outermost taps in";
}

TEST(Oversampler2x, dcPassesWithUnityGainThroughUpThenDown)
{
    const std::vector<float> x(1000, 0.75f);
    const auto y = roundTrip(x, {1000});
    for (size_t i = 62; i < y.size(); ++i)
        ASSERT_NEAR(y[i], 0.75f, 0.75f * 2e-6f) << "sample " << i;
}

// Response of the pair at named fractions of the host rate: the measured gain equals the one that
// follows from the 63-tap kernel (A(w/2)^2 + A(w/2 + pi)^2), the phase is exactly 31 samples of
// delay, and the passband stays flat up to 0.45 of the host rate (-0.45 dB there).
TEST(Oversampler2x, roundTripPassesTheBandUpTo045OfTheHostRate)
{
    struct Case
    {
        double fraction;
        double lowestDb;
    };
    const Case cases[] = {{0.01, -0.001}, {0.1, -0.001}, {0.25, -0.001},
                          {0.4, -0.005},  {0.43, -0.02}, {0.45, -0.46}};
    sv::Oversampler2x reference;
    reference.prepare();
    for (const auto& c : cases)
    {
        const double omega = 2.0 * pi * c.fraction;
        const auto x = sine(6000, omega);
        const auto y = roundTrip(x, {512});
        const cd ratio = fitSine(y, omega, 200, 5000) / fitSine(x, omega, 200, 5000);
        const double gainDb = 20.0 * std::log10(std::abs(ratio));
        const double a = kernelAmplitude(reference, omega / 2),
                     b = kernelAmplitude(reference, omega / 2 + pi);
        EXPECT_NEAR(gainDb, 20.0 * std::log10(a * a + b * b), 1e-3) << "at " << c.fraction << " fs";
        EXPECT_GE(gainDb, c.lowestDb) << "at " << c.fraction << " fs";
        EXPECT_LE(gainDb, 0.001) << "at " << c.fraction << " fs";
        const double delay = -std::arg(ratio) / omega;
        EXPECT_NEAR(std::remainder(delay - 31.0, 2.0 * pi / omega), 0.0, 1e-3)
            << "at " << c.fraction << " fs";
    }
}

// Content between the host Nyquist and the doubled rate's Nyquist (what the saturator makes) is
// gone after decimation: at least 70 dB down from 0.58 of the host rate up, 31 dB at 0.55.
TEST(Oversampler2x, downSamplerRemovesContentAboveTheHostNyquist)
{
    struct Case
    {
        double fraction; // of the host rate
        double rejectionDb;
    };
    const Case cases[] = {{0.55, 31.0}, {0.58, 70.0}, {0.6, 73.0}, {0.7, 85.0},
                          {0.8, 85.0},  {0.9, 85.0},  {0.99, 85.0}};
    for (const auto& c : cases)
    {
        const double doubledOmega = pi * c.fraction;
        const auto doubled = sine(12000, doubledOmega);
        sv::Oversampler2x downer;
        downer.prepare();
        std::vector<float> y(6000);
        downer.down(doubled.data(), y.data(), 6000);
        // What survives shows up at the alias, fs - f.
        const double aliasOmega = 2.0 * pi * (1.0 - c.fraction);
        const double level = std::abs(fitSine(y, aliasOmega, 100, 5800)) / 0.5;
        EXPECT_LE(20.0 * std::log10(level + 1e-12), -c.rejectionDb) << "at " << c.fraction << " fs";
    }
}

// The up-sampler alone interpolates the host-rate signal 15.5 samples late and leaves its image
// above the host Nyquist 70 dB down.
TEST(Oversampler2x, upSamplerInterpolatesAndSuppressesTheImage)
{
    const double fractions[] = {0.05, 0.2, 0.3, 0.4};
    for (double f : fractions)
    {
        const double omega = 2.0 * pi * f;
        const auto x = sine(4000, omega);
        sv::Oversampler2x upper;
        upper.prepare();
        std::vector<float> doubled(8000);
        upper.up(x.data(), doubled.data(), 4000);
        const cd wanted = fitSine(doubled, omega / 2, 200, 7600);
        const double delay = -std::arg(wanted / cd(0.0, -0.5)) / (omega / 2); // sin = Re(-j e^(j w i))
        EXPECT_NEAR(std::remainder(delay - 31.0, 4.0 * pi / omega), 0.0, 1e-3) << "at " << f << " fs";
        EXPECT_NEAR(20.0 * std::log10(std::abs(wanted) / 0.5), 0.0, 0.01) << "at " << f << " fs";
        const double image = std::abs(fitSine(doubled, pi - omega / 2, 200, 7600)) / 0.5;
        EXPECT_LE(20.0 * std::log10(image + 1e-12), -70.0) << "at " << f << " fs";
    }
}

// An impulse comes out of the pair 31 samples later, symmetric around that sample, whatever the
// piece sizes; random audio gives the same samples for one long piece and for random pieces.
TEST(Oversampler2x, roundTripDelaysExactly31SamplesAcrossAnyPieceSizes)
{
    std::vector<float> impulse(400, 0.0f);
    impulse[150] = 1.0f;
    for (unsigned seed : {1u, 2u, 3u})
    {
        const auto y = roundTrip(impulse, randomPieces(seed, 300));
        const auto peak = std::max_element(y.begin(), y.end()) - y.begin();
        EXPECT_EQ(peak, 181) << "seed " << seed;
        // Two 63-tap filters at the doubled rate reach 31 host samples either side, and no further.
        for (int d = 1; d <= 31; ++d)
            ASSERT_NEAR(y[static_cast<size_t>(181 + d)], y[static_cast<size_t>(181 - d)], 1e-7)
                << "offset " << d;
        for (int d = 32; d <= 60; ++d)
        {
            ASSERT_EQ(y[static_cast<size_t>(181 + d)], 0.0f) << "offset " << d;
            ASSERT_EQ(y[static_cast<size_t>(181 - d)], 0.0f) << "offset " << -d;
        }
    }

    std::mt19937 rng(7);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> x(20000);
    for (auto& v : x)
        v = noise(rng);
    const auto whole = roundTrip(x, {20000});
    for (unsigned seed : {11u, 12u})
    {
        const auto pieces = roundTrip(x, randomPieces(seed, 700));
        for (size_t i = 0; i < x.size(); ++i)
            ASSERT_EQ(pieces[i], whole[i]) << "sample " << i << " seed " << seed;
    }
    const auto single = roundTrip(x, {1});
    for (size_t i = 0; i < x.size(); ++i)
        ASSERT_EQ(single[i], whole[i]) << "sample " << i;
}

TEST(Oversampler2x, downSamplesInPlaceAndClearForgetsTheHistory)
{
    const auto doubled = sine(2000, 0.3);
    sv::Oversampler2x a, b;
    a.prepare();
    b.prepare();
    std::vector<float> separate(1000);
    a.down(doubled.data(), separate.data(), 1000);
    auto inPlace = doubled;
    b.down(inPlace.data(), inPlace.data(), 1000);
    for (size_t i = 0; i < separate.size(); ++i)
        ASSERT_EQ(inPlace[i], separate[i]) << "sample " << i;

    // After clear the object behaves as freshly prepared.
    b.clear();
    std::vector<float> again(1000);
    b.down(doubled.data(), again.data(), 1000);
    for (size_t i = 0; i < separate.size(); ++i)
        ASSERT_EQ(again[i], separate[i]) << "sample " << i;
}

// The folded kernel against its definition, for every length around the 8-output blocks.
TEST(Oversampler2x, sumFoldedMatchesItsDefinitionForAnyLength)
{
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> taps(16), history(200);
    for (auto& t : taps)
        t = noise(rng);
    for (auto& h : history)
        h = noise(rng);
    for (int n = 0; n <= 40; ++n)
    {
        std::vector<float> out(static_cast<size_t>(n) + 1, 99.0f);
        EXPECT_NO_HEAP(sv::Oversampler2x::sumFolded(history.data(), taps.data(), out.data(), n));
        for (int k = 0; k < n; ++k)
        {
            double expected = 0.0;
            for (int j = 0; j < 16; ++j)
                expected += static_cast<double>(taps[static_cast<size_t>(j)]) *
                            (history[static_cast<size_t>(k + j)] + history[static_cast<size_t>(k + 31 - j)]);
            ASSERT_NEAR(out[static_cast<size_t>(k)], expected, 1e-5) << "n " << n << " k " << k;
        }
        EXPECT_EQ(out[static_cast<size_t>(n)], 99.0f) << "wrote past n = " << n;
    }
}
