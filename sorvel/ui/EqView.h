// The EQ view of the module panel while HIGH-PASS or EQ is selected: over 20 Hz .. 20 kHz and
// +12 .. -30 dB, the typical lead vocal guide with its tolerance, the vocal's spectrum before
// and after the selected module (shifted onto the guide), the other high-pass corners and the
// selected module's response. Draws only what its owner writes into it; the owner's refresh
// runs the spectrum through it. Message thread only.
#pragma once

#include "BackgroundCache.h"
#include "ResponseCurves.h"
#include "TapSpectrum.h"

#include "common/ui/JuceCompat.h"
#include "common/ui/Palette.h"

class EqView : public juce::Component
{
public:
    EqView();

    void paint(juce::Graphics& g) override;
    void moved() override { background.invalidate(); }

    // The taps the view shows: the chain input and the signal entering the EQ while HIGH-PASS is
    // selected, the signal entering and leaving the EQ otherwise.
    int beforeTap() const { return hpfMode ? 0 : 1; }
    int afterTap() const { return hpfMode ? 1 : 2; }
    std::array<bool, TapSpectrum::numTaps> shownTaps() const;

    // Stores the selected block's curve data; repaints and returns true when it changed.
    bool setCurve(const float values[2], const int indices[2]);

    // When the view is shown again: forgets the taps waiting in the FIFO and every spectrum, so
    // nothing stale appears, and lets the first analysis set the guide level at once.
    void showFresh(sv2::TapFifo& fifo);

    // Moves the guide level towards the after-tap's level around 1 kHz (at once when fresh).
    void updateGuideLevel();

    // One refresh tick while the view is shown: pulls the taps, analyses the shown ones and,
    // when an analysis ran, updates the guide level and repaints. True when it ran.
    bool pullSpectrum(sv2::TapFifo& fifo);

    // The legend's three entries: before, after, the guide.
    const juce::String& legendText(int entry) const;
    // The hint to play the vocal is shown until the after tap has been analysed.
    bool showsHint() const { return !spectrum.analysed[static_cast<size_t>(afterTap())]; }

    // The plot area of a view of width x height, and the axes over it.
    static juce::Rectangle<float> plotArea(float width, float height);
    static float xFor(juce::Rectangle<float> plot, float hz);
    static float yFor(juce::Rectangle<float> plot, float db);

    TapSpectrum spectrum;
    bool hpfMode = false;
    float curveValues[2]{0, 0};
    int curveIndices[2]{0, 0};
    float guideOffset = -40.0f; // dB between the measured spectrum and the guide
    bool guideFresh = false;

    // Rendered again when the view's size, scale or place changes.
    svui::BackgroundCache background; // the grain, the well, the grid, the labels, the guide band

private:
    void spectrumCurve(juce::Path& path, int tap, juce::Rectangle<float> plot) const;
    void paintBackground(juce::Graphics& g);
    void paintLegend(juce::Graphics& g, juce::Rectangle<float> plot);

    juce::Path before, after, guideBand, response, corners;
    juce::Font font{juce::FontOptions(10.0f, juce::Font::plain)};
};
