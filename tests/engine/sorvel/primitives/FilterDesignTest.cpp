#include "sorvel/engine/primitives/FilterDesign.h"
#include "support/Signals.h"
#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace md = eng::md;

namespace
{
using cd = std::complex<double>;
using testsupport::pi;
constexpr double sqrtHalf = 0.7071067811865476;
constexpr double rates[] = {44100.0, 48000.0, 96000.0};

// Analog prototypes written out as transfer functions in s (independent of the design code's
// squared-magnitude forms). W is the frequency over the corner.
cd analogResponse(int kind, int slopeIndex, double gainDb, double q, double W)
{
    const cd s(0.0, W);
    const double A = std::pow(10.0, std::abs(gainDb) / 40.0);
    const double rA = std::sqrt(A);
    cd h = 1.0;
    switch (kind)
    {
    case md::bell:
        h = (s * s + s * A / q + 1.0) / (s * s + s / (A * q) + 1.0);
        return gainDb >= 0.0 ? h : 1.0 / h;
    case md::lowShelf:
        h = A * (s * s + s * rA / q + A) / (A * s * s + s * rA / q + 1.0);
        return gainDb >= 0.0 ? h : 1.0 / h;
    case md::highShelf:
        h = A * (A * s * s + s * rA / q + 1.0) / (s * s + s * rA / q + A);
        return gainDb >= 0.0 ? h : 1.0 / h;
    case md::highPass:
    case md::lowPass:
    {
        const int order = md::slopeDbPerOct(slopeIndex) / 6;
        for (int k = 1; k <= order / 2; ++k)
        {
            double qk = 0.5 / std::sin((2 * k - 1) * pi / (2.0 * order));
            if (k == 1)
                qk *= q / sqrtHalf;
            h *= (kind == md::highPass ? s * s : cd(1.0)) / (s * s + s / qk + 1.0);
        }
        if (order % 2 != 0)
            h *= (kind == md::highPass ? s : cd(1.0)) / (s + 1.0);
        return h;
    }
    default:
        return h;
    }
}

cd bandPassResponse(double q, double W)
{
    const cd s(0.0, W);
    return (s / q) / (s * s + s / q + 1.0);
}

cd lowPass2Response(double q, double W)
{
    const cd s(0.0, W);
    return 1.0 / (s * s + s / q + 1.0);
}

// Digital response by direct evaluation of the polynomials in z^-1.
double sectionSquared(const md::Section& s, double w)
{
    const cd z1 = std::polar(1.0, -w);
    const cd num = s.b0 + z1 * (s.b1 + z1 * s.b2);
    const cd den = 1.0 + z1 * (s.a1 + z1 * s.a2);
    return std::norm(num) / std::norm(den);
}

double designDb(const md::Design& d, double w)
{
    double p = 1.0;
    for (int k = 0; k < d.count; ++k)
        p *= sectionSquared(d.sections[static_cast<size_t>(k)], w);
    return 10.0 * std::log10(std::max(p, 1e-40));
}

double toDb(cd h)
{
    return 10.0 * std::log10(std::max(std::norm(h), 1e-40));
}

// Exactness at DC and at the match frequency, in dB: double precision leaves a little more for a
// corner of 1 Hz, whose poles sit within 1e-4 of the unit circle.
double exactDb(double hz)
{
    return hz < 10.0 ? 1e-4 : 1e-6;
}

double effectiveCorner(double rate, double hz)
{
    return std::max(1.0, std::min(hz, 0.499 * rate));
}

// Analog Q of a digital pole pair made by impulse invariance.
double poleQ(const md::Section& s)
{
    const double decay = -0.5 * std::log(s.a2);                       // z wp
    const double damped = std::acos(-s.a1 / (2.0 * std::sqrt(s.a2))); // wp sqrt(1 - z^2)
    const double wp = std::sqrt(decay * decay + damped * damped);
    return wp / (2.0 * decay);
}

bool polesInside(const md::Section& s)
{
    return std::abs(s.a2) < 1.0 && std::abs(s.a1) < 1.0 + s.a2;
}

// Zeros inside or on the unit circle (a zero at DC or Nyquist is allowed).
bool minimumPhase(const md::Section& s)
{
    const double tol = 1e-9 * s.b0;
    return s.b0 > 0.0 && std::abs(s.b2) <= s.b0 + tol && std::abs(s.b1) <= s.b0 + s.b2 + 2.0 * tol;
}

bool finite(const md::Section& s)
{
    return std::isfinite(s.b0) && std::isfinite(s.b1) && std::isfinite(s.b2) && std::isfinite(s.a1) &&
           std::isfinite(s.a2);
}

// Worst error over 0..0.9 Nyquist where the prototype is above -30 dB (where the fit trusts it).
template <typename Digital, typename Analog>
double worstErrorDb(double w0, Digital digitalDb, Analog analogDb, double* where)
{
    double worst = 0.0;
    for (int i = 1; i <= 360; ++i)
    {
        const double w = 0.9 * pi * i / 360.0;
        const double a = analogDb(w / w0);
        if (a < -30.0)
            continue;
        const double e = std::abs(digitalDb(w) - a);
        if (e > worst)
        {
            worst = e;
            *where = w;
        }
    }
    return worst;
}

std::vector<double> cornersFor(double rate)
{
    const double nyquist = 0.5 * rate;
    return {0.5,           30.0,           200.0,         1000.0,         5000.0, 12000.0,
            0.8 * nyquist, 0.85 * nyquist, 0.9 * nyquist, 0.97 * nyquist, 20000.0};
}

std::string describe(const char* kind, double rate, double hz, double gainDb, double q, int slope)
{
    char text[160];
    std::snprintf(text, sizeof text, "%s at %.0f Hz, corner %.1f Hz, gain %.1f dB, q %.3f, slope %d", kind,
                  rate, hz, gainDb, q, slope);
    return text;
}

// Worst measured error per kind (all corners, and corners up to half of Nyquist), printed once
// by the last accuracy test for the record.
std::map<std::string, std::pair<double, double>>& worstByKind()
{
    static std::map<std::string, std::pair<double, double>> table;
    return table;
}

void noteWorst(const std::string& kind, double error, double rate, double hz)
{
    auto& w = worstByKind()[kind];
    w.first = std::max(w.first, error);
    if (hz <= 0.25 * rate)
        w.second = std::max(w.second, error);
}
} // namespace

