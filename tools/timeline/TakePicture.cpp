#include "TakePicture.h"

#include "common/ui/Backdrop.h"
#include "common/ui/LogoMark.h"
#include "common/ui/Surfaces.h"

#include <cmath>

namespace timeline
{
namespace
{
constexpr float labelSpacing = 90.0f; // pixels between time labels, at least

juce::Colour alpha(juce::Colour c, int value)
{
    return c.withAlpha(static_cast<juce::uint8>(value));
}
} // namespace

TakePicture::TakePicture(const juce::String& titleText, const TakeInfo& info, double takeSeconds)
    : title(titleText), subtitle(takeSubtitle(info, takeSeconds)), seconds(takeSeconds)
{
}

TakePicture::Layout TakePicture::Layout::of(float width, float height)
{
    Layout l;
    l.panel = {14.0f, 48.0f, juce::jmax(width - 28.0f, 0.0f), juce::jmax(height - 62.0f, 0.0f)};
    const float inner = juce::jmax(width - 48.0f, 0.0f);
    const float figuresHeight = 40.0f;
    l.figures = {24.0f, l.panel.getBottom() - 8.0f - figuresHeight, inner, figuresHeight};
    const float loudnessHeight = juce::jlimit(80.0f, 160.0f, std::round(l.panel.getHeight() / 4.0f));
    l.loudness = {24.0f, l.figures.getY() - 8.0f - loudnessHeight, inner, loudnessHeight};
    l.main = {24.0f, 58.0f, inner, juce::jmax(l.loudness.getY() - 10.0f - 58.0f, 0.0f)};
    return l;
}

float TakePicture::Plot::x(double t) const
{
    return left + (seconds > 0.0 ? static_cast<float>(t / seconds) * width : 0.0f);
}

TakePicture::Plot TakePicture::mainPlot(juce::Rectangle<float> well, double seconds)
{
    Plot p;
    p.top = juce::jmin(28.0f, well.getHeight());
    p.width = juce::jmax(well.getWidth() - 76.0f, 0.0f);
    p.height = juce::jmax(well.getHeight() - 8.0f - p.top, 0.0f);
    p.seconds = seconds;
    return p;
}

juce::Rectangle<float> TakePicture::mainPlotArea(int width, int height)
{
    const auto well = Layout::of(static_cast<float>(width), static_cast<float>(height)).main;
    const auto p = mainPlot(well.withZeroOrigin(), 0.0);
    return {well.getX() + p.left, well.getY() + p.top, p.width, p.height};
}

TakePicture::Plot TakePicture::loudnessPlot(juce::Rectangle<float> well, double seconds)
{
    auto p = mainPlot(well, seconds);
    p.height = juce::jmax(well.getHeight() - 22.0f - p.top, 0.0f);
    return p;
}

float TakePicture::lufsY(const Plot& plot, float lufs)
{
    const float f = juce::jlimit(0.0f, 1.0f, (loudestLufs - lufs) / (loudestLufs - quietestLufs));
    return plot.top + f * plot.height;
}

juce::Image TakePicture::render(int width, int height)
{
    setSize(width, height);
    return createComponentSnapshot(getLocalBounds(), true, 1.0f);
}

double TakePicture::tickSpacing(const Plot& plot) const
{
    return tickSeconds(seconds, plot.width, labelSpacing);
}

void TakePicture::paintTimeGrid(juce::Graphics& g, const Plot& plot) const
{
    const double step = tickSpacing(plot);
    g.setColour(alpha(ui::panelEdge, 0x73));
    for (int k = 1; static_cast<double>(k) * step < seconds; ++k)
        g.fillRect(std::round(plot.x(static_cast<double>(k) * step)), plot.top, 1.0f, plot.height);
}

void TakePicture::paint(juce::Graphics& g)
{
    const ui::Backdrop backdrop(g, *this);
    const auto width = static_cast<float>(getWidth()), height = static_cast<float>(getHeight());
    const auto l = Layout::of(width, height);

    const auto titleFont = ui::font(20.0f, ui::Weight::SemiBold);
    g.setColour(ui::text);
    g.setFont(titleFont);
    g.drawText(title, juce::Rectangle<float>(18, 10, 300, 28), juce::Justification::centredLeft, true);
    const float titleWidth = std::floor(ui::stringWidth(titleFont, title));
    g.setColour(ui::dim);
    g.setFont(ui::font(12.0f, ui::Weight::Regular));
    g.drawText(
        subtitle,
        juce::Rectangle<float>(titleWidth + 42, 12, juce::jmax(width - titleWidth - 42 - 80, 0.0f), 24),
        juce::Justification::centredLeft, true);
    ui::LogoMark::draw(g, width - 18.0f, 11.0f);

    ui::drawPanel(g, l.panel);

    for (const auto& [area, painter] :
         {std::pair{l.main, &TakePicture::paintMain}, std::pair{l.loudness, &TakePicture::paintLoudness}})
    {
        if (area.isEmpty())
            continue;
        ui::fillDisplay(g, area, 6.0f);
        const juce::Graphics::ScopedSaveState saved(g);
        g.setOrigin(area.getPosition().toInt());
        g.reduceClipRegion(0, 0, static_cast<int>(area.getWidth()), static_cast<int>(area.getHeight()));
        (this->*painter)(g, area.getWidth(), area.getHeight());
    }
    paintFigures(g, l.figures);
}

void TakePicture::paintLoudness(juce::Graphics& g, float width, float height)
{
    const auto plot = loudnessPlot({0, 0, width, height}, seconds);

    // Grid: every 6 LU, stronger and labelled every 12.
    g.setFont(small);
    for (int lufs = 0; lufs >= static_cast<int>(quietestLufs); lufs -= 6)
    {
        const float y = lufsY(plot, static_cast<float>(lufs));
        const bool labelled = lufs % 12 == 0;
        g.setColour(alpha(ui::panelEdge, labelled ? 0x80 : 0x40));
        g.fillRect(plot.left, std::round(y), plot.width, 1.0f);
        if (labelled)
        {
            g.setColour(ui::dim);
            g.drawText(juce::String(lufs), juce::Rectangle<float>(plot.left - 36, y - 6, 32, 12),
                       juce::Justification::centredRight, false);
        }
    }
    paintTimeGrid(g, plot);

    // Each track's integrated loudness as a dashed line, its short-term readings as a line
    // that breaks where there is no reading.
    const float hopPixels =
        seconds > 0.0 ? static_cast<float>(LoudnessTrack::hopSeconds / seconds) * plot.width : 0.0f;
    {
        const juce::Graphics::ScopedSaveState clipped(g);
        g.reduceClipRegion(
            juce::Rectangle<float>(plot.left, plot.top - 2, plot.width, plot.height + 4).toNearestInt());
        for (const auto& t : tracks)
        {
            if (t.track == nullptr)
                continue;
            if (t.track->integrated > -99.0f)
            {
                const float y = lufsY(plot, t.track->integrated);
                g.setColour(t.colour.withMultipliedAlpha(0.55f));
                for (float x = plot.left; x < plot.left + plot.width; x += 8.0f)
                    g.fillRect(x, y - 0.5f, juce::jmin(4.0f, plot.left + plot.width - x), 1.0f);
            }
            juce::Path line;
            bool open = false;
            const auto& v = t.track->values;
            for (size_t k = 0; k < v.size(); ++k)
            {
                if (v[k] <= -99.0f)
                {
                    open = false;
                    continue;
                }
                // Reading k closes the 100 ms that ends at (k + 1) x 100 ms.
                const float x = plot.x(static_cast<double>(k + 1) * LoudnessTrack::hopSeconds);
                const float y = lufsY(plot, v[k]);
                if (!open)
                    line.startNewSubPath(x - hopPixels, y);
                line.lineTo(x, y);
                open = true;
            }
            g.setColour(t.colour);
            g.strokePath(line, juce::PathStrokeType(t.thickness, juce::PathStrokeType::curved,
                                                    juce::PathStrokeType::rounded));
        }
    }

    // Legend and note in the header, the time labels in the footer.
    float x = plot.left;
    for (const auto& t : tracks)
    {
        g.setColour(t.colour);
        g.fillRoundedRectangle(x, 10.0f, 8.0f, 8.0f, 2.0f);
        g.drawText(t.name, juce::Rectangle<float>(x + 12, 6, ui::stringWidth(small, t.name) + 4, 16),
                   juce::Justification::centredLeft, false);
        x += 12 + ui::stringWidth(small, t.name) + 22;
    }
    g.setColour(ui::dim);
    g.drawText("short-term loudness (3 s) in LUFS; dashed: integrated",
               juce::Rectangle<float>(10, 6, juce::jmax(width - 22, 0.0f), 16),
               juce::Justification::centredRight, false);

    const double step = tickSpacing(plot);
    const float labelY = height - 17.0f;
    g.setColour(ui::dim);
    for (int k = 0; static_cast<double>(k) * step <= seconds + 1e-9; ++k)
    {
        const double t = static_cast<double>(k) * step;
        const float cx = plot.x(t);
        const auto text = clockText(t, step);
        if (k == 0)
            g.drawText(text, juce::Rectangle<float>(plot.left, labelY, 60, 12),
                       juce::Justification::centredLeft, false);
        else if (cx + 30.0f <= width - 4.0f)
            g.drawText(text, juce::Rectangle<float>(cx - 30, labelY, 60, 12), juce::Justification::centred,
                       false);
    }
}

void TakePicture::paintFigures(juce::Graphics& g, juce::Rectangle<float> area)
{
    const auto captionFont = ui::font(9.0f, ui::Weight::SemiBold);
    const auto valueFont = ui::font(13.0f, ui::Weight::Medium);
    float x = area.getX() + 16.0f;
    const float right = area.getRight() - 8.0f;
    for (size_t i = 0; i < figures.size() && x < right; ++i)
    {
        const auto& f = figures[i];
        const float w = juce::jmin(
            juce::jmax(ui::stringWidth(captionFont, f.caption), ui::stringWidth(valueFont, f.value)) + 4.0f,
            right - x);
        g.setColour(ui::dim);
        g.setFont(captionFont);
        g.drawText(f.caption, juce::Rectangle<float>(x, area.getY() + 4, w, 12),
                   juce::Justification::centredLeft, true);
        g.setColour(ui::text);
        g.setFont(valueFont);
        g.drawText(f.value, juce::Rectangle<float>(x, area.getY() + 18, w, 18),
                   juce::Justification::centredLeft, true);
        x += w + 18.0f;
        if (i + 1 < figures.size() && x < right)
        {
            g.setColour(ui::panelEdge);
            g.fillRect(x - 9.0f, area.getY() + 6, 1.0f, area.getHeight() - 12);
            x += 9.0f;
        }
    }
}

juce::String takeSubtitle(const TakeInfo& info, double seconds)
{
    const double tick = seconds < 60.0 ? 0.1 : 1.0;
    auto kHz = juce::String(info.sampleRate / 1000.0, 1);
    if (kHz.endsWith(".0"))
        kHz = kHz.dropLastCharacters(2);
    auto text = "the whole take: " + info.fileName + ", " + clockText(seconds, tick) + " at " + kHz + " kHz";
    text << (info.settings.isEmpty() ? juce::String("; defaults") : "; " + info.settings);
    return text;
}
} // namespace timeline
