#include "ViewTestSupport.h"

#include "sorvel/ui/SegmentedChoice.h"
#include "sorvel/ui/SorvelLookAndFeel.h"

#include "sorvel/PluginProcessor.h"

using viewtest::KitTest;

namespace
{
// Counts gestures on a parameter.
struct GestureCount : juce::AudioProcessorParameter::Listener
{
    explicit GestureCount(juce::AudioProcessorParameter& p) : parameter(p) { parameter.addListener(this); }
    ~GestureCount() override { parameter.removeListener(this); }
    void parameterValueChanged(int, float) override { ++changes; }
    void parameterGestureChanged(int, bool starting) override { (starting ? begins : ends) += 1; }
    juce::AudioProcessorParameter& parameter;
    int begins = 0, ends = 0, changes = 0;
};

struct Choice
{
    explicit Choice(const char* id) : parameter(*processor.apvts.getParameter(id))
    {
        choice = std::make_unique<SegmentedChoice>(parameter, ui::green,
                                                   [this](int i)
                                                   {
                                                       picked.push_back(i);
                                                       valueWhenPicked =
                                                           parameter.convertFrom0to1(parameter.getValue());
                                                   });
        choice->setSize(272, 26);
    }
    void click(int i)
    {
        choice->buttons[i]->triggerClick();
        juce::MessageManager::getInstance()->runDispatchLoopUntil(20);
    }
    std::vector<bool> lit() const
    {
        std::vector<bool> states;
        for (auto* b : choice->buttons)
            states.push_back(b->getToggleState());
        return states;
    }
    Sorvel2Processor processor;
    juce::RangedAudioParameter& parameter;
    std::unique_ptr<SegmentedChoice> choice;
    std::vector<int> picked;
    float valueWhenPicked = -1;
};
} // namespace

TEST(SegmentedChoice, oneSegmentPerChoiceSharingTheWidth)
{
    Choice c("hpf");
    auto& buttons = c.choice->buttons;
    ASSERT_EQ(buttons.size(), 5);
    const char* texts[] = {"Off", "60 Hz", "90 Hz", "130 Hz", "180 Hz"};
    const int widths[] = {54, 54, 54, 55, 55};
    int x = 0;
    for (int i = 0; i < 5; ++i)
    {
        auto* b = buttons[i];
        EXPECT_EQ(b->getButtonText(), texts[i]);
        EXPECT_EQ(b->getBounds(), juce::Rectangle<int>(x, 0, widths[i], 26)) << i;
        x += widths[i];
        EXPECT_FALSE(b->getClickingTogglesState());
        EXPECT_TRUE(b->getProperties()[SorvelLookAndFeel::compact()]);
        EXPECT_EQ(b->isConnectedOnLeft(), i > 0);
        EXPECT_EQ(b->isConnectedOnRight(), i < 4);
        EXPECT_EQ(b->findColour(juce::TextButton::buttonOnColourId), ui::green);
        EXPECT_EQ(b->findColour(juce::TextButton::textColourOnId), juce::Colours::black);
        EXPECT_TRUE(b->isVisible());
    }
    // The default "hpf" is lit from the start.
    EXPECT_EQ(c.choice->selected,
              juce::roundToInt(c.parameter.convertFrom0to1(c.parameter.getDefaultValue())));
    EXPECT_TRUE(buttons[c.choice->selected]->getToggleState());
}

TEST(SegmentedChoice, hostAutomationLightsTheSegmentSilently)
{
    Choice c("hpf");
    c.parameter.setValueNotifyingHost(c.parameter.convertTo0to1(2.0f));
    EXPECT_EQ(c.choice->selected, 2);
    EXPECT_EQ(c.lit(), (std::vector<bool>{false, false, true, false, false}));
    EXPECT_TRUE(c.picked.empty());
}

TEST(SegmentedChoice, clicksSetTheParameterInOneGestureThenTellTheOwner)
{
    Choice c("reverbChar");
    ASSERT_EQ(c.choice->buttons.size(), 3);
    c.parameter.setValueNotifyingHost(c.parameter.convertTo0to1(0.0f));
    GestureCount gestures(c.parameter);

    c.click(0); // the lit segment: nothing
    EXPECT_EQ(gestures.begins, 0);
    EXPECT_TRUE(c.picked.empty());

    c.click(2); // "Hall"
    EXPECT_EQ(c.choice->buttons[2]->getButtonText(), "Hall");
    EXPECT_EQ(gestures.begins, 1);
    EXPECT_EQ(gestures.ends, 1);
    EXPECT_FLOAT_EQ(c.processor.apvts.getRawParameterValue("reverbChar")->load(), 2.0f);
    EXPECT_EQ(c.picked, std::vector<int>{2});
    EXPECT_FLOAT_EQ(c.valueWhenPicked, 2.0f); // the parameter was set before onChange
    EXPECT_EQ(c.lit(), (std::vector<bool>{false, false, true}));
}

TEST(SegmentedChoice, anEmptyOnChangeIsFine)
{
    Sorvel2Processor processor;
    auto& parameter = *processor.apvts.getParameter("delayChar");
    SegmentedChoice choice(parameter, ui::green, {});
    choice.setSize(200, 24);
    choice.buttons[3]->triggerClick();
    juce::MessageManager::getInstance()->runDispatchLoopUntil(20);
    EXPECT_FLOAT_EQ(processor.apvts.getRawParameterValue("delayChar")->load(), 3.0f);
}

TEST(SorvelLookAndFeel, compactButtonsUseASmallerBoldFont)
{
    SorvelLookAndFeel look;
    juce::TextButton compact("LISTEN"), plain("BYPASS");
    compact.getProperties().set(SorvelLookAndFeel::compact(), true);
    struct Case
    {
        int height;
        float compactPoints, plainPoints;
    };
    for (const auto& c : {Case{22, 11.44f, 12.32f}, Case{26, 12.0f, 13.0f}, Case{18, 9.36f, 10.08f}})
    {
        const auto small = look.getTextButtonFont(compact, c.height);
        EXPECT_NEAR(small.getHeight(), c.compactPoints, 1e-4) << c.height;
        EXPECT_TRUE(small.isBold()) << c.height;
        const auto normal = look.getTextButtonFont(plain, c.height);
        EXPECT_NEAR(normal.getHeight(), c.plainPoints, 1e-4) << c.height;
        EXPECT_EQ(normal.getTypefaceStyle(), "Medium");
    }
}

TEST_F(KitTest, segmentsDrawLitInTheModuleColour)
{
    SorvelLookAndFeel sorvelLook;
    Choice c("compChar");
    c.choice->setLookAndFeel(&sorvelLook);
    c.parameter.setValueNotifyingHost(c.parameter.convertTo0to1(1.0f));
    const auto image = viewtest::render(*c.choice);
    // The lit "Push" in green, the others in the dark slot.
    EXPECT_TRUE(kittest::near(image.getPixelAt(136, 20), ui::green, 30));
    EXPECT_TRUE(kittest::near(image.getPixelAt(20, 20), ui::slot, 12));
    c.choice->setLookAndFeel(nullptr);
}
