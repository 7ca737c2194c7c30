#include "Palette.h"

namespace ui
{
void applyColours(juce::LookAndFeel& lf)
{
    const auto highlight = blue.withAlpha(static_cast<juce::uint8>(0x80));
    const std::pair<int, juce::Colour> colours[] = {
        {juce::Slider::textBoxTextColourId, text},
        {juce::Slider::textBoxBackgroundColourId, slot},
        {juce::Slider::textBoxOutlineColourId, juce::Colour(0x00000000u)},
        {juce::Slider::textBoxHighlightColourId, highlight},
        {juce::TextButton::buttonColourId, slot},
        {juce::TextButton::buttonOnColourId, amber},
        {juce::TextButton::textColourOffId, text},
        {juce::TextButton::textColourOnId, juce::Colour(0xff000000u)},
        {juce::Label::textColourId, text},
        {juce::TextEditor::highlightColourId, highlight},
        {juce::CaretComponent::caretColourId, text},
        {juce::ComboBox::backgroundColourId, slot},
        {juce::ComboBox::textColourId, text},
        {juce::ComboBox::outlineColourId, panelEdge},
        {juce::ComboBox::arrowColourId, dim},
        {juce::PopupMenu::backgroundColourId, panel},
        {juce::PopupMenu::textColourId, text},
        {juce::PopupMenu::highlightedBackgroundColourId, highlight},
        {juce::TooltipWindow::backgroundColourId, panel},
        {juce::TooltipWindow::textColourId, text},
        {juce::TooltipWindow::outlineColourId, panelEdge},
    };
    for (const auto& [id, colour] : colours)
        lf.setColour(id, colour);
}
} // namespace ui