TEST(FilterDesign, slopeTableAndButterworthSectionCounts)
{
    const int slopes[] = {6, 12, 18, 24, 36, 48, 72, 96};
    for (int i = 0; i < 8; ++i)
    {
        EXPECT_EQ(md::slopeDbPerOct(i), slopes[i]);
        const int order = slopes[i] / 6;
        md::Design d;
        md::design(d, md::highPass, i, 48000.0, 100.0, 0.0, sqrtHalf);
        EXPECT_EQ(d.count, order / 2 + order % 2) << "high-pass slope index " << i;
        md::design(d, md::lowPass, i, 48000.0, 1000.0, 0.0, sqrtHalf);
        EXPECT_EQ(d.count, order / 2 + order % 2) << "low-pass slope index " << i;
    }
    EXPECT_EQ(md::slopeDbPerOct(-3), 6);
    EXPECT_EQ(md::slopeDbPerOct(99), 96);
}

// Bell, low shelf and high shelf: exact at DC and at the match frequency, close up to 0.9 Nyquist.
TEST(FilterDesign, bellsAndShelvesFollowThePrototype)
{
    struct KindCase
    {
        int kind;
        const char* name;
        std::vector<double> qs;
        double boundDb;
    };
    const KindCase kinds[] = {
        {md::bell, "bell", {0.5, 0.71, 2.0, 4.0}, 0.8},
        {md::lowShelf, "low shelf", {0.5, 0.71, 1.0}, 0.35},
        {md::highShelf, "high shelf", {0.5, 0.71, 1.0}, 0.35},
    };
    const double gains[] = {-12.0, -6.0, 3.0, 12.0};

    for (const auto& k : kinds)
        for (double rate : rates)
            for (double hz : cornersFor(rate))
                for (double g : gains)
                    for (double q : k.qs)
                    {
                        const std::string what = describe(k.name, rate, hz, g, q, 0);
                        md::Design d;
                        md::design(d, k.kind, 0, rate, hz, g, q);
                        ASSERT_EQ(d.count, 1) << what;

                        const double w0 = 2.0 * pi * effectiveCorner(rate, hz) / rate;
                        const double wm = std::min(w0, 0.85 * pi);
                        const auto analogDb = [&](double W)
                        { return toDb(analogResponse(k.kind, 0, g, q, W)); };
                        const auto digitalDb = [&](double w) { return designDb(d, w); };

                        EXPECT_NEAR(designDb(d, 0.0), analogDb(0.0), exactDb(hz)) << "DC, " << what;
                        EXPECT_NEAR(designDb(d, wm), analogDb(wm / w0), exactDb(hz))
                            << "match frequency, " << what;

                        double where = 0.0;
                        const double worst = worstErrorDb(w0, digitalDb, analogDb, &where);
                        noteWorst(k.name, worst, rate, hz);
                        EXPECT_LT(worst, k.boundDb) << "at " << where * rate / (2.0 * pi) << " Hz, " << what;
                    }
}

