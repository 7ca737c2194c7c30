#include "WavePainter.h"

#include "common/ui/Palette.h"
#include "common/ui/Style.h"

#include <array>

namespace svui
{
namespace
{
constexpr float sq(float x)
{
    return x * x;
}

// The -12 and -24 dB grid lines, as fractions of the half height: ((d + 54) / 54)^2.
constexpr float at12 = sq(7.0f / 9.0f);
constexpr float at24 = sq(5.0f / 9.0f);

juce::Colour alpha(juce::Colour c, int value)
{
    return c.withAlpha(static_cast<juce::uint8>(value));
}

struct Texts
{
    juce::String zero{"0"}, minus3{"-3"}, minus6{"-6"}, minus12{"-12"}, minus24{"-24"};
    juce::String input{"input"}, output{"output"}, compress{"compress:"}, level{"level"}, peaks{"peaks"},
        deess{"de-ess cuts"};
    juce::String note{"compress gain reduction from the top, dB on the right"};
};

const Texts& texts()
{
    static const Texts t;
    return t;
}
} // namespace

float WavePlot::extent(float db) const
{
    return half() * sq(juce::jlimit(0.0f, 1.0f, (db + 54.0f) / 54.0f));
}

float WavePlot::reductionY(float gr) const
{
    return top + half() * juce::jlimit(0.0f, 1.0f, gr / 12.0f);
}

float WavePlot::cutHeight(const WaveColumn& c) const
{
    return c.cutShown() ? height * 0.25f * juce::jmin(c.deessCut / 12.0f, 1.0f) : 0.0f;
}

WavePainter::WavePainter(int columns)
{
    // Two runs of points (two per column when drawn as steps) and the closing segments.
    const int coordinates = 12 * columns + 24;
    for (auto* path : {&input, &outputPeak, &outputLevel, &levelReduction, &peakReduction, &deessCuts})
        path->preallocateSpace(coordinates);
}

void WavePainter::paint(juce::Graphics& g, const WavePlot& p, const WaveColumn* ring, int count, int first)
{
    if (count < 1)
        return;
    const auto column = [&](int i) -> const WaveColumn& { return ring[(first + i) % count]; };
    const float v = p.centre(), bottom = p.bottom();
    const int last = count - 1;
    const float flat = p.steps ? p.step : 0.0f; // a column's top, drawn as steps

    // Column i's point on a path (or, as steps, its flat top), left to right or back.
    const auto trace = [&](juce::Path& path, int i, float y, bool backwards, bool start)
    {
        const float x = p.x(i);
        const float a = backwards ? x + flat : x;
        if (start)
            path.startNewSubPath(a, y);
        else
            path.lineTo(a, y);
        if (p.steps)
            path.lineTo(backwards ? x : x + flat, y);
    };

    const juce::Graphics::ScopedSaveState clipped(g);
    g.reduceClipRegion(juce::Rectangle<float>(p.left, p.top, p.width, p.height).toNearestInt());

    // Shade every run of columns in which the de-esser cut.
    g.setColour(alpha(ui::green, 0x1a));
    for (int i = 0; i < count; ++i)
    {
        if (!column(i).cutShown())
            continue;
        int end = i;
        while (end + 1 < count && column(end + 1).cutShown())
            ++end;
        g.fillRect(p.x(i) - (p.steps ? 0.0f : p.step / 2.0f), p.top, p.x(end) - p.x(i) + p.step, p.height);
        i = end;
    }

    const auto envelope = [&](juce::Path& path, float WaveColumn::*field, juce::Colour colour)
    {
        path.clear();
        for (int i = 0; i < count; ++i)
            trace(path, i, v - p.extent(column(i).*field), false, i == 0);
        for (int i = last; i >= 0; --i)
            trace(path, i, v + p.extent(column(i).*field), true, false);
        path.closeSubPath();
        g.setColour(colour);
        g.fillPath(path);
    };
    envelope(input, &WaveColumn::inDb, alpha(ui::dim, 0x38));
    envelope(outputPeak, &WaveColumn::outPeakDb, alpha(ui::text, 0x47));
    envelope(outputLevel, &WaveColumn::outDb, alpha(ui::text, 0xb8));

    // The leveller's reduction hangs from the top; the peak catcher's hangs below it.
    levelReduction.clear();
    levelReduction.startNewSubPath(p.x(0), p.top);
    for (int i = 0; i < count; ++i)
        trace(levelReduction, i, p.reductionY(column(i).levelGr), false, false);
    levelReduction.lineTo(p.x(last) + flat, p.top);
    levelReduction.closeSubPath();
    g.setColour(alpha(ui::amber, 0x38));
    g.fillPath(levelReduction);
    g.setColour(alpha(ui::amber, 0xa6));
    g.strokePath(levelReduction, juce::PathStrokeType(1.0f));

    peakReduction.clear();
    for (int i = 0; i < count; ++i)
        trace(peakReduction, i, p.reductionY(column(i).levelGr), false, i == 0);
    for (int i = last; i >= 0; --i)
        trace(peakReduction, i, p.reductionY(column(i).peakGr + column(i).levelGr) + 0.01f, true, false);
    peakReduction.closeSubPath();
    g.setColour(alpha(ui::amber, 0xcc));
    g.fillPath(peakReduction);

    // De-ess cuts rise from the bottom.
    deessCuts.clear();
    deessCuts.startNewSubPath(p.x(0), bottom);
    for (int i = 0; i < count; ++i)
        trace(deessCuts, i, bottom - p.cutHeight(column(i)), false, false);
    deessCuts.lineTo(p.x(last) + flat, bottom);
    deessCuts.closeSubPath();
    g.setColour(alpha(ui::green, 0xd9));
    g.fillPath(deessCuts);
}

void WavePainter::paintLevelLines(juce::Graphics& g, const WavePlot& p)
{
    const float v = p.centre(), u = p.half();
    g.setColour(alpha(ui::panelEdge, 0x59));
    for (const float y : {v - u * at12, v + u * at12, v - u * at24, v + u * at24})
        g.fillRect(p.left, y, p.width, 1.0f);
    g.setColour(alpha(ui::panelEdge, 0xcc));
    g.fillRect(p.left, v - 0.5f, p.width, 1.0f);
}

void WavePainter::paintScaleLabels(juce::Graphics& g, const WavePlot& p, const juce::Font& font)
{
    const auto& t = texts();
    const float pt = p.top, v = p.centre(), u = p.half();
    g.setFont(font);
    const auto label = [&g](const juce::String& text, float x, float y, float w, juce::Justification j)
    { g.drawText(text, juce::Rectangle<float>(x, y - 6.0f, w, 12.0f), j, false); };
    const float levels = p.left - 36.0f, reductions = p.left + p.width + 4.0f;
    g.setColour(ui::dim);
    label(t.zero, levels, pt, 32, juce::Justification::centredRight);
    label(t.minus12, levels, v - u * at12, 32, juce::Justification::centredRight);
    label(t.minus24, levels, v - u * at24, 32, juce::Justification::centredRight);
    g.setColour(alpha(ui::amber, 0xe6));
    label(t.minus3, reductions, pt + u / 4, 22, juce::Justification::centredLeft);
    label(t.minus6, reductions, pt + u / 2, 22, juce::Justification::centredLeft);
    label(t.minus12, reductions, v, 22, juce::Justification::centredLeft);
}

void WavePainter::paintLegend(juce::Graphics& g, const WavePlot& p, const juce::Font& font, float width,
                              float hh)
{
    const auto& t = texts();
    g.setFont(font);
    const float swatchY = hh / 2.0f + 2.0f;
    const auto swatch = [&](float x, juce::Colour c)
    {
        g.setColour(c);
        g.fillRoundedRectangle(x, swatchY, 8.0f, 8.0f, 2.0f);
    };
    const auto text = [&](const juce::String& s, float x, juce::Colour c)
    {
        g.setColour(c);
        g.drawText(s, juce::Rectangle<float>(x, 6.0f, ui::stringWidth(font, s) + 4.0f, hh),
                   juce::Justification::centredLeft, false);
    };
    const auto widthOf = [&font](const juce::String& s) { return ui::stringWidth(font, s); };

    const float x0 = p.left;
    swatch(x0, alpha(ui::dim, 0x80));
    text(t.input, x0 + 12, ui::dim);
    const float x1 = x0 + widthOf(t.input) + 26;
    swatch(x1, ui::text);
    text(t.output, x1 + 12, ui::text);
    const float x2 = x1 + widthOf(t.output) + 26;
    text(t.compress, x2, ui::dim);
    const float x3 = x2 + widthOf(t.compress) + 8;
    swatch(x3, alpha(ui::amber, 0x66));
    text(t.level, x3 + 12, ui::amber);
    const float x4 = x3 + widthOf(t.level) + 26;
    swatch(x4, ui::amber);
    text(t.peaks, x4 + 12, ui::amber);
    const float x5 = x4 + widthOf(t.peaks) + 26;
    swatch(x5, ui::green);
    text(t.deess, x5 + 12, ui::green);

    g.setColour(ui::dim);
    g.drawText(t.note, juce::Rectangle<float>(10, 6, juce::jmax(juce::jmax(width - 20, 0.0f) - 2, 0.0f), hh),
               juce::Justification::centredRight, false);
}
} // namespace svui
