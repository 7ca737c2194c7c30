#include "sorvel/engine/reverb/FdnCore.h"
#include "sorvel/engine/reverb/FdnKernel.h"

#include "common/dsp/ClampSetting.h"
#include "common/dsp/XorShift32.h"

#include <algorithm>
#include <cmath>

// One sample of the network, as the kernel (FdnKernel.h) does it for groups of samples:
//  1. each line's modulation phasor turns one step (modulation = depth x sine, in samples);
//  2. each line is read at its base length plus the modulation, Catmull-Rom interpolated;
//  3. each reading passes the line's damping section (the decay set exactly at 1 kHz);
//  4. the input passes the four all-passes of the diffuser;
//  5. the late output is the lines' signed sums, left and right, times the late gain;
//  6. every line is fed the orthonormal Hadamard mix of the readings plus its signed share of
//     the diffused input;
//  7. the early reflections (read from the pre-delay line, low-passed, times the reflection
//     level) are added to the late output;
//  8. the tail energy follows the output power.
//
// The loop of groups of eight samples, compiled for AVX2 and chosen at run time, exists on x86.
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define FDN_WIDE_GROUPS 1
#else
#define FDN_WIDE_GROUPS 0
#endif

namespace eng::vocal
{

namespace
{

constexpr double pi = 3.14159265358979323846;

// Decay clamped to 0.1..20 s; anything that is not a number counts as the shortest.
inline float clampDecay(float seconds) noexcept
{
    return sv::clampSetting(seconds, 0.1f, 20.0f);
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
    chunkPosition = 0;
    // No floor known yet: the first group works it out.
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

    chooseGroupWidth();

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

    computeDamping();
    clear();
}

void FdnCore::allowWideGroups(bool allowed) noexcept
{
    wideAllowed = allowed;
    chooseGroupWidth();
}

void FdnCore::chooseGroupWidth() noexcept
{
    // A group may only read what was written before it.
    const auto fits = [this](int width) noexcept
    {
        bool ok = *std::min_element(allPassDelay.begin(), allPassDelay.end()) >= width;
        for (size_t j = 0; j < numLines; ++j)
            ok = ok && double(baseLength[j]) - double(depth[j]) >= width + 3.0;
        return ok;
    };
    groupWidth = fits(4) ? 4 : 0;
#if FDN_WIDE_GROUPS
    if (wideAllowed && fits(8) && __builtin_cpu_supports("avx2"))
        groupWidth = 8;
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

void FdnCore::finishChunk() noexcept
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
        const int chunk = std::min(n - done, chunkLength - chunkPosition);
        const int olderAtStart = n - 1 - done;
        if (reflectionCount > 0)
            run<true>(input + done, reflectionLevel + done, preDelay, preDelaySamples + done, outL + done,
                      outR + done, chunk, olderAtStart);
        else
            run<false>(input + done, reflectionLevel + done, preDelay, preDelaySamples + done, outL + done,
                       outR + done, chunk, olderAtStart);
        done += chunk;
        chunkPosition += chunk;
        if (chunkPosition == chunkLength)
        {
            finishChunk();
            chunkPosition = 0;
        }
    }
}

// One chunk of a core, done in the kernel (FdnKernel.h): the reflections first (they only read the
// pre-delay line, so the whole run at a time; with a steady pre-delay each one is a fixed-delay
// read), then groups of eight samples where the processor has AVX2, of four otherwise, and the
// samples left over one at a time, all through the same kernel.
template <bool WithReflections>
void FdnCore::run(const float* input, const float* reflectionLevel, const sv::DelayLine& preDelay,
                  const float* preDelaySamples, float* outL, float* outR, int n, int olderAtStart) noexcept
{
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
#if FDN_WIDE_GROUPS
    if (groupWidth == 8)
        t = runWideGroups<WithReflections>(input, reflectionLevel, outL, outR, n);
#endif
    if (groupWidth >= 4)
        t = fdn::GroupKernel<4, WithReflections>(*this).run(input, reflectionLevel, outL, outR, t, n);
    if (t < n)
        fdn::GroupKernel<1, WithReflections>(*this).run(input, reflectionLevel, outL, outR, t, n);
}

#if FDN_WIDE_GROUPS
// The groups of eight, compiled for AVX2 (without FMA, so every operation rounds as in the SSE
// groups); chosen at run time when the processor has it.
template <bool WithReflections>
__attribute__((target("avx2"))) int FdnCore::runWideGroups(const float* input, const float* reflectionLevel,
                                                           float* outL, float* outR, int n) noexcept
{
    return fdn::GroupKernel<8, WithReflections>(*this).run(input, reflectionLevel, outL, outR, 0, n);
}
#endif

} // namespace eng::vocal