TEST(FilterDesign, butterworthHighAndLowPassFollowThePrototype)
{
    struct KindCase
    {
        int kind;
        const char* name;
        double boundDb;
    };
    const KindCase kinds[] = {{md::highPass, "Butterworth high-pass", 1.5},
                              {md::lowPass, "Butterworth low-pass", 1.0}};
    const double qs[] = {sqrtHalf, 1.0};

    for (const auto& k : kinds)
        for (int slope = 0; slope < 4; ++slope)
            for (double rate : rates)
                for (double hz : cornersFor(rate))
                    for (double q : qs)
                    {
                        const std::string what = describe(k.name, rate, hz, 0.0, q, slope);
                        md::Design d;
                        md::design(d, k.kind, slope, rate, hz, 0.0, q);
                        const int order = md::slopeDbPerOct(slope) / 6;
                        ASSERT_EQ(d.count, order / 2 + order % 2) << what;

                        const double w0 = 2.0 * pi * effectiveCorner(rate, hz) / rate;
                        const double wm = std::min(w0, 0.85 * pi);
                        const auto analogDb = [&](double W)
                        { return toDb(analogResponse(k.kind, slope, 0.0, q, W)); };
                        const auto digitalDb = [&](double w) { return designDb(d, w); };

                        if (k.kind == md::highPass)
                        {
                            EXPECT_EQ(md::squaredMagnitude(d.sections[0], 0.0), 0.0) << "DC, " << what;
                            EXPECT_NEAR(designDb(d, wm), analogDb(wm / w0), exactDb(hz))
                                << "match frequency, " << what;
                        }
                        else
                        {
                            EXPECT_NEAR(designDb(d, 0.0), 0.0, exactDb(hz)) << "DC, " << what;
                            // The odd first-order section is a least-squares fit, not matched.
                            if (order % 2 == 0)
                            {
                                EXPECT_NEAR(designDb(d, wm), analogDb(wm / w0), exactDb(hz))
                                    << "match frequency, " << what;
                            }
                        }

                        double where = 0.0;
                        const double worst = worstErrorDb(w0, digitalDb, analogDb, &where);
                        noteWorst(k.name, worst, rate, hz);
                        EXPECT_LT(worst, k.boundDb) << "at " << where * rate / (2.0 * pi) << " Hz, " << what;
                    }
}

TEST(FilterDesign, bandPassAndLowPass2FollowThePrototype)
{
    for (double rate : rates)
        for (double hz : cornersFor(rate))
        {
            const double w0 = 2.0 * pi * effectiveCorner(rate, hz) / rate;
            const double wm = std::min(w0, 0.85 * pi);
            for (double q : {0.7, 2.0, 4.3, 8.0})
            {
                const std::string what = describe("band-pass", rate, hz, 0.0, q, 0);
                md::Design d;
                d.count = 1;
                d.sections[0] = md::designBandPass(rate, hz, q);
                const auto analogDb = [&](double W) { return toDb(bandPassResponse(q, W)); };
                EXPECT_LT(md::squaredMagnitude(d.sections[0], 0.0), 1e-20) << "DC, " << what;
                EXPECT_NEAR(designDb(d, wm), analogDb(wm / w0), exactDb(hz)) << "match frequency, " << what;
                if (w0 <= 0.85 * pi)
                {
                    EXPECT_NEAR(designDb(d, w0), 0.0, exactDb(hz)) << "unity at the centre, " << what;
                }
                double where = 0.0;
                const double worst = worstErrorDb(
                    w0, [&](double w) { return designDb(d, w); }, analogDb, &where);
                noteWorst("band-pass", worst, rate, hz);
                EXPECT_LT(worst, 1.2) << "at " << where * rate / (2.0 * pi) << " Hz, " << what;
            }
            for (double q : {0.5, sqrtHalf, 2.0})
            {
                const std::string what = describe("low-pass 2", rate, hz, 0.0, q, 0);
                md::Design d;
                d.count = 1;
                d.sections[0] = md::designLowPass2(rate, hz, q);
                const auto analogDb = [&](double W) { return toDb(lowPass2Response(q, W)); };
                EXPECT_NEAR(designDb(d, 0.0), 0.0, exactDb(hz)) << "DC, " << what;
                EXPECT_NEAR(designDb(d, wm), analogDb(wm / w0), exactDb(hz)) << "match frequency, " << what;
                double where = 0.0;
                const double worst = worstErrorDb(
                    w0, [&](double w) { return designDb(d, w); }, analogDb, &where);
                noteWorst("low-pass 2", worst, rate, hz);
                EXPECT_LT(worst, 0.5) << "at " << where * rate / (2.0 * pi) << " Hz, " << what;
            }
        }

    // The worst errors of all accuracy tables, for the record.
    for (const auto& [kind, worst] : worstByKind())
        std::printf("[ worst    ] %-22s %.3f dB (corners up to Nyquist/2: %.3f dB)\n", kind.c_str(),
                    worst.first, worst.second);
}

TEST(FilterDesign, bellAt20kHzAt44kHzIsNotWarped)
{
    const double rate = 44100.0;
    const double w0 = 2.0 * pi * 20000.0 / rate;
    const double wm = 0.85 * pi;
    ASSERT_GT(w0, wm);

    // A narrow bell: its peak stays near 20 kHz (the bilinear transform would pull it far below).
    md::Design narrow;
    md::design(narrow, md::bell, 0, rate, 20000.0, 12.0, 4.0);
    double peakHz = 0.0, peakDb = -100.0;
    for (double hz = 10000.0; hz < 22050.0; hz += 10.0)
    {
        const double db = designDb(narrow, 2.0 * pi * hz / rate);
        if (db > peakDb)
        {
            peakDb = db;
            peakHz = hz;
        }
    }
    EXPECT_NEAR(peakHz, 20000.0, 500.0);
    EXPECT_NEAR(peakDb, 12.0, 1.0);
    EXPECT_NEAR(designDb(narrow, wm), toDb(analogResponse(md::bell, 0, 12.0, 4.0, wm / w0)), 1e-9)
        << "the match value is the prototype at 0.85 pi";

    // A broad one follows the analog curve below and at the corner.
    md::Design broad;
    md::design(broad, md::bell, 0, rate, 20000.0, 6.0, 0.71);
    for (double hz : {1000.0, 5000.0, 10000.0, 15000.0, 18000.0, 20000.0})
    {
        const double analog = toDb(analogResponse(md::bell, 0, 6.0, 0.71, hz / 20000.0));
        EXPECT_NEAR(designDb(broad, 2.0 * pi * hz / rate), analog, 0.15) << "at " << hz << " Hz";
    }
}

