#include "LevelMeter.h"

LevelMeter::LevelMeter() = default;

float LevelMeter::yFor(float v, float height)
{
    return height - height * juce::jlimit(0.0f, 1.0f, (v + 48.0f) / 48.0f);
}

void LevelMeter::paint(juce::Graphics& g)
{
    const float w = static_cast<float>(getWidth()), h = static_cast<float>(getHeight());
    g.setColour(ui::slot);
    g.fillRoundedRectangle(0, 0, w, h, 2);
    g.setColour(juce::Colours::black.withAlpha(static_cast<juce::uint8>(0x73)));
    g.drawRoundedRectangle(0.5f, 0.5f, juce::jmax(w - 1, 0.0f), juce::jmax(h - 1, 0.0f), 2, 1);

    const float t = yFor(level, h), amberFrom = yFor(-18, h), redFrom = yFor(-6, h);
    const auto segment = [&](juce::Colour colour, float bottom, float top)
    {
        g.setColour(colour);
        g.fillRect(1.0f, top, w - 2, bottom - top);
    };
    segment(ui::green, h, juce::jmax(t, amberFrom));
    if (t < amberFrom)
        segment(ui::amber, amberFrom, juce::jmax(t, redFrom));
    if (t < redFrom)
        segment(ui::red, redFrom, juce::jmax(t, 0.0f));

    g.setColour(peak > -6.0f ? ui::red : ui::text);
    g.fillRect(0.0f, yFor(peak, h) - 1, w, 2.0f);
}
