#pragma once

#include <string>
#include <vector>

// Minimal WAV reading and writing for tools and tests that run without JUCE (the demo material
// generator, the engine tests). PCM 16/24/32-bit and 32-bit float in; 24-bit PCM out.
namespace wav
{

struct Audio
{
    double sampleRate = 48000.0;
    std::vector<std::vector<float>> channels; // channels[c][i]

    int numChannels() const { return static_cast<int>(channels.size()); }
    int numSamples() const { return channels.empty() ? 0 : static_cast<int>(channels[0].size()); }
};

// Returns false (and leaves `error` set) when the file is missing or not a WAV we read.
bool read(const std::string& path, Audio& out, std::string& error);
bool write24(const std::string& path, const Audio& audio, std::string& error);

} // namespace wav
