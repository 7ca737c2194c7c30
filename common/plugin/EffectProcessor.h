#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

namespace plugin
{

// What both plug-ins answer a host alike: an audio effect with a mono or stereo input "Input"
// and a stereo output "Output", no MIDI, one program, an editor, and the parameter tree "PARAMS"
// as the whole saved state. The plug-ins add their processing. Host calls arrive on the host's
// threads as JUCE describes; nothing here runs on the audio thread.
class EffectProcessor : public juce::AudioProcessor
{
public:
    explicit EffectProcessor(juce::AudioProcessorValueTreeState::ParameterLayout layout);

    bool isBusesLayoutSupported(const BusesLayout& layouts) const override;
    void releaseResources() override {}

    bool hasEditor() const override { return true; }
    bool acceptsMidi() const override { return false; }
    bool producesMidi() const override { return false; }
    bool isMidiEffect() const override { return false; }

    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram(int) override {}
    const juce::String getProgramName(int) override { return {}; }
    void changeProgramName(int, const juce::String&) override {}

    void getStateInformation(juce::MemoryBlock& destData) override;
    void setStateInformation(const void* data, int sizeInBytes) override;

    juce::AudioProcessorValueTreeState apvts;
};

} // namespace plugin
