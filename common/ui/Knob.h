// A rotary knob bound to one parameter: the slider with its value box below and a caption
// above. Double-click or alt-click returns it to the parameter's default. Message thread only.
#pragma once

#include "KnobLookAndFeel.h"

#include <juce_audio_processors/juce_audio_processors.h>

class Knob : public juce::Component
{
public:
    Knob(juce::AudioProcessorValueTreeState& tree, const juce::String& parameterId,
         const juce::String& captionText, juce::Colour colour);
    ~Knob() override;

    void resized() override;

    // The layout resized() gives a knob of width x height: the caption on top, the slider under it.
    struct Layout
    {
        juce::Rectangle<int> caption, slider;
    };
    static Layout layoutFor(int width, int height);

    juce::Slider slider;
    juce::Label caption;
    juce::AudioProcessorValueTreeState::SliderAttachment attachment;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(Knob)
};
