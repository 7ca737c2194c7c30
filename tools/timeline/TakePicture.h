// The frame every take picture shares, in the house style: the window background with the
// plug-in's title, the take's name and the logo, one panel holding the plug-in's own well and
// the short-term loudness beneath it over a common time axis, and the row of figures. A
// component drawn headless into an image; message thread only.
#pragma once

#include "Timeline.h"

#include "common/ui/Style.h"

namespace timeline
{
class TakePicture : public juce::Component
{
public:
    static constexpr int minimumWidth = 480, minimumHeight = 360;
    static constexpr int defaultWidth = 1200, defaultHeight = 640;

    // Where the parts lie in a picture of width x height.
    struct Layout
    {
        juce::Rectangle<float> panel, main, loudness, figures;
        static Layout of(float width, float height);
    };

    // The time plot inside a well (in the well's own coordinates): the same left edge and width
    // in both wells, so a moment lies at one x all the way down.
    struct Plot
    {
        float left = 40, top = 0, width = 0, height = 0;
        double seconds = 0; // the take's length

        float x(double t) const;
        float bottom() const { return top + height; }
    };
    static Plot mainPlot(juce::Rectangle<float> well, double seconds);
    static Plot loudnessPlot(juce::Rectangle<float> well, double seconds);
    // The plot of the plug-in's own well in a picture of width x height (the well's origin added).
    static juce::Rectangle<float> mainPlotArea(int width, int height);

    // The loudness well's scale: a short-term reading's y.
    static constexpr float loudestLufs = 0.0f, quietestLufs = -48.0f;
    static float lufsY(const Plot& plot, float lufs);

    struct Track
    {
        const LoudnessTrack* track = nullptr;
        juce::String name;
        juce::Colour colour;
        float thickness = 1.5f; // a broad line under a thin one shows both where they meet
    };

    juce::String title;    // "SORVEL"
    juce::String subtitle; // the take
    double seconds = 0;    // the take's length
    std::vector<Track> tracks;
    std::vector<Figure> figures;

    // The picture at width x height pixels.
    juce::Image render(int width, int height);

    void paint(juce::Graphics& g) override;

protected:
    // A picture of a take of `seconds`, headed by `title` and the take's subtitle.
    TakePicture(const juce::String& title, const TakeInfo& info, double seconds);

    // The plug-in's own well, in its own coordinates (0, 0, well width, well height).
    virtual void paintMain(juce::Graphics& g, float width, float height) = 0;

    // Vertical lines at the time axis' ticks, over a plot.
    void paintTimeGrid(juce::Graphics& g, const Plot& plot) const;

    juce::SharedResourcePointer<ui::Style> style; // the faces, the grain, the logo
    juce::Font small{ui::font(10.0f, ui::Weight::Regular)};

private:
    void paintLoudness(juce::Graphics& g, float width, float height);
    void paintFigures(juce::Graphics& g, juce::Rectangle<float> area);
    double tickSpacing(const Plot& plot) const;
};

// Takes the subtitle of a take: "the whole take: phrase.wav, 0:04.2 at 48 kHz; comp=6".
juce::String takeSubtitle(const TakeInfo& info, double seconds);
} // namespace timeline
