#pragma once

// Measurements on rendered stereo buffers that tests of both plug-ins make.
#include <juce_audio_basics/juce_audio_basics.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace testsupport
{

inline float largestDifference(const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b,
                               int from = 0, int to = -1)
{
    if (a.getNumSamples() != b.getNumSamples() || a.getNumChannels() != b.getNumChannels())
        return std::numeric_limits<float>::infinity();
    const int end = to < 0 ? a.getNumSamples() : to;
    float worst = 0.0f;
    for (int c = 0; c < a.getNumChannels(); ++c)
        for (int i = from; i < end; ++i)
            worst = std::max(worst, std::abs(a.getSample(c, i) - b.getSample(c, i)));
    return worst;
}

inline float largestStep(const juce::AudioBuffer<float>& y, int from = 1, int to = -1)
{
    const int end = to < 0 ? y.getNumSamples() : std::min(to, y.getNumSamples());
    float worst = 0.0f;
    for (int c = 0; c < y.getNumChannels(); ++c)
        for (int i = std::max(from, 1); i < end; ++i)
            worst = std::max(worst, std::abs(y.getSample(c, i) - y.getSample(c, i - 1)));
    return worst;
}

inline bool allFinite(const juce::AudioBuffer<float>& y)
{
    for (int c = 0; c < y.getNumChannels(); ++c)
        for (int i = 0; i < y.getNumSamples(); ++i)
            if (!std::isfinite(y.getSample(c, i)))
                return false;
    return true;
}

} // namespace testsupport