TEST(FilterDesign, boostThenSameCutIsFlat)
{
    for (int kind : {int(md::bell), int(md::lowShelf), int(md::highShelf)})
        for (double rate : rates)
            for (double hz : {80.0, 1000.0, 12000.0, 0.95 * 0.5 * rate})
                for (double g : {0.5, 6.0, 18.0})
                {
                    md::Design boost, cut;
                    md::design(boost, kind, 0, rate, hz, g, 0.8);
                    md::design(cut, kind, 0, rate, hz, -g, 0.8);
                    ASSERT_EQ(boost.count, 1);
                    ASSERT_EQ(cut.count, 1);
                    for (int i = 0; i <= 64; ++i)
                    {
                        const double w = pi * i / 64.0;
                        const double both = md::squaredMagnitude(boost.sections[0], w) *
                                            md::squaredMagnitude(cut.sections[0], w);
                        EXPECT_NEAR(both, 1.0, 1e-9) << "kind " << kind << " at " << rate << " Hz, corner "
                                                     << hz << ", gain " << g << ", w " << w;
                    }

                    // Run through the two sections: an impulse comes out as an impulse.
                    md::RunningSection a, b;
                    a.setCoefficients(boost.sections[0]);
                    b.setCoefficients(cut.sections[0]);
                    double worst = 0.0;
                    for (int i = 0; i < 2000; ++i)
                    {
                        const double y = b.processSample(a.processSample(i == 0 ? 1.0 : 0.0));
                        worst = std::max(worst, std::abs(y - (i == 0 ? 1.0 : 0.0)));
                    }
                    EXPECT_LT(worst, 1e-9) << "kind " << kind << ", corner " << hz << ", gain " << g;
                }

    // A high shelf of +6 dB is bit for bit the inverse of the -6 dB one.
    const md::Section up = md::designHighShelf(48000.0, 8000.0, 6.0, 0.65);
    const md::Section down = md::inverse(md::designHighShelf(48000.0, 8000.0, -6.0, 0.65));
    EXPECT_EQ(up.b0, down.b0);
    EXPECT_EQ(up.b1, down.b1);
    EXPECT_EQ(up.b2, down.b2);
    EXPECT_EQ(up.a1, down.a1);
    EXPECT_EQ(up.a2, down.a2);
}

TEST(FilterDesign, zeroGainIsUnityAndEveryDesignStartsFromIdentity)
{
    md::Design d;
    md::design(d, md::highPass, 3, 48000.0, 100.0, 0.0, sqrtHalf);
    ASSERT_EQ(d.count, 2);
    for (int kind : {int(md::bell), int(md::lowShelf), int(md::highShelf)})
        for (double g : {0.0, 9e-7, -9e-7, std::nan("")})
        {
            md::design(d, kind, 0, 48000.0, 1000.0, g, 1.0);
            EXPECT_EQ(d.count, 0) << "kind " << kind << ", gain " << g;
            for (const auto& s : d.sections)
            {
                EXPECT_EQ(s.b0, 1.0);
                EXPECT_EQ(s.b1, 0.0);
                EXPECT_EQ(s.b2, 0.0);
                EXPECT_EQ(s.a1, 0.0);
                EXPECT_EQ(s.a2, 0.0);
            }
        }
    md::design(d, md::bell, 0, 48000.0, 1000.0, 2e-6, 1.0);
    EXPECT_EQ(d.count, 1);
    md::design(d, 17, 0, 48000.0, 1000.0, 6.0, 1.0);
    EXPECT_EQ(d.count, 0) << "an unknown kind is a unity filter";

    const md::Section flat = md::designHighShelf(48000.0, 8000.0, 0.0, 0.65);
    EXPECT_EQ(flat.b0, 1.0);
    EXPECT_EQ(flat.a1, 0.0);
}

TEST(FilterDesign, lowShelfOf12DbIsExactAtDcAndFlatAtNyquist)
{
    for (double rate : rates)
    {
        md::Design d;
        md::design(d, md::lowShelf, 0, rate, 80.0, 12.0, 0.71);
        const md::Section& s = d.sections[0];
        EXPECT_NEAR(10.0 * std::log10(md::squaredMagnitude(s, 0.0)), 12.0, 1e-9) << rate;
        EXPECT_NEAR(10.0 * std::log10(md::squaredMagnitude(s, pi)), 0.0, 0.01) << rate;
        EXPECT_NEAR(md::magnitudeDb(d, rate, 20.0), toDb(analogResponse(md::lowShelf, 0, 12.0, 0.71, 0.25)),
                    1e-3);
    }
}

