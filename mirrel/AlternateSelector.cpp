#include "AlternateSelector.h"

#include "common/ui/Palette.h"

AlternateSelector::AlternateSelector(juce::RangedAudioParameter& parameter)
    : attachment(parameter, [this](float choice) { show(choice); })
{
    for (const char* name : {"OFF", "MOSTLY", "ALWAYS"})
    {
        auto* button = buttons.add(new juce::TextButton(name));
        button->setColour(juce::TextButton::buttonOnColourId, ui::blue);
        const auto index = static_cast<float>(buttons.size() - 1);
        button->onClick = [this, index] { attachment.setValueAsCompleteGesture(index); };
        addAndMakeVisible(button);
    }
    attachment.sendInitialUpdate();
}

AlternateSelector::~AlternateSelector() = default;

void AlternateSelector::show(float choice)
{
    for (int i = 0; i < buttons.size(); ++i)
        buttons[i]->setToggleState(juce::roundToInt(choice) == i, juce::dontSendNotification);
}

void AlternateSelector::resized()
{
    const int w = getWidth(), h = getHeight();
    int left = 0;
    for (auto* button : buttons)
    {
        const int slot = juce::jmin(w - left, w / 3);
        button->setBounds(left + 2, 0, juce::jmax(slot - 4, 0), h);
        left += slot;
    }
}
