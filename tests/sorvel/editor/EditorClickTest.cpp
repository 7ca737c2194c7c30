// Sorvel's editor driven by mouse events on its components, as a user's clicks arrive: a block
// click selects, a click on a block's power symbol or on the panel's power button switches the
// module, LISTEN solos the module and the status says so, and a reverb or delay character brings
// its own decay or feedback, each change one gesture for the host.
#include "EditorRig.h"

namespace
{
using sorveleditortest::blockBody;
using sorveleditortest::blockPower;
using sorveleditortest::SorvelEditorTest;
using testsupport::click;
using testsupport::clickAt;

int indexOf(Sorvel2Processor& p, const char* id)
{
    return p.apvts.getParameter(id)->getParameterIndex();
}
} // namespace

TEST_F(SorvelEditorTest, aBlockClickSelectsItsModuleAndAPowerClickSwitchesIt)
{
    auto& e = open();
    clickAt(e.chain, blockBody(0));
    EXPECT_EQ(e.selected, 0);
    EXPECT_EQ(e.titleLabel.getText(), "HIGH-PASS");
    EXPECT_TRUE(e.eq.isVisible());
    clickAt(e.chain, blockBody(2));
    EXPECT_EQ(e.selected, 2);
    EXPECT_TRUE(e.bassKnob->isVisible());
    clickAt(e.chain, {128.0f * 2 + 122.0f, 30.0f}); // in the gap after EQ
    EXPECT_EQ(e.selected, 2);

    testsupport::HostView host;
    processor.addListener(&host);
    clickAt(e.chain, blockPower(5));
    EXPECT_EQ(e.selected, 2) << "a power click does not select";
    EXPECT_FLOAT_EQ(parameter("reverbOn"), 0.0f);
    tick();
    EXPECT_FALSE(e.chain.blocks[5].on);
    clickAt(e.chain, blockPower(5));
    EXPECT_FLOAT_EQ(parameter("reverbOn"), 1.0f);
    const int reverbOn = indexOf(processor, "reverbOn");
    EXPECT_EQ(host.begins[reverbOn], 2);
    EXPECT_EQ(host.ends[reverbOn], 2);

    // The module panel's power button switches the selected module.
    click(*e.powerButtons[2]);
    EXPECT_FLOAT_EQ(parameter("eqOn"), 0.0f);
    click(*e.powerButtons[2]);
    EXPECT_FLOAT_EQ(parameter("eqOn"), 1.0f);
    processor.removeListener(&host);
}

TEST_F(SorvelEditorTest, listenOnDeEssSolosItAndTheStatusSaysWhenTheDeEsserIsOff)
{
    auto& e = open();
    clickAt(e.chain, blockBody(1));
    ASSERT_EQ(e.selected, 1);
    ASSERT_TRUE(e.listenButton.isVisible());

    click(e.listenButton);
    EXPECT_FLOAT_EQ(parameter("listen"), 1.0f);
    EXPECT_TRUE(e.listenButton.getToggleState());
    EXPECT_EQ(e.listenStatusButton.getButtonText(), "LISTEN: DE-ESS, what de-ess takes out");
    EXPECT_EQ(e.listenStatusButton.getRight(), 840);
    EXPECT_TRUE(e.chain.blocks[1].listening);

    click(e.listenButton);
    EXPECT_FLOAT_EQ(parameter("listen"), 0.0f);
    EXPECT_FALSE(e.listenButton.getToggleState());
    EXPECT_EQ(e.listenStatusButton.getButtonText(), "LISTEN OFF");
    EXPECT_EQ(e.listenStatusButton.findColour(juce::TextButton::buttonColourId), ui::slot);
    EXPECT_EQ(e.listenStatusButton.findColour(juce::TextButton::textColourOffId), ui::dim);

    click(e.listenButton);
    click(*e.powerButtons[1]);
    ASSERT_FLOAT_EQ(parameter("deessOn"), 0.0f);
    tick();
    EXPECT_EQ(e.listenStatusButton.getButtonText(), "LISTEN: DE-ESS is switched off, silent");
    EXPECT_EQ(e.listenStatusButton.findColour(juce::TextButton::buttonColourId), ui::red);
    EXPECT_EQ(e.listenStatusButton.findColour(juce::TextButton::textColourOffId), juce::Colours::black);
    EXPECT_EQ(e.listenStatusButton.getRight(), 840);

    // While listening, the status button turns it off.
    click(e.listenStatusButton);
    EXPECT_FLOAT_EQ(parameter("listen"), 0.0f);
}

TEST_F(SorvelEditorTest, theListenButtonSolosEachModuleThatHasAListenValue)
{
    auto& e = open();
    const std::pair<int, float> modules[] = {{1, 1}, {3, 2}, {4, 3}, {5, 4}, {6, 5}, {7, 6}};
    for (const auto& [module, value] : modules)
    {
        clickAt(e.chain, blockBody(module));
        click(e.listenButton);
        EXPECT_FLOAT_EQ(parameter("listen"), value) << module;
    }
    // Host automation lights the button of the module it solos.
    setParameter("listen", 6.0f);
    EXPECT_TRUE(e.listenButton.getToggleState());
    setParameter("listen", 4.0f);
    EXPECT_FALSE(e.listenButton.getToggleState());
    EXPECT_EQ(e.listenStatusButton.getButtonText(), "LISTEN: REVERB, the reverb return");
}

TEST_F(SorvelEditorTest, aReverbOrDelayCharacterBringsItsOwnDecayOrFeedbackInOneGesture)
{
    auto& e = open();
    setParameter("delayChar", 2.0f);
    testsupport::HostView host;
    processor.addListener(&host);

    clickAt(e.chain, blockBody(5));
    click(*e.reverbChoice->buttons[2]); // Hall
    EXPECT_FLOAT_EQ(parameter("reverbChar"), 2.0f);
    EXPECT_NEAR(parameter("reverbDecay"), 2.6f, 1e-4);
    const int decay = indexOf(processor, "reverbDecay");
    EXPECT_EQ(host.begins[decay], 1);
    EXPECT_EQ(host.ends[decay], 1);
    EXPECT_EQ(host.changes[decay], 1);
    click(*e.reverbChoice->buttons[1]); // Room
    EXPECT_NEAR(parameter("reverbDecay"), 0.9f, 1e-4);

    clickAt(e.chain, blockBody(6));
    click(*e.delayChoice->buttons[0]); // Slap
    EXPECT_FLOAT_EQ(parameter("delayChar"), 0.0f);
    EXPECT_FLOAT_EQ(parameter("delayFeedback"), 10.0f);
    const int feedback = indexOf(processor, "delayFeedback");
    EXPECT_EQ(host.begins[feedback], 1);
    EXPECT_EQ(host.ends[feedback], 1);
    click(*e.delayChoice->buttons[3]); // Quarter
    EXPECT_FLOAT_EQ(parameter("delayFeedback"), 30.0f);

    // Other characters bring nothing.
    const int before = host.changes[decay] + host.changes[feedback];
    clickAt(e.chain, blockBody(3));
    click(*e.compChoice->buttons[2]);
    EXPECT_FLOAT_EQ(parameter("compChar"), 2.0f);
    EXPECT_EQ(host.changes[decay] + host.changes[feedback], before);
    processor.removeListener(&host);
}

TEST_F(SorvelEditorTest, theLoudnessResetAsksTheProcessor)
{
    auto& e = open();
    feed().resetLoudness.store(false);
    click(e.loudness.resetButton);
    EXPECT_TRUE(feed().resetLoudness.load());
}
