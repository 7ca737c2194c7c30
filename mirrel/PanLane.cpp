#include "PanLane.h"

#include "common/ui/JuceCompat.h"

PanLane::PanLane()
    : sideFont(juce::FontOptions(11.0f, juce::Font::bold)),
      markFont(juce::FontOptions(9.0f, juce::Font::plain)),
      captionFont(juce::FontOptions(10.0f, juce::Font::plain))
{
}

void PanLane::paint(juce::Graphics& g)
{
    static const juce::String left("L"), right("R"), half("50 %"), centre("centre"),
        historyCaption("last 24 hits, newest at the top"), zoneCaption("shaded: where a hit can land");

    const int W = getWidth(), H = getHeight();
    const auto w = static_cast<float>(W);
    const auto h = static_cast<float>(H);

    // The well has rounded corners: the window background shows outside them.
    for (const auto& corner : {juce::Point<float>(0, 0), juce::Point<float>(w - 7, 0),
                               juce::Point<float>(0, h - 7), juce::Point<float>(w - 7, h - 7)})
        ui::fillBehind(g, *this, {corner.x, corner.y, 7.0f, 7.0f});
    ui::fillDisplay(g, getLocalBounds().toFloat(), 6.0f);

    // A header for the side labels, the row of the current place, then the history below it.
    const int avail = juce::jmax(H - 16, 0);
    const int header = juce::jmin(avail, 16);
    const int rowTop = header + 8;
    const int rowH = juce::jmin(avail - header, 26);
    const int gap = juce::jmin(avail - header - rowH, 4);
    const int histTop = rowTop + rowH + gap;
    const int histH = juce::jmax(avail - header - rowH - gap - 14, 0);
    const int bottom = histTop + histH;
    const auto top = static_cast<float>(rowTop);
    const auto span = static_cast<float>(bottom - rowTop);
    const float rowCentre = top + static_cast<float>(rowH) * 0.5f;

    constexpr float axisLeft = 26.0f;
    const float axisLength = static_cast<float>(juce::jmax(W - 28, 0) + 2) - axisLeft;
    const auto x = [&](float pan)
    { return axisLeft + axisLength * (juce::jlimit(-1.0f, 1.0f, pan) + 1.0f) * 0.5f; };

    // Where a hit can land: between the hole and the width, on both sides.
    const float outer = width, inner = hole * width;
    if (outer > inner)
    {
        g.setColour(ui::blue.withAlpha(static_cast<juce::uint8>(0x1a)));
        g.fillRect(juce::Rectangle<float>::leftTopRightBottom(x(-outer), top, x(-inner), top + span));
        g.fillRect(juce::Rectangle<float>::leftTopRightBottom(x(inner), top, x(outer), top + span));
    }

    g.setColour(ui::dim);
    const auto label = [&](const juce::String& text, float pan, int boxWidth)
    {
        const int boxLeft = static_cast<int>(x(pan)) - boxWidth / 2;
        g.drawText(text, boxLeft, 8, boxWidth, 16, juce::Justification::centred, true);
    };
    g.setFont(sideFont);
    label(left, -1.0f, 20);
    label(right, 1.0f, 20);
    g.setFont(markFont);
    label(half, -0.5f, 48);
    label(centre, 0.0f, 48);
    label(half, 0.5f, 48);

    g.setColour(ui::panelEdge);
    for (const float pan : {-1.0f, -0.5f, 0.0f, 0.5f, 1.0f})
        g.fillRect(x(pan) - 0.5f, top, 1.0f, span);
    g.fillRect(axisLeft, rowCentre - 1.0f, axisLength, 2.0f);

    const auto marker = bypassed ? ui::off : ui::amber;
    const float now = x(panNow);
    g.setColour(marker.withAlpha(static_cast<juce::uint8>(0x59)));
    g.fillRect(now - 1.0f, top, 2.0f, span);
    g.setColour(marker);
    g.fillEllipse(now - 7.0f, rowCentre - 7.0f, 14.0f, 14.0f);

    if (hitCount > 0)
    {
        // Newest at the top in amber; older hits move down, shrink and fade.
        const auto historyTop = static_cast<float>(histTop) + 6.0f;
        g.setColour(ui::amber);
        g.fillEllipse(x(hits[0]) - 5.0f, historyTop - 5.0f, 10.0f, 10.0f);
        const int shown = juce::jmin(hitCount, historySize);
        for (int i = 1; i < shown; ++i)
        {
            const float t = static_cast<float>(i) / static_cast<float>(historySize - 1);
            const float radius = 5.0f - 2.0f * t;
            const float cy = historyTop + static_cast<float>(histH - 12) * t;
            g.setColour(
                ui::text.withAlpha(static_cast<juce::uint8>(juce::roundToInt((1.0f - 0.8f * t) * 255.0f))));
            g.fillEllipse(x(hits[static_cast<size_t>(i)]) - radius, cy - radius, 2.0f * radius,
                          2.0f * radius);
        }
    }

    g.setColour(ui::dim);
    g.setFont(captionFont);
    g.drawText(historyCaption, 12, H - 16, 220, 12, juce::Justification::centredLeft, true);
    g.drawText(zoneCaption, W - 232, H - 16, 220, 12, juce::Justification::centredRight, true);
}
