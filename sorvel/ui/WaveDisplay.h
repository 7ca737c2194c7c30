// The wide display at the top of Sorvel's window: the last five seconds of the vocal (one
// column per 10 ms metering record) as mirrored level envelopes of the input, the output peaks
// and the output level, the compressor's reductions hanging from the top and the de-esser's
// cuts rising from the bottom. Draws only the columns its owner appends. Message thread only.
#pragma once

#include "BackgroundCache.h"
#include "WavePainter.h"

#include "sorvel/engine/EditorFeed.h"

#include "common/ui/JuceCompat.h"
#include "common/ui/Palette.h"

#include <array>

class WaveDisplay : public juce::Component
{
public:
    static constexpr int numColumns = 500; // five seconds of 10 ms records

    using Column = svui::WaveColumn;

    // Where the plot lies in a display of width x height; x(i) of column i (0 the oldest).
    struct Layout
    {
        float header = 0, footer = 0;
        float plotTop = 0, plotHeight = 0, plotWidth = 0;
        float centre = 0, half = 0; // the centre line and the envelopes' half height
        float step = 0;             // between columns

        static constexpr float plotLeft = 40.0f;
        static Layout of(float width, float height);
        float x(int i) const { return plotLeft + static_cast<float>(i) * step; }
        // How far a level of d dB extends above and below the centre line.
        float extent(float db) const;
        // The y of a compressor reduction of gr dB, hanging from the top.
        float reductionY(float gr) const;
        // The plot and its columns, as the painter takes them.
        svui::WavePlot plot() const { return {plotLeft, plotTop, plotWidth, plotHeight, step}; }
    };

    WaveDisplay();

    void paint(juce::Graphics& g) override;
    void moved() override { background.invalidate(); }

    // Writes the next column, overwriting the oldest.
    void append(const Column& column);

    // One metering record as the next column: levels in dB (at least -60), the compressor's
    // two reductions smoothed on their way down (each rise is taken at once), the de-ess cut as
    // it is. The owner repaints once after appending a tick's records.
    void appendRecord(const sv2::MeteringRecord& record);

    // Column i of the history, 0 the oldest and numColumns - 1 the newest.
    const Column& column(int i) const;

    std::array<Column, numColumns> columns{};
    int writeIndex = 0;
    struct Reduction
    {
        float peak = 0.0f, level = 0.0f;
    } smoothedGr;

    // Rendered again when the view's size, scale or place changes.
    svui::BackgroundCache background; // the well, the grid, the labels and the legend

private:
    void paintBackground(juce::Graphics& g);

    svui::WavePainter painter{numColumns};
    juce::Font font{juce::FontOptions(10.0f, juce::Font::plain)};
};
