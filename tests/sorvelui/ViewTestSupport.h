// Helpers for the tests of Sorvel's views: renders, pixel runs and mouse events.
#pragma once

#include "ui/KitTestSupport.h"

#include <functional>

namespace viewtest
{
using kittest::KitTest;

inline juce::Image render(juce::Component& c, float scale = 1.0f)
{
    return gallery::render(c, scale);
}

// The first and last row in column x, between rows `from` and `to`, whose pixel satisfies the
// predicate; (-1, -1) when none does.
inline std::pair<int, int> rowRun(const juce::Image& image, int x, int from, int to,
                                  const std::function<bool(juce::Colour)>& predicate)
{
    int first = -1, last = -1;
    for (int y = from; y < to; ++y)
        if (predicate(image.getPixelAt(x, y)))
        {
            if (first < 0)
                first = y;
            last = y;
        }
    return {first, last};
}

// The same along row y.
inline std::pair<int, int> columnRun(const juce::Image& image, int y, int from, int to,
                                     const std::function<bool(juce::Colour)>& predicate)
{
    int first = -1, last = -1;
    for (int x = from; x < to; ++x)
        if (predicate(image.getPixelAt(x, y)))
        {
            if (first < 0)
                first = x;
            last = x;
        }
    return {first, last};
}

// The largest channel difference of two colours.
inline int difference(juce::Colour a, juce::Colour b)
{
    return juce::jmax(std::abs(a.getRed() - b.getRed()), std::abs(a.getGreen() - b.getGreen()),
                      std::abs(a.getBlue() - b.getBlue()));
}

// The rows of column x (between `from` and `to`) where two renders differ by more than 3.
inline std::pair<int, int> differingRows(const juce::Image& a, const juce::Image& b, int x, int from, int to)
{
    int first = -1, last = -1;
    for (int y = from; y < to; ++y)
        if (difference(a.getPixelAt(x, y), b.getPixelAt(x, y)) > 3)
        {
            first = first < 0 ? y : first;
            last = y;
        }
    return {first, last};
}

// The same along row y.
inline std::pair<int, int> differingColumns(const juce::Image& a, const juce::Image& b, int y, int from,
                                            int to)
{
    int first = -1, last = -1;
    for (int x = from; x < to; ++x)
        if (difference(a.getPixelAt(x, y), b.getPixelAt(x, y)) > 3)
        {
            first = first < 0 ? x : first;
            last = x;
        }
    return {first, last};
}

// A left-button event at p on the component.
inline juce::MouseEvent mouseAt(juce::Component& c, juce::Point<float> p)
{
    const auto now = juce::Time::getCurrentTime();
    return juce::MouseEvent(juce::Desktop::getInstance().getMainMouseSource(), p,
                            juce::ModifierKeys::leftButtonModifier, 1.0f, 0, 0, 0, 0, &c, &c, now, p, now, 1,
                            false);
}
} // namespace viewtest
