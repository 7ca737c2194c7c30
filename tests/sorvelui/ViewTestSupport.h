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

// The largest channel difference of two colours.
inline int difference(juce::Colour a, juce::Colour b)
{
    return juce::jmax(std::abs(a.getRed() - b.getRed()), std::abs(a.getGreen() - b.getGreen()),
                      std::abs(a.getBlue() - b.getBlue()));
}

// The rows of column x where two renders differ by more than 3.
inline std::pair<int, int> differingRows(const juce::Image& a, const juce::Image& b, int x, int from, int to)
{
    return run(from, to, [&](int y) { return difference(a.getPixelAt(x, y), b.getPixelAt(x, y)) > 3; });
}

// The columns of row y where two renders differ by more than 3.
inline std::pair<int, int> differingColumns(const juce::Image& a, const juce::Image& b, int y, int from,
                                            int to)
{
    return run(from, to, [&](int x) { return difference(a.getPixelAt(x, y), b.getPixelAt(x, y)) > 3; });
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
