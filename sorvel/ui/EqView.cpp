#include "EqView.h"

#include "common/ui/Style.h"
#include "common/ui/Surfaces.h"

#include "sorvel/engine/Tune.h"

#include <cmath>

namespace
{
constexpr float topDb = 12.0f, bottomDb = -30.0f;
constexpr int responsePoints = 160;
constexpr int cornerPoints = 120;

juce::Colour alpha(juce::Colour c, int value)
{
    return c.withAlpha(static_cast<juce::uint8>(value));
}

struct GridLine
{
    float value;
    juce::String text;
};

struct Texts
{
    std::array<GridLine, 8> frequencies{{{50, "50"},
                                         {100, "100"},
                                         {200, "200"},
                                         {500, "500"},
                                         {1000, "1k"},
                                         {2000, "2k"},
                                         {5000, "5k"},
                                         {10000, "10k"}}};
    std::array<GridLine, 6> levels{
        {{6, "+6"}, {0, "0"}, {-6, "-6"}, {-12, "-12"}, {-18, "-18"}, {-24, "-24"}}};
    juce::String beforeHighPass{"before high-pass"}, beforeEq{"before EQ"}, after{"after"},
        guide{"typical lead vocal: a guide, not a target"}, hint{"play the vocal to see its spectrum"};
};

const Texts& texts()
{
    static const Texts t;
    return t;
}
} // namespace

EqView::EqView()
{
    setOpaque(true);
    setInterceptsMouseClicks(false, false);
    guideBand.preallocateSpace(3 * 2 * TapSpectrum::numBands + 8);
    before.preallocateSpace(3 * TapSpectrum::numBands + 12);
    after.preallocateSpace(3 * TapSpectrum::numBands + 12);
    response.preallocateSpace(3 * responsePoints + 4);
    corners.preallocateSpace(3 * cornerPoints + 4);
}

juce::Rectangle<float> EqView::plotArea(float width, float height)
{
    const float well = juce::jmax(height - 14.0f, 0.0f);
    return {24.0f, 6.0f, juce::jmax(juce::jmax(width - 16.0f, 0.0f) + 8.0f - 24.0f, 0.0f),
            juce::jmax(well - 12.0f, 0.0f)};
}

float EqView::xFor(juce::Rectangle<float> plot, float hz)
{
    return plot.getX() + plot.getWidth() * std::log(hz / 20.0f) / std::log(1000.0f);
}

float EqView::yFor(juce::Rectangle<float> plot, float db)
{
    return plot.getY() + plot.getHeight() * (topDb - db) / (topDb - bottomDb);
}

std::array<bool, TapSpectrum::numTaps> EqView::shownTaps() const
{
    std::array<bool, TapSpectrum::numTaps> taps{};
    taps[static_cast<size_t>(beforeTap())] = true;
    taps[static_cast<size_t>(afterTap())] = true;
    return taps;
}

bool EqView::setCurve(const float values[2], const int indices[2])
{
    bool changed = false;
    for (size_t i = 0; i < 2; ++i)
    {
        if (std::abs(values[i] - curveValues[i]) > 0.0001f || indices[i] != curveIndices[i])
            changed = true;
        curveValues[i] = values[i];
        curveIndices[i] = indices[i];
    }
    if (changed)
        repaint();
    return changed;
}

void EqView::updateGuideLevel()
{
    const auto& levels = spectrum.levels[static_cast<size_t>(afterTap())];
    double measured = 0.0, reference = 0.0;
    for (int k = 0; k < TapSpectrum::numBands; ++k)
    {
        const float hz = TapSpectrum::bandHz(k);
        if (hz < 700.0f || hz > 1400.0f)
            continue;
        measured += std::pow(10.0, levels[static_cast<size_t>(k)] / 10.0);
        reference += std::pow(10.0, svui::interpLog(svui::guide, hz) / 10.0);
    }
    const double offset = 10.0 * std::log10(measured / std::max(reference, 1e-30));
    if (offset > -100.0)
    {
        const auto x = static_cast<float>(offset);
        guideOffset = guideFresh ? x : guideOffset + 0.15f * (x - guideOffset);
        guideFresh = false;
    }
    repaint();
}

