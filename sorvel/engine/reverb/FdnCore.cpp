#include "sorvel/engine/reverb/FdnCore.h"

#include "common/dsp/ClampSetting.h"
#include "common/dsp/Lanes.h"
#include "common/dsp/XorShift32.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

// The loop of blocks of eight samples, compiled for AVX2 and chosen at run time, exists on x86.
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define FDN_WIDE_BLOCKS 1
#else
#define FDN_WIDE_BLOCKS 0
#endif

namespace eng::vocal
{

namespace
{

constexpr double pi = 3.14159265358979323846;

// Anything this small is -400 dB: set to zero where it would otherwise decay into denormals.
constexpr float tiny = 1e-20f;

// Decay clamped to 0.1..20 s; anything that is not a number counts as the shortest.
inline float clampDecay(float seconds) noexcept
{
    return sv::clampSetting(seconds, 0.1f, 20.0f);
}

inline float flushTiny(float v) noexcept
{
    return std::abs(v) < tiny ? 0.0f : v;
}

// The lines are handled four (or, where the processor has AVX2, eight) at a time with GCC and
// Clang vector extensions: SSE on x86, NEON on Arm. Everything below is inlined into the loops that
// use it, so the wide loop compiles to 256-bit instructions.
#define FDN_INLINE inline __attribute__((always_inline))

// GCC notes that passing 32-byte vectors by value without AVX has another ABI; these helpers are
// always inlined and never called across a boundary, so there is no ABI to speak of.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wunknown-warning-option"
#pragma clang diagnostic ignored "-Wpsabi"
#elif defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

using f4 = sv::Float4;
using i4 = sv::Int4;
using f8 = sv::Float8;
using i8 = sv::Int8;
using d2 = sv::Double2;

template <int W> struct Vectors;
template <> struct Vectors<4>
{
    using F = f4;
    using I = i4;
};
template <> struct Vectors<8>
{
    using F = f8;
    using I = i8;
};

template <typename V, typename T> FDN_INLINE V load(const T* p) noexcept
{
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename V, typename T> FDN_INLINE void store(T* p, const V& v) noexcept
{
    std::memcpy(p, &v, sizeof v);
}

FDN_INLINE f4 load4(const float* p) noexcept
{
    return load<f4>(p);
}

FDN_INLINE i4 load4(const std::int32_t* p) noexcept
{
    return load<i4>(p);
}

FDN_INLINE f4 splat(float v) noexcept
{
    return f4{v, v, v, v};
}

template <typename F> FDN_INLINE F flushTiny4(const F& v) noexcept
{
    using I = decltype(v < v);
    const F magnitude = (F)((I)v & 0x7fffffff);
    return (F)((I)v & (magnitude >= tiny));
}

// Catmull-Rom between p1 (newer) and p2 at f, p0 and p3 the outer neighbours.
template <typename F>
FDN_INLINE F catmullRom(const F& p0, const F& p1, const F& p2, const F& p3, const F& f) noexcept
{
    return p1 +
           0.5f * f *
               (p2 - p0 + f * (2.0f * p0 - 5.0f * p1 + 4.0f * p2 - p3 + f * (3.0f * (p1 - p2) + p3 - p0)));
}

// A line's damping section in transposed form.
template <typename F> FDN_INLINE F damp(const F& x, const F& b0, const F& b1, const F& a1, F& state) noexcept
{
    const F out = flushTiny4(b0 * x + state);
    state = b1 * x - a1 * out;
    return out;
}

// What goes back into a line: its share of the Hadamard mix plus its share of the input.
FDN_INLINE f4 feedback(f4 mixed, f4 sign, f4 input) noexcept
{
    return flushTiny4(0.25f * mixed + sign * input);
}

// The same for one line whose sign is known where this is inlined (+1 or -1: an exact add or
// subtract instead of a multiply).
template <typename F> FDN_INLINE F feedback(const F& mixed, float sign, const F& input) noexcept
{
    return flushTiny4(0.25f * mixed + sign * input);
}

// True when every lane of a comparison holds.
FDN_INLINE bool allLanes(i4 mask) noexcept
{
#if defined(__SSE__)
    return _mm_movemask_ps(reinterpret_cast<__m128>(mask)) == 15;
#else
    return (mask[0] & mask[1] & mask[2] & mask[3]) != 0;
#endif
}

FDN_INLINE bool allLanes(const i8& mask) noexcept
{
    return allLanes(i4{mask[0], mask[1], mask[2], mask[3]} & i4{mask[4], mask[5], mask[6], mask[7]});
}

// out[k] = sum over j of (-1)^popcount(k & j) in[j], lane by lane.
template <typename F> FDN_INLINE void hadamard4(const F* in, F* out) noexcept
{
    const F s01 = in[0] + in[1], d01 = in[0] - in[1];
    const F s23 = in[2] + in[3], d23 = in[2] - in[3];
    out[0] = s01 + s23;
    out[1] = d01 + d23;
    out[2] = s01 - s23;
    out[3] = d01 - d23;
}

// Lane k of vector j goes to lane j of vector k.
FDN_INLINE void transpose(f4* v) noexcept
{
    const f4 t0 = __builtin_shufflevector(v[0], v[1], 0, 4, 1, 5);
    const f4 t1 = __builtin_shufflevector(v[0], v[1], 2, 6, 3, 7);
    const f4 t2 = __builtin_shufflevector(v[2], v[3], 0, 4, 1, 5);
    const f4 t3 = __builtin_shufflevector(v[2], v[3], 2, 6, 3, 7);
    v[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
    v[1] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
    v[2] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
    v[3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

// The same for eight: within each half as above, then the halves swapped across.
FDN_INLINE void transpose(f8* v) noexcept
{
    f8 t[8], u[8];
    for (int k = 0; k < 4; ++k)
    {
        t[2 * k] = __builtin_shufflevector(v[2 * k], v[2 * k + 1], 0, 8, 1, 9, 4, 12, 5, 13);
        t[2 * k + 1] = __builtin_shufflevector(v[2 * k], v[2 * k + 1], 2, 10, 3, 11, 6, 14, 7, 15);
    }
    for (int k = 0; k < 2; ++k)
    {
        u[4 * k] = __builtin_shufflevector(t[4 * k], t[4 * k + 2], 0, 1, 8, 9, 4, 5, 12, 13);
        u[4 * k + 1] = __builtin_shufflevector(t[4 * k], t[4 * k + 2], 2, 3, 10, 11, 6, 7, 14, 15);
        u[4 * k + 2] = __builtin_shufflevector(t[4 * k + 1], t[4 * k + 3], 0, 1, 8, 9, 4, 5, 12, 13);
        u[4 * k + 3] = __builtin_shufflevector(t[4 * k + 1], t[4 * k + 3], 2, 3, 10, 11, 6, 7, 14, 15);
    }
    for (int k = 0; k < 4; ++k)
    {
        v[k] = __builtin_shufflevector(u[k], u[k + 4], 0, 1, 2, 3, 8, 9, 10, 11);
        v[k + 4] = __builtin_shufflevector(u[k], u[k + 4], 4, 5, 6, 7, 12, 13, 14, 15);
    }
}

// Lanes 2k and 2k + 1 of a vector as doubles.
FDN_INLINE d2 pairAsDoubles(f4 v, int k) noexcept
{
    return k == 0 ? __builtin_convertvector(__builtin_shufflevector(v, v, 0, 1), d2)
                  : __builtin_convertvector(__builtin_shufflevector(v, v, 2, 3), d2);
}

FDN_INLINE d2 pairAsDoubles(const f8& v, int k) noexcept
{
    const f4 half =
        k < 2 ? __builtin_shufflevector(v, v, 0, 1, 2, 3) : __builtin_shufflevector(v, v, 4, 5, 6, 7);
    return pairAsDoubles(half, k & 1);
}

// At least 3; otherwise odd and raised by 2 until no odd divisor up to its square root divides it.
int makePrime(long n) noexcept
{
    if (n <= 3)
        return 3;
    n |= 1;
    for (;;)
    {
        bool prime = true;
        for (long d = 3; d * d <= n; d += 2)
            if (n % d == 0)
            {
                prime = false;
                break;
            }
        if (prime)
            return static_cast<int>(n);
        n += 2;
    }
}

int powerOfTwoAtLeast(long n) noexcept
{
    int length = 4;
    while (length < n)
        length *= 2;
    return length;
}

// Feed signs of the diffused input, and the signs of the two late outputs, per line.
constexpr std::array<float, 16> inputSigns{1, -1, 1, 1, -1, -1, 1, -1, 1, 1, -1, 1, -1, -1, -1, 1};
constexpr std::array<float, 16> leftSigns{1, 1, -1, 1, -1, 1, 1, -1, -1, 1, 1, 1, -1, -1, 1, -1};
constexpr std::array<float, 16> rightSigns{1, -1, 1, 1, 1, -1, -1, -1, 1, 1, -1, 1, 1, -1, -1, -1};

} // namespace

void FdnCore::prepare(double rate)
{
    sampleRate = rate;

    double longestMs = 0.0;
    for (const auto& r : tune::reverbChars)
        longestMs = std::max(longestMs, double(r[1]) * 1.06 + double(r[9]) + 1.0);
    lineLength = powerOfTwoAtLeast(std::lround(sampleRate * longestMs / 1000.0) + 16);
    lineMask = lineLength - 1;
    // The guard, padded so that the lines' write positions fall on different cache sets.
    lineStride = lineLength + 16;
    lines.assign(static_cast<size_t>(lineStride) * numLines, 0.0f);
    for (int j = 0; j < numLines; ++j)
        lineOffset[index(j)] = j * lineStride;
    for (int c = 0; c < 4; ++c)
        for (int a = 0; a < 4; ++a)
            transposedOffset[index(4 * c + a)] = lineOffset[index(4 * a + c)];

    allPassLength = powerOfTwoAtLeast(std::lround(0.008 * sampleRate) + 6);
    allPassMask = allPassLength - 1;
    allPassStride = allPassLength + 8;
    allPass.assign(static_cast<size_t>(allPassStride) * numAllPasses, 0.0f);
    written = false;

    reflectionCoeff = static_cast<float>(std::exp(-2.0 * pi * 6000.0 / sampleRate));

    configure(0, tune::reverbChars[0][16]);
}

void FdnCore::clear() noexcept
{
    // Lines that nothing was written to since they were last zeroed are still zero.
    if (written)
    {
        std::fill(lines.begin(), lines.end(), 0.0f);
        std::fill(allPass.begin(), allPass.end(), 0.0f);
        written = false;
    }
    writePos = 0;
    allPassWrite = 0;
    dampState.fill(0.0f);
    reflectionL = reflectionR = 0.0f;
    tail = 0.0;
    for (size_t j = 0; j < numLines; ++j)
    {
        lfoCos[j] = static_cast<float>(std::cos(double(startPhase[j])));
        lfoSin[j] = static_cast<float>(std::sin(double(startPhase[j])));
    }
    runPosition = 0;
    // No floor known yet: the first block works it out.
    modulationFloor.fill(-1.0e30f);
}

void FdnCore::configure(int newCharacter, float decaySeconds) noexcept
{
    character = std::clamp(newCharacter, 0, 2);
    decay = clampDecay(decaySeconds);
    row = tune::reverbChars[static_cast<size_t>(character)];
    const double fs = sampleRate;

    // Seeded by the character alone, so the same character always builds the same network.
    sv::XorShift32 random(static_cast<std::uint32_t>(character) * 7919u + 0x9E3779B9u);

    const double shortestMs = row[0];
    const double longestMs = row[1];
    for (int i = 0; i < numLines; ++i)
    {
        const auto j = index(i);
        const int length =
            makePrime(std::lround(fs * 0.001 * shortestMs * std::pow(longestMs / shortestMs, i / 15.0)));
        baseLength[j] = length;

        const double spread = (i + 1) * 0.618034;
        const double rateHz = (0.6 + 0.8 * (spread - std::floor(spread))) * double(row[10]);
        const double step = 2.0 * pi * rateHz / fs;
        rotCos[j] = static_cast<float>(std::cos(step));
        rotSin[j] = static_cast<float>(std::sin(step));

        const double u1 = random.uniform();
        const double u2 = random.uniform();
        // Reads stay inside 2..lineLength - 4 by construction (a sample to spare): the depth is
        // far below both margins, so this never shortens it.
        const double margin = std::min(length - 3, lineLength - 5 - length);
        depth[j] = static_cast<float>(std::min(double(row[9]) * 0.001 * fs * (0.7 + 0.3 * u1), margin));
        startPhase[j] = static_cast<float>(2.0 * pi * u2);
    }

    for (int k = 0; k < numAllPasses; ++k)
        allPassDelay[static_cast<size_t>(k)] = std::min(
            makePrime(std::lround(fs * double(row[static_cast<size_t>(2 + k)]) / 1000.0)), allPassLength - 1);
    allPassGain = row[6];

    chooseBlockWidth();

    reflectionCount = std::clamp(static_cast<int>(row[11]), 0, maxReflections);
    const double firstMs = row[12];
    const double lastMs = row[13];
    for (int k = 0; k < reflectionCount; ++k)
    {
        const double r = reflectionCount > 1 ? double(k) / (reflectionCount - 1) : 0.0;
        const double u = random.uniform();
        const double timeMs = firstMs + (lastMs - firstMs) * std::pow(r, 1.4) * (0.85 + 0.3 * u);
        const double u2 = random.uniform();
        const double gain =
            (0.8 + 0.4 * u2) * double(row[14]) * std::pow(firstMs / std::max(firstMs, timeMs), 0.8);
        auto& refl = reflections[static_cast<size_t>(k)];
        refl.delaySamples = static_cast<float>(std::max(timeMs * 0.001 * fs, 1.0));
        refl.gain = static_cast<float>(gain);
        refl.side = k % 2;
    }
    leftReflections = 0;
    for (int side = 0, slot = 0; side < 2; ++side)
        for (int k = 0; k < reflectionCount; ++k)
        {
            const auto& refl = reflections[static_cast<size_t>(k)];
            if (refl.side != side)
                continue;
            sortedDelay[static_cast<size_t>(slot)] = refl.delaySamples;
            sortedGain[static_cast<size_t>(slot)] = refl.gain;
            ++slot;
            if (side == 0)
                ++leftReflections;
        }

    lateGain = 0.25f * row[15];
    for (size_t j = 0; j < numLines; ++j)
        feedSign[j] = inputSigns[j];
    for (int c = 0; c < 4; ++c)
        for (int a = 0; a < 4; ++a)
            transposedFeedSign[index(4 * c + a)] = feedSign[index(4 * a + c)];

    computeDamping();
    clear();
}

void FdnCore::allowWideBlocks(bool allowed) noexcept
{
    wideAllowed = allowed;
    chooseBlockWidth();
}

void FdnCore::chooseBlockWidth() noexcept
{
    // A block may only read what was written before it.
    const auto fits = [this](int width) noexcept
    {
        bool ok = *std::min_element(allPassDelay.begin(), allPassDelay.end()) >= width;
        for (size_t j = 0; j < numLines; ++j)
            ok = ok && double(baseLength[j]) - double(depth[j]) >= width + 3.0;
        return ok;
    };
    blockWidth = fits(4) ? 4 : 0;
#if FDN_WIDE_BLOCKS
    if (wideAllowed && fits(8) && __builtin_cpu_supports("avx2"))
        blockWidth = 8;
#endif
}

void FdnCore::setDecay(float decaySeconds) noexcept
{
    decay = clampDecay(decaySeconds);
    computeDamping();
}

// Per line a first-order shelf whose gain at 1 kHz is exactly the loss that makes the line fall
// 60 dB in `decay` seconds, and whose high end falls 60 dB in decay x ratio.
void FdnCore::computeDamping() noexcept
{
    const double fs = sampleRate;
    const double T = decay;
    const double ratio = row[7];
    const double cornerHz = std::min(double(row[8]), 0.45 * fs);
    const double F = 1.0 / std::tan(pi * cornerHz / fs);
    const double a1 = (1.0 - F) / (1.0 + F);
    const double cosW = std::cos(2.0 * pi * 1000.0 / fs);
    const double denominator = 1.0 + a1 * a1 + 2.0 * a1 * cosW;
    for (int i = 0; i < numLines; ++i)
    {
        const auto j = index(i);
        const double N = baseLength[j];
        const double gLow = std::pow(10.0, -3.0 * N / (fs * T));
        const double gHigh = std::pow(10.0, -3.0 * N / (fs * T * ratio));
        const double x0 = (1.0 + F * gHigh / gLow) / (1.0 + F);
        const double x1 = (1.0 - F * gHigh / gLow) / (1.0 + F);
        const double numerator = x0 * x0 + x1 * x1 + 2.0 * x0 * x1 * cosW;
        const double V = gLow * std::sqrt(denominator / numerator);
        dampB0[j] = static_cast<float>(V * x0);
        dampB1[j] = static_cast<float>(V * x1);
        dampA1[j] = static_cast<float>(a1);
    }
}

void FdnCore::finishRun() noexcept
{
    // One Newton step towards unit length keeps the rotating phasors from drifting in amplitude
    // over hours of rounding; a tail too small to matter goes to zero before it turns denormal.
    for (size_t j = 0; j < numLines; ++j)
    {
        const float g = 1.5f - 0.5f * (lfoCos[j] * lfoCos[j] + lfoSin[j] * lfoSin[j]);
        lfoCos[j] *= g;
        lfoSin[j] *= g;
    }
    if (tail < 1e-30)
        tail = 0.0;
}

void FdnCore::tick(float input, const sv::DelayLine& preDelay, float preDelaySamples, float reflectionLevel,
                   float& outL, float& outR) noexcept
{
    float left = 0.0f, right = 0.0f;
    process(&input, &reflectionLevel, preDelay, &preDelaySamples, &left, &right, 1);
    outL += left;
    outR += right;
}

void FdnCore::process(const float* input, const float* reflectionLevel, const sv::DelayLine& preDelay,
                      const float* preDelaySamples, float* outL, float* outR, int n) noexcept
{
    written = written || n > 0;
    int done = 0;
    while (done < n)
    {
        const int chunk = std::min(n - done, runLength - runPosition);
        const int olderAtStart = n - 1 - done;
        if (reflectionCount > 0)
            run<true>(input + done, reflectionLevel + done, preDelay, preDelaySamples + done, outL + done,
                      outR + done, chunk, olderAtStart);
        else
            run<false>(input + done, reflectionLevel + done, preDelay, preDelaySamples + done, outL + done,
                       outR + done, chunk, olderAtStart);
        done += chunk;
        runPosition += chunk;
        if (runPosition == runLength)
        {
            finishRun();
            runPosition = 0;
        }
    }
}

// Blocks of W samples (W = 4, or 8 with AVX2) with each line as one vector over the block, which
// turns the reads and writes into contiguous loads and stores; the modulation and the damping
// run sample by sample with W lines per vector. Every value sees the same operations in the same
// order as in the sample-by-sample path of run, so the output does not depend on the block width
// or on where blocks start. Returns the number of samples done (whole blocks).
template <bool WithReflections, int W>
FDN_INLINE int FdnCore::runBlocks(const float* input, const float* reflectionLevel, float* outL, float* outR,
                                  int n) noexcept
{
    using F = typename Vectors<W>::F;
    using I = typename Vectors<W>::I;
    constexpr int groups = numLines / W;
    constexpr auto width = static_cast<size_t>(W);
    constexpr auto groupCount = static_cast<size_t>(groups);

    // Per-line values, W lines per vector (vector g holds lines W g .. W g + W - 1).
    F lfoC[groupCount], lfoS[groupCount], rotC[groupCount], rotS[groupCount], dep[groupCount], b0[groupCount],
        b1[groupCount], a1[groupCount], state[groupCount], floorLow[groupCount];
    I offset[groupCount], baseLen[groupCount];
    for (int g = 0; g < groups; ++g)
    {
        const auto at = static_cast<size_t>(W * g);
        lfoC[g] = load<F>(&lfoCos[at]);
        lfoS[g] = load<F>(&lfoSin[at]);
        rotC[g] = load<F>(&rotCos[at]);
        rotS[g] = load<F>(&rotSin[at]);
        dep[g] = load<F>(&depth[at]);
        b0[g] = load<F>(&dampB0[at]);
        b1[g] = load<F>(&dampB1[at]);
        a1[g] = load<F>(&dampA1[at]);
        state[g] = load<F>(&dampState[at]);
        floorLow[g] = load<F>(&modulationFloor[at]);
        offset[g] = load<I>(&lineOffset[at]);
        baseLen[g] = load<I>(&baseLength[at]);
    }

    float* const line = lines.data();
    float* const ap = allPass.data();
    const float g = allPassGain;
    const float c = reflectionCoeff;
    const float oneMinusC = 1.0f - c;
    const float late = lateGain;
    const int mask = lineMask;

    const int blockEnd = n - n % W;
    int t = 0;
    for (; t < blockEnd; t += W)
    {
        // Modulation, sample by sample: the phasors turn one step, m is the modulation in samples.
        // While every line's modulation stays within the same whole sample as before (nearly
        // always: it moves by well under a hundredth of a sample per sample), that whole is known
        // and only the fractions need computing.
        F modulation[width][groupCount];
        I inside = (F{} == F{}); // all true
        for (int q = 0; q < groups; ++q)
        {
            F lowest{}, highest{};
            for (int k = 0; k < W; ++k)
            {
                const F co = lfoC[q] * rotC[q] - lfoS[q] * rotS[q];
                const F si = lfoS[q] * rotC[q] + lfoC[q] * rotS[q];
                lfoC[q] = co;
                lfoS[q] = si;
                const F m = dep[q] * si;
                lowest = k == 0 ? m : (m < lowest ? m : lowest);
                highest = k == 0 ? m : (m > highest ? m : highest);
                modulation[k][q] = m;
            }
            inside &= (lowest >= floorLow[q]) & (highest < floorLow[q] + 1.0f);
        }

        // Reads and interpolation, line by line over the block. While a line's whole modulation
        // stays put, its samples read neighbouring runs.
        F x[numLines];
        const int readAt = writePos - 2;
        if (allLanes(inside))
        {
            alignas(32) std::int32_t start[numLines];
            for (int q = 0; q < groups; ++q)
                store(start + W * q,
                      offset[q] + ((readAt - load<I>(&readLag[static_cast<size_t>(W * q)])) & mask));
            for (int q = 0; q < groups; ++q)
            {
                F f[width];
                for (int k = 0; k < W; ++k)
                    f[k] = modulation[k][q] - floorLow[q];
                transpose(f);
                for (int k = 0; k < W; ++k)
                {
                    const float* const p = line + start[W * q + k];
                    x[W * q + k] =
                        catmullRom(load<F>(p + 3), load<F>(p + 2), load<F>(p + 1), load<F>(p), f[k]);
                }
            }
        }
        else
        {
            // Some line moved to another whole sample: floors sample by sample.
            for (int q = 0; q < groups; ++q)
            {
                I whole[width];
                F f[width];
                I moved{};
                for (int k = 0; k < W; ++k)
                {
                    const F m = modulation[k][q];
                    whole[k] = __builtin_convertvector(m, I);
                    whole[k] += m < __builtin_convertvector(whole[k], F); // truncation to floor (true is -1)
                    f[k] = m - __builtin_convertvector(whole[k], F);
                    moved |= whole[k] - whole[0];
                }
                transpose(f);
                const I lag = baseLen[q] + whole[0];
                for (int k = 0; k < W; ++k)
                {
                    const float* const lineStart = line + offset[q][k];
                    const int first = readAt - lag[k];
                    F p0, p1, p2, p3;
                    if (moved[k] == 0)
                    {
                        const float* const p = lineStart + (first & mask);
                        p3 = load<F>(p);
                        p2 = load<F>(p + 1);
                        p1 = load<F>(p + 2);
                        p0 = load<F>(p + 3);
                    }
                    else
                    {
                        for (int s = 0; s < W; ++s)
                        {
                            const float* const p =
                                lineStart + ((first + s + whole[0][k] - whole[s][k]) & mask);
                            p3[s] = p[0];
                            p2[s] = p[1];
                            p1[s] = p[2];
                            p0[s] = p[3];
                        }
                    }
                    x[W * q + k] = catmullRom(p0, p1, p2, p3, f[k]);
                }
                // The newest sample's floor is the one the next block expects.
                floorLow[q] = __builtin_convertvector(whole[W - 1], F);
                store(&readLag[static_cast<size_t>(W * q)], baseLen[q] + whole[W - 1]);
            }
        }

        // Damping, sample by sample across the lines.
        F y[numLines];
        for (int q = 0; q < groups; ++q)
        {
            F v[width];
            for (int k = 0; k < W; ++k)
                v[k] = x[W * q + k];
            transpose(v);
            for (int s = 0; s < W; ++s)
                v[s] = damp(v[s], b0[q], b1[q], a1[q], state[q]);
            transpose(v);
            for (int k = 0; k < W; ++k)
                y[W * q + k] = v[k];
        }

        // Input diffusion over the block (every all-pass is at least a block long).
        F d = load<F>(input + t);
        for (int k = 0; k < numAllPasses; ++k)
        {
            float* const apLine = ap + k * allPassStride;
            const F delayed =
                load<F>(apLine + ((allPassWrite - allPassDelay[static_cast<size_t>(k)]) & allPassMask));
            const F w = flushTiny4(d + g * delayed);
            if (allPassWrite >= allPassGuard && allPassWrite <= allPassMask - (W - 1))
                store(apLine + allPassWrite, w);
            else
                for (int s = 0; s < W; ++s)
                {
                    const int pos = (allPassWrite + s) & allPassMask;
                    apLine[pos] = w[s];
                    if (pos < allPassGuard)
                        apLine[pos + allPassLength] = w[s];
                }
            d = delayed - g * w;
        }
        allPassWrite = (allPassWrite + W) & allPassMask;

        // Late output: signed sums, scaled last. The gain is a power of two (0.25 x 1 in every
        // character), so this equals weighting each line first, to the bit.
        F acc[2][4];
        for (int b = 0; b < 4; ++b)
        {
            acc[0][b] = leftSigns[index(b)] * y[b] + leftSigns[index(4 + b)] * y[4 + b] +
                        leftSigns[index(8 + b)] * y[8 + b] + leftSigns[index(12 + b)] * y[12 + b];
            acc[1][b] = rightSigns[index(b)] * y[b] + rightSigns[index(4 + b)] * y[4 + b] +
                        rightSigns[index(8 + b)] * y[8 + b] + rightSigns[index(12 + b)] * y[12 + b];
        }
        F left = late * ((acc[0][0] + acc[0][1]) + (acc[0][2] + acc[0][3]));
        F right = late * ((acc[1][0] + acc[1][1]) + (acc[1][2] + acc[1][3]));

        // Feedback: H4 over the top two index bits, then over the bottom two.
        F h[numLines], r[numLines];
        for (int b = 0; b < 4; ++b)
        {
            const F in[4] = {y[b], y[4 + b], y[8 + b], y[12 + b]};
            F out[4];
            hadamard4(in, out);
            for (int a = 0; a < 4; ++a)
                h[4 * a + b] = out[a];
        }
        for (int a = 0; a < 4; ++a)
            hadamard4(h + 4 * a, r + 4 * a);
        float* const dst = line + writePos;
        if (writePos >= lineGuard && writePos <= mask - (W - 1))
            for (int j = 0; j < numLines; ++j)
                store(dst + j * lineStride, feedback(r[j], inputSigns[index(j)], d));
        else
            for (int j = 0; j < numLines; ++j)
            {
                const F v = feedback(r[j], inputSigns[index(j)], d);
                float* const lineStart = line + j * lineStride;
                for (int s = 0; s < W; ++s)
                {
                    const int pos = (writePos + s) & mask;
                    lineStart[pos] = v[s];
                    if (pos < lineGuard)
                        lineStart[pos + lineLength] = v[s];
                }
            }
        writePos = (writePos + W) & mask;

        if constexpr (WithReflections)
        {
            for (int s = 0; s < W; ++s)
            {
                const float level = reflectionLevel[t + s];
                reflectionL =
                    flushTiny(oneMinusC * sideL[static_cast<size_t>(t + s)] * level + c * reflectionL);
                reflectionR =
                    flushTiny(oneMinusC * sideR[static_cast<size_t>(t + s)] * level + c * reflectionR);
                left[s] += reflectionL;
                right[s] += reflectionR;
            }
        }
        // The tail's squares for the block at once; its recursion goes sample by sample.
        double e = tail;
        for (int k = 0; k < W / 2; ++k)
        {
            const d2 l = pairAsDoubles(left, k), rr = pairAsDoubles(right, k);
            const d2 power = 0.0005 * (l * l + rr * rr);
            e = 0.9995 * e + power[0];
            e = 0.9995 * e + power[1];
        }
        tail = e;
        store(outL + t, left);
        store(outR + t, right);
    }

    for (int q = 0; q < groups; ++q)
    {
        const auto at = static_cast<size_t>(W * q);
        store(&lfoCos[at], lfoC[q]);
        store(&lfoSin[at], lfoS[q]);
        store(&dampState[at], state[q]);
        store(&modulationFloor[at], floorLow[q]);
    }
    return t;
}

#if FDN_WIDE_BLOCKS
// The same loop compiled for AVX2 (without FMA, so every operation rounds as in the SSE loop);
// chosen at run time when the processor has it.
template <bool WithReflections>
__attribute__((target("avx2"))) int FdnCore::runWideBlocks(const float* input, const float* reflectionLevel,
                                                           float* outL, float* outR, int n) noexcept
{
    return runBlocks<WithReflections, 8>(input, reflectionLevel, outL, outR, n);
}
#endif

// Reflections over the run, blocks while they are possible, then sample by sample with the
// lines as four vectors of four lines.
template <bool WithReflections>
void FdnCore::run(const float* input, const float* reflectionLevel, const sv::DelayLine& preDelay,
                  const float* preDelaySamples, float* outL, float* outR, int n, int olderAtStart) noexcept
{
    // Reflections first: they only read the pre-delay line, so a whole run at a time. With a
    // steady pre-delay each one is a fixed-delay read over the run.
    if constexpr (WithReflections)
    {
        std::fill(sideL.begin(), sideL.begin() + n, 0.0f);
        std::fill(sideR.begin(), sideR.begin() + n, 0.0f);
        const float pd0 = preDelaySamples[0];
        bool steady = true;
        for (int t = 1; t < n; ++t)
            steady = steady && preDelaySamples[t] == pd0;
        for (int k = 0; k < reflectionCount; ++k)
        {
            const float delay = sortedDelay[static_cast<size_t>(k)];
            const float gain = sortedGain[static_cast<size_t>(k)];
            float* const side = k < leftReflections ? sideL.data() : sideR.data();
            if (steady)
                preDelay.addRun(pd0 + delay, olderAtStart, gain, side, n);
            else
                for (int t = 0; t < n; ++t)
                    side[t] += gain * preDelay.readLinear(preDelaySamples[t] + delay, olderAtStart - t);
        }
    }

    int t = 0;
    if (blockWidth == 4)
        t = runBlocks<WithReflections, 4>(input, reflectionLevel, outL, outR, n);
#if FDN_WIDE_BLOCKS
    else if (blockWidth == 8)
        t = runWideBlocks<WithReflections>(input, reflectionLevel, outL, outR, n);
#endif
    if (t == n)
        return;

    // Per-line values as four vectors of four lines (vector q holds lines 4q .. 4q + 3).
    f4 lfoC[4], lfoS[4], rotC[4], rotS[4], dep[4], b0[4], b1[4], a1[4], state[4], feedT[4], signL[4],
        signR[4];
    i4 offset[4], baseLen[4];
    for (int q = 0; q < 4; ++q)
    {
        const auto at = static_cast<size_t>(4 * q);
        lfoC[q] = load4(&lfoCos[at]);
        lfoS[q] = load4(&lfoSin[at]);
        rotC[q] = load4(&rotCos[at]);
        rotS[q] = load4(&rotSin[at]);
        dep[q] = load4(&depth[at]);
        b0[q] = load4(&dampB0[at]);
        b1[q] = load4(&dampB1[at]);
        a1[q] = load4(&dampA1[at]);
        state[q] = load4(&dampState[at]);
        feedT[q] = load4(&transposedFeedSign[at]);
        signL[q] = f4{leftSigns[at], leftSigns[at + 1], leftSigns[at + 2], leftSigns[at + 3]};
        signR[q] = f4{rightSigns[at], rightSigns[at + 1], rightSigns[at + 2], rightSigns[at + 3]};
        offset[q] = load4(&lineOffset[at]);
        baseLen[q] = load4(&baseLength[at]);
    }

    float* const line = lines.data();
    float* const ap = allPass.data();
    const float g = allPassGain;
    const float c = reflectionCoeff;
    const float oneMinusC = 1.0f - c;
    const float late = lateGain;
    const int mask = lineMask;

    for (; t < n; ++t)
    {
        f4 y[4];
        for (int q = 0; q < 4; ++q)
        {
            // The phasors turn one step; the read lies `whole + frac` samples of modulation off
            // the base length.
            const f4 co = lfoC[q] * rotC[q] - lfoS[q] * rotS[q];
            const f4 si = lfoS[q] * rotC[q] + lfoC[q] * rotS[q];
            lfoC[q] = co;
            lfoS[q] = si;
            const f4 m = dep[q] * si;
            i4 whole = __builtin_convertvector(m, i4);
            whole += m < __builtin_convertvector(whole, f4); // truncation to floor (true is -1)
            const f4 f = m - __builtin_convertvector(whole, f4);
            const i4 first = offset[q] + (((writePos - 2) - baseLen[q] - whole) & mask);

            // Four neighbours per line, oldest first, transposed into one vector per neighbour.
            f4 p[4] = {load4(line + first[0]), load4(line + first[1]), load4(line + first[2]),
                       load4(line + first[3])};
            transpose(p);
            y[q] = damp(catmullRom(p[3], p[2], p[1], p[0], f), b0[q], b1[q], a1[q], state[q]);
        }

        // Input diffusion.
        float d = input[t];
        for (int k = 0; k < numAllPasses; ++k)
        {
            float* const apLine = ap + k * allPassStride;
            const float delayed = apLine[(allPassWrite - allPassDelay[static_cast<size_t>(k)]) & allPassMask];
            const float w = flushTiny(d + g * delayed);
            apLine[allPassWrite] = w;
            if (allPassWrite < allPassGuard)
                apLine[allPassWrite + allPassLength] = w;
            d = delayed - g * w;
        }
        allPassWrite = (allPassWrite + 1) & allPassMask;

        // Late output.
        const f4 accL = signL[0] * y[0] + signL[1] * y[1] + signL[2] * y[2] + signL[3] * y[3];
        const f4 accR = signR[0] * y[0] + signR[1] * y[1] + signR[2] * y[2] + signR[3] * y[3];

        // Feedback: H4 across the four vectors (the top two index bits), a transpose, H4 across
        // again (the bottom two); vector c, lane a of the result is line 4a + c.
        f4 h[4], r[4];
        hadamard4(y, h);
        transpose(h);
        hadamard4(h, r);
        for (int q = 0; q < 4; ++q)
        {
            const f4 v = feedback(r[q], feedT[q], splat(d));
            for (int a = 0; a < 4; ++a)
            {
                float* const dst = line + transposedOffset[static_cast<size_t>(4 * q + a)];
                dst[writePos] = v[a];
                if (writePos < lineGuard)
                    dst[writePos + lineLength] = v[a];
            }
        }
        writePos = (writePos + 1) & mask;

        float left = late * ((accL[0] + accL[1]) + (accL[2] + accL[3]));
        float right = late * ((accR[0] + accR[1]) + (accR[2] + accR[3]));
        if constexpr (WithReflections)
        {
            const float level = reflectionLevel[t];
            reflectionL = flushTiny(oneMinusC * sideL[static_cast<size_t>(t)] * level + c * reflectionL);
            reflectionR = flushTiny(oneMinusC * sideR[static_cast<size_t>(t)] * level + c * reflectionR);
            left += reflectionL;
            right += reflectionR;
        }
        // Without reflections their states only decay, and configure left them at zero.
        const double l = left, rr = right;
        tail = 0.9995 * tail + 0.0005 * (l * l + rr * rr);
        outL[t] = left;
        outR[t] = right;
    }

    for (int q = 0; q < 4; ++q)
    {
        const auto at = static_cast<size_t>(4 * q);
        store(&lfoCos[at], lfoC[q]);
        store(&lfoSin[at], lfoS[q]);
        store(&dampState[at], state[q]);
    }
}

} // namespace eng::vocal
