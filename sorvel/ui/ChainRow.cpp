#include "ChainRow.h"

#include "ResponseCurves.h"
#include "PowerButton.h"

#include "common/ui/Backdrop.h"
#include "common/ui/Style.h"
#include "common/ui/Surfaces.h"

#include <cmath>

namespace
{
// The colour with its alpha multiplied by f (rounded, at most 255).
juce::Colour times(juce::Colour c, float f)
{
    const int a = juce::roundToInt(static_cast<float>(c.getAlpha()) * f);
    return c.withAlpha(static_cast<juce::uint8>(juce::jlimit(0, 255, a)));
}

bool hasAmount(int module)
{
    return module != svui::highPass && module != svui::eq;
}

const juce::String& offText()
{
    static const juce::String text("off");
    return text;
}

const juce::String& listenText()
{
    static const juce::String text("LISTEN");
    return text;
}
} // namespace

ChainRow::ChainRow()
{
    setOpaque(true);
    setMouseCursor(juce::MouseCursor::PointingHandCursor);
    curve.preallocateSpace(3 * 40 + 8);
}

int ChainRow::blockAt(juce::Point<float> p) const
{
    if (p.y < 0.0f || p.y >= blockHeight)
        return -1;
    const float bw = blockWidth(rowWidth());
    for (int i = 0; i < svui::numModules; ++i)
    {
        const float left = blockLeft(i);
        if (p.x >= left && p.x < left + bw)
            return i;
    }
    return -1;
}

bool ChainRow::isOnPowerSymbol(int i, juce::Point<float> p) const
{
    const float right = blockLeft(i) + blockWidth(rowWidth());
    return p.x >= right - 24.0f && p.x < right - 2.0f && p.y >= 2.0f && p.y < 22.0f;
}

void ChainRow::mouseDown(const juce::MouseEvent& event)
{
    const int i = blockAt(event.position);
    if (i < 0)
        return;
    const auto& callback = isOnPowerSymbol(i, event.position) ? onPower : onSelect;
    if (callback)
        callback(i);
}

void ChainRow::mouseMove(const juce::MouseEvent& event)
{
    const int i = blockAt(event.position);
    if (i != hovered)
    {
        hovered = i;
        repaint();
    }
}

void ChainRow::mouseExit(const juce::MouseEvent&)
{
    if (hovered != -1)
    {
        hovered = -1;
        repaint();
    }
}

void ChainRow::paint(juce::Graphics& g)
{
    const ui::Backdrop backdrop(g, *this);
    const float bw = blockWidth(rowWidth());
    for (int i = 0; i < svui::numModules; ++i)
        paintBlock(g, i, bw);

    // The pointer under the selected block.
    const int shown = juce::jlimit(0, svui::numModules - 1, selected);
    const float e = bw / 2.0f + (bw + gap) * static_cast<float>(shown);
    curve.clear();
    curve.addTriangle(e - 8.0f, 65.0f, e + 8.0f, 65.0f, e, static_cast<float>(getHeight()));
    g.setColour(svui::moduleColour(shown));
    g.fillPath(curve);
}

void ChainRow::paintBlock(juce::Graphics& g, int i, float bw)
{
    const auto& b = blocks[static_cast<size_t>(i)];
    const float x0 = blockLeft(i);
    const auto c = svui::moduleColour(i);
    const float f = b.on ? (b.active ? 1.0f : 0.4f) : 0.18f;
    const float G = juce::jmax(bw - 20.0f, 0.0f);

    ui::drawPanel(g, {x0, 0.0f, bw, blockHeight}, 6.0f);
    if (i == selected || i == hovered)
    {
        g.setColour(juce::Colours::white.withAlpha(static_cast<juce::uint8>(i == selected ? 0x16 : 0x09)));
        g.fillRoundedRectangle(x0, 0.0f, bw, blockHeight, 6.0f);
    }
    if (i == selected)
    {
        g.setColour(c);
        g.drawRoundedRectangle(x0 + 0.75f, 0.75f, juce::jmax(bw - 1.5f, 0.0f), 62.5f, 6.0f, 1.5f);
    }

    g.setColour(times(c, f));
    g.fillRoundedRectangle(x0 + 10.0f, 9.5f, 8.0f, 8.0f, 2.0f);

    const auto nameColour = !b.on           ? ui::off
                            : i == selected ? ui::text
                                            : times(ui::dim, b.active ? 1.0f : 0.7f);
    const auto& name = svui::blockNames.getReference(i);
    g.setColour(nameColour);
    g.setFont(nameFont);
    g.drawText(name, juce::Rectangle<float>(x0 + 23.0f, 7.0f, juce::jmax(G - 13.0f, 0.0f), 13.0f),
               juce::Justification::centredLeft, false);
    if (!b.on)
        g.fillRect(x0 + 22.0f, 13.0f, ui::stringWidth(nameFont, name) + 2.0f, 1.2f);

    svui::drawPower(g, {x0 + bw - 24.0f + 5.5f, 7.5f, 11.0f, 11.0f},
                    b.on ? c : ui::dim.withAlpha(static_cast<juce::uint8>(0xcc)), 1.4f);

    // The text line: the character, shortened on the right by the LISTEN badge and the duck mark.
    float J = G;
    if (b.listening)
    {
        const juce::Rectangle<float> badge(x0 + 10.0f + G - 42.0f, 25.0f, 42.0f, 13.0f);
        g.setColour(ui::red);
        g.fillRoundedRectangle(badge, 3.0f);
        g.setColour(juce::Colours::black);
        g.setFont(smallFont);
        g.drawText(listenText(), badge, juce::Justification::centred, false);
        J = G - juce::jmin(G, 46.0f);
    }
    if (b.duckDepth > 0.3f && b.active)
    {
        const float n = x0 + 10.0f + J - 5.0f;
        curve.clear();
        curve.addTriangle(n - 4.5f, 28.5f, n + 4.5f, 28.5f, n, 35.0f);
        g.setColour(c.withAlpha(juce::jlimit(0.25f, 1.0f, b.duckDepth * 0.25f)));
        g.fillPath(curve);
        J -= juce::jmin(J, 14.0f);
    }
    g.setColour(b.on ? times(ui::text, f) : ui::off);
    g.setFont(textFont);
    g.drawFittedText(b.on ? b.text : offText(), juce::roundToInt(x0 + 10.0f), 23, juce::roundToInt(J), 17,
                     juce::Justification::centredLeft, 1, 0.8f);

    if (hasAmount(i))
        paintAmount(g, b, x0, G, c, f);
    else
        paintCurve(g, i, b, x0, G, c, f);
    if (i < svui::numModules - 1)
        paintConnector(g, i, x0, bw);
}

