#pragma once

#include <algorithm>
#include <cmath>

namespace eng::vocal
{

// The chain's look-ahead: the de-esser's, then the compressor's at the host rate, then the
// oversampler's round trip. The sum is what the processor reports to the host.
inline int deEssLookaheadSamples(double sampleRate) noexcept
{
    return std::max(1, static_cast<int>(std::lround(0.0015 * sampleRate)));
}

inline int compLookaheadSamples(double sampleRate) noexcept
{
    return std::max(1, static_cast<int>(std::lround(0.0005 * sampleRate)));
}

constexpr int oversamplerRoundTripSamples = 31;

// Delay of the oversampled Compress/Shimmer section at the host rate.
inline int sectionDelaySamples(double sampleRate) noexcept
{
    return compLookaheadSamples(sampleRate) + oversamplerRoundTripSamples;
}

} // namespace eng::vocal
