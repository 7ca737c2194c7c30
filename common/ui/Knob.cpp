#include "Knob.h"

Knob::Knob(juce::AudioProcessorValueTreeState& tree, const juce::String& parameterId,
           const juce::String& captionText, juce::Colour colour)
    : attachment(tree, parameterId, slider)
{
    slider.setSliderStyle(juce::Slider::RotaryHorizontalVerticalDrag);
    slider.setTextBoxStyle(juce::Slider::TextBoxBelow, false, 74, 18);
    slider.setColour(juce::Slider::rotarySliderFillColourId, colour);

    if (auto* parameter = tree.getParameter(parameterId))
        slider.setDoubleClickReturnValue(true, parameter->convertFrom0to1(parameter->getDefaultValue()),
                                         juce::ModifierKeys::altModifier);

    // The knob brightens under the mouse.
    slider.setRepaintsOnMouseActivity(true);
    // The value box is drawn differently while dragging.
    const auto repaintLabels = [this]
    {
        for (auto* child : getChildren())
            if (dynamic_cast<juce::Label*>(child) != nullptr)
                child->repaint();
    };
    slider.onDragStart = repaintLabels;
    slider.onDragEnd = repaintLabels;
    addAndMakeVisible(slider);

    caption.setText(captionText, juce::dontSendNotification);
    caption.setJustificationType(juce::Justification::centred);
    caption.setFont(ui::font(11.5f, ui::Weight::SemiBold).withExtraKerningFactor(0.04f));
    caption.setColour(juce::Label::textColourId, ui::dim);
    addAndMakeVisible(caption);
}

Knob::~Knob() = default;

Knob::Layout Knob::layoutFor(int w, int h)
{
    const int d = juce::jmax(juce::jmin(h - 41, w - 8), 24);
    const int used = juce::jmin(h, d + 33);
    const int captionHeight = juce::jmin(used, 15);
    return {{0, 0, w, captionHeight}, {0, captionHeight, w, used - captionHeight}};
}

void Knob::resized()
{
    const auto layout = layoutFor(getWidth(), getHeight());
    caption.setBounds(layout.caption);
    slider.setBounds(layout.slider);
}