void ChainRow::paintAmount(juce::Graphics& g, const Block& b, float x0, float G, juce::Colour c, float f)
{
    // Ten segments; a bipolar scale fills outwards from its centre, half an amount per segment.
    const float N = (G - 18.0f) / 10.0f;
    if (N > 0.0f)
    {
        const auto fill = times(c, 0.85f * f);
        for (int k = 0; k < 10; ++k)
        {
            const float x = x0 + 10.0f + static_cast<float>(k) * (N + 2.0f);
            g.setColour(ui::panelEdge);
            g.fillRoundedRectangle(x, 43.0f, N, 5.0f, 1.0f);
            float v = b.amount - static_cast<float>(k);
            bool fromRight = false;
            if (b.bipolar)
            {
                fromRight = k < 5;
                v = fromRight ? -b.amount / 2.0f - static_cast<float>(4 - k)
                              : b.amount / 2.0f - static_cast<float>(k - 5);
            }
            const float q = juce::jlimit(0.0f, 1.0f, v);
            if (q > 0.01f)
            {
                g.setColour(fill);
                g.fillRoundedRectangle(fromRight ? x + N - N * q : x, 43.0f, N * q, 5.0f, 1.0f);
            }
        }
        if (b.bipolar)
        {
            g.setColour(times(ui::dim, f));
            g.fillRect(x0 + 10.0f + 5.0f * (N + 2.0f) - 1.5f, 41.0f, 1.0f, 9.0f);
        }
    }

    g.setColour(ui::slot);
    g.fillRoundedRectangle(x0 + 10.0f, 51.0f, G, 4.0f, 2.0f);
    const auto bar = [&](float fraction, juce::Colour colour)
    {
        if (fraction <= 0.005f)
            return;
        g.setColour(colour);
        g.fillRoundedRectangle(x0 + 10.0f, 51.0f, juce::jmax(G * juce::jlimit(0.0f, 1.0f, fraction), 3.0f),
                               4.0f, 2.0f);
    };
    bar(b.unducked, times(c, 0.3f * f));
    bar(b.level, times(c, f));
}

void ChainRow::paintCurve(juce::Graphics& g, int i, const Block& b, float x0, float G, juce::Colour c,
                          float f)
{
    const bool highPass = i == svui::highPass;
    const float top = highPass ? 3.0f : 7.5f, bottom = highPass ? -27.0f : -7.5f;
    g.setColour(ui::panelEdge);
    g.fillRect(x0 + 10.0f, 43.0f + 13.0f * top / (top - bottom) - 0.5f, G, 1.0f);
    svui::responsePath(curve, {x0 + 10.0f, 43.0f, G, 13.0f}, i, b.curveValues, b.curveIndices, top, bottom,
                       40);
    g.setColour(times(c, f));
    g.strokePath(curve,
                 juce::PathStrokeType(1.5f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
}

void ChainRow::paintConnector(juce::Graphics& g, int i, float x0, float bw)
{
    const float n = x0 + bw + 6.0f;
    g.setColour(ui::off);
    if (i <= svui::shimmer)
    {
        // In series: a chevron.
        g.drawLine(n - 2.0f, 28.0f, n + 2.0f, 32.0f, 1.5f);
        g.drawLine(n + 2.0f, 32.0f, n - 2.0f, 36.0f, 1.5f);
    }
    else
    {
        // The parallel returns: a plus.
        g.fillRect(n - 3.5f, 31.25f, 7.0f, 1.5f);
        g.fillRect(n - 0.75f, 28.5f, 1.5f, 7.0f);
    }
}
