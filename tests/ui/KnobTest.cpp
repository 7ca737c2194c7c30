#include "KitTestSupport.h"

#include "common/ui/Knob.h"

using kittest::Canvas;
using kittest::KitTest;

TEST(KnobGeometry, sizesFollowTheSliderArea)
{
    const auto geo = ui::RotaryGeometry::of(0, 0, 80, 60);
    EXPECT_FLOAT_EQ(geo.outerRadius, 25.0f);
    EXPECT_FLOAT_EQ(geo.track, 2.5f);
    EXPECT_FLOAT_EQ(geo.arcRadius, 23.75f);
    EXPECT_FLOAT_EQ(geo.knobRadius, 19.5f);
    EXPECT_FLOAT_EQ(geo.centreX, 40.0f);
    EXPECT_FLOAT_EQ(geo.centreY, 30.0f);

    const auto big = ui::RotaryGeometry::of(10, 20, 200, 200);
    EXPECT_FLOAT_EQ(big.track, 3.5f); // R x 0.09 = 8.1, capped
    EXPECT_FLOAT_EQ(big.centreX, 110.0f);

    const auto tiny = ui::RotaryGeometry::of(0, 0, 24, 20);
    EXPECT_FLOAT_EQ(tiny.track, 2.5f); // R x 0.09 < 2.5
    EXPECT_FLOAT_EQ(tiny.knobRadius, 6.0f);
}

TEST(KnobLayout, captionOnTopSliderBelow)
{
    struct Case
    {
        int w, h;
        juce::Rectangle<int> caption, slider;
    };
    for (const auto& c :
         {Case{100, 100, {0, 0, 100, 15}, {0, 15, 100, 77}}, Case{100, 50, {0, 0, 100, 15}, {0, 15, 100, 35}},
          Case{112, 129, {0, 0, 112, 15}, {0, 15, 112, 106}}, Case{30, 10, {0, 0, 30, 10}, {0, 10, 30, 0}}})
    {
        const auto layout = Knob::layoutFor(c.w, c.h);
        EXPECT_EQ(layout.caption, c.caption) << c.w << " x " << c.h;
        EXPECT_EQ(layout.slider, c.slider) << c.w << " x " << c.h;
    }

    KnobLookAndFeel look;
    gallery::StubProcessor processor;
    Knob knob(processor.apvts, "gain1", "GAIN", ui::blue);
    knob.setSize(100, 100);
    EXPECT_EQ(knob.caption.getBounds(), juce::Rectangle<int>(0, 0, 100, 15));
    EXPECT_EQ(knob.slider.getBounds(), juce::Rectangle<int>(0, 15, 100, 77));
    EXPECT_EQ(knob.caption.getText(), "GAIN");
    EXPECT_EQ(knob.slider.getTextBoxWidth(), 74);
    EXPECT_EQ(knob.slider.getTextBoxHeight(), 18);
    EXPECT_EQ(knob.slider.findColour(juce::Slider::rotarySliderFillColourId), ui::blue);
}

namespace
{
// A bare rotary slider drawn 80 x 60 by the look at `value`.
juce::Image drawKnob(KnobLookAndFeel& look, double minimum, double maximum, double value, juce::Colour fill)
{
    juce::Slider slider(juce::Slider::RotaryHorizontalVerticalDrag, juce::Slider::NoTextBox);
    slider.setLookAndFeel(&look);
    slider.setRange(minimum, maximum);
    slider.setValue(value, juce::dontSendNotification);
    slider.setColour(juce::Slider::rotarySliderFillColourId, fill);
    slider.setBounds(0, 0, 80, 60);
    auto image = slider.createComponentSnapshot(slider.getLocalBounds(), true, 2.0f);
    slider.setLookAndFeel(nullptr);
    return image;
}

// The pixel on the arc (radius 23.75 about (40, 30), units) at a proportion of the sweep.
juce::Colour onArc(const juce::Image& image, float proportion)
{
    const auto params = juce::Slider().getRotaryParameters();
    const float angle =
        params.startAngleRadians + proportion * (params.endAngleRadians - params.startAngleRadians);
    const float x = 40 + 23.75f * std::sin(angle), y = 30 - 23.75f * std::cos(angle);
    return image.getPixelAt(juce::roundToInt(x * 2), juce::roundToInt(y * 2));
}

bool isGreen(juce::Colour c)
{
    return c.getGreen() > 150 && c.getRed() < 120;
}
} // namespace

