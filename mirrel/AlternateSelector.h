// Three buttons for the "alternate" choice (OFF, MOSTLY, ALWAYS): the one of the parameter's
// current value is lit; clicking one sets the parameter as one complete gesture. Message thread.
#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

class AlternateSelector : public juce::Component
{
public:
    explicit AlternateSelector(juce::RangedAudioParameter& parameter);
    ~AlternateSelector() override;

    void resized() override;

    juce::OwnedArray<juce::TextButton> buttons;
    juce::ParameterAttachment attachment;

private:
    void show(float choice);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(AlternateSelector)
};
