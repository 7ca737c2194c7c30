#pragma once

// Checks on rendered pictures at the pixels a design fixes: a colour at a pixel, within a
// tolerance.
#include <gtest/gtest.h>
#include <juce_graphics/juce_graphics.h>

#include <cstdlib>

namespace testsupport
{

// Plainly the colour b: each channel within `tolerance`.
inline bool near(juce::Colour a, juce::Colour b, int tolerance = 12)
{
    return std::abs(a.getRed() - b.getRed()) <= tolerance &&
           std::abs(a.getGreen() - b.getGreen()) <= tolerance &&
           std::abs(a.getBlue() - b.getBlue()) <= tolerance;
}

inline ::testing::AssertionResult hasColour(const juce::Image& image, int x, int y, juce::Colour expected,
                                            int tolerance = 12)
{
    const auto c = image.getPixelAt(x, y);
    if (near(c, expected, tolerance))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << c.toDisplayString(true)
                                         << ", expected " << expected.toDisplayString(true);
}

} // namespace testsupport
