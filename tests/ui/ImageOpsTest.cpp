#include "common/ui/ImageOps.h"

#include <gtest/gtest.h>

using ui::detail::areaResample;
using ui::detail::fromPremultiplied;
using ui::detail::premultiplied;

TEST(ImageOps, areaResampleAveragesExactly)
{
    // Two pixels into one: their mean.
    const std::vector<float> two{0.2f, 0.4f, 0.0f, 1.0f, 0.6f, 0.0f, 0.8f, 0.5f};
    const auto one = areaResample(two, 2, 1, 1, 1);
    ASSERT_EQ(one.size(), 4u);
    EXPECT_FLOAT_EQ(one[0], 0.4f);
    EXPECT_FLOAT_EQ(one[1], 0.2f);
    EXPECT_FLOAT_EQ(one[2], 0.4f);
    EXPECT_FLOAT_EQ(one[3], 0.75f);

    // Three into two: the middle pixel straddles both outputs and gives each half of itself.
    const std::vector<float> three{0.3f, 0, 0, 0, 0.6f, 0, 0, 0, 0.9f, 0, 0, 0};
    const auto pair = areaResample(three, 3, 1, 2, 1);
    EXPECT_FLOAT_EQ(pair[0], (0.3f + 0.5f * 0.6f) / 1.5f);
    EXPECT_FLOAT_EQ(pair[4], (0.5f * 0.6f + 0.9f) / 1.5f);

    // Along y as well: a 1 x 4 column into 1 x 2.
    const std::vector<float> column{0.1f, 0, 0, 1, 0.3f, 0, 0, 1, 0.5f, 0, 0, 1, 0.9f, 0, 0, 1};
    const auto halves = areaResample(column, 1, 4, 1, 2);
    EXPECT_FLOAT_EQ(halves[0], 0.2f);
    EXPECT_FLOAT_EQ(halves[4], 0.7f);
    EXPECT_FLOAT_EQ(halves[7], 1.0f);
}

TEST(ImageOps, fromPremultipliedGivesTheExactPixels)
{
    // Pixel 0: half-transparent, red 1 and green 0.5 once un-premultiplied; pixel 1: alpha 0 with
    // junk in its colour; pixel 2: opaque.
    const std::vector<float> pixels{0.5f, 0.25f, 0.0f, 0.5f, 0.7f, 0.3f, 0.9f, 0.0f, 0.2f, 0.4f, 1.0f, 1.0f};
    const auto image = fromPremultiplied(pixels, 3, 1);
    ASSERT_EQ(image.getFormat(), juce::Image::ARGB);
    const juce::Image::BitmapData data(image, juce::Image::BitmapData::readOnly);
    const auto raw = [&](int x)
    { return *reinterpret_cast<const juce::PixelARGB*>(data.getPixelPointer(x, 0)); };

    EXPECT_EQ(raw(0).getAlpha(), 128);
    EXPECT_EQ(raw(0).getRed(), (255 * 128 + 127) >> 8);
    EXPECT_EQ(raw(0).getGreen(), (128 * 128 + 127) >> 8);
    EXPECT_EQ(raw(0).getBlue(), 0);
    EXPECT_EQ(raw(1).getNativeARGB(), 0u);
    EXPECT_EQ(raw(2).getAlpha(), 255);
    EXPECT_EQ(raw(2).getRed(), (51 * 255 + 127) >> 8);
    EXPECT_EQ(raw(2).getGreen(), (102 * 255 + 127) >> 8);
}

TEST(ImageOps, premultipliedReadsEveryFormatAsPlainColours)
{
    juce::Image argb(juce::Image::ARGB, 2, 1, true);
    argb.setPixelAt(0, 0,
                    juce::Colour(static_cast<juce::uint8>(200), static_cast<juce::uint8>(100),
                                 static_cast<juce::uint8>(0), static_cast<juce::uint8>(128)));
    const auto p = premultiplied(argb);
    ASSERT_EQ(p.size(), 8u);
    EXPECT_NEAR(p[0], 200 / 255.0f * 128 / 255.0f, 2.0f / 255);
    EXPECT_FLOAT_EQ(p[3], 128 / 255.0f);
    EXPECT_FLOAT_EQ(p[7], 0.0f);

    juce::Image rgb(juce::Image::RGB, 1, 1, true);
    rgb.setPixelAt(0, 0, juce::Colour(51, 102, 255));
    const auto q = premultiplied(
        rgb, [](juce::Colour c)
        { return juce::Colour(static_cast<juce::uint8>(0), c.getGreen(), c.getBlue(), c.getAlpha()); });
    EXPECT_FLOAT_EQ(q[0], 0.0f); // the map ran first
    EXPECT_FLOAT_EQ(q[1], 0.4f);
    EXPECT_FLOAT_EQ(q[3], 1.0f);
}
