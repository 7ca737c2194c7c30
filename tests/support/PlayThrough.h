#pragma once

// A processor driven block by block as a host drives it, every processBlock checked for heap use.
#include "support/AllocationCounter.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <algorithm>
#include <functional>

namespace testsupport
{

// Plays `input` through `p` in the blocks `nextBlock` gives, calling `beforeBlock(index,
// position)` before each; returns the stereo output (a mono input reads channel 0 only). `p` is
// prepared by the caller.
inline juce::AudioBuffer<float> playThrough(juce::AudioProcessor& p, const juce::AudioBuffer<float>& input,
                                            const std::function<int()>& nextBlock,
                                            const std::function<void(int, int)>& beforeBlock = {})
{
    const int total = input.getNumSamples();
    juce::AudioBuffer<float> output(2, total), buffer(2, 8192);
    juce::MidiBuffer midi;
    int index = 0;
    for (int pos = 0; pos < total; ++index)
    {
        const int n = std::min(nextBlock(), total - pos);
        if (beforeBlock)
            beforeBlock(index, pos);
        buffer.setSize(2, n, false, false, true);
        for (int c = 0; c < 2; ++c)
            buffer.copyFrom(c, 0, input, std::min(c, input.getNumChannels() - 1), pos, n);
        if (p.getTotalNumInputChannels() == 1)
            buffer.clear(1, 0, n);
        EXPECT_NO_HEAP(p.processBlock(buffer, midi));
        for (int c = 0; c < 2; ++c)
            output.copyFrom(c, pos, buffer, c, 0, n);
        pos += n;
    }
    return output;
}

inline juce::AudioBuffer<float> playInBlocks(juce::AudioProcessor& p, const juce::AudioBuffer<float>& input,
                                             int block)
{
    return playThrough(p, input, [block] { return block; });
}

} // namespace testsupport
