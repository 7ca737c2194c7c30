#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

// The simulated transport the render tool gives a plug-in: tempo, playing or stopped, a start
// position in quarter notes and an optional jump to another position at a given sample.
// Advanced by the render loop after each block; read by the plug-in during processBlock.
class Transport : public juce::AudioPlayHead
{
public:
    struct Settings
    {
        double bpm = 120.0;
        bool playing = false;
        double startQuarterNotes = 0.0;
        juce::int64 jumpAtSample = -1; // -1: no jump
        double jumpToQuarterNotes = 0.0;
        bool hasTempo = true;
    };

    Transport(Settings s, double sampleRate);

    juce::Optional<PositionInfo> getPosition() const override;

    // Samples until the pending jump, or -1: the render loop ends a block there so the jump
    // lands exactly.
    juce::int64 samplesUntilJump() const;
    void advance(int numSamples);

private:
    Settings settings;
    double rate;
    juce::int64 samplesRendered = 0;
    double quarterNotes;
    bool jumped = false;
};