TEST(FilterDesign, butterworth24DbHighPassAt60Hz)
{
    for (double rate : rates)
    {
        md::Design d;
        md::design(d, md::highPass, 3, rate, 60.0, 0.0, 0.70710678);
        ASSERT_EQ(d.count, 2) << rate;
        EXPECT_NEAR(poleQ(d.sections[0]), 1.3066, 1e-4) << rate;
        EXPECT_NEAR(poleQ(d.sections[1]), 0.5412, 1e-4) << rate;
        for (int k = 0; k < 2; ++k)
        {
            const md::Section& s = d.sections[static_cast<size_t>(k)];
            EXPECT_GT(s.b0, 0.0);
            EXPECT_DOUBLE_EQ(s.b1 / s.b0, -2.0) << "section " << k << " at " << rate;
            EXPECT_DOUBLE_EQ(s.b2 / s.b0, 1.0) << "section " << k << " at " << rate;
        }
        EXPECT_NEAR(md::magnitudeDb(d, rate, 60.0), -3.0103, 0.001) << rate;
        EXPECT_NEAR(md::magnitudeDb(d, rate, 15.0) - md::magnitudeDb(d, rate, 7.5), 24.0, 0.2) << rate;
        EXPECT_NEAR(md::magnitudeDb(d, rate, 7.5) - md::magnitudeDb(d, rate, 3.75), 24.0, 0.1) << rate;
        EXPECT_NEAR(md::magnitudeDb(d, rate, 1000.0), 0.0, 1e-3) << rate;
    }
}

TEST(FilterDesign, butterworth18DbHighPassIsABiquadAndAFirstOrderSection)
{
    for (double rate : rates)
    {
        md::Design d;
        md::design(d, md::highPass, 2, rate, 90.0, 0.0, 0.70710678);
        ASSERT_EQ(d.count, 2) << rate;
        EXPECT_NEAR(poleQ(d.sections[0]), 1.0, 1e-6) << rate;
        EXPECT_DOUBLE_EQ(d.sections[0].b1 / d.sections[0].b0, -2.0);
        const md::Section& first = d.sections[1];
        EXPECT_EQ(first.b2, 0.0);
        EXPECT_EQ(first.a2, 0.0);
        EXPECT_EQ(first.b1, -first.b0);
        EXPECT_NEAR(first.a1, -std::exp(-2.0 * pi * 90.0 / rate), 1e-15);
        EXPECT_NEAR(md::magnitudeDb(d, rate, 90.0), -3.0103, 0.001) << rate;
        EXPECT_NEAR(md::magnitudeDb(d, rate, 10.0) - md::magnitudeDb(d, rate, 5.0), 18.0, 0.1) << rate;
    }

    // A larger q gives a resonant first pair, scaled by q / sqrt(1/2).
    md::Design resonant;
    md::design(resonant, md::highPass, 3, 48000.0, 60.0, 0.0, 1.0);
    EXPECT_NEAR(poleQ(resonant.sections[0]), 1.3066 / sqrtHalf, 1e-3);
    EXPECT_NEAR(poleQ(resonant.sections[1]), 0.5412, 1e-4);
}

TEST(FilterDesign, lowPassErrorFeedbackBeatsSectionsFittedAlone)
{
    struct Case
    {
        double rate;
        double hz;
        int slope;
    };
    const Case cases[] = {{48000.0, 5000.0, 3},  {48000.0, 5000.0, 2},  {44100.0, 2000.0, 3},
                          {96000.0, 10000.0, 3}, {96000.0, 15000.0, 3}, {48000.0, 10000.0, 5}};
    for (const auto& c : cases)
    {
        md::Design withFeedback;
        md::design(withFeedback, md::lowPass, c.slope, c.rate, c.hz, 0.0, sqrtHalf);

        const int order = md::slopeDbPerOct(c.slope) / 6;
        md::Design alone;
        for (int k = 1; k <= order / 2; ++k)
            alone.sections[static_cast<size_t>(alone.count++)] =
                md::designLowPass2(c.rate, c.hz, 0.5 / std::sin((2 * k - 1) * pi / (2.0 * order)));
        if (order % 2 != 0)
        {
            md::Design firstOrder;
            md::design(firstOrder, md::lowPass, 0, c.rate, c.hz, 0.0, sqrtHalf);
            alone.sections[static_cast<size_t>(alone.count++)] = firstOrder.sections[0];
        }

        // RMS error in dB over the range the fit trusts.
        const double w0 = 2.0 * pi * c.hz / c.rate;
        double errWith = 0.0, errAlone = 0.0;
        for (int i = 1; i <= 400; ++i)
        {
            const double w = 0.9 * pi * i / 400.0;
            const double analog = toDb(analogResponse(md::lowPass, c.slope, 0.0, sqrtHalf, w / w0));
            if (analog < -30.0)
                continue;
            errWith += std::pow(designDb(withFeedback, w) - analog, 2);
            errAlone += std::pow(designDb(alone, w) - analog, 2);
        }
        EXPECT_LT(std::sqrt(errWith), 0.5 * std::sqrt(errAlone))
            << c.rate << " Hz, corner " << c.hz << ", slope index " << c.slope;
    }
}

