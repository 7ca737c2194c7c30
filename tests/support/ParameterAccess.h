#pragma once

// Parameters of a processor's tree by ID, as tests set and read them. A mistyped ID fails the
// test that asked for it (and the call does nothing) instead of crashing the test binary.
#include <juce_audio_processors/juce_audio_processors.h>

#include <gtest/gtest.h>

namespace testsupport
{

inline juce::RangedAudioParameter* findParameter(juce::AudioProcessorValueTreeState& tree, const char* id)
{
    auto* parameter = tree.getParameter(id);
    if (parameter == nullptr)
        ADD_FAILURE() << "no parameter \"" << id << "\"";
    return parameter;
}

// Sets the parameter to a plain value (in its own units: dB, an index, 0 or 1), notifying the host.
inline void setPlain(juce::AudioProcessorValueTreeState& tree, const char* id, float plain)
{
    if (auto* parameter = findParameter(tree, id))
        parameter->setValueNotifyingHost(parameter->convertTo0to1(plain));
}

// The parameter's plain value; 0 when there is no such parameter (the test has failed then).
inline float plainValue(juce::AudioProcessorValueTreeState& tree, const char* id)
{
    auto* parameter = findParameter(tree, id);
    return parameter != nullptr ? parameter->convertFrom0to1(parameter->getValue()) : 0.0f;
}

} // namespace testsupport
