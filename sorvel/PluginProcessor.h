#pragma once

#include "common/plugin/EffectProcessor.h"

#include "common/dsp/LoudnessMeter.h"
#include "sorvel/engine/Chain.h"
#include "sorvel/engine/EditorFeed.h"
#include "sorvel/engine/Params.h"

#include <array>
#include <atomic>

// Sorvel's audio processor: parameters, state, lifecycle and the per-block snapshot. The host
// calls processBlock on its audio thread and everything else on the message thread.
class Sorvel2Processor : public plugin::EffectProcessor
{
public:
    static constexpr int numParameters = 36;

    // The per-block snapshot of every parameter and the tempo (audio thread only).
    using Params = sv2::Params;

    Sorvel2Processor();
    ~Sorvel2Processor() override = default;

    static juce::AudioProcessorValueTreeState::ParameterLayout createLayout();

    void prepareToPlay(double sampleRate, int maximumExpectedSamplesPerBlock) override;

    using AudioProcessor::processBlock;
    void processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;

    juce::AudioProcessorEditor* createEditor() override;

    const juce::String getName() const override { return "Sorvel"; }
    double getTailLengthSeconds() const override { return 8.0; }

    // Module whose panel the editor shows (0 High-Pass .. 7 Width). Message thread only; not saved.
    std::atomic<int> selectedModule{3};

    const Params& getParams() const noexcept { return params; }
    const sv::LoudnessMeter& getOutputMeter() const noexcept { return outputMeter; }
    const sv::LoudnessMeter& getInputMeter() const noexcept { return inputMeter; }

    // What the editor reads, and the two requests it writes (loudness reset, spectrum taps).
    sv2::EditorFeed& getFeed() noexcept { return feed; }
    const sv2::Chain& getChain() const noexcept { return chain; }

private:
    void readParams() noexcept;

    sv2::Chain chain{inputMeter, outputMeter, feed};
    sv::LoudnessMeter outputMeter;
    sv::LoudnessMeter inputMeter;
    sv2::EditorFeed feed;

    Params params;
    double hostTempo = 120.0;
    bool hostPlaying = false;

    // Cached once: the audio thread reads these and never touches the tree.
    std::array<std::atomic<float>*, numParameters> raw{};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(Sorvel2Processor)
};
