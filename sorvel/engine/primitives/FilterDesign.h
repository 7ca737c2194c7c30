#pragma once

#include "common/dsp/Lanes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

// Matched design of second-order digital sections from analog prototypes, and the one runner
// of those sections. Poles come from the analog poles by impulse invariance; the numerator is
// exact at DC and at a match frequency, and its last degree of freedom is a weighted
// least-squares fit over 40 points up to 0.9 of Nyquist, so the response follows the analog
// curve near Nyquist without warping. All design is double precision, allocation-free and lock
// free: any thread may call it (the EQ and the shimmer redesign on the audio thread).
namespace eng::md
{

// H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2). The default is the identity.
struct Section
{
    double b0 = 1.0;
    double b1 = 0.0;
    double b2 = 0.0;
    double a1 = 0.0;
    double a2 = 0.0;
};

// A cascade of up to 16 sections; the first `count` are valid, count 0 is a unity filter.
struct Design
{
    static constexpr int maxSections = 16;

    std::int32_t count = 0;
    std::array<Section, maxSections> sections{};
};

// Kinds taken by design(); plain ints are accepted too.
enum Kind : int
{
    bell = 0,
    lowShelf = 1,
    highShelf = 2,
    highPass = 3,
    lowPass = 4,
};

// Butterworth slopes: index 0..7 give 6, 12, 18, 24, 36, 48, 72, 96 dB per octave (order =
// slope / 6). Out-of-range indices are clamped.
int slopeDbPerOct(int slopeIndex) noexcept;

// The general entry. Kinds 0..2 use gainDb (|gainDb| < 1e-6 gives count 0), kinds 3 and 4 use
// slopeIndex; q is clamped to [0.025, 200]; the corner to [1 Hz, 0.499 sampleRate]. For the
// Butterworth kinds q / sqrt(1/2) scales the first pair's Q (1/sqrt(2) is the plain
// Butterworth). Resets every section to the identity and `count` to 0 first, then appends.
void design(Design& out, int kind, int slopeIndex, double sampleRate, double freqHz, double gainDb,
            double q) noexcept;

// One high shelf; gainDb < 0 cuts above the corner. 0 dB gives the identity.
Section designHighShelf(double sampleRate, double freqHz, double gainDb, double q) noexcept;

// Constant-peak band-pass: gain 1 at the centre.
Section designBandPass(double sampleRate, double freqHz, double q) noexcept;

// Second-order low-pass. `shape` (40 values, multiplies the prototype at the fit points only)
// and `weights` (40 values) may be null: a shape of all 1 and the default weights.
Section designLowPass2(double sampleRate, double freqHz, double q, const double* shape = nullptr,
                       const double* weights = nullptr) noexcept;

// Numerator and denominator swapped, normalised by the old b0: the exact inverse filter.
Section inverse(const Section& s) noexcept;

// |H(e^jw)|^2 of a section at w radians per sample.
double squaredMagnitude(const Section& s, double w) noexcept;

// Magnitude of the first `count` sections of a design at `hz`, in dB (floored at -400 dB).
double magnitudeDb(const Design& d, double sampleRate, double hz) noexcept;

// A section with its two state words, run in transposed direct form II in double precision.
// Samples go in and out as floats, so a chain of these rounds to single precision between
// sections. Belongs to whichever thread runs its owner (the audio thread for the modules).
struct RunningSection
{
    double b0 = 1.0;
    double b1 = 0.0;
    double b2 = 0.0;
    double a1 = 0.0;
    double a2 = 0.0;
    double s1 = 0.0;
    double s2 = 0.0;

    // New coefficients; the state words carry on.
    void setCoefficients(const Section& s) noexcept
    {
        b0 = s.b0;
        b1 = s.b1;
        b2 = s.b2;
        a1 = s.a1;
        a2 = s.a2;
    }

    void clearState() noexcept { s1 = s2 = 0.0; }

    double processSample(double x) noexcept
    {
        const double y = b0 * x + s1;
        s1 = b1 * x - a1 * y + s2;
        s2 = b2 * x - a2 * y;
        return y;
    }