TEST(FilterDesign, everySectionIsStableAndMinimumPhase)
{
    std::mt19937 rng(20240611u);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int checked = 0;
    for (int i = 0; i < 40000; ++i)
    {
        const double rate = rates[i % 3];
        const double hz = std::pow(10.0, -1.5 + 6.0 * unit(rng)); // 0.03 Hz to beyond Nyquist
        const double q = std::pow(10.0, -2.0 + 4.7 * unit(rng));  // 0.01 to 500, clamped inside
        const double gainDb = (2.0 * unit(rng) - 1.0) * 40.0;
        const int kind = i % 7;
        const int slope = (i / 7) % 8;

        md::Design d;
        if (kind < 5)
            md::design(d, kind, slope, rate, hz, gainDb, q);
        else
        {
            d.count = 1;
            d.sections[0] = kind == 5 ? md::designBandPass(rate, hz, q) : md::designLowPass2(rate, hz, q);
        }
        for (int k = 0; k < d.count; ++k)
        {
            const md::Section& s = d.sections[static_cast<size_t>(k)];
            const std::string what = "kind " + std::to_string(kind) + " slope " + std::to_string(slope) +
                                     " at " + std::to_string(rate) + ", " + std::to_string(hz) + " Hz, q " +
                                     std::to_string(q) + ", " + std::to_string(gainDb) + " dB, section " +
                                     std::to_string(k);
            ASSERT_TRUE(finite(s)) << what;
            ASSERT_TRUE(polesInside(s)) << what << ": a1 " << s.a1 << " a2 " << s.a2;
            ASSERT_TRUE(minimumPhase(s)) << what << ": b " << s.b0 << " " << s.b1 << " " << s.b2;
            ++checked;
        }
    }
    EXPECT_GT(checked, 40000);
}

TEST(FilterDesign, cornersAndQsAreClampedIntoRange)
{
    const auto same = [](const md::Design& a, const md::Design& b)
    {
        if (a.count != b.count)
            return false;
        for (int k = 0; k < a.count; ++k)
        {
            const auto& x = a.sections[static_cast<size_t>(k)];
            const auto& y = b.sections[static_cast<size_t>(k)];
            if (x.b0 != y.b0 || x.b1 != y.b1 || x.b2 != y.b2 || x.a1 != y.a1 || x.a2 != y.a2)
                return false;
        }
        return true;
    };
    md::Design a, b;
    md::design(a, md::bell, 0, 48000.0, 0.2, 6.0, 1.0);
    md::design(b, md::bell, 0, 48000.0, 1.0, 6.0, 1.0);
    EXPECT_TRUE(same(a, b)) << "below 1 Hz is 1 Hz";
    md::design(a, md::highPass, 3, 48000.0, 30000.0, 0.0, sqrtHalf);
    md::design(b, md::highPass, 3, 48000.0, 0.499 * 48000.0, 0.0, sqrtHalf);
    EXPECT_TRUE(same(a, b)) << "above 0.499 fs is 0.499 fs";
    md::design(a, md::lowShelf, 0, 48000.0, 100.0, 6.0, 0.001);
    md::design(b, md::lowShelf, 0, 48000.0, 100.0, 6.0, 0.025);
    EXPECT_TRUE(same(a, b)) << "q below 0.025";
    md::design(a, md::bell, 0, 48000.0, 100.0, 6.0, 1e6);
    md::design(b, md::bell, 0, 48000.0, 100.0, 6.0, 200.0);
    EXPECT_TRUE(same(a, b)) << "q above 200";

    // A shape of all 1 and the default weights written out are the defaults.
    std::array<double, 40> ones{}, weights{};
    ones.fill(1.0);
    const double w0 = 2.0 * pi * 3000.0 / 48000.0;
    for (int j = 0; j < 40; ++j)
    {
        const double W = md::detail::fitFrequency(j) / w0;
        weights[static_cast<size_t>(j)] =
            std::min(1000.0 / (std::pow(1.0 - W * W, 2) + std::pow(W / 0.9, 2)), 1.0);
    }
    const md::Section plain = md::designLowPass2(48000.0, 3000.0, 0.9);
    const md::Section spelled = md::designLowPass2(48000.0, 3000.0, 0.9, ones.data(), weights.data());
    EXPECT_DOUBLE_EQ(plain.b0, spelled.b0);
    EXPECT_DOUBLE_EQ(plain.b1, spelled.b1);
    EXPECT_DOUBLE_EQ(plain.b2, spelled.b2);
}

