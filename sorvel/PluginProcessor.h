#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "common/dsp/LoudnessMeter.h"

#include <array>
#include <atomic>

// Sorvel's audio processor: parameters, state, lifecycle and the per-block snapshot. The host
// calls processBlock on its audio thread and everything else on the message thread.
class Sorvel2Processor : public juce::AudioProcessor
{
public:
    static constexpr int numParameters = 36;

    // The per-block snapshot of every parameter (audio thread only). One atomic load each, in
    // the order of the fields, so a block always sees one value per parameter.
    struct Params
    {
        float input = 0, output = 0;
        int hpf = 2;
        float deess = 3;
        int deessChar = 1;
        float deessFreq = 0;  // 0 = Auto
        float bass = 0, treble = 2;
        int bassChar = 1, trebleChar = 0;
        float comp = 4;
        int compChar = 1;
        float compMix = 100;
        float shimmer = 1;
        int shimmerChar = 0;
        float reverb = 2;
        int reverbChar = 0;
        float reverbDecay = 1.6f, reverbPredelay = 30;
        float delay = 1;
        int delayChar = 1;
        float delayFeedback = 25;
        bool delayPingPong = false;
        float width = 2;
        int widthChar = 0;
        float duck = 4;
        int listen = 0;
        bool bypass = false, hpfOn = true, deessOn = true, eqOn = true, compOn = true, shimmerOn = true,
             reverbOn = true, delayOn = true, widthOn = true;
        double tempo = 120.0;
    };

    Sorvel2Processor();
    ~Sorvel2Processor() override = default;

    static juce::AudioProcessorValueTreeState::ParameterLayout createLayout();

    bool isBusesLayoutSupported(const BusesLayout& layouts) const override;
    void prepareToPlay(double sampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override {}

    using AudioProcessor::processBlock;
    void processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;

    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override { return true; }

    const juce::String getName() const override { return "Sorvel"; }
    bool acceptsMidi() const override { return false; }
    bool producesMidi() const override { return false; }
    bool isMidiEffect() const override { return false; }
    double getTailLengthSeconds() const override { return 8.0; }

    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram(int) override {}
    const juce::String getProgramName(int) override { return {}; }
    void changeProgramName(int, const juce::String&) override {}

    void getStateInformation(juce::MemoryBlock& destData) override;
    void setStateInformation(const void* data, int sizeInBytes) override;

    juce::AudioProcessorValueTreeState apvts;

    // Module whose panel the editor shows (0 High-Pass .. 7 Width). Message thread only; not saved.
    std::atomic<int> selectedModule{3};

    const Params& getParams() const noexcept { return params; }
    const sv::LoudnessMeter& getOutputMeter() const noexcept { return outputMeter; }
    const sv::LoudnessMeter& getInputMeter() const noexcept { return inputMeter; }

private:
    void pullParams() noexcept;
    double readHostTempo() const noexcept;

    sv::LoudnessMeter outputMeter;
    sv::LoudnessMeter inputMeter;

    Params params;
    double hostTempo = 120.0;
    int chainChannels = 2;

    // Cached once: the audio thread reads these and never touches the tree.
    std::array<std::atomic<float>*, numParameters> raw{};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(Sorvel2Processor)
};