    // In place over n samples.
    void process(float* samples, int n) noexcept
    {
        double z1 = s1, z2 = s2;
        for (int i = 0; i < n; ++i)
        {
            const double x = samples[i];
            const double y = b0 * x + z1;
            z1 = b1 * x - a1 * y + z2;
            z2 = b2 * x - a2 * y;
            samples[i] = static_cast<float>(y);
        }
        s1 = z1;
        s2 = z2;
    }
};

// Two doubles in one vector register: the lanes of a SectionPair; and the two float samples
// of a SectionPair run.
using Lanes = sv::Double2;
using FloatPair = sv::Float2;

// Two running sections side by side, one vector register per coefficient and state word: per
// lane exactly the arithmetic of RunningSection, so two independent recursions cost one. The
// lanes are two channels of one filter, or two stages of one chain a sample apart. Belongs to
// the thread that runs its owner (the audio thread for the modules).
struct SectionPair
{
    Lanes b0{1.0, 1.0}, b1{0.0, 0.0}, b2{0.0, 0.0}, a1{0.0, 0.0}, a2{0.0, 0.0};
    Lanes s1{0.0, 0.0}, s2{0.0, 0.0};

    // Coefficients of one lane; its state words carry on.
    void setLane(int lane, const Section& s) noexcept
    {
        b0[lane] = s.b0;
        b1[lane] = s.b1;
        b2[lane] = s.b2;
        a1[lane] = s.a1;
        a2[lane] = s.a2;
    }

    void clearState() noexcept { s1 = s2 = Lanes{0.0, 0.0}; }

    // Coefficients and state of two running sections, and back.
    void load(const RunningSection& left, const RunningSection& right) noexcept
    {
        b0 = Lanes{left.b0, right.b0};
        b1 = Lanes{left.b1, right.b1};
        b2 = Lanes{left.b2, right.b2};
        a1 = Lanes{left.a1, right.a1};
        a2 = Lanes{left.a2, right.a2};
        s1 = Lanes{left.s1, right.s1};
        s2 = Lanes{left.s2, right.s2};
    }
    void storeState(RunningSection& left, RunningSection& right) const noexcept
    {
        left.s1 = s1[0];
        left.s2 = s2[0];
        right.s1 = s1[1];
        right.s2 = s2[1];
    }

    // The same section in both lanes; the state words carry on.
    void setCoefficients(const Section& both) noexcept
    {
        setLane(0, both);
        setLane(1, both);
    }

    // One lane as a RunningSection (coefficients and state words), and back.
    RunningSection getLane(int lane) const noexcept
    {
        const int k = lane & 1;
        return {b0[k], b1[k], b2[k], a1[k], a2[k], s1[k], s2[k]};
    }
    void setLane(int lane, const RunningSection& r) noexcept
    {
        const int k = lane & 1;
        b0[k] = r.b0;
        b1[k] = r.b1;
        b2[k] = r.b2;
        a1[k] = r.a1;
        a2[k] = r.a2;
        s1[k] = r.s1;
        s2[k] = r.s2;
    }

    Lanes run(Lanes x) noexcept
    {
        const Lanes y = b0 * x + s1;
        s1 = b1 * x - a1 * y + s2;
        s2 = b2 * x - a2 * y;
        return y;
    }

    // Float samples in and out, rounded the way a RunningSection rounds them.
    FloatPair run(FloatPair x) noexcept
    {
        return __builtin_convertvector(run(__builtin_convertvector(x, Lanes)), FloatPair);
    }