TEST(FilterDesign, threePointFitAndItsFallbacks)
{
    const md::Section poles = md::designLowPass2(48000.0, 2000.0, 0.7);
    const double wm = 2.0 * pi * 2000.0 / 48000.0;

    // Three points met exactly.
    md::Section s = md::detail::fit3(poles.a1, poles.a2, 1.0, 0.25, wm, 0.8);
    EXPECT_NEAR(md::squaredMagnitude(s, 0.0), 1.0, 1e-12);
    EXPECT_NEAR(md::squaredMagnitude(s, pi), 0.25, 1e-12);
    EXPECT_NEAR(md::squaredMagnitude(s, wm), 0.8, 1e-12);
    EXPECT_TRUE(minimumPhase(s));

    // No valid numerator through all three: Nyquist is let go, DC and wm stay exact.
    s = md::detail::fit3(0.0, 0.0, 1.0, -1.0, 0.5 * pi, 0.8);
    EXPECT_EQ(s.b2, 0.0);
    EXPECT_NEAR(md::squaredMagnitude(s, 0.0), 1.0, 1e-12);
    EXPECT_NEAR(md::squaredMagnitude(s, 0.5 * pi), 0.8, 1e-12);
    EXPECT_TRUE(minimumPhase(s));

    // A negative DC target leaves the plain numerator.
    s = md::detail::fit3(poles.a1, poles.a2, -1.0, 1.0, wm, 1.0);
    EXPECT_EQ(s.b0, 1.0);
    EXPECT_EQ(s.b1, 0.0);
    EXPECT_EQ(s.b2, 0.0);
    EXPECT_EQ(s.a1, poles.a1);

    // A notch near Nyquist cannot be fitted by least squares: the matched fit falls back to the
    // three-point fit and is still exact at DC, Nyquist and wm.
    const double w0 = 2.0 * pi * 15000.0 / 48000.0;
    const auto notch = [w0](double w)
    {
        const double W = w / w0;
        const double u = (1.0 - W * W) * (1.0 - W * W);
        return (u + 1e-6) / (u + W * W);
    };
    const md::Section bp = md::designBandPass(48000.0, 15000.0, 1.0);
    const double wn = 0.7 * w0;
    const md::Section fitted = md::detail::fitMatched(bp.a1, bp.a2, wn, notch(wn), notch);
    const md::Section three = md::detail::fit3(bp.a1, bp.a2, notch(0.0), notch(pi), wn, notch(wn));
    EXPECT_EQ(fitted.b0, three.b0);
    EXPECT_EQ(fitted.b1, three.b1);
    EXPECT_EQ(fitted.b2, three.b2);
    EXPECT_NEAR(md::squaredMagnitude(fitted, 0.0), notch(0.0), 1e-12);
    EXPECT_NEAR(md::squaredMagnitude(fitted, pi) / notch(pi), 1.0, 1e-9);
    EXPECT_NEAR(md::squaredMagnitude(fitted, wn) / notch(wn), 1.0, 1e-9);
}

TEST(FilterDesign, runningSectionIsTransposedDirectFormTwo)
{
    md::Design d;
    md::design(d, md::highPass, 3, 48000.0, 200.0, 0.0, sqrtHalf);
    md::Cascade<2> blockwise, samplewise;
    blockwise.setDesign(d);
    samplewise.setDesign(d);

    std::mt19937 rng(7u);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> x(1000);
    for (auto& v : x)
        v = noise(rng);

    // Reference: the difference equation per section, rounded to float between sections.
    std::vector<float> reference = x;
    for (int k = 0; k < 2; ++k)
    {
        const md::Section& s = d.sections[static_cast<size_t>(k)];
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (auto& v : reference)
        {
            const double in = v;
            const double y = s.b0 * in + s.b1 * x1 + s.b2 * x2 - s.a1 * y1 - s.a2 * y2;
            x2 = x1;
            x1 = in;
            y2 = y1;
            y1 = y;
            v = static_cast<float>(y);
        }
    }

    std::vector<float> y = x;
    EXPECT_NO_HEAP(blockwise.process(y.data(), 500));
    blockwise.process(y.data() + 500, 500);
    for (size_t i = 0; i < x.size(); ++i)
    {
        const float one = samplewise.processSample(x[i]);
        ASSERT_EQ(y[i], one) << "sample " << i;
        ASSERT_NEAR(y[i], reference[i], 1e-5f) << "sample " << i;
    }

    // New coefficients keep the state; clearing it is the caller's choice.
    const double s1 = blockwise.sections[0].s1;
    md::design(d, md::highPass, 3, 48000.0, 300.0, 0.0, sqrtHalf);
    blockwise.setDesign(d);
    EXPECT_EQ(blockwise.sections[0].s1, s1);
    blockwise.clearState();
    EXPECT_EQ(blockwise.sections[0].s1, 0.0);
    EXPECT_EQ(blockwise.sections[1].s2, 0.0);
}

