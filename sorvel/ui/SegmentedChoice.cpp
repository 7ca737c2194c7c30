#include "SegmentedChoice.h"

#include "SorvelLookAndFeel.h"

#include <cmath>

SegmentedChoice::SegmentedChoice(juce::RangedAudioParameter& parameter, juce::Colour colour,
                                 std::function<void(int)> changed)
    : attachment(parameter, [this](float value) { valueChanged(value); }), onChange(std::move(changed))
{
    const auto texts = parameter.getAllValueStrings();
    const int n = texts.size();
    for (int i = 0; i < n; ++i)
    {
        auto* button = buttons.add(std::make_unique<juce::TextButton>(texts[i]));
        button->setClickingTogglesState(false);
        button->getProperties().set(SorvelLookAndFeel::compact(), true);
        button->setConnectedEdges((i > 0 ? juce::Button::ConnectedOnLeft : 0) |
                                  (i < n - 1 ? juce::Button::ConnectedOnRight : 0));
        button->setColour(juce::TextButton::buttonOnColourId, colour);
        button->setColour(juce::TextButton::textColourOnId, juce::Colours::black);
        button->onClick = [this, i] { buttonClicked(i); };
        addAndMakeVisible(button);
    }
    attachment.sendInitialUpdate();
}

void SegmentedChoice::valueChanged(float value)
{
    selected = static_cast<int>(std::lround(value));
    for (int i = 0; i < buttons.size(); ++i)
        buttons[i]->setToggleState(i == selected, juce::dontSendNotification);
}

void SegmentedChoice::buttonClicked(int index)
{
    if (index == selected)
        return;
    attachment.setValueAsCompleteGesture(static_cast<float>(index));
    if (onChange)
        onChange(index);
}

void SegmentedChoice::resized()
{
    int x = 0, remaining = getWidth();
    for (int k = 0; k < buttons.size(); ++k)
    {
        const int left = buttons.size() - k;
        const int w = left == 1 ? remaining : remaining / left;
        buttons[k]->setBounds(x, 0, w, getHeight());
        x += w;
        remaining -= w;
    }
}
