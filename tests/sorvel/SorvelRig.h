#pragma once

// A Sorvel processor driven block by block as a host drives it, with every processBlock checked
// for heap use.
#include "sorvel/PluginProcessor.h"
#include "support/AllocationCounter.h"
#include "support/BufferChecks.h"
#include "support/ParameterAccess.h"
#include "support/PlayThrough.h"

#include <functional>

namespace testsupport
{

struct SorvelRig
{
    struct PlayHead : juce::AudioPlayHead
    {
        bool playing = false;
        double bpm = 120.0;
        bool hasBpm = true;
        juce::Optional<PositionInfo> getPosition() const override
        {
            PositionInfo info;
            info.setIsPlaying(playing);
            if (hasBpm)
                info.setBpm(bpm);
            return info;
        }
    };

    Sorvel2Processor p;
    PlayHead head;
    juce::MidiBuffer midi;
    double rate = 48000.0;

    SorvelRig() { p.setPlayHead(&head); }

    void set(const char* id, float plain) { setPlain(p.apvts, id, plain); }

    void allModulesOff()
    {
        for (const char* id :
             {"hpfOn", "deessOn", "eqOn", "compOn", "shimmerOn", "reverbOn", "delayOn", "widthOn"})
            set(id, 0.0f);
    }

    void prepare(double sampleRate = 48000.0, int block = 512, bool monoInput = false)
    {
        rate = sampleRate;
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add(monoInput ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo());
        layout.outputBuses.add(juce::AudioChannelSet::stereo());
        p.setBusesLayout(layout);
        p.prepareToPlay(sampleRate, block);
    }

    // Processes `input` in blocks of `block` samples (or the sizes `nextBlock` gives), calling
    // `beforeBlock(index, position)` before each. Returns the stereo output.
    juce::AudioBuffer<float> run(const juce::AudioBuffer<float>& input, int block,
                                 const std::function<void(int, int)>& beforeBlock = {},
                                 const std::function<int()>& nextBlock = {})
    {
        if (nextBlock)
            return playThrough(p, input, nextBlock, beforeBlock);
        return playThrough(p, input, [block] { return block; }, beforeBlock);
    }
};

inline juce::AudioBuffer<float> sine(double rate, double hz, float amplitude, int samples, int channels = 2)
{
    juce::AudioBuffer<float> b(channels, samples);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < samples; ++i)
            b.setSample(c, i, amplitude * static_cast<float>(std::sin(2.0 * M_PI * hz * i / rate)));
    return b;
}

} // namespace testsupport
