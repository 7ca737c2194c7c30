#pragma once

// Checks on rendered pictures at the pixels a design fixes: a colour at a pixel, within a
// tolerance, and the stretch of a row or column where a colour shows.
#include <gtest/gtest.h>
#include <juce_graphics/juce_graphics.h>

#include <cstdlib>
#include <functional>
#include <utility>

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

// The first and last i in [from, to) for which test(i) holds; (-1, -1) when it never does.
template <typename Test> std::pair<int, int> run(int from, int to, Test test)
{
    int first = -1, last = -1;
    for (int i = from; i < to; ++i)
        if (test(i))
        {
            first = first < 0 ? i : first;
            last = i;
        }
    return {first, last};
}

// The rows of column x whose pixel satisfies the predicate.
inline std::pair<int, int> rowRun(const juce::Image& image, int x, int from, int to,
                                  const std::function<bool(juce::Colour)>& predicate)
{
    return run(from, to, [&](int y) { return predicate(image.getPixelAt(x, y)); });
}

// The columns of row y whose pixel satisfies the predicate.
inline std::pair<int, int> columnRun(const juce::Image& image, int y, int from, int to,
                                     const std::function<bool(juce::Colour)>& predicate)
{
    return run(from, to, [&](int x) { return predicate(image.getPixelAt(x, y)); });
}

} // namespace testsupport
