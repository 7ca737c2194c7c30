// Whole-component renders compared with reference pictures kept in tests/ui/reference. When a
// change of look is intended, rewrite them with MOSSLIGHT_REWRITE_REFERENCES=1 and look at the
// new pictures before committing them.
#include "KitTestSupport.h"
#include "support/ReferenceImages.h"

#include "common/ui/Knob.h"
#include "common/ui/LevelMeter.h"
#include "common/ui/LoudnessPanel.h"

namespace
{
const juce::File referenceFolder(MOSSLIGHT_UI_REFERENCE_DIR);

void expectMatchesReference(const juce::Image& actual, const juce::String& name)
{
    testsupport::expectMatchesReference(actual, referenceFolder, name);
}

// A strip of controls on a plain panel colour.
struct ControlStrip : juce::Component
{
    explicit ControlStrip(KnobLookAndFeel& look)
    {
        setLookAndFeel(&look);
        setSize(330, 100);
        combo.addItemList({"Plate", "Room", "Hall"}, 1);
        combo.setSelectedId(3, juce::dontSendNotification);
        add(combo, {10, 10, 120, 24});
        off.setButtonText("BYPASS");
        add(off, {140, 10, 80, 26});
        on.setButtonText("LISTEN");
        on.setToggleState(true, juce::dontSendNotification);
        add(on, {230, 10, 80, 26});
        const char* names[] = {"OFF", "MOSTLY", "ALWAYS"};
        for (int i = 0; i < 3; ++i)
        {
            auto& b = group[static_cast<size_t>(i)];
            b.setButtonText(names[i]);
            b.setColour(juce::TextButton::buttonOnColourId, ui::blue);
            b.setToggleState(i == 2, juce::dontSendNotification);
            b.setConnectedEdges((i > 0 ? juce::Button::ConnectedOnLeft : 0) |
                                (i < 2 ? juce::Button::ConnectedOnRight : 0));
            add(b, {10 + i * 62, 50, 62, 26});
        }
        linear.setSliderStyle(juce::Slider::LinearHorizontal);
        linear.setTextBoxStyle(juce::Slider::NoTextBox, true, 0, 0);
        linear.setRange(0, 1);
        linear.setValue(0.3);
        linear.setColour(juce::Slider::trackColourId, ui::green);
        linear.setColour(juce::Slider::thumbColourId, ui::text);
        add(linear, {210, 52, 110, 22});
    }
    ~ControlStrip() override { setLookAndFeel(nullptr); }

    void add(juce::Component& c, juce::Rectangle<int> bounds)
    {
        addAndMakeVisible(c);
        c.setBounds(bounds);
    }
    void paint(juce::Graphics& g) override { g.fillAll(ui::panel); }

    juce::ComboBox combo;
    juce::TextButton off, on;
    std::array<juce::TextButton, 3> group;
    juce::Slider linear;
};
} // namespace

using kittest::KitTest;

TEST_F(KitTest, referenceRenders)
{
    {
        LoudnessPanel panel("LUFS");
        panel.setSize(150, 408);
        panel.momentary = -12;
        panel.shortTerm = -13.04f;
        panel.integrated = -14.2f;
        expectMatchesReference(gallery::render(panel, 1.0f), "loudness-panel@100");
    }
    {
        gallery::StubProcessor processor;
        juce::Component parent;
        parent.setLookAndFeel(&look);
        Knob knob(processor.apvts, "gain1", "GAIN", ui::blue);
        parent.addAndMakeVisible(knob);
        knob.setBounds(0, 0, 112, 129);
        knob.slider.setValue(6.0, juce::sendNotificationSync);
        expectMatchesReference(gallery::render(knob, 2.0f), "knob@200");
        parent.setLookAndFeel(nullptr);
    }
    {
        ControlStrip strip(look);
        expectMatchesReference(gallery::render(strip, 1.0f), "controls@100");
    }
    {
        juce::Component meters;
        meters.setSize(50, 120);
        std::array<LevelMeter, 3> m;
        const float levels[] = {-30, -12, -2}, peaks[] = {-20, -8, -1};
        for (size_t i = 0; i < 3; ++i)
        {
            m[i].level = levels[i];
            m[i].peak = peaks[i];
            meters.addAndMakeVisible(m[i]);
            m[i].setBounds(5 + 16 * static_cast<int>(i), 5, 8, 110);
        }
        expectMatchesReference(gallery::render(meters, 2.0f), "level-meters@200");
    }
}
