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

namespace ui
{
float advanceMeter(LevelMeter& meter, float linearPeak)
{
    const float level = meter.level, mark = meter.peak;
    const float db = linearPeak > 0.000001f ? 20.0f * std::log10(linearPeak) : -60.0f;
    meter.level = juce::jmax(db, meter.level - 1.2f);
    if (db >= meter.peak)
    {
        meter.peak = db;
        meter.hold = 45;
    }
    else
    {
        if (meter.hold <= 1)
            meter.peak = juce::jmax(meter.peak - 0.6f, meter.level);
        meter.hold = juce::jmax(meter.hold - 1, 0); // stays at 0 rather than counting down for ever
    }
    // A meter resting at the floor draws the same picture again.
    if (meter.level != level || meter.peak != mark)
        meter.repaint();
    return db;
}
} // namespace ui
