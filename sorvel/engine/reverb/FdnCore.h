#pragma once

#include "sorvel/engine/primitives/DelayLine.h"
#include "sorvel/engine/Tune.h"

#include <array>
#include <cstdint>
#include <vector>

namespace eng::vocal
{

namespace fdn
{
template <int W, bool WithReflections> class GroupKernel;
}

// One reverb: a 16-line feedback delay network behind a four-all-pass input diffuser, with
// modulated prime-length lines, per-line damping that sets the decay exactly at 1 kHz, a
// Hadamard feedback matrix and the character's early reflections. Audio thread only (configure
// included); prepare comes from the chain's prepareToPlay.
class FdnCore
{
public:
    static constexpr int numLines = 16;
    static constexpr int numAllPasses = 4;
    static constexpr int maxReflections = 16;
    // Work is done in chunks of at most this many samples, counted from clear (the modulation
    // phasors are renormalised at each chunk's end, independently of how pieces are cut).
    static constexpr int chunkLength = 256;

    struct Reflection
    {
        float delaySamples = 1.0f;
        float gain = 0.0f;
        int side = 0; // 0 left, 1 right
    };

    // Sizes every line for the longest character at this rate, then configures "Plate" at its own
    // decay so that the core is valid before the first setting.
    void prepare(double sampleRate);

    // Silences every line and state and puts each line's modulation back at its start phase.
    void clear() noexcept;

    // Character (clamped to 0..2) and decay (clamped to 0.1..20 s): all per-line and reflection
    // values, then clear. Allocates nothing.
    void configure(int character, float decaySeconds) noexcept;

    // A new decay (clamped to 0.1..20 s) for the running core: only the damping sections are
    // recomputed; lines and states carry on.
    void setDecay(float decaySeconds) noexcept;

    // One sample: adds the stereo output to outL and outR. The pre-delay line's newest sample is
    // the one of this tick; the reflections read it at preDelaySamples plus their own delays.
    void tick(float input, const sv::DelayLine& preDelay, float preDelaySamples, float reflectionLevel,
              float& outL, float& outR) noexcept;

    // n ticks in one go, the same as n calls of tick, except that the whole piece is already in
    // the pre-delay line (its newest sample belongs to the piece's last tick) and that the outputs
    // are written, not added to. The line must be at least n samples longer than the longest
    // reflection read.
    void process(const float* input, const float* reflectionLevel, const sv::DelayLine& preDelay,
                 const float* preDelaySamples, float* outL, float* outR, int n) noexcept;

    int getCharacter() const noexcept { return character; }
    float getDecay() const noexcept { return decay; }
    int getBufferLength() const noexcept { return lineLength; }
    int getLineLength(int line) const noexcept { return baseLength[index(line)]; }
    float getModulationDepth(int line) const noexcept { return depth[index(line)]; }
    float getStartPhase(int line) const noexcept { return startPhase[index(line)]; }
    int getAllPassLength(int k) const noexcept { return allPassDelay[static_cast<size_t>(k)]; }
    int getReflectionCount() const noexcept { return reflectionCount; }
    Reflection getReflection(int k) const noexcept { return reflections[static_cast<size_t>(k)]; }
    // Damping section of a line: b0, b1, a1 of (b0 + b1 z^-1) / (1 + a1 z^-1).
    std::array<float, 3> getDamping(int line) const noexcept
    {
        return {dampB0[index(line)], dampB1[index(line)], dampA1[index(line)]};
    }
    // Running mean of the output power (left^2 + right^2), about 2000 samples long.
    float getTailEnergy() const noexcept { return static_cast<float>(tail); }

    // Groups of eight samples where the processor has AVX2 (the default), or never: the output is
    // the same to the bit either way. For tests and measurements; not for the audio thread.
    void allowWideGroups(bool allowed) noexcept;
    int getGroupWidth() const noexcept { return groupWidth; }

private:
    static size_t index(int line) noexcept { return static_cast<size_t>(line); }
    void computeDamping() noexcept;
    template <int W, bool WithReflections> friend class fdn::GroupKernel;

    template <bool WithReflections>
    void run(const float* input, const float* reflectionLevel, const sv::DelayLine& preDelay,
             const float* preDelaySamples, float* outL, float* outR, int n, int olderAtStart) noexcept;
    template <bool WithReflections>
    int runWideGroups(const float* input, const float* reflectionLevel, float* outL, float* outR,
                      int n) noexcept;
    void chooseGroupWidth() noexcept;
    void finishChunk() noexcept;

    using Lanes = std::array<float, numLines>;
    using IntLanes = std::array<std::int32_t, numLines>;

    // Samples behind each line's and each all-pass's end that repeat its first ones, so that a
    // run of neighbours never wraps: a line's reads over a group of eight span eleven samples, an
    // all-pass's eight.
    static constexpr int lineGuard = 10;
    static constexpr int allPassGuard = 7;

    double sampleRate = 48000.0;
    int character = 0;
    float decay = 1.6f;
    tune::ReverbRow row = tune::reverbChars[0];

    // Lines: one allocation, line j at j * lineStride, each lineLength long (a power of two) plus
    // its guard; all share one write position.
    std::vector<float> lines;
    int lineLength = 0;
    int lineStride = 0;
    int lineMask = 0;
    int writePos = 0;
    // Samples per group: 8 where the processor has AVX2, else 4, when every read lies at least
    // that far back (always, from 8 kHz up for groups of four); 0 for sample by sample.
    int groupWidth = 0;
    bool wideAllowed = true;

    alignas(64) IntLanes baseLength{};
    alignas(64) IntLanes lineOffset{};
    alignas(64) Lanes depth{};
    alignas(64) Lanes lfoCos{};
    alignas(64) Lanes lfoSin{};
    alignas(64) Lanes rotCos{};
    alignas(64) Lanes rotSin{};
    alignas(64) Lanes startPhase{};
    alignas(64) Lanes dampB0{};
    alignas(64) Lanes dampB1{};
    alignas(64) Lanes dampA1{};
    alignas(64) Lanes dampState{};
    // Per line the whole part of its modulation at the last sample (a float), and the base length
    // plus that: where the line reads while its modulation stays within that whole sample.
    alignas(64) Lanes modulationFloor{};
    alignas(64) IntLanes readLag{};

    // Input diffuser: four lines of one power-of-two length (plus guard), one write position.
    std::vector<float> allPass;
    std::array<int, numAllPasses> allPassDelay{};
    int allPassLength = 0;
    int allPassStride = 0;
    int allPassMask = 0;
    int allPassWrite = 0;
    float allPassGain = 0.7f;
    // 0.25 x the character's late output gain.
    float lateGain = 0.25f;
    // Something went into the lines since they were last zeroed.
    bool written = true;

    // Reflections: the left ones first, then the right ones.
    std::array<Reflection, maxReflections> reflections{};
    std::array<float, maxReflections> sortedDelay{};
    std::array<float, maxReflections> sortedGain{};
    int reflectionCount = 0;
    int leftReflections = 0;
    float reflectionCoeff = 0.0f;
    float reflectionL = 0.0f;
    float reflectionR = 0.0f;

    // Double, so that squaring the last quiet samples before they are set to zero (around
    // 1e-20) does not make denormals.
    double tail = 0.0;
    int chunkPosition = 0;

    // The reflections of one chunk, per side, before their low-pass.
    std::array<float, chunkLength> sideL{};
    std::array<float, chunkLength> sideR{};
};

} // namespace eng::vocal
