// What Mirrel's editor does on its refresh and with its controls: the place in words, the meters'
// fall and peak hold, resting while the processor is idle, the loudness reset, one gesture per
// control, and host automation shown on the alternate selector.
#include "EditorRig.h"

#include "common/dsp/LoudnessMeter.h"

#include <thread>

namespace
{
using editortest::EditorTest;

using testsupport::countRepaints;
using testsupport::HostView;

int indexOf(MirrelProcessor& p, const char* id)
{
    return p.apvts.getParameter(id)->getParameterIndex();
}
} // namespace

TEST(PlaceText, saysWhereAPanLies)
{
    const std::pair<float, const char*> cases[] = {
        {0.004f, "centre"},    {0.0f, "centre"},      {-0.004f, "centre"},   {-0.375f, "38 % left"},
        {1.0f, "100 % right"}, {-1.0f, "100 % left"}, {0.37f, "37 % right"}, {0.006f, "1 % right"},
    };
    for (const auto& [pan, text] : cases)
        EXPECT_EQ(placeText(pan), text) << pan;
}

TEST_F(EditorTest, aMeterFallsAfterItsInputStopsAndItsPeakHoldsThenFalls)
{
    publishBlock(1.0f, 0.5f); // 0 dB in, -6 dB out
    tick();
    EXPECT_FLOAT_EQ(editor->inMeter.level, 0.0f);
    EXPECT_FLOAT_EQ(editor->inMeter.peak, 0.0f);
    EXPECT_NEAR(editor->outMeter.level, -6.0206f, 1e-3);

    // Silence: the level falls 1.2 dB per tick down to the floor of -60; the peak mark holds for
    // 45 ticks, then falls 0.6 dB per tick, never below the level.
    for (int k = 1; k <= 150; ++k)
    {
        publishBlock(0.0f, 0.0f);
        tick();
        const float level = juce::jmax(-60.0f, -1.2f * static_cast<float>(k));
        const float peak = k < 45 ? 0.0f : juce::jmax(-0.6f * static_cast<float>(k - 44), level);
        ASSERT_NEAR(editor->inMeter.level, level, 1e-3) << "tick " << k;
        ASSERT_NEAR(editor->inMeter.peak, peak, 1e-3) << "tick " << k;
    }

    // A steady input holds the level; the falling peak mark stops on it.
    publishBlock(1.0f, 1.0f);
    tick();
    for (int k = 1; k <= 100; ++k)
    {
        publishBlock(0.1f, 0.1f); // -20 dB
        tick();
    }
    EXPECT_NEAR(editor->inMeter.level, -20.0f, 1e-3);
    EXPECT_NEAR(editor->inMeter.peak, -20.0f, 1e-3);
}

TEST_F(EditorTest, whileTheProcessorIsIdleAndNoBlockComesNothingIsRepainted)
{
    publish({0.5f}, 1, 0.5f);
    publishBlock(0.5f, 0.5f);
    tick();
    const float level = editor->inMeter.level;

    auto& inRepaints = countRepaints(editor->inMeter);
    auto& outRepaints = countRepaints(editor->outMeter);
    auto& loudnessRepaints = countRepaints(editor->loudness);
    auto& laneRepaints = countRepaints(editor->lane);
    const auto repaints = [&]
    {
        return std::array<int, 4>{inRepaints.count, outRepaints.count, loudnessRepaints.count,
                                  laneRepaints.count};
    };

    // Stopped and silent: the processor is idle and publishes no blocks.
    feed().idle.store(true);
    tick(30);
    EXPECT_EQ(repaints(), (std::array<int, 4>{0, 0, 0, 0}));
    EXPECT_FLOAT_EQ(editor->inMeter.level, level);

    // Not idle, but no new block (a host that stopped calling): one more fall, then rest. The
    // loudness readings stay as they were (no reading yet), so the panel is not repainted.
    feed().idle.store(false);
    tick();
    EXPECT_EQ(repaints(), (std::array<int, 4>{1, 1, 0, 0}));
    EXPECT_NEAR(editor->inMeter.level, level - 1.2f, 1e-4);
    tick(10);
    EXPECT_EQ(repaints(), (std::array<int, 4>{1, 1, 0, 0}));

    // Blocks again: the meters move on every tick, the lane when something changed.
    publishBlock(0.0f, 0.0f);
    tick();
    EXPECT_EQ(repaints(), (std::array<int, 4>{2, 2, 0, 0}));
    publish({-0.5f, 0.5f}, 2, -0.5f);
    publishBlock(0.0f, 0.0f);
    tick();
    EXPECT_EQ(repaints(), (std::array<int, 4>{3, 3, 0, 1}));

    // Silence while playing: once the meters rest on the floor, they are not repainted either.
    for (int k = 0; k < 200; ++k)
    {
        publishBlock(0.0f, 0.0f);
        tick();
    }
    EXPECT_EQ(editor->inMeter.peak, -60.0f);
    const auto settled = repaints();
    publishBlock(0.0f, 0.0f);
    tick(1);
    EXPECT_EQ(repaints(), settled);

    for (auto* c : std::initializer_list<juce::Component*>{&editor->inMeter, &editor->outMeter,
                                                           &editor->loudness, &editor->lane})
        c->setCachedComponentImage(nullptr);
}

