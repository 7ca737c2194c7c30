// Which controls and texts Sorvel's module panel shows for each module, and where: only the
// selected module's knobs, choices and power button, at the panel's fixed bounds; the EQ view
// for HIGH-PASS and EQ (and the spectrum taps on only then); the module kept across editors.
#include "EditorRig.h"

namespace
{
using sorveleditortest::SorvelEditorTest;
using R = juce::Rectangle<int>;

struct KnobPlace
{
    int module;
    std::unique_ptr<Knob> Sorvel2Editor::*knob;
    const char* caption;
    R bounds;
};

const KnobPlace knobPlaces[] = {
    {1, &Sorvel2Editor::deessKnob, "AMOUNT", {322, 384, 94, 118}},
    {1, &Sorvel2Editor::deessFreqKnob, "FREQ", {416, 384, 94, 118}},
    {2, &Sorvel2Editor::bassKnob, "BASS", {45, 398, 94, 112}},
    {2, &Sorvel2Editor::trebleKnob, "TREBLE", {185, 398, 94, 112}},
    {3, &Sorvel2Editor::compKnob, "AMOUNT", {322, 384, 94, 118}},
    {3, &Sorvel2Editor::compMixKnob, "MIX", {416, 384, 94, 118}},
    {4, &Sorvel2Editor::shimmerKnob, "AMOUNT", {322, 384, 94, 118}},
    {5, &Sorvel2Editor::reverbKnob, "AMOUNT", {322, 384, 94, 118}},
    {5, &Sorvel2Editor::reverbDecayKnob, "DECAY", {416, 384, 94, 118}},
    {5, &Sorvel2Editor::reverbPredelayKnob, "PRE-DELAY", {510, 384, 94, 118}},
    {6, &Sorvel2Editor::delayKnob, "AMOUNT", {322, 384, 94, 118}},
    {6, &Sorvel2Editor::delayFeedbackKnob, "FEEDBACK", {416, 384, 94, 118}},
    {7, &Sorvel2Editor::widthKnob, "AMOUNT", {322, 384, 94, 118}},
};

struct ChoicePlace
{
    int module;
    std::unique_ptr<SegmentedChoice> Sorvel2Editor::*choice;
    const char* firstSegment;
    R bounds;
};

const R choiceRow{26, 452, 272, 26};
const ChoicePlace choicePlaces[] = {
    {0, &Sorvel2Editor::hpfChoice, "Off", choiceRow},
    {1, &Sorvel2Editor::deessChoice, "Soft", choiceRow},
    {2, &Sorvel2Editor::bassChoice, "Sub", {26, 514, 132, 24}},
    {2, &Sorvel2Editor::trebleChoice, "Bite", {166, 514, 132, 24}},
    {3, &Sorvel2Editor::compChoice, "Smooth", choiceRow},
    {4, &Sorvel2Editor::shimmerChoice, "Silk", choiceRow},
    {5, &Sorvel2Editor::reverbChoice, "Plate", choiceRow},
    {6, &Sorvel2Editor::delayChoice, "Slap", choiceRow},
    {7, &Sorvel2Editor::widthChoice, "Stereo", choiceRow},
};

const char* const titles[] = {"HIGH-PASS", "DE-ESS", "EQ", "COMPRESS", "SHIMMER", "REVERB", "DELAY", "WIDTH"};
} // namespace

TEST_F(SorvelEditorTest, opensOnCompressWithItsKnobsChoiceListenAndReadoutAndNoSpectrum)
{
    ASSERT_EQ(processor.selectedModule.load(), 3);
    auto& e = open();
    EXPECT_EQ(e.selected, 3);
    EXPECT_EQ(e.chain.selected, 3);
    EXPECT_EQ(e.titleLabel.getText(), "COMPRESS");
    EXPECT_TRUE(e.compKnob->isVisible());
    EXPECT_EQ(e.compKnob->caption.getText(), "AMOUNT");
    EXPECT_TRUE(e.compMixKnob->isVisible());
    EXPECT_EQ(e.compMixKnob->caption.getText(), "MIX");
    EXPECT_TRUE(e.compChoice->isVisible());
    EXPECT_TRUE(e.listenButton.isVisible());
    EXPECT_TRUE(e.readoutValue.isVisible());
    EXPECT_EQ(e.readoutCaption.getText(), "REDUCTION");
    EXPECT_FALSE(e.eq.isVisible());
    EXPECT_FALSE(feed().tapEnabled.load());

    // The readout well is drawn behind the readout: darker than the panel around it.
    const auto image = picture(100);
    const auto well = image.getPixelAt(615, 400), panel = image.getPixelAt(600, 400);
    EXPECT_LT(well.getBrightness() + 0.02f, panel.getBrightness())
        << well.toDisplayString(true) << " / " << panel.toDisplayString(true);
}

