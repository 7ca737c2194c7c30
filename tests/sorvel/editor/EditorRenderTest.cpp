// Sorvel's editor pictured: the window is the design size times the stored scale and draws its
// content at that scale; the pixels the layout fixes show the right things (the readout well
// only for modules with a readout, the EQ view's well for HIGH-PASS and EQ, a dimmed block for
// a switched-off module).
#include "EditorRig.h"

#include <cmath>

namespace
{
using sorveleditortest::SorvelEditorTest;

// The pixel under a design point at a scale.
juce::Colour at(const juce::Image& image, float x, float y, float scale)
{
    return image.getPixelAt(static_cast<int>(std::floor(x * scale)), static_cast<int>(std::floor(y * scale)));
}

void storeScale(int percent)
{
    auto file = SizeButton::settings();
    file->setValue("scale.Sorvel2", percent);
    file->save();
}
} // namespace

TEST_F(SorvelEditorTest, aStoredScaleOf130GivesA1560By728WindowDrawnAt1point3)
{
    storeScale(130);
    auto& e = open();
    EXPECT_EQ(e.getWidth(), 1560);
    EXPECT_EQ(e.getHeight(), 728);
    EXPECT_EQ(e.sizeButton.getButtonText(), "130 %");
    const auto t = e.content.getTransform();
    EXPECT_FLOAT_EQ(t.mat00, 1.3f);
    EXPECT_FLOAT_EQ(t.mat11, 1.3f);
    EXPECT_FLOAT_EQ(t.mat01 + t.mat02 + t.mat10 + t.mat12, 0.0f);

    const auto image = e.createComponentSnapshot(e.getLocalBounds(), true, 1.0f);
    ASSERT_EQ(image.getWidth(), 1560);
    // The readout well's edges land at 1.3 times their design places: inside it (design 612 to
    // 718) it is darker than the panel just outside (design 604).
    for (float x : {612.0f, 660.0f, 718.0f})
        EXPECT_LT(at(image, x, 460, 1.3f).getBrightness() + 0.02f, at(image, 604, 460, 1.3f).getBrightness())
            << x;
    // At 100 % the same design points: the picture is the same layout, only smaller.
    const auto small = picture(100);
    ASSERT_EQ(small.getWidth(), 1200);
    EXPECT_TRUE(testsupport::near(at(small, 660, 460, 1.0f), at(image, 660, 460, 1.3f), 10));
}

TEST_F(SorvelEditorTest, anUnknownStoredScaleOpensAt100)
{
    storeScale(120);
    EXPECT_EQ(open().getWidth(), 1200);
    EXPECT_EQ(open().getHeight(), 560);
}

TEST_F(SorvelEditorTest, theReadoutWellAndTheEqViewAppearWithTheirModules)
{
    auto& e = open();
    for (int percent : {100, 200})
    {
        const float s = static_cast<float>(percent) / 100.0f;
        e.select(3);
        const auto compress = picture(percent);
        e.select(2);
        const auto eq = picture(percent);
        // The panel left of the EQ view (design 316, 460) is the same in both; the readout well
        // (design 660, 460) is darker than the panel beside it (design 604) with COMPRESS.
        EXPECT_TRUE(testsupport::near(at(compress, 316, 460, s), at(eq, 316, 460, s), 6)) << percent;
        EXPECT_LT(at(compress, 660, 460, s).getBrightness() + 0.02f,
                  at(compress, 604, 460, s).getBrightness());
        // Where COMPRESS shows bare panel (design 575, 395), EQ shows the top of the EQ view's
        // well, near black.
        EXPECT_LT(at(eq, 575, 395, s).getBrightness() + 0.1f, at(compress, 575, 395, s).getBrightness());
        EXPECT_TRUE(testsupport::near(at(eq, 575, 395, s), juce::Colour(11, 14, 24), 12))
            << at(eq, 575, 395, s).toDisplayString(true);
    }
}

TEST_F(SorvelEditorTest, aSwitchedOffBlockIsDimmed)
{
    auto& e = open();
    e.select(3);
    const auto on = picture(100);
    setParameter("reverbOn", 0.0f);
    tick();
    const auto off = picture(100);
    // The REVERB block's colour swatch (design 14 + 5 * 128 + 14, 290 + 13): green while on.
    const float x = 14.0f + 5 * 128.0f + 14.0f, y = 290.0f + 13.0f;
    EXPECT_TRUE(testsupport::near(at(on, x, y, 1.0f), ui::green, 30))
        << at(on, x, y, 1.0f).toDisplayString(true);
    EXPECT_LT(at(off, x, y, 1.0f).getBrightness(), at(on, x, y, 1.0f).getBrightness() - 0.3f);
}
