#pragma once

// Drives a processor in-process the way the render tool drives a hosted plug-in: parameters in
// place before preparing, the same block sizes, the same simulated transport. A render through
// a built bundle must give exactly this.
#include "RenderRun.h"
#include "render/BlockSizes.h"
#include "render/Transport.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <functional>

namespace testsupport
{

struct DirectRenderSettings
{
    int blockMin = 512, blockMax = 512;
    juce::int64 seed = 1;
    Transport::Settings transport;
    double jumpAtSeconds = -1.0, jumpToQuarterNotes = 0.0;
};

// The order in which a host's calls reach the plug-in differs between the formats, and the
// processor is driven in that order:
// - VST3: the render sets the parameters, prepares, runs one silent block (which hands the
//   values over), releases and prepares again;
// - LV2: JUCE's LV2 wrapper prepares a plug-in when it is created and JUCE's LV2 host creates
//   it anew at every prepare, restoring its state afterwards: the settings arrive as changes
//   after a preparation at the defaults.
enum class HostSequence
{
    vst3,
    lv2
};

inline juce::AudioBuffer<float> renderDirect(juce::AudioProcessor& p, const juce::AudioBuffer<float>& input,
                                             double rate, DirectRenderSettings s = {},
                                             const std::function<void()>& applySettings = {},
                                             HostSequence sequence = HostSequence::vst3)
{
    if (s.jumpAtSeconds >= 0.0)
    {
        s.transport.jumpAtSample = static_cast<juce::int64>(std::llround(s.jumpAtSeconds * rate));
        s.transport.jumpToQuarterNotes = s.jumpToQuarterNotes;
    }
    juce::MidiBuffer settleMidi;
    if (sequence == HostSequence::vst3)
    {
        if (applySettings)
            applySettings();
        Transport settle(s.transport, rate);
        p.setPlayHead(&settle);
        p.prepareToPlay(rate, s.blockMax);
        juce::AudioBuffer<float> silence(2, s.blockMax);
        silence.clear();
        p.processBlock(silence, settleMidi);
        p.releaseResources();
        Transport transport(s.transport, rate);
        p.setPlayHead(&transport);
        p.prepareToPlay(rate, s.blockMax);
    }
    else
    {
        p.prepareToPlay(rate, s.blockMax);
        if (applySettings)
            applySettings();
    }
    Transport transport(s.transport, rate);
    p.setPlayHead(&transport);

    const int total = input.getNumSamples();
    juce::AudioBuffer<float> output(2, total), block(2, s.blockMax);
    juce::MidiBuffer midi;
    BlockSizes sizes(s.blockMin, s.blockMax, s.seed);
    for (int pos = 0; pos < total;)
    {
        int n = juce::jmin(sizes.next(), total - pos);
        if (const auto until = transport.samplesUntilJump(); until > 0 && until < n)
            n = static_cast<int>(until);
        block.setSize(2, n, false, false, true);
        for (int c = 0; c < 2; ++c)
            block.copyFrom(c, 0, input, juce::jmin(c, input.getNumChannels() - 1), pos, n);
        p.processBlock(block, midi);
        for (int c = 0; c < 2; ++c)
            output.copyFrom(c, pos, block, c, 0, n);
        transport.advance(n);
        pos += n;
    }
    p.setPlayHead(nullptr);
    return output;
}

} // namespace testsupport
