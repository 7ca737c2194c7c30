#include "Palette.h"

namespace ui
{
void applyColours(juce::LookAndFeel& lf)
{
    const auto highlight = blue.withAlpha(static_cast<juce::uint8>(0x80));
    lf.setColour(juce::Slider::textBoxTextColourId, text);
    lf.setColour(juce::Slider::textBoxBackgroundColourId, slot);
    lf.setColour(juce::Slider::textBoxOutlineColourId, juce::Colour(0x00000000u));
    lf.setColour(juce::Slider::textBoxHighlightColourId, highlight);
    lf.setColour(juce::TextButton::buttonColourId, slot);
    lf.setColour(juce::TextButton::buttonOnColourId, amber);
    lf.setColour(juce::TextButton::textColourOffId, text);
    lf.setColour(juce::TextButton::textColourOnId, juce::Colour(0xff000000u));
    lf.setColour(juce::Label::textColourId, text);
    lf.setColour(juce::TextEditor::highlightColourId, highlight);
    lf.setColour(juce::CaretComponent::caretColourId, text);
    lf.setColour(juce::ComboBox::backgroundColourId, slot);
    lf.setColour(juce::ComboBox::textColourId, text);
    lf.setColour(juce::ComboBox::outlineColourId, panelEdge);
    lf.setColour(juce::ComboBox::arrowColourId, dim);
    lf.setColour(juce::PopupMenu::backgroundColourId, panel);
    lf.setColour(juce::PopupMenu::textColourId, text);
    lf.setColour(juce::PopupMenu::highlightedBackgroundColourId, highlight);
    lf.setColour(juce::TooltipWindow::backgroundColourId, panel);
    lf.setColour(juce::TooltipWindow::textColourId, text);
    lf.setColour(juce::TooltipWindow::outlineColourId, panelEdge);
}
} // namespace ui
