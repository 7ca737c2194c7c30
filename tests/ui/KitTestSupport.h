// Helpers for the kit's tests: a live Style for the test's duration and headless renders.
#pragma once

#include "common/ui/KnobLookAndFeel.h"
#include "gallery/Sheets.h"
#include "support/Pixels.h"

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

using testsupport::hasColour;
using testsupport::near;
} // namespace kittest
