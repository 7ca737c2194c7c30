#include "EditorTitle.h"

#include "JuceCompat.h"
#include "LogoMark.h"
#include "Palette.h"
#include "Style.h"

namespace ui
{
EditorTitle::EditorTitle(const juce::String& nameText, const juce::String& taglineText)
    : name(nameText), tagline(taglineText), nameFont(juce::FontOptions(20.0f, juce::Font::bold)),
      taglineFont(juce::FontOptions(12.0f, juce::Font::plain)),
      nameWidth(static_cast<int>(stringWidth(nameFont, name)))
{
}

void EditorTitle::draw(juce::Graphics& g, int designWidth) const
{
    g.setColour(text);
    g.setFont(nameFont);
    g.drawText(name, 18, 10, 300, 28, juce::Justification::centredLeft, true);
    g.setColour(dim);
    g.setFont(taglineFont);
    g.drawText(tagline, nameWidth + 42, 12, 600, 24, juce::Justification::centredLeft, true);

    LogoMark::draw(g, static_cast<float>(designWidth) - 18.0f, 11.0f);
}
} // namespace ui
