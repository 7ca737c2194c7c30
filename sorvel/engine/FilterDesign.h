#pragma once

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

// Two running sections side by side (left and right, two voices, or two stages of a cascade one
// sample apart), each with its own coefficients and state words, held in vectors of two doubles.
// Lane by lane this is exactly RunningSection's arithmetic, so the results are the same to the bit;
// the two independent recursions share their instructions. Owned and run by one thread (the
// audio thread for the modules).
struct RunningPair
{
    // GCC and Clang vector extensions: SSE2 on x86, NEON on Arm.
    typedef double Lanes __attribute__((vector_size(16)));
    typedef float Floats __attribute__((vector_size(8)));

    Lanes b0 = {1.0, 1.0};
    Lanes b1 = {0.0, 0.0};
    Lanes b2 = {0.0, 0.0};
    Lanes a1 = {0.0, 0.0};
    Lanes a2 = {0.0, 0.0};
    Lanes s1 = {0.0, 0.0};
    Lanes s2 = {0.0, 0.0};

    // New coefficients for one lane (0 or 1); the state words carry on.
    void setCoefficients(int lane, const Section& s) noexcept
    {
        const int k = lane & 1;
        b0[k] = s.b0;
        b1[k] = s.b1;
        b2[k] = s.b2;
        a1[k] = s.a1;
        a2[k] = s.a2;
    }

    void setCoefficients(const Section& both) noexcept
    {
        setCoefficients(0, both);
        setCoefficients(1, both);
    }

    void clearState() noexcept { s1 = s2 = Lanes{0.0, 0.0}; }

    // One lane as a RunningSection (coefficients and state words), and back.
    RunningSection getLane(int lane) const noexcept
    {
        const int k = lane & 1;
        return {b0[k], b1[k], b2[k], a1[k], a2[k], s1[k], s2[k]};
    }

    void setLane(int lane, const RunningSection& s) noexcept
    {
        const int k = lane & 1;
        b0[k] = s.b0;
        b1[k] = s.b1;
        b2[k] = s.b2;
        a1[k] = s.a1;
        a2[k] = s.a2;
        s1[k] = s.s1;
        s2[k] = s.s2;
    }

    Lanes processSample(Lanes x) noexcept
    {
        const Lanes y = b0 * x + s1;
        s1 = b1 * x - a1 * y + s2;
        s2 = b2 * x - a2 * y;
        return y;
    }

    // Float samples in and out, the way a RunningSection rounds them.
    Floats processSample(Floats x) noexcept
    {
        return __builtin_convertvector(processSample(__builtin_convertvector(x, Lanes)), Floats);
    }

    // Both lanes in place over n samples: lane 0 runs over `first`, lane 1 over `second`.
    void process(float* first, float* second, int n) noexcept
    {
        for (int i = 0; i < n; ++i)
        {
            const Floats y = processSample(Floats{first[i], second[i]});
            first[i] = y[0];
            second[i] = y[1];
        }
    }
};

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

// |1 + a1 z^-1 + a2 z^-2|^2 at w.
inline double denominatorSquared(double a1, double a2, double w) noexcept
{
    const double x1 = p1(w);
    const double x0 = 1.0 - x1;
    return sq(1.0 + a1 + a2) * x0 + sq(1.0 - a1 + a2) * x1 - 16.0 * a2 * x0 * x1;
}

// The j-th least-squares frequency, radians per sample: evenly spaced up to 0.9 pi.
inline double fitFrequency(int j) noexcept
{
    return (j + 0.5) * 0.9 * pi / fitPoints;
}

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

    // B2 is tied to B1 by the match at wm, which leaves B1 to fit.
    double sumXY = 0.0, sumXX = 0.0;
    for (int j = 0; j < fitPoints; ++j)
    {
        const double w = fitFrequency(j);
        const double target = prototype(w);
        const double shaped = shape != nullptr ? target * shape[j] : target;
        const double t = denominatorSquared(a1, a2, w) * shaped;
        if (t <= 1e-30)
            continue;
        // Trust the prototype down to -30 dB, less below.
        const double v = weights != nullptr ? weights[j] : std::min(1000.0 * target, 1.0);
        const double x1 = p1(w);
        const double x0 = 1.0 - x1;
        const double c = 4.0 * x0 * x1 / p2m;
        const double x = v * (x1 - p1m * c) / t;
        const double y = v * ((B0 * x0 + F * c) / t - 1.0);
        sumXY += x * y;
        sumXX += x * x;
    }
    const double B1 = sumXX > 0.0 ? -sumXY / sumXX : 0.0;
    const double B2 = (F - B1 * p1m) / p2m;

    if (squaredNumeratorValid(B0, B1, B2))
        return numeratorFromSquared(B0, B1, B2, a1, a2);
    return fit3(a1, a2, prototype(0.0), prototype(pi), wm, gm);
}

} // namespace detail

} // namespace eng::md
