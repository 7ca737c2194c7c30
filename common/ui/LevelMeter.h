// A thin vertical peak meter, -48 to 0 dB: green below -18, amber to -6, red above, with a
// peak-hold mark. Draws only what its owner writes into it. Message thread only.
#pragma once

#include "Palette.h"

class LevelMeter : public juce::Component
{
public:
    LevelMeter();

    void paint(juce::Graphics& g) override;

    // The height of value v (dB) measured down from the top of a meter `height` high.
    static float yFor(float v, float height);

    float level = -60.0f; // dB, the displayed level
    float peak = -60.0f;  // dB, the peak-hold mark
    int hold = 0;         // ticks before the peak mark falls (the owner's counter)

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(LevelMeter)
};
