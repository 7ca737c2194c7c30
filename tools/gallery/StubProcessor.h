// A processor with a handful of parameters and no audio, so that kit components which bind to
// parameters (knobs) or resize an editor (the size button) can be shown and tested without a
// plug-in. Message thread only.
#pragma once

#include "common/plugin/EffectProcessor.h"

namespace gallery
{
class StubProcessor : public plugin::EffectProcessor
{
public:
    StubProcessor() : EffectProcessor(layout()) {}

    // Eight copies of each kind, "amount1" ... "amount8" and so on, so that every knob shown can
    // hold its own value: amount 0 to 1 (default 0.5), gain -12 to +12 dB (0), mix 0 to 100 %
    // (100), time 1 to 500 ms, skewed (40).
    static juce::AudioProcessorValueTreeState::ParameterLayout layout()
    {
        struct Kind
        {
            const char* id;
            juce::NormalisableRange<float> range;
            float defaultValue;
            int decimals;
            const char* suffix;
        };
        const Kind kinds[] = {{"amount", {0.0f, 1.0f}, 0.5f, 2, ""},
                              {"gain", {-12.0f, 12.0f}, 0.0f, 1, " dB"},
                              {"mix", {0.0f, 100.0f}, 100.0f, 0, " %"},
                              {"time", {1.0f, 500.0f, 0.0f, 0.4f}, 40.0f, 0, " ms"}};
        juce::AudioProcessorValueTreeState::ParameterLayout l;
        for (const auto& kind : kinds)
        {
            for (int n = 1; n <= 8; ++n)
            {
                const auto id = juce::String(kind.id) + juce::String(n);
                const int decimals = kind.decimals;
                const juce::String suffix(kind.suffix);
                l.add(std::make_unique<juce::AudioParameterFloat>(
                    juce::ParameterID{id, 1}, id, kind.range, kind.defaultValue,
                    juce::AudioParameterFloatAttributes().withStringFromValueFunction(
                        [decimals, suffix](float v, int) { return juce::String(v, decimals) + suffix; })));
            }
        }
        return l;
    }

    const juce::String getName() const override { return "Stub"; }
    void prepareToPlay(double, int) override {}
    void processBlock(juce::AudioBuffer<float>&, juce::MidiBuffer&) override {}
    using juce::AudioProcessor::processBlock;
    double getTailLengthSeconds() const override { return 0; }
    juce::AudioProcessorEditor* createEditor() override;
};

// A bare editor for a stub processor: the window kit components find through their parents.
class StubEditor : public juce::AudioProcessorEditor
{
public:
    explicit StubEditor(juce::AudioProcessor& p) : juce::AudioProcessorEditor(p) {}
};

inline juce::AudioProcessorEditor* StubProcessor::createEditor()
{
    return new StubEditor(*this);
}
} // namespace gallery
