#pragma once

#include "FilterDesign.h"
#include "Ramp.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace eng::vocal::detail
{

// One stretch of a crossfade between two complete filter sets (one cascade per channel each):
// per sample the ramp advances first, then the sample runs through both sets and becomes
// old + r (new - old). `n` must not pass the ramp's end, so the caller hands over exactly there.
// Works in short runs so that each cascade goes over a run at a time; the result is the same as
// sample by sample. Audio thread.
template <int MaxSections>
void crossfadeRun(std::array<md::Cascade<MaxSections>, 2>& from, std::array<md::Cascade<MaxSections>, 2>& to,
                  Ramp& ramp, float* const* channels, int numChannels, int offset, int n) noexcept
{
    constexpr int runLength = 64;
    float gain[runLength];
    float oldOut[runLength];
    float newOut[runLength];
    for (int start = 0; start < n; start += runLength)
    {
        const int len = std::min(runLength, n - start);
        for (int i = 0; i < len; ++i)
            gain[i] = ramp.next();
        for (int ch = 0; ch < numChannels; ++ch)
        {
            float* x = channels[ch] + offset + start;
            std::copy(x, x + len, oldOut);
            std::copy(x, x + len, newOut);
            from[static_cast<std::size_t>(ch)].process(oldOut, len);
            to[static_cast<std::size_t>(ch)].process(newOut, len);
            for (int i = 0; i < len; ++i)
                x[i] = oldOut[i] + gain[i] * (newOut[i] - oldOut[i]);
        }
    }
}

// Samples in a crossfade: 20 ms, at least one.
inline int crossfadeSamples(double sampleRate) noexcept
{
    return std::max(1, static_cast<int>(std::lround(0.020 * sampleRate)));
}

} // namespace eng::vocal::detail
