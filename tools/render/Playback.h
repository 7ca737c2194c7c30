#pragma once

#include "BlockSizes.h"
#include "PlaybackOptions.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

// The parameter changes a playback makes: values set before it starts and at most one change
// at a given sample.
struct ParameterPlan
{
    std::vector<std::pair<juce::AudioProcessorParameter*, float>> values; // normalised
    juce::AudioProcessorParameter* automated = nullptr;
    float automatedValue = 0.0f;
    juce::int64 automationSample = -1;

    // Checks every setting of the options against the processor's parameters; returns an error
    // (one line) or an empty string. `plainNumbersOnly`: the format carries no text parsing (LV2).
    juce::String resolve(juce::AudioProcessor& processor, const PlaybackOptions& options, double sampleRate,
                         bool plainNumbersOnly);
};

// A parameter by the plug-in's ID, or by the name a host shows; null when there is none.
juce::AudioProcessorParameter* findParameterByIdOrName(juce::AudioProcessor& processor,
                                                       const juce::String& idOrName);

// The normalised value a setting's text asks for, or nothing (with `error` set).
std::optional<float> normalisedValue(juce::AudioProcessorParameter& parameter, const juce::String& text,
                                     bool plainNumbersOnly, juce::String& error);

// Reads an audio file of one or two channels. Returns an error (one line) or an empty string.
juce::String readAudioFile(const juce::File& file, juce::AudioBuffer<float>& audio, double& sampleRate);

// Readies a processor to play a file of `inputChannels` channels: a mono file goes to a mono
// input where the processor takes one, the settings are checked into `plan`, the saved state is
// restored. Returns an error (one line) or an empty string.
juce::String setUpForPlayback(juce::AudioProcessor& processor, const PlaybackOptions& options,
                              int inputChannels, double sampleRate, bool plainNumbersOnly,
                              ParameterPlan& plan);

// Plays audio through a processor the way a host does: the settings in place before it starts
// (one silent block hands them over, then a fresh preparation, as when a host opens a session),
// then blocks of the chosen sizes that end where the automation or a transport jump falls, the
// simulated transport advancing after each. `prepare` prepares the processor (a hosted plug-in
// may need its messages delivered); the processor's play head is the transport while this lives.
class Playback
{
public:
    Playback(juce::AudioProcessor& processor, const PlaybackOptions& options, const ParameterPlan& plan,
             double sampleRate, const std::function<void()>& prepare);
    ~Playback();

    // Processes the next block of `input` (silence past its end) and returns its length; the
    // processed block is block(). `total` is where playback ends.
    int processNext(const juce::AudioBuffer<float>& input, juce::int64 total);

    const juce::AudioBuffer<float>& block() const { return buffer; }
    juce::int64 position() const { return pos; }

private:
    juce::AudioProcessor& processor;
    const ParameterPlan& plan;
    Transport transport;
    BlockSizes sizes;
    juce::AudioBuffer<float> buffer;
    juce::MidiBuffer midi;
    int channels;
    juce::int64 pos = 0;

    JUCE_DECLARE_NON_COPYABLE(Playback)
};
