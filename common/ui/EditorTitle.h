// The head of an editor, drawn in its design units: the plug-in's name in capitals at the top
// left, its tagline after it, and the logo mark at the right edge. The name is measured once,
// while the Style is alive, so painting measures and allocates nothing. Message thread only.
#pragma once

#include <juce_graphics/juce_graphics.h>

namespace ui
{
class EditorTitle
{
public:
    EditorTitle(const juce::String& name, const juce::String& tagline);

    // Draws onto g, already scaled to design units, for an editor `designWidth` units wide.
    void draw(juce::Graphics& g, int designWidth) const;

private:
    juce::String name, tagline;
    juce::Font nameFont, taglineFont;
    int nameWidth = 0;
};
} // namespace ui
