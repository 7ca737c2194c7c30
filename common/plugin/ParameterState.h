#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

// The saved state of both plug-ins: the parameter tree as JUCE's binary XML, nothing else.
// Message thread (the host's state calls).
namespace plugin
{

void saveParameters(juce::AudioProcessorValueTreeState& tree, juce::MemoryBlock& destination);

// Replaces the parameters when the blob is binary XML whose root is the tree's type (any case).
// Anything else is ignored and leaves the parameters as they are; a value that is not a finite
// number keeps the parameter's current value. Returns whether the state was taken.
bool restoreParameters(juce::AudioProcessorValueTreeState& tree, const void* data, int sizeInBytes);

} // namespace plugin