    // Both lanes in place over n samples: lane 0 runs over `first`, lane 1 over `second`.
    void process(float* first, float* second, int n) noexcept
    {
        for (int i = 0; i < n; ++i)
        {
            const FloatPair y = run(FloatPair{first[i], second[i]});
            first[i] = y[0];
            second[i] = y[1];
        }
    }
};

namespace detail
{

// Both lanes rounded to float, as a RunningSection's output is. GCC 12 drops the rounding when
// it is written lane by lane into a vector, so it is written as a vector conversion.
inline Lanes roundedToFloat(Lanes x) noexcept
{
    return __builtin_convertvector(__builtin_convertvector(x, FloatPair), Lanes);
}

// Both lanes rounded to float and stored, lane 0 to `first`, lane 1 to `second`: one conversion
// for the two.
inline void storeAsFloats(Lanes x, float& first, float& second) noexcept
{
    const FloatPair both = __builtin_convertvector(x, FloatPair);
    first = both[0];
    second = both[1];
}

// Count sections of two cascades, from `left` and `right` on, over a run of both channels, sample by
// sample through the sections so that all 2 x Count recursions overlap.
template <size_t Count>
void runPairs(RunningSection* left, RunningSection* right, float* x, float* y, int n) noexcept
{
    SectionPair p[Count];
    for (size_t k = 0; k < Count; ++k)
        p[k].load(left[k], right[k]);
    for (int i = 0; i < n; ++i)
    {
        Lanes v{x[i], y[i]};
        for (size_t k = 0; k + 1 < Count; ++k)
            v = roundedToFloat(p[k].run(v));
        storeAsFloats(p[Count - 1].run(v), x[i], y[i]);
    }
    for (size_t k = 0; k < Count; ++k)
        p[k].storeState(left[k], right[k]);
}

} // namespace detail

// Up to MaxSections running sections in series, `count` of them in use. Owned and run by one
// thread (the audio thread for the modules).
template <int MaxSections> struct Cascade
{
    std::array<RunningSection, static_cast<size_t>(MaxSections)> sections{};
    int count = 0;

    // Takes the coefficients of the design's first sections (at most MaxSections). State words
    // stay: the caller clears them where a jump would matter.
    void setDesign(const Design& d) noexcept
    {
        count = std::clamp(static_cast<int>(d.count), 0, MaxSections);
        for (int k = 0; k < count; ++k)
            sections[static_cast<size_t>(k)].setCoefficients(d.sections[static_cast<size_t>(k)]);
    }

    void clearState() noexcept
    {
        for (auto& s : sections)
            s.clearState();
    }

    // In place; section by section over the whole run (the same result as sample by sample).
    void process(float* samples, int n) noexcept
    {
        for (int k = 0; k < count; ++k)
            sections[static_cast<size_t>(k)].process(samples, n);
    }

    float processSample(float x) noexcept
    {
        for (int k = 0; k < count; ++k)
            x = static_cast<float>(sections[static_cast<size_t>(k)].processSample(x));
        return x;
    }
};

// Two channels of one filter, in place: `left` over x and `right` over y, their recursions
// interleaved in one loop (the same result, bit for bit, as running each cascade alone).
// Cascades of different lengths run one after the other.
template <int MaxSections>
void processTwoChannels(Cascade<MaxSections>& left, Cascade<MaxSections>& right, float* x, float* y,
                        int n) noexcept
{
    if (left.count != right.count)
    {
        left.process(x, n);
        right.process(y, n);
        return;
    }
    // Two sections at a time keep every coefficient in a register.
    int k = 0;
    for (; k + 2 <= left.count; k += 2)
        detail::runPairs<2>(&left.sections[static_cast<size_t>(k)], &right.sections[static_cast<size_t>(k)],
                            x, y, n);
    if (k < left.count)
        detail::runPairs<1>(&left.sections[static_cast<size_t>(k)], &right.sections[static_cast<size_t>(k)],
                            x, y, n);
}

namespace detail
{

constexpr double pi = 3.14159265358979323846;
constexpr int fitPoints = 40;

inline double sq(double x) noexcept
{
    return x * x;
}

// p1(w) = sin^2(w/2); p0 = 1 - p1; p2 = 4 p0 p1. Any |H|^2 of a second-order polynomial in
// z^-1 is K0 p0 + K1 p1 + K2 p2.
inline double p1(double w) noexcept
{
    return sq(std::sin(0.5 * w));
}

// |1 + a1 z^-1 + a2 z^-2|^2 at the frequency whose p1 is x1.
inline double denominatorSquaredAt(double a1, double a2, double x1) noexcept
{
    const double x0 = 1.0 - x1;
    return sq(1.0 + a1 + a2) * x0 + sq(1.0 - a1 + a2) * x1 - 16.0 * a2 * x0 * x1;
}

// The same at two frequencies at once, lane by lane the same arithmetic.
inline Lanes denominatorSquaredAt(double a1, double a2, Lanes x1) noexcept
{
    const Lanes x0 = Lanes{1.0, 1.0} - x1;
    const double low = sq(1.0 + a1 + a2), high = sq(1.0 - a1 + a2), cross = 16.0 * a2;
    return Lanes{low, low} * x0 + Lanes{high, high} * x1 - Lanes{cross, cross} * x0 * x1;
}

// |1 + a1 z^-1 + a2 z^-2|^2 at w.
inline double denominatorSquared(double a1, double a2, double w) noexcept
{
    return denominatorSquaredAt(a1, a2, p1(w));
}

// The j-th least-squares frequency, radians per sample: evenly spaced up to 0.9 pi.
inline double fitFrequency(int j) noexcept
{
    return (j + 0.5) * 0.9 * pi / fitPoints;
}

// p1 at every fit frequency, worked out once: each fit needs all of them, and the sines were
// most of the cost of a design at control rate.
const std::array<double, fitPoints>& fitP1() noexcept;

// True when B0 p0 + B1 p1 + B2 p2 is a valid squared magnitude (nowhere negative on [0, pi]).
bool squaredNumeratorValid(double B0, double B1, double B2) noexcept;

// The minimum-phase numerator of a valid squared magnitude, over the given poles.
Section numeratorFromSquared(double B0, double B1, double B2, double a1, double a2) noexcept;

// Three-point fallback: exact squared magnitudes g0 at DC, gNyq at Nyquist and gm at wm; if that
// cannot be met, a first-order numerator exact at DC and wm.
Section fit3(double a1, double a2, double g0, double gNyq, double wm, double gm) noexcept;

// The matched fit. `prototype(w)` is the analog squared magnitude at w radians per sample (the
// caller scales by the corner). Exact at DC (prototype(0)) and at wm (gm); B1 fitted by weighted
// least squares of the relative error of the squared magnitude. A fit that would go negative
// anywhere falls back to fit3.
template <typename Prototype>
Section fitMatched(double a1, double a2, double wm, double gm, const Prototype& prototype,
                   const double* shape = nullptr, const double* weights = nullptr) noexcept
{
    const double B0 = prototype(0.0) * sq(1.0 + a1 + a2);
    const double p1m = p1(wm);
    const double p0m = 1.0 - p1m;
    const double p2m = 4.0 * p0m * p1m;
    const double F = gm * denominatorSquared(a1, a2, wm) - B0 * p0m;

    // B2 is tied to B1 by the match at wm, which leaves B1 to fit. The divisions are most of a
    // design's time and a division of two lanes costs what one of a single value does, so the
    // fit runs two points at a time, lane by lane the arithmetic of one point; the sums still
    // take the points in order.
    std::array<double, fitPoints> shaped, trust;
    for (int j = 0; j < fitPoints; ++j)
    {
        const double target = prototype(fitFrequency(j));
        shaped[static_cast<size_t>(j)] = shape != nullptr ? target * shape[j] : target;
        // Trust the prototype down to -30 dB, less below.
        trust[static_cast<size_t>(j)] = weights != nullptr ? weights[j] : std::min(1000.0 * target, 1.0);
    }
    const std::array<double, fitPoints>& p1s = fitP1();
    double sumXY = 0.0, sumXX = 0.0;
    static_assert(fitPoints % 2 == 0, "points go in pairs");
    for (size_t j = 0; j < fitPoints; j += 2)
    {
        const Lanes x1{p1s[j], p1s[j + 1]};
        const Lanes t = denominatorSquaredAt(a1, a2, x1) * Lanes{shaped[j], shaped[j + 1]};
        const Lanes v{trust[j], trust[j + 1]};
        const Lanes x0 = Lanes{1.0, 1.0} - x1;
        const Lanes c = Lanes{4.0, 4.0} * x0 * x1 / Lanes{p2m, p2m};
        const Lanes x = v * (x1 - Lanes{p1m, p1m} * c) / t;
        const Lanes y = v * ((Lanes{B0, B0} * x0 + Lanes{F, F} * c) / t - Lanes{1.0, 1.0});
        for (int lane = 0; lane < 2; ++lane)
            if (!(t[lane] <= 1e-30)) // a point the prototype gives nothing at is left out
            {
                sumXY += x[lane] * y[lane];
                sumXX += x[lane] * x[lane];
            }
    }
    const double B1 = sumXX > 0.0 ? -sumXY / sumXX : 0.0;
    const double B2 = (F - B1 * p1m) / p2m;

    if (squaredNumeratorValid(B0, B1, B2))
        return numeratorFromSquared(B0, B1, B2, a1, a2);
    return fit3(a1, a2, prototype(0.0), prototype(pi), wm, gm);
}

} // namespace detail

} // namespace eng::md
