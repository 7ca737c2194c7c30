#include "KitTestSupport.h"

#include "common/ui/LevelMeter.h"
#include "common/ui/LoudnessPanel.h"

using kittest::hasColour;
using kittest::KitTest;

namespace
{
juce::Image paint(juce::Component& c)
{
    return c.createComponentSnapshot(c.getLocalBounds(), true, 1.0f);
}

// The box holding the pixels close to `colour` within `area`.
juce::Rectangle<int> inkBox(const juce::Image& image, juce::Rectangle<int> area, juce::Colour colour)
{
    juce::Rectangle<int> box;
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            if (kittest::near(image.getPixelAt(x, y), colour, 40))
                box = box.isEmpty() ? juce::Rectangle<int>(x, y, 1, 1) : box.getUnion({x, y, 1, 1});
    return box;
}

bool isRed(juce::Colour c)
{
    return c.getRed() > 180 && c.getGreen() < 130 && c.getBlue() < 110;
}
} // namespace

TEST_F(KitTest, loudnessPanelLayoutAt150By408)
{
    LoudnessPanel panel("LUFS");
    panel.setSize(150, 408);
    EXPECT_TRUE(panel.isOpaque());
    EXPECT_EQ(panel.resetButton.getBounds(), juce::Rectangle<int>(78, 374, 64, 26));
    EXPECT_EQ(panel.resetButton.getButtonText(), "RESET");
    EXPECT_EQ(panel.caption, "LUFS");

    panel.momentary = 0; // a full bar shows the bar's box
    const auto image = paint(panel);
    // The title sits centred in (8, 8, 134, 24), the caption in (8, 32, 134, 14).
    const auto title = inkBox(image, {8, 0, 134, 32}, ui::text);
    EXPECT_NEAR(title.getCentreX(), 75, 2);
    EXPECT_NEAR(title.getCentreY(), 20, 2);
    const auto caption = inkBox(image, {8, 32, 134, 14}, ui::dim);
    EXPECT_NEAR(caption.getCentreX(), 75, 2);
    EXPECT_NEAR(caption.getCentreY(), 39, 2);
    // The bar (8, 52, 12, 314) is filled from x = 9, 10 wide, from y = 52 to 366.
    const auto bar = inkBox(image, {0, 40, 40, 340}, ui::red);
    EXPECT_EQ(bar, juce::Rectangle<int>(9, 52, 10, 314));
    // The readout column starts at x = 48: "SHORT-TERM" centred in (48, 52, 94, 14).
    const auto readout = inkBox(image, {40, 52, 110, 14}, ui::dim);
    EXPECT_GE(readout.getX(), 48);
    EXPECT_NEAR(readout.getCentreX(), 95, 2);
    EXPECT_NEAR(readout.getCentreY(), 59, 2);
}

TEST_F(KitTest, loudnessBarColoursAndTexts)
{
    LoudnessPanel panel("LUFS");
    panel.setSize(150, 408);
    struct Case
    {
        float momentary;
        juce::Colour colour;
        int barTop; // 366 - 314 q
    };
    for (const auto& c : {Case{-8, ui::red, 115}, Case{-12, ui::amber, 146}, Case{-20, ui::green, 209}})
    {
        panel.momentary = c.momentary;
        const auto image = paint(panel);
        EXPECT_TRUE(hasColour(image, 14, 360, c.colour, 2)) << c.momentary;
        EXPECT_TRUE(hasColour(image, 14, c.barTop + 2, c.colour, 2)) << c.momentary;
        EXPECT_FALSE(kittest::near(image.getPixelAt(14, c.barTop - 3), c.colour, 30)) << c.momentary;
    }

    panel.momentary = -99; // no reading: no bar
    const auto empty = paint(panel);
    EXPECT_TRUE(hasColour(empty, 14, 360, ui::slot, 2));
    EXPECT_EQ(LoudnessPanel::valueText(-99), "--.-");
    EXPECT_EQ(LoudnessPanel::valueText(-100), "--.-");
    EXPECT_EQ(LoudnessPanel::valueText(-14.24f), "-14.2");
    EXPECT_EQ(LoudnessPanel::valueText(-8.96f), "-9.0");

    // The short-term number is red above -9 (unrounded): -8.96 reads "-9.0" in red.
    const auto redPixels = [&](float shortTerm)
    {
        panel.shortTerm = shortTerm;
        const auto image = paint(panel);
        int count = 0;
        for (int y = 66; y < 102; ++y)
            for (int x = 48; x < 142; ++x)
                count += isRed(image.getPixelAt(x, y)) ? 1 : 0;
        return count;
    };
    EXPECT_GT(redPixels(-8.96f), 40);
    EXPECT_EQ(redPixels(-9.04f), 0);
}

TEST(LevelMeter, zonesAndPeakMark)
{
    LevelMeter meter;
    meter.setSize(10, 352);
    EXPECT_FLOAT_EQ(meter.level, -60);
    EXPECT_FLOAT_EQ(LevelMeter::yFor(-18, 352), 352 - 0.625f * 352);
    EXPECT_FLOAT_EQ(LevelMeter::yFor(-6, 352), 352 - 0.875f * 352);
    EXPECT_FLOAT_EQ(LevelMeter::yFor(-70, 352), 352);
    EXPECT_FLOAT_EQ(LevelMeter::yFor(6, 352), 0);

    meter.level = -12; // green to -18 (y 132), amber to -12 (y 88), no red
    meter.peak = -3;   // mark at y 22, red above -6
    auto image = paint(meter);
    EXPECT_TRUE(hasColour(image, 5, 300, ui::green, 1));
    EXPECT_TRUE(hasColour(image, 5, 134, ui::green, 1));
    EXPECT_TRUE(hasColour(image, 5, 130, ui::amber, 1));
    EXPECT_TRUE(hasColour(image, 5, 90, ui::amber, 1));
    EXPECT_TRUE(hasColour(image, 5, 60, ui::slot, 1));
    EXPECT_TRUE(hasColour(image, 5, 22, ui::red, 1));
    EXPECT_TRUE(hasColour(image, 0, 22, ui::red, 1)); // the mark spans the full width
    int red = 0;
    for (int y = 24; y < 352; ++y)
        red += kittest::near(image.getPixelAt(5, y), ui::red, 20) ? 1 : 0;
    EXPECT_EQ(red, 0);

    meter.level = -2; // red from -6 up
    meter.peak = -9;  // the mark in text colour
    image = paint(meter);
    EXPECT_TRUE(hasColour(image, 5, 40, ui::red, 1));
    EXPECT_TRUE(hasColour(image, 5, 60, ui::amber, 1));
    const int mark = juce::roundToInt(LevelMeter::yFor(-9, 352));
    EXPECT_TRUE(hasColour(image, 5, mark, ui::text, 1));
}
