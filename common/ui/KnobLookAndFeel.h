// The kit's look-and-feel for controls: rotary knobs (a cached, pre-rendered face with a drop
// shadow, a track, a value arc from zero and a pointer), linear sliders, slider value boxes,
// combo boxes and text buttons, with the house fonts. Each editor owns one; holding it keeps the
// process-wide ui::Style alive. Message thread only.
#pragma once

#include "Style.h"

namespace ui
{
// Where the parts of a rotary knob lie in a slider's area (x, y, width, height).
struct RotaryGeometry
{
    float outerRadius = 0; // R: half the smaller side less the 5-unit margins
    float track = 0;       // track and value-arc width
    float arcRadius = 0;
    float centreX = 0, centreY = 0;
    float knobRadius = 0; // the face

    static RotaryGeometry of(float x, float y, float width, float height);
};

// The look of a knob beyond its geometry: what drawRotarySlider reads from the slider.
struct RotaryLook
{
    juce::Colour fill;
    bool highlighted = false; // under the mouse or dragged
    bool enabled = true;
};

// The angle at which a slider's value arc starts: zero for ranges that cross it, else the start.
float valueArcOrigin(double minimum, double maximum, float startAngle, float endAngle);

// The knob face of diameter n physical pixels with its shadow margin, from the Style's pictures;
// what drawRotarySlider caches.
juce::Image renderKnobFace(const Style& style, int n);
} // namespace ui

class KnobLookAndFeel : public juce::LookAndFeel_V4
{
public:
    KnobLookAndFeel();

    juce::Typeface::Ptr getTypefaceForFont(const juce::Font& font) override;
    void drawButtonBackground(juce::Graphics&, juce::Button&, const juce::Colour& backgroundColour,
                              bool highlighted, bool down) override;
    juce::Font getTextButtonFont(juce::TextButton&, int buttonHeight) override;
    juce::Font getPopupMenuFont() override;
    void drawComboBox(juce::Graphics&, int width, int height, bool isButtonDown, int buttonX, int buttonY,
                      int buttonW, int buttonH, juce::ComboBox&) override;
    juce::Font getComboBoxFont(juce::ComboBox&) override;
    void drawLabel(juce::Graphics&, juce::Label&) override;
    void drawLinearSlider(juce::Graphics&, int x, int y, int width, int height, float sliderPos,
                          float minSliderPos, float maxSliderPos, juce::Slider::SliderStyle,
                          juce::Slider&) override;
    void drawRotarySlider(juce::Graphics&, int x, int y, int width, int height, float sliderPosProportional,
                          float rotaryStartAngle, float rotaryEndAngle, juce::Slider&) override;
    juce::Label* createSliderTextBox(juce::Slider&) override;

    // The knob itself, for a given look; drawRotarySlider calls it with the slider's state.
    void drawRotary(juce::Graphics&, const ui::RotaryGeometry&, float position, float startAngle,
                    float endAngle, float originAngle, const ui::RotaryLook&);

    juce::SharedResourcePointer<ui::Style> style;

private:
    juce::Path arc, shape; // refilled on every draw, so steady repaints keep their storage

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(KnobLookAndFeel)
};
