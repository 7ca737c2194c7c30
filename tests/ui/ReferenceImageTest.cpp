// Whole-component renders compared with reference pictures kept in tests/ui/reference. When a
// change of look is intended, rewrite them with MOSSLIGHT_REWRITE_REFERENCES=1 and look at the
// new pictures before committing them.
#include "KitTestSupport.h"

#include "common/ui/Knob.h"
#include "common/ui/LevelMeter.h"
#include "common/ui/LoudnessPanel.h"

#include <cstdlib>

namespace
{
const juce::File referenceFolder(MOSSLIGHT_UI_REFERENCE_DIR);

bool rewriting()
{
    const char* value = std::getenv("MOSSLIGHT_REWRITE_REFERENCES");
    return value != nullptr && *value != 0 && juce::String(value) != "0";
}

bool writePng(const juce::Image& image, const juce::File& file)
{
    file.deleteFile();
    juce::FileOutputStream out(file);
    return out.openedOk() && juce::PNGImageFormat().writeImageToStream(image, out);
}

// Same size, and at most 0.1 % of the pixels off by more than 3 in any channel.
void expectMatchesReference(const juce::Image& actual, const juce::String& name)
{
    const auto file = referenceFolder.getChildFile(name + ".png");
    if (rewriting())
    {
        ASSERT_TRUE(writePng(actual, file)) << file.getFullPathName();
        return;
    }
    const auto expected = juce::ImageFileFormat::loadFrom(file);
    ASSERT_TRUE(expected.isValid()) << "missing reference " << file.getFullPathName()
                                    << " (MOSSLIGHT_REWRITE_REFERENCES=1 writes it)";
    ASSERT_EQ(actual.getWidth(), expected.getWidth()) << name;
    ASSERT_EQ(actual.getHeight(), expected.getHeight()) << name;
    int off = 0, worst = 0;
    for (int y = 0; y < actual.getHeight(); ++y)
    {
        for (int x = 0; x < actual.getWidth(); ++x)
        {
            const auto a = actual.getPixelAt(x, y), e = expected.getPixelAt(x, y);
            const int d =
                juce::jmax(std::abs(a.getRed() - e.getRed()), std::abs(a.getGreen() - e.getGreen()),
                           std::abs(a.getBlue() - e.getBlue()), std::abs(a.getAlpha() - e.getAlpha()));
            worst = juce::jmax(worst, d);
            off += d > 3 ? 1 : 0;
        }
    }
    const int allowed = actual.getWidth() * actual.getHeight() / 1000;
    if (off > allowed)
    {
        const auto saved = juce::File::getCurrentWorkingDirectory().getChildFile(name + ".actual.png");
        writePng(actual, saved);
        ADD_FAILURE() << name << ": " << off << " pixels differ (worst by " << worst << "); this render is "
                      << saved.getFullPathName();
    }
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
