#pragma once

#include "common/plugin/EffectProcessor.h"

#include "mirrel/engine/MirrelEngine.h"

#include <array>
#include <atomic>

// Mirrel's audio processor: nine parameters, state, lifecycle, and the host-facing side of the
// audio path (play head, buses). The engine does the work. processBlock on the audio thread,
// everything else on the message thread.
class MirrelProcessor : public plugin::EffectProcessor
{
public:
    static constexpr int numParameters = 9;

    MirrelProcessor();
    ~MirrelProcessor() override = default;

    static juce::AudioProcessorValueTreeState::ParameterLayout createLayout();

    void prepareToPlay(double sampleRate, int maximumExpectedSamplesPerBlock) override;

    using AudioProcessor::processBlock;
    void processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;

    juce::AudioProcessorEditor* createEditor() override;

    const juce::String getName() const override { return "Mirrel"; }
    double getTailLengthSeconds() const override { return 0.0; }

    // What the editor reads (and the loudness reset it writes).
    mr::Feed& feed() noexcept { return engine.feed; }
    const mr::MirrelEngine& getEngine() const noexcept { return engine; }

private:
    mr::Mirrel::Settings readSettings() const noexcept;
    mr::TransportState readTransport() const noexcept;

    mr::MirrelEngine engine;

    // Cached once, in the order of the parameter table; read once per block.
    std::array<std::atomic<float>*, numParameters> raw{};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(MirrelProcessor)
};