TEST_F(KitTest, valueArcsStartAtZeroForRangesThatCrossIt)
{
    const auto params = juce::Slider().getRotaryParameters();
    const float start = params.startAngleRadians, end = params.endAngleRadians;
    EXPECT_FLOAT_EQ(ui::valueArcOrigin(-12, 12, start, end), (start + end) / 2);
    EXPECT_FLOAT_EQ(ui::valueArcOrigin(0, 1, start, end), start);
    EXPECT_FLOAT_EQ(ui::valueArcOrigin(-30, 0, start, end), start); // touches zero, does not cross it
    EXPECT_FLOAT_EQ(ui::valueArcOrigin(-10, 30, start, end), start + 0.25f * (end - start));

    // -12...+12 at 0: no arc at all.
    const auto zero = drawKnob(look, -12, 12, 0, ui::green);
    for (const float p : {0.1f, 0.3f, 0.49f, 0.51f, 0.7f, 0.9f})
        EXPECT_FALSE(isGreen(onArc(zero, p))) << p;
    // At +6: from the middle towards the end.
    const auto plus = drawKnob(look, -12, 12, 6, ui::green);
    EXPECT_TRUE(isGreen(onArc(plus, 0.55f)));
    EXPECT_TRUE(isGreen(onArc(plus, 0.7f)));
    EXPECT_FALSE(isGreen(onArc(plus, 0.8f)));
    EXPECT_FALSE(isGreen(onArc(plus, 0.4f)));
    // 0...1: always from the start.
    const auto unipolar = drawKnob(look, 0, 1, 0.3, ui::green);
    EXPECT_TRUE(isGreen(onArc(unipolar, 0.05f)));
    EXPECT_TRUE(isGreen(onArc(unipolar, 0.25f)));
    EXPECT_FALSE(isGreen(onArc(unipolar, 0.4f)));
}

TEST_F(KitTest, knobFacesAreCachedPerPhysicalDiameter)
{
    auto& cache = style().knobCache;
    cache.clear();
    juce::Slider slider;
    slider.setColour(juce::Slider::rotarySliderFillColourId, ui::blue);

    // At a scale of 2 the face is rendered at twice its diameter in units.
    {
        Canvas canvas(80, 60, 2.0f);
        look.drawRotarySlider(canvas.g, 0, 0, 80, 60, 0.5f, 3.8f, 8.8f, slider);
    }
    ASSERT_EQ(cache.size(), 1u);
    EXPECT_EQ(cache.begin()->first, 78); // 2 x 19.5 x 2
    const int margin = juce::roundToInt(78 * 0.17);
    EXPECT_EQ(cache.begin()->second.getWidth(), 78 + 2 * margin);

    // A face below 8 physical pixels is rendered at 8.
    cache.clear();
    {
        Canvas canvas(24, 20, 0.5f);
        look.drawRotarySlider(canvas.g, 0, 0, 24, 20, 0.5f, 3.8f, 8.8f, slider);
    }
    ASSERT_EQ(cache.count(8), 1u);
    EXPECT_EQ(cache[8].getWidth(), 8 + 2 * 3);

    // 25 diameters fill the cache; the 26th empties it first.
    cache.clear();
    Canvas canvas(400, 400);
    for (int i = 0; i < 26; ++i)
    {
        const int side = 40 + 2 * i;
        look.drawRotarySlider(canvas.g, 0, 0, side, side, 0.5f, 3.8f, 8.8f, slider);
        EXPECT_EQ(cache.size(), i < 25 ? static_cast<size_t>(i + 1) : 1u) << "diameter " << i + 1;
    }
    // A repaint at a cached size renders nothing new.
    const auto before = cache.begin()->second;
    look.drawRotarySlider(canvas.g, 0, 0, 90, 90, 0.5f, 3.8f, 8.8f, slider);
    EXPECT_EQ(cache.size(), 1u);
    EXPECT_EQ(cache.begin()->second, before);
}