void EqView::showFresh(sv2::TapFifo& fifo)
{
    TapSpectrum::drain(fifo);
    spectrum.reset();
    guideFresh = true;
    repaint();
}

bool EqView::pullSpectrum(sv2::TapFifo& fifo)
{
    if (!spectrum.pullAndAnalyse(fifo, shownTaps()))
        return false;
    updateGuideLevel();
    return true;
}

void EqView::spectrumCurve(juce::Path& path, int tap, juce::Rectangle<float> plot) const
{
    const auto& levels = spectrum.levels[static_cast<size_t>(tap)];
    const float lowest = plot.getY() - 4.0f, highest = plot.getBottom() + 4.0f;
    path.clear();
    for (int k = 0; k < TapSpectrum::numBands; ++k)
    {
        const float x = xFor(plot, TapSpectrum::bandHz(k));
        const float y =
            juce::jlimit(lowest, highest, yFor(plot, levels[static_cast<size_t>(k)] - guideOffset));
        if (k == 0)
            path.startNewSubPath(x, y);
        else
            path.lineTo(x, y);
    }
}

void EqView::paintBackground(juce::Graphics& g)
{
    const auto& t = texts();
    const float width = static_cast<float>(getWidth()), height = static_cast<float>(getHeight());
    const float well = juce::jmax(height - 14.0f, 0.0f);
    ui::fillGrain(g, {0, 0, width, height}, ui::panel, ui::grainPanel, 0.0f, ui::windowOrigin(*this));
    ui::fillDisplay(g, {0, 0, width, well}, 4);

    const auto plot = plotArea(width, height);
    const float px = plot.getX(), py = plot.getY(), pw = plot.getWidth(), ph = plot.getHeight();
    g.setFont(font);

    g.setColour(alpha(ui::panelEdge, 0x99));
    for (const auto& line : t.frequencies)
        g.fillRect(xFor(plot, line.value), py, 1.0f, ph);
    for (const auto& line : t.levels)
        g.fillRect(px, yFor(plot, line.value), pw, line.value == 0.0f ? 1.0f : 0.6f);

    g.setColour(ui::dim);
    for (const auto& line : t.frequencies)
        g.drawText(line.text,
                   juce::Rectangle<float>(xFor(plot, line.value) - 16.0f, well + 2.0f, 32.0f, 12.0f),
                   juce::Justification::centred, false);
    for (const auto& line : t.levels)
        g.drawText(line.text, juce::Rectangle<float>(1.0f, yFor(plot, line.value) - 6.0f, 21.0f, 12.0f),
                   juce::Justification::centredRight, false);

    const juce::Graphics::ScopedSaveState clipped(g);
    g.reduceClipRegion(plot.toNearestInt());

    guideBand.clear();
    for (int k = 0; k < TapSpectrum::numBands; ++k)
    {
        const float hz = TapSpectrum::bandHz(k);
        const float y = yFor(plot, svui::interpLog(svui::guide, hz) + svui::interpLog(svui::tolerance, hz));
        if (k == 0)
            guideBand.startNewSubPath(xFor(plot, hz), y);
        else
            guideBand.lineTo(xFor(plot, hz), y);
    }
    for (int k = TapSpectrum::numBands - 1; k >= 0; --k)
    {
        const float hz = TapSpectrum::bandHz(k);
        guideBand.lineTo(xFor(plot, hz),
                         yFor(plot, svui::interpLog(svui::guide, hz) - svui::interpLog(svui::tolerance, hz)));
    }
    guideBand.closeSubPath();
    g.setColour(alpha(ui::green, 0x21));
    g.fillPath(guideBand);
    g.setColour(alpha(ui::green, 0x59));
    g.strokePath(guideBand, juce::PathStrokeType(1.0f));
}