TEST_F(EditorTest, resetAsksTheProcessorToStartTheLoudnessAfresh)
{
    juce::AudioBuffer<float> block(2, 480);
    juce::MidiBuffer midi;
    const auto play = [&](int blocks)
    {
        for (int b = 0; b < blocks; ++b)
        {
            for (int i = 0; i < block.getNumSamples(); ++i)
                for (int c = 0; c < 2; ++c)
                    block.setSample(c, i, 0.25f * std::sin(0.06f * static_cast<float>(i + b * 480)));
            processor.processBlock(block, midi);
        }
    };
    play(350); // 3.5 s of a tone: every reading has its window full
    tick();
    EXPECT_GT(editor->loudness.momentary, -40.0f);
    EXPECT_GT(editor->loudness.shortTerm, -40.0f);
    EXPECT_GT(editor->loudness.integrated, -40.0f);

    editortest::click(editor->loudness.resetButton);
    EXPECT_TRUE(feed().resetLoudness.load());
    play(1); // the processor takes the request with its next block
    EXPECT_FALSE(feed().resetLoudness.load());
    tick();
    EXPECT_EQ(editor->loudness.shortTerm, sv::LoudnessMeter::noValue);
    EXPECT_EQ(editor->loudness.momentary, sv::LoudnessMeter::noValue);
    EXPECT_EQ(editor->loudness.integrated, sv::LoudnessMeter::noValue);
}

TEST_F(EditorTest, everyControlMovesItsParameterThroughOneGesture)
{
    HostView host;
    processor.addListener(&host);
    struct Case
    {
        const char* id;
        std::function<void()> act;
        float expected; // the parameter's value afterwards, in its own units (NaN: only "moved")
    };
    const auto knobDrag = [](Knob& knob) { return [&knob] { editortest::drag(knob.slider, 0.0f, -40.0f); }; };
    juce::Button* increment = nullptr;
    for (auto* child : editor->seedSlider.getChildren())
        if (auto* button = dynamic_cast<juce::Button*>(child);
            button != nullptr && button->getButtonText() == "+")
            increment = button;
    ASSERT_NE(increment, nullptr);
    const float moved = std::numeric_limits<float>::quiet_NaN();

    const Case cases[] = {
        {"sensitivity", knobDrag(*editor->sensitivityKnob), moved},
        {"width", [this] { editortest::drag(editor->widthKnob->slider, 0.0f, 40.0f); }, moved}, // at its top
        {"hole", knobDrag(*editor->holeKnob), moved},
        {"bias", knobDrag(*editor->biasKnob), moved},
        {"minjump", knobDrag(*editor->minJumpKnob), moved},
        {"slew", knobDrag(*editor->slewKnob), moved},
        {"alternate", [this] { editortest::click(*editor->alternate->buttons[2]); }, 2.0f},
        {"alternate", [this] { editortest::click(*editor->alternate->buttons[0]); }, 0.0f},
        {"bypass", [this] { editortest::click(editor->bypassButton); }, 1.0f},
        {"seed", [increment] { editortest::click(*increment); }, 2.0f},
    };
    for (const auto& c : cases)
    {
        auto* parameter = processor.apvts.getParameter(c.id);
        const float before = parameter->convertFrom0to1(parameter->getValue());
        host.begins.clear();
        host.ends.clear();
        host.changes.clear();
        c.act();
        const float after = parameter->convertFrom0to1(parameter->getValue());
        const int index = indexOf(processor, c.id);
        EXPECT_EQ(host.begins, (std::map<int, int>{{index, 1}})) << c.id;
        EXPECT_EQ(host.ends, (std::map<int, int>{{index, 1}})) << c.id;
        EXPECT_EQ(host.changes.count(index), 1u) << c.id << " did not change";
        EXPECT_EQ(host.changes.size(), 1u) << c.id << " changed others";
        if (std::isnan(c.expected))
        {
            EXPECT_NE(after, before) << c.id;
        }
        else
        {
            EXPECT_FLOAT_EQ(after, c.expected) << c.id;
        }
    }
    processor.removeListener(&host);
}

TEST_F(EditorTest, hostAutomationOfAlternateLightsItsButton)
{
    auto* parameter = processor.apvts.getParameter("alternate");
    for (const int choice : {2, 0, 1})
    {
        // Hosts automate from their own threads; the selector follows on the message thread.
        std::thread(
            [&] { parameter->setValueNotifyingHost(parameter->convertTo0to1(static_cast<float>(choice))); })
            .join();
        auto& buttons = editor->alternate->buttons;
        for (int wait = 0; wait < 200 && !buttons[choice]->getToggleState(); ++wait)
            juce::MessageManager::getInstance()->runDispatchLoopUntil(10);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(buttons[i]->getToggleState(), i == choice) << "choice " << choice << ", button " << i;
    }
}

TEST_F(EditorTest, theControlsShowTheirValuesWithUnits)
{
    const std::pair<Knob*, const char*> cases[] = {
        {editor->sensitivityKnob.get(), "8.0 dB"}, {editor->widthKnob.get(), "100 %"},
        {editor->holeKnob.get(), "30 %"},          {editor->biasKnob.get(), "50 %"},
        {editor->minJumpKnob.get(), "20 %"},       {editor->slewKnob.get(), "2.0 ms"},
    };
    for (const auto& [knob, text] : cases)
        EXPECT_EQ(knob->slider.getTextFromValue(knob->slider.getValue()), text) << knob->caption.getText();
    EXPECT_EQ(editor->seedSlider.getTextFromValue(editor->seedSlider.getValue()), "1");
    EXPECT_EQ(editor->alternate->buttons[1]->getToggleState(), true);
    EXPECT_EQ(editor->infoLabel.getText(),
              "listens on the mono sum, 150 Hz to 6 kHz; 5 ms lookahead so the move lands on the hit");
}
