#include "PowerButton.h"

namespace svui
{
void drawPower(juce::Graphics& g, juce::Rectangle<float> area, juce::Colour colour, float thickness)
{
    // One path for every symbol drawn: message thread only, so its storage is simply reused.
    static juce::Path symbol;
    const auto centre = area.getCentre();
    const float r = juce::jmin(area.getWidth(), area.getHeight()) / 2.0f - thickness;
    symbol.clear();
    symbol.addCentredArc(centre.x, centre.y, r, r, 0.0f, 0.75f, juce::MathConstants<float>::twoPi - 0.75f,
                         true);
    g.setColour(colour);
    g.strokePath(
        symbol, juce::PathStrokeType(thickness, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
    g.drawLine(centre.x, centre.y - r - 0.5f, centre.x, centre.y + 0.5f, thickness);
}
} // namespace svui

PowerButton::PowerButton(const juce::String& name, juce::Colour moduleColour)
    : juce::Button(name), colour(moduleColour)
{
    setClickingTogglesState(true);
}

void PowerButton::paintButton(juce::Graphics& g, bool highlighted, bool down)
{
    const float w = juce::jmax(static_cast<float>(getWidth()) - 1.0f, 0.0f);
    const float h = juce::jmax(static_cast<float>(getHeight()) - 1.0f, 0.0f);
    const bool on = getToggleState();
    auto background = ui::slot;
    if (down)
        background = ui::towardsBlack(background, 0.3f);
    else if (highlighted)
        background = ui::towardsWhite(background, 0.05f);
    const juce::Rectangle<float> body(0.5f, 0.5f, w, h);
    g.setColour(background);
    g.fillRoundedRectangle(body, 4.0f);
    g.setColour(on ? colour.withAlpha(static_cast<juce::uint8>(0xb2)) : ui::panelEdge);
    g.drawRoundedRectangle(body, 4.0f, 1.0f);
    svui::drawPower(g, {(w - 12.0f) / 2.0f + 0.5f, (h - 12.0f) / 2.0f + 0.5f, 12.0f, 12.0f},
                    on ? colour : ui::dim, 1.5f);
}
