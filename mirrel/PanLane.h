// The lane of the last 24 hits: where each hit was placed in the stereo field (newest at the
// top, older ones lower, smaller and fainter), the current place as a marker, and the zones where
// a hit can land. Draws only what its owner writes into it. Message thread only.
#pragma once

#include "common/ui/Surfaces.h"

#include <array>

class PanLane : public ui::Display
{
public:
    static constexpr int historySize = 24;

    PanLane();

    void paint(juce::Graphics& g) override;

    std::array<float, historySize> hits{}; // pans of the last hits, newest first, -1 left .. +1 right
    float panNow = 0.0f;                   // the current (gliding) pan
    float width = 1.0f;                    // the width knob as a fraction
    float hole = 0.3f;                     // the hole knob as a fraction
    int hitCount = 0;                      // hits so far
    bool bypassed = false;

private:
    juce::Font sideFont, markFont, captionFont;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(PanLane)
};
