// A row of joined text buttons, one per choice of a parameter, the current one lit in the
// module colour. A click on another segment sets the parameter as one gesture and then tells
// the owner (onChange); host changes light the segment without telling it. Message thread only.
#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <functional>

class SegmentedChoice : public juce::Component
{
public:
    SegmentedChoice(juce::RangedAudioParameter& parameter, juce::Colour colour,
                    std::function<void(int)> onChange);

    void resized() override;

    // Destroyed in reverse: the attachment goes before the buttons it lights.
    juce::OwnedArray<juce::TextButton> buttons;
    juce::ParameterAttachment attachment;
    std::function<void(int)> onChange;
    int selected = -1;

private:
    void valueChanged(float value);
    void buttonClicked(int index);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(SegmentedChoice)
};
