#include "SorvelLookAndFeel.h"

const juce::Identifier& SorvelLookAndFeel::compact()
{
    static const juce::Identifier id("compact");
    return id;
}

juce::Font SorvelLookAndFeel::getTextButtonFont(juce::TextButton& button, int buttonHeight)
{
    if (button.getProperties().contains(compact()))
        return juce::Font(
            juce::FontOptions(juce::jmin(static_cast<float>(buttonHeight) * 0.52f, 12.0f), juce::Font::bold));
    return KnobLookAndFeel::getTextButtonFont(button, buttonHeight);
}
