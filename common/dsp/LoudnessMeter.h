#pragma once

#include "Biquad.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace sv
{

// BS.1770 loudness: K-weighting, 100 ms sub-blocks, momentary (400 ms), short-term (3 s) and
// gated integrated loudness. The owning audio thread calls prepare/process/reset; any thread may
// read the three published values. -100 means "no value yet".
class LoudnessMeter
{
public:
    static constexpr float noValue = -100.0f;

    LoudnessMeter();

    void prepare(double sampleRate);
    void reset();

    // right may be null: then only the left channel counts.
    void process(const float* left, const float* right, int numSamples) noexcept;

    float momentary() const noexcept { return momentaryLufs.load(std::memory_order_relaxed); }
    float shortTerm() const noexcept { return shortTermLufs.load(std::memory_order_relaxed); }
    float integrated() const noexcept { return integratedLufs.load(std::memory_order_relaxed); }

private:
    struct KWeighting
    {
        Biquad preFilter, rlb;
        float process(float x) noexcept { return rlb.process(preFilter.process(x)); }
        void clear() noexcept
        {
            preFilter.clear();
            rlb.clear();
        }
    };

    static constexpr int ringSize = 30; // 3 s of sub-blocks: the short-term window
    static constexpr int momentaryBlocks = 4;
    static constexpr int histogramBins = 800; // 0.1 LU bins from -70 to +10 LUFS

    void endSubBlock() noexcept;
    float integratedFromHistogram() const noexcept;

    double sampleRate = 48000.0;
    int subBlockLength = 4800;

    std::array<KWeighting, 2> channels;
    double sum = 0.0;
    int count = 0;

    std::array<double, ringSize> ring{};
    int writeIndex = 0;
    int valid = 0;

    std::array<std::uint32_t, histogramBins> binCounts{};
    std::array<double, histogramBins> binPowers{};
    std::uint64_t totalCount = 0;
    double totalPower = 0.0;

    std::atomic<float> momentaryLufs{noValue};
    std::atomic<float> shortTermLufs{noValue};
    std::atomic<float> integratedLufs{noValue};
};

} // namespace sv
