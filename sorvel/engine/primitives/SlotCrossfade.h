#pragma once

#include "sorvel/engine/primitives/FilterDesign.h"
#include "sorvel/engine/primitives/Ramp.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace eng::vocal::detail
{

// One chunk of a crossfade between two complete filter sets (one cascade per channel each):
// per sample the ramp advances first, then the sample runs through both sets and becomes
// old + r (new - old). `n` must not pass the ramp's end, so the caller hands over exactly there.
// Works in short chunks so that each set goes over a chunk at a time, both channels at once; the
// result is the same as sample by sample. Audio thread.
template <int MaxSections>
void crossfadeChunk(std::array<md::Cascade<MaxSections>, 2>& from,
                    std::array<md::Cascade<MaxSections>, 2>& to, Ramp& ramp, float* const* channels,
                    int numChannels, int offset, int n) noexcept
{
    constexpr int chunkLength = 64;
    float gain[chunkLength];
    float oldOut[2][chunkLength];
    float newOut[2][chunkLength];
    for (int start = 0; start < n; start += chunkLength)
    {
        const int len = std::min(chunkLength, n - start);
        for (int i = 0; i < len; ++i)
            gain[i] = ramp.next();
        for (int ch = 0; ch < numChannels; ++ch)
        {
            const float* x = channels[ch] + offset + start;
            std::copy(x, x + len, oldOut[ch]);
            std::copy(x, x + len, newOut[ch]);
        }
        if (numChannels == 2)
        {
            md::processTwoChannels(from[0], from[1], oldOut[0], oldOut[1], len);
            md::processTwoChannels(to[0], to[1], newOut[0], newOut[1], len);
        }
        else
        {
            from[0].process(oldOut[0], len);
            to[0].process(newOut[0], len);
        }
        for (int ch = 0; ch < numChannels; ++ch)
        {
            float* x = channels[ch] + offset + start;
            for (int i = 0; i < len; ++i)
                x[i] = oldOut[ch][i] + gain[i] * (newOut[ch][i] - oldOut[ch][i]);
        }
    }
}

// Samples in a crossfade: 20 ms, at least one.
inline int crossfadeSamples(double sampleRate) noexcept
{
    return std::max(1, static_cast<int>(std::lround(0.020 * sampleRate)));
}

} // namespace eng::vocal::detail
