// The gallery's sheet: an editor-like window with the kit's look, a title, the logo, panels and
// small notes, which the concrete sheets fill with components in their states. Message thread
// only.
#pragma once

#include "StubProcessor.h"

#include "common/ui/Backdrop.h"
#include "common/ui/KnobLookAndFeel.h"
#include "common/ui/LogoMark.h"
#include "common/ui/Surfaces.h"

#include <memory>
#include <vector>

namespace gallery
{
// Shows a knob as if the mouse were over it.
class HoverLook : public KnobLookAndFeel
{
public:
    void drawRotarySlider(juce::Graphics& g, int x, int y, int width, int height, float position,
                          float startAngle, float endAngle, juce::Slider& slider) override
    {
        ui::RotaryLook look;
        look.fill = slider.findColour(juce::Slider::rotarySliderFillColourId);
        look.highlighted = true;
        drawRotary(g,
                   ui::RotaryGeometry::of(static_cast<float>(x), static_cast<float>(y),
                                          static_cast<float>(width), static_cast<float>(height)),
                   position, startAngle, endAngle,
                   ui::valueArcOrigin(slider.getMinimum(), slider.getMaximum(), startAngle, endAngle), look);
    }
};

// A sheet: a window with the kit's look, a title, panels and small notes, whose content the
// concrete sheets fill.
class Sheet : public StubEditor
{
public:
    Sheet(juce::AudioProcessor& p, const juce::String& sheetTitle, int width, int height)
        : StubEditor(p), title(sheetTitle)
    {
        setLookAndFeel(&look);
        setSize(width, height);
    }

    ~Sheet() override
    {
        for (auto* child : getChildren())
            child->setLookAndFeel(nullptr);
        setLookAndFeel(nullptr);
    }

    void paint(juce::Graphics& g) override
    {
        const ui::Backdrop backdrop(g, *this);
        g.setColour(ui::text);
        g.setFont(juce::FontOptions(20.0f, juce::Font::bold));
        g.drawText(title, 18, 10, 600, 28, juce::Justification::centredLeft, true);
        ui::LogoMark::draw(g, static_cast<float>(getWidth() - 18));
        for (const auto& r : panels)
            ui::drawPanel(g, r);
        g.setColour(ui::dim);
        g.setFont(juce::FontOptions(10.0f, juce::Font::plain));
        for (const auto& note : notes)
            g.drawText(note.text, note.area, juce::Justification::centred, true);
        paintExtras(g);
    }

    virtual void paintExtras(juce::Graphics&) {}

protected:
    template <typename C> C& add(std::unique_ptr<C> c, juce::Rectangle<int> bounds)
    {
        auto& ref = *c;
        addAndMakeVisible(ref);
        ref.setBounds(bounds);
        owned.push_back(std::move(c));
        return ref;
    }

    void note(juce::Rectangle<int> area, const juce::String& text) { notes.push_back({area, text}); }

    struct Note
    {
        juce::Rectangle<int> area;
        juce::String text;
    };

    KnobLookAndFeel look;
    HoverLook hoverLook;
    juce::String title;
    std::vector<juce::Rectangle<float>> panels;
    std::vector<Note> notes;
    std::vector<std::unique_ptr<juce::Component>> owned;
};
} // namespace gallery