TEST_F(SorvelEditorTest, everyModuleShowsExactlyItsOwnControlsAndTextsAtThePanelsBounds)
{
    auto& e = open();
    for (int m = 0; m < 8; ++m)
    {
        SCOPED_TRACE(titles[m]);
        e.select(m);
        EXPECT_EQ(processor.selectedModule.load(), m);
        EXPECT_EQ(e.chain.selected, m);

        for (const auto& k : knobPlaces)
        {
            const auto& knob = *(e.*k.knob);
            EXPECT_EQ(knob.isVisible(), k.module == m) << k.caption << " of " << titles[k.module];
            EXPECT_EQ(knob.getBounds(), k.bounds) << k.caption;
            EXPECT_EQ(knob.caption.getText(), k.caption);
            EXPECT_EQ(knob.slider.getTextBoxWidth(), 72);
            EXPECT_TRUE(knob.slider.isTextBoxEditable());
        }
        for (const auto& c : choicePlaces)
        {
            const auto& choice = *(e.*c.choice);
            EXPECT_EQ(choice.isVisible(), c.module == m) << c.firstSegment;
            EXPECT_EQ(choice.getBounds(), c.bounds) << c.firstSegment;
            EXPECT_EQ(choice.buttons[0]->getButtonText(), c.firstSegment);
        }
        for (int j = 0; j < 8; ++j)
            EXPECT_EQ(e.powerButtons[static_cast<size_t>(j)]->isVisible(), j == m)
                << "power of " << titles[j];
        const bool eqModule = m == 0 || m == 2;
        EXPECT_EQ(e.powerButtons[static_cast<size_t>(m)]->getBounds(), R(eqModule ? 270 : 188, 375, 28, 22));
        EXPECT_EQ(e.pingPongButton.isVisible(), m == 6);
        EXPECT_EQ(e.listenButton.isVisible(), !eqModule);
        EXPECT_EQ(e.readoutCaption.isVisible(), !eqModule);
        EXPECT_EQ(e.readoutValue.isVisible(), !eqModule);
        EXPECT_EQ(e.eq.isVisible(), eqModule);
        EXPECT_EQ(feed().tapEnabled.load(), eqModule);
        EXPECT_EQ(e.eq.hpfMode, m == 0);

        EXPECT_EQ(e.titleLabel.getText(), titles[m]);
        EXPECT_EQ(e.titleLabel.findColour(juce::Label::textColourId), svui::moduleColour(m));
        EXPECT_EQ(e.readoutValue.findColour(juce::Label::textColourId), svui::moduleColour(m));
        EXPECT_EQ(e.descriptionLabel.getText(), svui::descriptions[static_cast<size_t>(m)]);
        EXPECT_EQ(e.captionLabel.getText(), m == 0 ? "CORNER" : "CHARACTER");
        for (auto* label : {&e.descriptionLabel, &e.captionLabel, &e.tipLabel})
            EXPECT_EQ(label->isVisible(), m != 2);
        if (m != 4) // SHIMMER's tip follows its character
        {
            EXPECT_EQ(e.tipLabel.getText(), svui::tips[static_cast<size_t>(m)]);
        }
    }

    EXPECT_EQ(e.titleLabel.getBounds(), R(26, 374, 160, 24));
    EXPECT_EQ(e.listenButton.getBounds(), R(220, 375, 78, 22));
    EXPECT_EQ(e.descriptionLabel.getBounds(), R(26, 402, 272, 30));
    EXPECT_EQ(e.captionLabel.getBounds(), R(26, 436, 272, 14));
    EXPECT_EQ(e.tipLabel.getBounds(), R(26, 496, 272, 28));
    EXPECT_EQ(e.readoutCaption.getBounds(), R(612, 392, 106, 14));
    EXPECT_EQ(e.readoutValue.getBounds(), R(612, 418, 106, 30));
    EXPECT_EQ(e.pingPongButton.getBounds(), R(516, 430, 82, 26));
    EXPECT_EQ(e.eq.getBounds(), R(322, 374, 396, 166));
}

TEST_F(SorvelEditorTest, theShimmerTipFollowsItsCharacter)
{
    auto& e = open();
    e.select(4);
    for (int c = 0; c < 3; ++c)
    {
        setParameter("shimmerChar", static_cast<float>(c));
        tick();
        EXPECT_EQ(e.tipLabel.getText(), svui::shimmerTips[static_cast<size_t>(c)]);
    }
}

TEST_F(SorvelEditorTest, theFrameAndFixedPanelSitWhereTheLayoutPutsThem)
{
    auto& e = open();
    EXPECT_EQ(e.wave.getBounds(), R(14, 48, 1012, 236));
    EXPECT_EQ(e.chain.getBounds(), R(14, 290, 1012, 74));
    EXPECT_EQ(e.loudness.getBounds(), R(1036, 48, 150, 498));
    EXPECT_EQ(e.inMeter.getBounds(), R(754, 394, 10, 138));
    EXPECT_EQ(e.outMeter.getBounds(), R(776, 394, 10, 138));
    EXPECT_EQ(e.inputKnob->getBounds(), R(806, 374, 71, 118));
    EXPECT_EQ(e.duckKnob->getBounds(), R(877, 374, 71, 118));
    EXPECT_EQ(e.outputKnob->getBounds(), R(948, 374, 71, 118));
    EXPECT_EQ(e.inputKnob->slider.getTextBoxWidth(), 63);
    EXPECT_EQ(e.inNote.getBounds(), R(806, 500, 71, 20));
    EXPECT_EQ(e.outNote.getBounds(), R(948, 500, 71, 20));
    EXPECT_EQ(e.bypassNote.getBounds(), R(846, 13, 110, 22));
    EXPECT_EQ(e.bypassButton.getBounds(), R(962, 13, 80, 22));
    EXPECT_EQ(e.sizeButton.getBounds(), R(1054, 13, 58, 22));
    EXPECT_EQ(e.listenStatusButton.getButtonText(), "LISTEN OFF");
    EXPECT_EQ(e.listenStatusButton.getRight(), 840);
}

TEST_F(SorvelEditorTest, aReopenedEditorShowsTheLastModuleAndClosingStopsTheTaps)
{
    open().select(0);
    EXPECT_TRUE(feed().tapEnabled.load());
    editor.reset();
    EXPECT_FALSE(feed().tapEnabled.load());

    auto& again = open();
    EXPECT_EQ(again.selected, 0);
    EXPECT_TRUE(again.eq.isVisible());
    EXPECT_TRUE(feed().tapEnabled.load());

    editor.reset();
    processor.selectedModule.store(42); // out of range: clamped
    EXPECT_EQ(open().selected, 7);
}
