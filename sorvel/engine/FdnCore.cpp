#include "FdnCore.h"

#include "common/dsp/XorShift32.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE__)
#include <xmmintrin.h>
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
    return seconds >= 0.1f ? std::min(seconds, 20.0f) : 0.1f;
}

inline float flushTiny(float v) noexcept
{
    return std::abs(v) < tiny ? 0.0f : v;
}

// Four lanes of the lines at a time (GCC and Clang vector extensions: SSE on x86, NEON on Arm).
typedef float f4 __attribute__((vector_size(16)));
typedef std::int32_t i4 __attribute__((vector_size(16)));
typedef double d2 __attribute__((vector_size(16)));

inline f4 load4(const float* p) noexcept
{
    f4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline i4 load4(const std::int32_t* p) noexcept
{
    i4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline f4 splat(float v) noexcept
{
    return f4{v, v, v, v};
}

inline void store4(float* p, f4 v) noexcept
{
    std::memcpy(p, &v, sizeof v);
}

inline f4 flushTiny4(f4 v) noexcept
{
    const f4 magnitude = (f4)((i4)v & 0x7fffffff);
    return (f4)((i4)v & (magnitude >= tiny));
}

// Catmull-Rom between p1 (newer) and p2 at f, p0 and p3 the outer neighbours.
inline f4 catmullRom(f4 p0, f4 p1, f4 p2, f4 p3, f4 f) noexcept
{
    return p1 +
           0.5f * f *
               (p2 - p0 + f * (2.0f * p0 - 5.0f * p1 + 4.0f * p2 - p3 + f * (3.0f * (p1 - p2) + p3 - p0)));
}

// A line's damping section in transposed form.
inline f4 damp(f4 x, f4 b0, f4 b1, f4 a1, f4& state) noexcept
{
    const f4 out = flushTiny4(b0 * x + state);
    state = b1 * x - a1 * out;
    return out;
}

// What goes back into a line: its share of the Hadamard mix plus its share of the input.
inline f4 feedback(f4 mixed, f4 sign, f4 input) noexcept
{
    return flushTiny4(0.25f * mixed + sign * input);
}

// The same for one line whose sign is known where this is inlined (+1 or -1: an exact add or
// subtract instead of a multiply).
inline f4 feedback(f4 mixed, float sign, f4 input) noexcept
{
    return flushTiny4(0.25f * mixed + sign * input);
}

// True when every lane of a comparison holds.
inline bool allLanes(i4 mask) noexcept
{
#if defined(__SSE__)
    return _mm_movemask_ps(reinterpret_cast<__m128>(mask)) == 15;
#else
    return (mask[0] & mask[1] & mask[2] & mask[3]) != 0;
#endif
}

// out[k] = sum over j of (-1)^popcount(k & j) in[j], lane by lane.
inline void hadamard4(const f4* in, f4* out) noexcept
{
    const f4 s01 = in[0] + in[1], d01 = in[0] - in[1];
    const f4 s23 = in[2] + in[3], d23 = in[2] - in[3];
    out[0] = s01 + s23;
    out[1] = d01 + d23;
    out[2] = s01 - s23;
    out[3] = d01 - d23;
}

inline void transpose4(f4* v) noexcept
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
    allPassStride = allPassLength + 4;
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

    // A block of four samples may only read what was written before it.
    blockable = *std::min_element(allPassDelay.begin(), allPassDelay.end()) >= 4;
    for (size_t j = 0; j < numLines; ++j)
        blockable = blockable && double(baseLength[j]) - double(depth[j]) >= 7.0;

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

// One sample is computed with the lines as four vectors of four lines; a block of four samples
// with each line as one vector over the four samples, which turns the reads and writes into
// contiguous loads and stores. Both do the same operations in the same order on every value, so
// the output does not depend on where blocks start.
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

    // Per-line values as four vectors of four lines (vector q holds lines 4q .. 4q + 3).
    f4 lfoC[4], lfoS[4], rotC[4], rotS[4], dep[4], b0[4], b1[4], a1[4], state[4], feedT[4], signL[4],
        signR[4], floorLow[4];
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
        floorLow[q] = load4(&modulationFloor[at]);
        baseLen[q] = load4(&baseLength[at]);
    }

    float* const line = lines.data();
    float* const ap = allPass.data();
    const float g = allPassGain;
    const float c = reflectionCoeff;
    const float oneMinusC = 1.0f - c;
    const float late = lateGain;
    const int mask = lineMask;

    // The late output's signed sums, scaled last: the gain is a power of two (0.25 x 1 in every
    // character), so this equals weighting each line first, to the bit.
    const auto lateSum = [](const f4* v, const float* signs) noexcept
    {
        f4 acc[4];
        for (int b = 0; b < 4; ++b)
            acc[b] = signs[b] * v[b] + signs[4 + b] * v[4 + b] + signs[8 + b] * v[8 + b] + signs[12 + b] * v[12 + b];
        return (acc[0] + acc[1]) + (acc[2] + acc[3]);
    };

    // Reflections and tail energy of one sample; returns the outputs with their reflections.
    const auto finish = [&](int t, float& left, float& right) noexcept
    {
        if constexpr (WithReflections)
        {
            const float level = reflectionLevel[t];
            reflectionL = flushTiny(oneMinusC * sideL[static_cast<size_t>(t)] * level + c * reflectionL);
            reflectionR = flushTiny(oneMinusC * sideR[static_cast<size_t>(t)] * level + c * reflectionR);
            // Without reflections their states only decay, and configure left them at zero.
            left += reflectionL;
            right += reflectionR;
        }
        const double l = left, r = right;
        tail = 0.9995 * tail + 0.0005 * (l * l + r * r);
    };

    // The phasors turn one step; m is the modulation in samples.
    const auto rotate = [&](int q) noexcept
    {
        const f4 co = lfoC[q] * rotC[q] - lfoS[q] * rotS[q];
        const f4 si = lfoS[q] * rotC[q] + lfoC[q] * rotS[q];
        lfoC[q] = co;
        lfoS[q] = si;
        return dep[q] * si;
    };

    // floor(m) and m - floor(m).
    const auto split = [](f4 m, i4& whole, f4& frac) noexcept
    {
        whole = __builtin_convertvector(m, i4);
        whole += m < __builtin_convertvector(whole, f4); // truncation to floor (true is -1)
        frac = m - __builtin_convertvector(whole, f4);
    };

    const int blockEnd = blockable ? n - n % 4 : 0;
    int t = 0;
    for (; t < blockEnd; t += 4)
    {
        // Modulation, sample by sample. While every line's modulation stays within the same whole
        // sample as before (nearly always: it moves by well under a hundredth of a sample per
        // sample), that whole is known and only the fractions need computing.
        f4 frac[4][4];
        i4 inside = {-1, -1, -1, -1};
        for (int q = 0; q < 4; ++q)
        {
            const f4 high = floorLow[q] + 1.0f;
            for (int k = 0; k < 4; ++k)
            {
                const f4 m = rotate(q);
                inside &= (m >= floorLow[q]) & (m < high);
                frac[k][q] = m;
            }
        }

        // Reads and interpolation, line by line over the four samples. While a line's whole
        // modulation stays put, its four samples read four neighbouring runs.
        f4 x[numLines];
        const int readAt = writePos - 2;
        if (allLanes(inside))
        {
            for (int q = 0; q < 4; ++q)
            {
                f4 f[4] = {frac[0][q] - floorLow[q], frac[1][q] - floorLow[q], frac[2][q] - floorLow[q],
                           frac[3][q] - floorLow[q]};
                transpose4(f);
                for (int k = 0; k < 4; ++k)
                {
                    const int j = 4 * q + k;
                    const float* const p = line + offset[q][k] + ((readAt - readLag[index(j)]) & mask);
                    x[j] = catmullRom(load4(p + 3), load4(p + 2), load4(p + 1), load4(p), f[k]);
                }
            }
        }
        else
        {
            // Some line moved to another whole sample: floors sample by sample.
            for (int q = 0; q < 4; ++q)
            {
                i4 whole[4];
                f4 f[4];
                for (int k = 0; k < 4; ++k)
                    split(frac[k][q], whole[k], f[k]);
                transpose4(f);
                const i4 moved = (whole[1] - whole[0]) | (whole[2] - whole[0]) | (whole[3] - whole[0]);
                const i4 lag = baseLen[q] + whole[0];
                for (int k = 0; k < 4; ++k)
                {
                    const int j = 4 * q + k;
                    const float* const lineStart = line + offset[q][k];
                    const int start = readAt - lag[k];
                    f4 p0, p1, p2, p3;
                    if (moved[k] == 0)
                    {
                        const float* const p = lineStart + (start & mask);
                        p3 = load4(p);
                        p2 = load4(p + 1);
                        p1 = load4(p + 2);
                        p0 = load4(p + 3);
                    }
                    else
                    {
                        for (int s = 0; s < 4; ++s)
                        {
                            const float* const p = lineStart + ((start + s + whole[0][k] - whole[s][k]) & mask);
                            p3[s] = p[0];
                            p2[s] = p[1];
                            p1[s] = p[2];
                            p0[s] = p[3];
                        }
                    }
                    x[j] = catmullRom(p0, p1, p2, p3, f[k]);
                }
                // The newest sample's floor is the one the next block expects.
                floorLow[q] = __builtin_convertvector(whole[3], f4);
                const i4 newLag = baseLen[q] + whole[3];
                for (int k = 0; k < 4; ++k)
                    readLag[index(4 * q + k)] = newLag[k];
            }
        }

        // Damping, sample by sample across the lines.
        f4 y[numLines];
        for (int q = 0; q < 4; ++q)
        {
            f4 v[4] = {x[4 * q], x[4 * q + 1], x[4 * q + 2], x[4 * q + 3]};
            transpose4(v);
            for (int s = 0; s < 4; ++s)
                v[s] = damp(v[s], b0[q], b1[q], a1[q], state[q]);
            transpose4(v);
            for (int k = 0; k < 4; ++k)
                y[4 * q + k] = v[k];
        }

        // Input diffusion over the four samples (every all-pass is at least four long).
        f4 d = load4(input + t);
        for (int k = 0; k < numAllPasses; ++k)
        {
            float* const apLine = ap + k * allPassStride;
            const f4 delayed =
                load4(apLine + ((allPassWrite - allPassDelay[static_cast<size_t>(k)]) & allPassMask));
            const f4 w = flushTiny4(d + g * delayed);
            if (allPassWrite >= allPassGuard && allPassWrite <= allPassMask - 3)
                store4(apLine + allPassWrite, w);
            else
                for (int s = 0; s < 4; ++s)
                {
                    const int pos = (allPassWrite + s) & allPassMask;
                    apLine[pos] = w[s];
                    if (pos < allPassGuard)
                        apLine[pos + allPassLength] = w[s];
                }
            d = delayed - g * w;
        }
        allPassWrite = (allPassWrite + 4) & allPassMask;

        // Late output.
        f4 left = late * lateSum(y, leftSigns.data());
        f4 right = late * lateSum(y, rightSigns.data());

        // Feedback: H4 over the top two index bits, then over the bottom two.
        f4 h[numLines], r[numLines];
        for (int b = 0; b < 4; ++b)
        {
            const f4 in[4] = {y[b], y[4 + b], y[8 + b], y[12 + b]};
            f4 out[4];
            hadamard4(in, out);
            for (int a = 0; a < 4; ++a)
                h[4 * a + b] = out[a];
        }
        for (int a = 0; a < 4; ++a)
            hadamard4(h + 4 * a, r + 4 * a);
        float* const dst = line + writePos;
        if (writePos >= lineGuard && writePos <= mask - 3)
            for (int j = 0; j < numLines; ++j)
                store4(dst + j * lineStride, feedback(r[j], inputSigns[index(j)], d));
        else
            for (int j = 0; j < numLines; ++j)
            {
                const f4 v = feedback(r[j], inputSigns[index(j)], d);
                float* const lineStart = line + j * lineStride;
                for (int s = 0; s < 4; ++s)
                {
                    const int pos = (writePos + s) & mask;
                    lineStart[pos] = v[s];
                    if (pos < lineGuard)
                        lineStart[pos + lineLength] = v[s];
                }
            }
        writePos = (writePos + 4) & mask;

        if constexpr (WithReflections)
        {
            for (int s = 0; s < 4; ++s)
            {
                float sampleL = left[s], sampleR = right[s];
                finish(t + s, sampleL, sampleR);
                left[s] = sampleL;
                right[s] = sampleR;
            }
        }
        else
        {
            // The tail's squares for the four samples at once; its recursion goes sample by sample.
            const d2 l01 = __builtin_convertvector(__builtin_shufflevector(left, left, 0, 1), d2);
            const d2 l23 = __builtin_convertvector(__builtin_shufflevector(left, left, 2, 3), d2);
            const d2 r01 = __builtin_convertvector(__builtin_shufflevector(right, right, 0, 1), d2);
            const d2 r23 = __builtin_convertvector(__builtin_shufflevector(right, right, 2, 3), d2);
            const d2 e01 = 0.0005 * (l01 * l01 + r01 * r01);
            const d2 e23 = 0.0005 * (l23 * l23 + r23 * r23);
            double e = tail;
            e = 0.9995 * e + e01[0];
            e = 0.9995 * e + e01[1];
            e = 0.9995 * e + e23[0];
            e = 0.9995 * e + e23[1];
            tail = e;
        }
        store4(outL + t, left);
        store4(outR + t, right);
    }

    for (; t < n; ++t)
    {
        f4 y[4];
        for (int q = 0; q < 4; ++q)
        {
            i4 whole;
            f4 f;
            split(rotate(q), whole, f);
            const i4 first = offset[q] + (((writePos - 2) - baseLen[q] - whole) & mask);

            // Four neighbours per line, oldest first, transposed into one vector per neighbour.
            f4 p[4] = {load4(line + first[0]), load4(line + first[1]), load4(line + first[2]),
                       load4(line + first[3])};
            transpose4(p);
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
        transpose4(h);
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
        finish(t, left, right);
        outL[t] = left;
        outR[t] = right;
    }

    for (int q = 0; q < 4; ++q)
    {
        const auto at = static_cast<size_t>(4 * q);
        store4(&lfoCos[at], lfoC[q]);
        store4(&lfoSin[at], lfoS[q]);
        store4(&dampState[at], state[q]);
        store4(&modulationFloor[at], floorLow[q]);
    }
}

} // namespace eng::vocal
