// Helpers for the tests of Sorvel's views: renders, pixel runs and mouse events.
#pragma once

#include "ui/KitTestSupport.h"

namespace viewtest
{
using kittest::KitTest;

inline juce::Image render(juce::Component& c, float scale = 1.0f)
{
    return gallery::render(c, scale);
}

using testsupport::columnRun;
using testsupport::rowRun;
using testsupport::run;

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