void EqView::paint(juce::Graphics& g)
{
    const auto& t = texts();
    background.draw(g, getWidth(), getHeight(), [this](juce::Graphics& bg) { paintBackground(bg); });

    const auto plot = plotArea(static_cast<float>(getWidth()), static_cast<float>(getHeight()));
    const float px = plot.getX(), py = plot.getY(), pw = plot.getWidth(), ph = plot.getHeight();
    g.setFont(font);
    {
        const juce::Graphics::ScopedSaveState clipped(g);
        g.reduceClipRegion(plot.toNearestInt());

        if (spectrum.analysed[static_cast<size_t>(beforeTap())])
        {
            spectrumCurve(before, beforeTap(), plot);
            g.setColour(alpha(ui::dim, 0x73));
            g.strokePath(before, juce::PathStrokeType(1.0f));
            before.lineTo(px + pw, py + ph + 4.0f);
            before.lineTo(px, py + ph + 4.0f);
            before.closeSubPath();
            g.setColour(alpha(ui::dim, 0x24));
            g.fillPath(before);
        }
        if (spectrum.analysed[static_cast<size_t>(afterTap())])
        {
            spectrumCurve(after, afterTap(), plot);
            g.setColour(alpha(ui::text, 0xd9));
            g.strokePath(after, juce::PathStrokeType(1.4f));
        }

        if (hpfMode)
        {
            g.setColour(alpha(ui::dim, 0x40));
            for (const float hz : eng::vocal::tune::hpfHz)
            {
                const float values[2]{hz, 0.0f};
                const int indices[2]{0, 0};
                svui::responsePath(corners, plot, svui::highPassResponse, values, indices, topDb, bottomDb,
                                   cornerPoints);
                g.strokePath(corners, juce::PathStrokeType(1.0f));
            }
        }

        svui::responsePath(response, plot, hpfMode ? svui::highPassResponse : svui::eqResponse, curveValues,
                           curveIndices, topDb, bottomDb, responsePoints);
        const juce::PathStrokeType wide(5.5f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded);
        const juce::PathStrokeType line(2.0f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded);
        g.setColour(ui::blue.withMultipliedAlpha(0.16f));
        g.strokePath(response, wide);
        g.setColour(ui::blue);
        g.strokePath(response, line);
    }

    paintLegend(g, plot);
    if (showsHint())
    {
        g.setColour(ui::dim);
        g.drawText(t.hint, juce::Rectangle<float>(px + pw - 200.0f, py + ph - 14.0f, 196.0f, 12.0f),
                   juce::Justification::centredRight, false);
    }
}

const juce::String& EqView::legendText(int entry) const
{
    const auto& t = texts();
    return entry == 0 ? (hpfMode ? t.beforeHighPass : t.beforeEq) : entry == 1 ? t.after : t.guide;
}

void EqView::paintLegend(juce::Graphics& g, juce::Rectangle<float> plot)
{
    float x = plot.getX() + 6.0f;
    const auto entry = [&](const juce::String& text, juce::Colour swatch, juce::Colour colour)
    {
        const float textWidth = ui::stringWidth(font, text);
        g.setColour(swatch);
        g.fillRoundedRectangle(x, plot.getY() + 4.0f, 8.0f, 8.0f, 2.0f);
        g.setColour(colour);
        g.drawText(text, juce::Rectangle<float>(x + 11.0f, plot.getY() + 2.0f, textWidth + 4.0f, 12.0f),
                   juce::Justification::centredLeft, false);
        x += textWidth + 22.0f;
    };
    entry(legendText(0), alpha(ui::dim, 0x80), ui::dim);
    entry(legendText(1), ui::text, ui::text);
    entry(legendText(2), alpha(ui::green, 0x73), ui::green);
}
