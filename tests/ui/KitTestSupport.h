// Helpers for the kit's tests: a live Style for the test's duration and headless renders.
#pragma once

#include "common/ui/KnobLookAndFeel.h"
#include "gallery/Sheets.h"

#include <gtest/gtest.h>

namespace kittest
{
// Holds a KnobLookAndFeel, and so the Style, while a test runs.
class KitTest : public ::testing::Test
{
protected:
    KnobLookAndFeel look;
    ui::Style& style() { return *look.style; }
};

// A transparent image of width x height units at `scale`, with a graphics context on it that
// maps units to pixels.
struct Canvas
{
    Canvas(int width, int height, float scale = 1.0f)
        : image(juce::Image::ARGB, juce::roundToInt(static_cast<float>(width) * scale),
                juce::roundToInt(static_cast<float>(height) * scale), true),
          g(image)
    {
        g.addTransform(juce::AffineTransform::scale(scale));
    }
    juce::Image image;
    juce::Graphics g;
};

inline juce::Colour at(const juce::Image& image, int x, int y)
{
    return image.getPixelAt(x, y);
}

// Plainly the colour c: each channel within `tolerance`.
inline bool near(juce::Colour a, juce::Colour b, int tolerance = 12)
{
    return std::abs(a.getRed() - b.getRed()) <= tolerance &&
           std::abs(a.getGreen() - b.getGreen()) <= tolerance &&
           std::abs(a.getBlue() - b.getBlue()) <= tolerance;
}

inline ::testing::AssertionResult hasColour(const juce::Image& image, int x, int y, juce::Colour expected,
                                            int tolerance = 12)
{
    const auto c = at(image, x, y);
    if (near(c, expected, tolerance))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << c.toDisplayString(true)
                                         << ", expected " << expected.toDisplayString(true);
}
} // namespace kittest
