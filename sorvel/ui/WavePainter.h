// The wave display's drawing, apart from its ring and its time axis: mirrored level envelopes
// of the input, the output peaks and the output level, the compressor's two reductions hanging
// from the top and the de-esser's cuts rising from the bottom, over any number of columns; the
// level grid, the dB labels on both sides and the legend. The live display and the picture of a
// whole take both draw through it. Message thread only.
#pragma once

#include "common/ui/JuceCompat.h"

namespace svui
{
// One column of the wave picture.
struct WaveColumn
{
    float inDb = -60.0f, outPeakDb = -60.0f, outDb = -60.0f; // -60 .. 0
    float peakGr = 0.0f, levelGr = 0.0f;                     // dB of reduction, positive
    float deessCut = 0.0f;                                   // dB, positive
    float deessOn = 0.0f;                                    // 0 or 1

    // Whether the de-esser's cut is drawn (a shaded run and a bar from the bottom).
    bool cutShown() const { return deessOn > 0.5f && deessCut >= 0.3f; }
};

// Where the plot lies and where its columns stand: column i at x(i).
struct WavePlot
{
    float left = 0, top = 0, width = 0, height = 0;
    float step = 0;     // between columns
    bool steps = false; // column i held flat from x(i) to x(i) + step, rather than joined to the next

    float x(int i) const { return left + static_cast<float>(i) * step; }
    float centre() const { return top + height / 2.0f; }
    float half() const { return height / 2.0f; }
    float bottom() const { return top + height; }
    // How far a level of d dB extends above and below the centre line: 0 dB fills the half
    // height, -54 dB and below nothing, on a square law.
    float extent(float db) const;
    // The y of a compressor reduction of gr dB, hanging from the top: 12 dB reach the centre.
    float reductionY(float gr) const;
    // The height of a de-ess bar from the bottom: 12 dB reach a quarter of the plot.
    float cutHeight(const WaveColumn& c) const;
};

class WavePainter
{
public:
    // Reserves path room for `columns` columns, so painting them allocates nothing.
    explicit WavePainter(int columns);

    // The envelopes, reductions and cuts of `count` columns, clipped to the plot; column i is
    // ring[(first + i) % count] (first 0 for a plain array).
    void paint(juce::Graphics& g, const WavePlot& plot, const WaveColumn* ring, int count, int first = 0);

    // The -12 and -24 dB envelope lines and the centre line across the plot.
    static void paintLevelLines(juce::Graphics& g, const WavePlot& plot);
    // "0", "-12", "-24" left of the plot; the reductions "-3", "-6", "-12" on its right.
    static void paintScaleLabels(juce::Graphics& g, const WavePlot& plot, const juce::Font& font);
    // The legend in a header `headerHeight` high, starting at the plot's left, and the note on
    // the reductions right-aligned in a view `width` wide.
    static void paintLegend(juce::Graphics& g, const WavePlot& plot, const juce::Font& font, float width,
                            float headerHeight);

private:
    juce::Path input, outputPeak, outputLevel, levelReduction, peakReduction, deessCuts;
};
} // namespace svui
