// The logo mark, rendered exactly (area-averaged) once per pixel height and kept in
// juce::ImageCache. Message thread only.
#pragma once

#include <juce_graphics/juce_graphics.h>

namespace ui
{
struct LogoMark
{
    // The logo `pixelHeight` pixels high (the blues recoloured to the house blue), or an invalid
    // image when the picture cannot be decoded.
    static juce::Image render(int pixelHeight);

    // The key under which juce::ImageCache keeps the logo of that height.
    static juce::int64 cacheKey(int pixelHeight);

    // Draws the logo 26 units high with its top at `top` and its right edge at `right`, rendered
    // for the physical scale of g.
    static void draw(juce::Graphics& g, float right, float top = 11.0f);
};
} // namespace ui
