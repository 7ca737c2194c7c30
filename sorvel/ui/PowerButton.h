// The power symbol and the module panel's on/off button, which draws it in the module colour
// while the module is on. Message thread only.
#pragma once

#include "common/ui/Palette.h"

namespace svui
{
// An open ring (the gap at the top) with a bar through the gap, `thickness` wide, in `area`.
void drawPower(juce::Graphics& g, juce::Rectangle<float> area, juce::Colour colour, float thickness);
} // namespace svui

class PowerButton : public juce::Button
{
public:
    // A toggle button; the owner binds its state to the module's switch.
    PowerButton(const juce::String& name, juce::Colour moduleColour);

    void paintButton(juce::Graphics& g, bool highlighted, bool down) override;

    juce::Colour colour;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(PowerButton)
};
