// The loudness panel: a bar of the momentary loudness (-40 to 0 LUFS) with a scale and
// reference lines at -14 and -23, the short-term loudness as a large number, momentary and
// integrated as rows, and a RESET button whose click the owner handles. Draws only what its owner
// writes into it. Message thread only.
#pragma once

#include "Palette.h"

class LoudnessPanel : public juce::Component
{
public:
    explicit LoudnessPanel(const juce::String& caption);
    ~LoudnessPanel() override;

    void paint(juce::Graphics& g) override;
    void resized() override;

    // "-14.2", or "--.-" for -99 and below (no reading).
    static juce::String valueText(float lufs);
    // The bar's colour for a momentary loudness.
    static juce::Colour barColour(float lufs);

    // Takes a meter's readings, repainting only when one has changed: they move every 100 ms,
    // an editor's refresh comes every 33.
    void setReadings(float momentaryLufs, float shortTermLufs, float integratedLufs);

    juce::TextButton resetButton;
    juce::String caption;
    float momentary = -100.0f, shortTerm = -100.0f, integrated = -100.0f; // LUFS; -99 and below: none

private:
    // The value texts, rebuilt only when a value changes.
    struct CachedText
    {
        float value = 0.0f;
        juce::String text;
        bool valid = false;
        const juce::String& of(float lufs);
    };
    CachedText shortTermText, momentaryText, integratedText;
    juce::Font titleFont, captionFont, scaleFont, smallFont, bigFont, rowFont;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(LoudnessPanel)
};