// Both channels in one loop give bit for bit what each cascade gives alone, for every section
// count (odd ones too, first-order sections among them), in pieces of any size; cascades of
// different lengths still run. Lanes with different coefficients are independent.
TEST(FilterDesign, twoChannelRunMatchesEachCascadeAlone)
{
    std::mt19937 rng(11u);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> left(3000), right(3000);
    for (size_t i = 0; i < left.size(); ++i)
    {
        left[i] = noise(rng);
        right[i] = 0.5f * noise(rng) + (i % 100 < 50 ? 0.4f : -0.4f);
    }

    struct Case
    {
        int leftSlope, rightSlope; // slope index of a high-pass; -1: a bell, 0 dB: no section
        double rightHz;
    };
    const Case cases[] = {{0, 0, 200.0}, {1, 1, 200.0},  {2, 2, 200.0},   {3, 3, 200.0}, {4, 4, 200.0},
                          {7, 7, 200.0}, {2, 2, 3000.0}, {-1, -1, 200.0}, {2, 3, 200.0}, {3, -1, 200.0}};
    for (const Case& c : cases)
    {
        md::Design dl, dr;
        const auto make = [](md::Design& d, int slope, double hz)
        {
            if (slope >= 0)
                md::design(d, md::highPass, slope, 48000.0, hz, 0.0, sqrtHalf);
            else
                md::design(d, md::bell, 0, 48000.0, hz, 0.0, 1.0);
        };
        make(dl, c.leftSlope, 200.0);
        make(dr, c.rightSlope, c.rightHz);
        md::Cascade<md::Design::maxSections> aloneL, aloneR, pairL, pairR;
        aloneL.setDesign(dl);
        pairL.setDesign(dl);
        aloneR.setDesign(dr);
        pairR.setDesign(dr);

        std::vector<float> expectL = left, expectR = right, l = left, r = right;
        aloneL.process(expectL.data(), static_cast<int>(expectL.size()));
        aloneR.process(expectR.data(), static_cast<int>(expectR.size()));
        size_t pos = 0;
        while (pos < l.size())
        {
            const size_t n = std::min<size_t>(l.size() - pos, 1 + rng() % 300);
            EXPECT_NO_HEAP(
                md::processTwoChannels(pairL, pairR, l.data() + pos, r.data() + pos, static_cast<int>(n)));
            pos += n;
        }
        for (size_t i = 0; i < l.size(); ++i)
        {
            ASSERT_EQ(l[i], expectL[i])
                << "left, slopes " << c.leftSlope << "/" << c.rightSlope << ", sample " << i;
            ASSERT_EQ(r[i], expectR[i])
                << "right, slopes " << c.leftSlope << "/" << c.rightSlope << ", sample " << i;
        }
        for (int k = 0; k < pairL.count; ++k)
            EXPECT_EQ(pairL.sections[static_cast<size_t>(k)].s1, aloneL.sections[static_cast<size_t>(k)].s1);
    }
}

TEST(FilterDesign, pairedRunnerIsTwoRunningSectionsToTheBit)
{
    // Different coefficients and states in the two lanes: each lane must match its own section
    // exactly, whether fed floats (in place over two buffers) or doubles.
    const md::Section lowPass = md::designLowPass2(48000.0, 9000.0, sqrtHalf);
    md::Design d;
    md::design(d, md::highPass, 1, 48000.0, 250.0, 0.0, sqrtHalf);
    md::RunningSection left, right;
    left.setCoefficients(lowPass);
    right.setCoefficients(d.sections[0]);
    left.s1 = 0.25;
    right.s2 = -0.125;
    md::SectionPair pair;
    pair.setLane(0, left);
    pair.setLane(1, right);

    std::mt19937 rng(11u);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> a(777), b(777);
    for (size_t i = 0; i < a.size(); ++i)
    {
        a[i] = noise(rng);
        b[i] = noise(rng);
    }
    std::vector<float> pairedA = a, pairedB = b;
    EXPECT_NO_HEAP(pair.process(pairedA.data(), pairedB.data(), 400));
    pair.process(pairedA.data() + 400, pairedB.data() + 400, 377);
    for (size_t i = 0; i < a.size(); ++i)
    {
        ASSERT_EQ(pairedA[i], static_cast<float>(left.processSample(a[i]))) << "lane 0, sample " << i;
        ASSERT_EQ(pairedB[i], static_cast<float>(right.processSample(b[i]))) << "lane 1, sample " << i;
    }
    for (int k = 0; k < 2; ++k)
    {
        const md::RunningSection lane = pair.getLane(k), alone = k == 0 ? left : right;
        EXPECT_EQ(lane.s1, alone.s1) << "lane " << k;
        EXPECT_EQ(lane.s2, alone.s2) << "lane " << k;
        EXPECT_EQ(lane.a2, alone.a2) << "lane " << k;
    }

    const auto y = pair.run(md::Lanes{0.5, -0.75});
    EXPECT_EQ(y[0], left.processSample(0.5));
    EXPECT_EQ(y[1], right.processSample(-0.75));

    // One set of coefficients for both lanes; clearing leaves the coefficients.
    pair.setCoefficients(d.sections[0]);
    pair.clearState();
    EXPECT_EQ(pair.getLane(0).b1, d.sections[0].b1);
    EXPECT_EQ(pair.getLane(1).s1, 0.0);
}

TEST(FilterDesign, designingNeverTouchesTheHeap)
{
    md::Design d;
    std::array<double, 40> shape{}, weights{};
    shape.fill(1.0);
    weights.fill(1.0);
    EXPECT_NO_HEAP({
        for (int kind = 0; kind < 5; ++kind)
            for (int slope = 0; slope < 8; ++slope)
                md::design(d, kind, slope, 48000.0, 1234.0, -4.5, 0.9);
        volatile double sink = md::designHighShelf(96000.0, 10000.0, 9.4, 0.65).b0;
        sink = md::designBandPass(48000.0, 4000.0, 4.3).b0;
        sink = md::designLowPass2(48000.0, 9000.0, sqrtHalf, shape.data(), weights.data()).b0;
        sink = md::magnitudeDb(d, 48000.0, 1000.0);
        (void)sink;
    });
}
