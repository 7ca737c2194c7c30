// The opaque part of a view that only changes with its size and pixel scale (wells, grids, labels),
// rendered once into an opaque image at the physical resolution and copied on every later paint.
// Message thread only.
#pragma once

#include <juce_graphics/juce_graphics.h>

#include <functional>

namespace svui
{
class BackgroundCache
{
public:
    // Draws the cached background of a width x height view into g, rendering it first with
    // `render` (in the view's own units) when the size or the scale is new or invalidate() was
    // called.
    void draw(juce::Graphics& g, int width, int height, const std::function<void(juce::Graphics&)>& render);

    void invalidate() { valid = false; }

    // Whether the last draw() rendered (for tests).
    bool renderedLastTime() const { return rendered; }

private:
    juce::Image image;
    float scale = 0.0f;
    int width = 0, height = 0;
    bool valid = false, rendered = false;
};
} // namespace svui