TEST_F(KitTest, theFaceIsTheShrunkPictureOverASoftShadow)
{
    const auto face = ui::renderKnobFace(style(), 60);
    const int m = juce::roundToInt(60 * 0.17);
    ASSERT_EQ(face.getWidth(), 60 + 2 * m);
    EXPECT_EQ(face.getPixelAt(face.getWidth() / 2, face.getHeight() / 2).getAlpha(), 255); // the face
    EXPECT_EQ(face.getPixelAt(0, 0).getAlpha(), 0);                                        // clear corners
    // The shadow is pushed down: more of it below the face than above.
    const int mid = face.getWidth() / 2;
    EXPECT_GT(face.getPixelAt(mid, face.getHeight() - 4).getAlpha(), face.getPixelAt(mid, 3).getAlpha());

    // Without a picture, a flat circle of lightened panel colour.
    auto flat = style().knob128;
    style().knob128 = {};
    const auto saved256 = style().knob256;
    style().knob256 = {};
    const auto plain = ui::renderKnobFace(style(), 60);
    style().knob128 = flat;
    style().knob256 = saved256;
    EXPECT_TRUE(kittest::near(plain.getPixelAt(mid, mid), ui::towardsWhite(ui::panel, 0.06f), 1));
}

TEST_F(KitTest, doubleClickAndAltClickReturnToTheDefault)
{
    gallery::StubProcessor processor;
    struct Case
    {
        const char* id;
        double defaultValue;
        double moved;
    };
    // time is skewed: its default comes through the parameter's range, in real units.
    for (const auto& c : {Case{"gain1", 0.0, 7.5}, Case{"amount1", 0.5, 0.9}, Case{"time1", 40.0, 300.0}})
    {
        Knob knob(processor.apvts, c.id, "CAPTION", ui::amber);
        knob.setBounds(0, 0, 112, 129);
        auto& slider = knob.slider;
        EXPECT_TRUE(slider.isDoubleClickReturnEnabled());
        EXPECT_NEAR(slider.getDoubleClickReturnValue(), c.defaultValue, 1e-4) << c.id;

        const auto source = juce::Desktop::getInstance().getMainMouseSource();
        const auto event = [&](juce::ModifierKeys mods, int clicks)
        {
            const juce::Point<float> centre(56, 40);
            return juce::MouseEvent(source, centre, mods, 1.0f, 0, 0, 0, 0, &slider, &slider,
                                    juce::Time::getCurrentTime(), centre, juce::Time::getCurrentTime(),
                                    clicks, false);
        };

        slider.setValue(c.moved, juce::sendNotificationSync);
        slider.mouseDoubleClick(event(juce::ModifierKeys::leftButtonModifier, 2));
        EXPECT_NEAR(slider.getValue(), c.defaultValue, 1e-4) << c.id << ": double-click";
        EXPECT_NEAR(processor.apvts.getRawParameterValue(c.id)->load(), c.defaultValue, 1e-3) << c.id;

        slider.setValue(c.moved, juce::sendNotificationSync);
        slider.mouseDown(event(
            juce::ModifierKeys(juce::ModifierKeys::leftButtonModifier | juce::ModifierKeys::altModifier), 1));
        EXPECT_NEAR(slider.getValue(), c.defaultValue, 1e-4) << c.id << ": alt-click";
    }
}

TEST_F(KitTest, aDisabledKnobDrawsItsArcUnlit)
{
    juce::Slider slider(juce::Slider::RotaryHorizontalVerticalDrag, juce::Slider::NoTextBox);
    slider.setLookAndFeel(&look);
    slider.setRange(0, 1);
    slider.setValue(1.0, juce::dontSendNotification);
    slider.setColour(juce::Slider::rotarySliderFillColourId, ui::green);
    slider.setBounds(0, 0, 80, 60);
    const auto enabled = slider.createComponentSnapshot(slider.getLocalBounds(), true, 2.0f);
    slider.setEnabled(false);
    const auto disabled = slider.createComponentSnapshot(slider.getLocalBounds(), true, 2.0f);
    slider.setLookAndFeel(nullptr);
    EXPECT_TRUE(kittest::near(onArc(disabled, 0.5f), ui::green, 6));
    EXPECT_EQ(onArc(disabled, 0.5f), onArc(enabled, 0.5f));
}
