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

namespace ui
{
// One refresh tick of a meter fed a linear peak: the level follows a new peak at once and falls
// 1.2 dB per tick; the peak mark holds for 45 ticks, then falls 0.6 dB per tick, never below the
// level. Repaints the meter only when it moved; returns the peak in dB (-60 for silence).
float advanceMeter(LevelMeter& meter, float linearPeak);
} // namespace ui
