// Exact pixel arithmetic for shrinking pictures: premultiplied float pixels, an area-average
// resampler and the conversion back to an image. Used for knob faces and the logo, once per
// pixel size. Message thread only.
#pragma once

#include <juce_graphics/juce_graphics.h>

#include <functional>
#include <vector>

namespace ui::detail
{
// The image as premultiplied floats in [0, 1], four per pixel (red, green, blue, alpha), row by
// row. `map`, when set, replaces each (non-premultiplied) colour before it is premultiplied.
std::vector<float> premultiplied(const juce::Image& image,
                                 const std::function<juce::Colour(juce::Colour)>& map = {});

// Shrinks premultiplied pixels to wantedWidth x wantedHeight: each output pixel is the exact area
// average of the source pixels it covers (x first, then y).
std::vector<float> areaResample(const std::vector<float>& pixels, int width, int height, int wantedWidth,
                                int wantedHeight);

// Premultiplied float pixels back to an ARGB image.
juce::Image fromPremultiplied(const std::vector<float>& pixels, int width, int height);
} // namespace ui::detail
