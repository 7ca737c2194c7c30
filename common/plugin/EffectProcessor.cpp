#include "EffectProcessor.h"

#include "ParameterState.h"

namespace plugin
{

EffectProcessor::EffectProcessor(juce::AudioProcessorValueTreeState::ParameterLayout layout)
    : AudioProcessor(BusesProperties()
                         .withInput("Input", juce::AudioChannelSet::stereo(), true)
                         .withOutput("Output", juce::AudioChannelSet::stereo(), true)),
      apvts(*this, nullptr, "PARAMS", std::move(layout))
{
}

bool EffectProcessor::isBusesLayoutSupported(const BusesLayout& layouts) const
{
    const auto in = layouts.getMainInputChannelSet();
    return layouts.getMainOutputChannelSet() == juce::AudioChannelSet::stereo() &&
           (in == juce::AudioChannelSet::mono() || in == juce::AudioChannelSet::stereo());
}

void EffectProcessor::getStateInformation(juce::MemoryBlock& destData)
{
    saveParameters(apvts, destData);
}

void EffectProcessor::setStateInformation(const void* data, int sizeInBytes)
{
    restoreParameters(apvts, data, sizeInBytes);
}

} // namespace plugin
