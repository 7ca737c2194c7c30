// Sorvel's look-and-feel: the kit's KnobLookAndFeel, with a smaller bold font for buttons marked
// "compact" (the segments of a choice, the LISTEN buttons, the listen status) so their texts fit
// their small heights. Message thread only.
#pragma once

#include "common/ui/KnobLookAndFeel.h"

class SorvelLookAndFeel : public KnobLookAndFeel
{
public:
    // The button property that asks for the compact font.
    static const juce::Identifier& compact();

    juce::Font getTextButtonFont(juce::TextButton& button, int buttonHeight) override;
};
