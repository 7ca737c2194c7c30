// What Sorvel's editor makes of a known sequence of processor values on its refresh: the gate
// (frozen while idle; one more update after the blocks stop), meters and note holds, history
// columns with the reductions smoothed on their way down, every module's readout, the notes, the
// bypass caption, and a backlog larger than the ring allows keeping only the newest records.
#include "EditorRig.h"

#include <cmath>

namespace
{
using sorveleditortest::record;
using sorveleditortest::SorvelEditorTest;
using R = sorveleditortest::Record;
} // namespace

TEST(EditorTexts, reductionsRelativeLevelsAndDelayTimes)
{
    EXPECT_EQ(svui::dbText(0.04f), "0.0 dB");
    EXPECT_EQ(svui::dbText(3.24f), "-3.2 dB");
    EXPECT_EQ(svui::dbText(12.0f), "-12.0 dB");
    EXPECT_EQ(svui::relativeText(-34.0f, -20.0f), "-14 dB");
    EXPECT_EQ(svui::relativeText(-10.0f, -20.0f), "0 dB");
    EXPECT_EQ(svui::relativeText(-89.0f, -20.0f), "--");
    EXPECT_EQ(svui::relativeText(-30.0f, -89.0f), "--");

    const struct
    {
        float character, bpm;
        const char* text;
    } times[] = {{2, 120, "375 ms"}, {0, 120, "100 ms"}, {0, 60, "100 ms"},  {0, 0, "100 ms"},
                 {1, 120, "250 ms"}, {3, 90, "667 ms"},  {1, 0, "30000 ms"}, {2, 0.5f, "45000 ms"}};
    for (const auto& t : times)
        EXPECT_EQ(svui::delayTimeText(t.character, t.bpm), t.text) << t.character << " at " << t.bpm;
}

TEST_F(SorvelEditorTest, whileIdleNothingMovesAndOneTickAfterTheBlocksStopTheMetersStillUpdate)
{
    auto& e = open();
    publishBlock(1.0f, 0.5f);
    tick();
    EXPECT_FLOAT_EQ(e.inMeter.level, 0.0f);
    EXPECT_NEAR(e.outMeter.level, -6.02f, 0.01f);

    // The audio stops without the processor going idle: one more update, then frozen.
    tick();
    EXPECT_NEAR(e.inMeter.level, -1.2f, 1e-4);
    tick(5);
    EXPECT_NEAR(e.inMeter.level, -1.2f, 1e-4);

    // Idle: a peak left in the feed is not even taken.
    feed().idle.store(true);
    feed().inputPeak.store(0.25f);
    tick(3);
    EXPECT_NEAR(e.inMeter.level, -1.2f, 1e-4);
    EXPECT_FLOAT_EQ(feed().inputPeak.load(), 0.25f);
    publishBlock(0.0f, 0.0f);
    tick();
    EXPECT_NEAR(e.inMeter.level, -2.4f, 1e-4);
}

TEST_F(SorvelEditorTest, metersFallAndHoldTheirPeaksAndTheNotesFollowTheHeldLevel)
{
    auto& e = open();
    publishBlock(std::pow(10.0f, -3.0f / 20.0f), 1.0f); // -3 dB in, 0 dB out
    tick();
    EXPECT_EQ(e.inNote.getText(), "too hot");
    EXPECT_EQ(e.inNote.findColour(juce::Label::textColourId), ui::red);
    EXPECT_EQ(e.outNote.getText(), "clipping");
    EXPECT_EQ(e.outNote.findColour(juce::Label::textColourId), ui::red);

    // Silence: the meter falls 1.2 dB per tick, its peak mark holds 45 ticks; the note's hold
    // keeps -3 dB for 90 ticks, then falls 0.5 dB per tick.
    for (int k = 1; k <= 100; ++k)
    {
        publishBlock(0.0f, 0.0f);
        tick();
        ASSERT_NEAR(e.inMeter.level, juce::jmax(-60.0f, -3.0f - 1.2f * static_cast<float>(k)), 1e-3) << k;
        const float mark =
            k < 45 ? -3.0f : juce::jmax(-3.0f - 0.6f * static_cast<float>(k - 44), e.inMeter.level);
        ASSERT_NEAR(e.inMeter.peak, mark, 1e-3) << k;
        const float hold = k <= 90 ? -3.0f : -3.0f - 0.5f * static_cast<float>(k - 90);
        ASSERT_NEAR(e.refresh.inHold.db, hold, 1e-3) << k;
    }
    EXPECT_EQ(e.inNote.getText(), "level OK");
    EXPECT_EQ(e.inNote.findColour(juce::Label::textColourId), ui::green);
    EXPECT_EQ(e.outNote.getText(), "");

    const struct
    {
        float db;
        const char* text;
        juce::Colour colour;
    } notes[] = {{-3.9f, "too hot", ui::red}, {-4.0f, "level OK", ui::green}, {-16.0f, "level OK", ui::green},
                 {-16.1f, "low", ui::amber},  {-58.0f, "low", ui::amber},     {-59.0f, "", ui::amber}};
    for (const auto& n : notes)
    {
        const auto note = svui::inputNote(n.db);
        EXPECT_EQ(note.text, n.text) << n.db;
        if (note.text.isNotEmpty())
        {
            EXPECT_EQ(note.colour, n.colour) << n.db;
        }
    }
    EXPECT_EQ(svui::outputNote(-0.09f).text, "clipping");
    EXPECT_EQ(svui::outputNote(-0.1f).text, "");
}

TEST_F(SorvelEditorTest, recordsBecomeHistoryColumnsWithTheReductionsSmoothedOnTheirWayDown)
{
    auto& e = open();
    publishRecords({record({{R::inputPeak, 0.5f},
                            {R::outputPeak, 0.25f},
                            {R::outputRms, 0.1f},
                            {R::compStage1Db, 6.0f},
                            {R::compStage2Db, 4.0f},
                            {R::deessReductionDb, 3.0f},
                            {R::essSounding, 1.0f}}),
                    record({{R::compStage1Db, 0.0f}, {R::compStage2Db, 0.0f}}),
                    record({{R::compStage1Db, 8.0f}, {R::compStage2Db, 1.0f}})});
    tick();
    const auto& oldest = e.wave.column(497);
    EXPECT_NEAR(oldest.inDb, -6.02f, 0.01f);
    EXPECT_NEAR(oldest.outPeakDb, -12.04f, 0.01f);
    EXPECT_NEAR(oldest.outDb, -20.0f, 0.01f);
    EXPECT_FLOAT_EQ(oldest.peakGr, 6.0f);
    EXPECT_FLOAT_EQ(oldest.levelGr, 4.0f);
    EXPECT_FLOAT_EQ(oldest.deessCut, 3.0f);
    EXPECT_FLOAT_EQ(oldest.deessOn, 1.0f);
    const auto& middle = e.wave.column(498);
    EXPECT_FLOAT_EQ(middle.inDb, -60.0f);
    EXPECT_NEAR(middle.peakGr, 6.0f * 0.65f, 1e-5);
    EXPECT_NEAR(middle.levelGr, 4.0f * 0.75f, 1e-5);
    const auto& newest = e.wave.column(499);
    EXPECT_FLOAT_EQ(newest.peakGr, 8.0f);                   // a rise is taken at once
    EXPECT_NEAR(newest.levelGr, 3.0f - 0.25f * 2.0f, 1e-5); // 3 towards 1

    // The readouts take the tick's maxima (frozen from here on: the processor went idle).
    feed().idle.store(true);
    e.select(1);
    EXPECT_EQ(e.readoutValue.getText(), "-3.0 dB");
    e.select(3);
    EXPECT_EQ(e.readoutValue.getText(), "-12.0 dB");
}

TEST_F(SorvelEditorTest, readoutValuesFallByTheirStepsOnTicksWithoutRecordsAndFreezeAtTheGate)
{
    auto& e = open();
    e.select(1);
    publishRecords({record({{R::deessReductionDb, 3.0f}})});
    tick();
    EXPECT_EQ(e.readoutCaption.getText(), "CUT");
    EXPECT_EQ(e.readoutValue.getText(), "-3.0 dB");
    publishBlock();
    tick();
    EXPECT_EQ(e.readoutValue.getText(), "-2.6 dB");
    tick(); // one tick after the blocks stop still moves
    EXPECT_EQ(e.readoutValue.getText(), "-2.2 dB");
    tick(10);
    EXPECT_EQ(e.readoutValue.getText(), "-2.2 dB");
}

TEST_F(SorvelEditorTest, everyModulesReadoutSaysWhatTheRecordsShow)
{
    auto& e = open();
    // Output at -20 dB; sparkle at -34 dB; lift 2.4 dB; taming 3.24 dB; returns at -30, -40, -26.
    const auto r = record({{R::outputRms, 0.1f},
                           {R::compStage1Db, 2.0f},
                           {R::compStage2Db, 1.5f},
                           {R::shimmerSparkleDb, -34.0f},
                           {R::shimmerLiftDb, 2.4f},
                           {R::shimmerTamingDb, 3.24f},
                           {R::reverbReturnDb, -30.0f},
                           {R::delayReturnDb, -40.0f},
                           {R::widthReturnDb, -26.0f}});
    for (int k = 0; k < 60; ++k) // long enough for the lift to settle
    {
        publishRecords({r, r, r});
        tick();
    }
    feed().hostBpm.store(120.0f);
    feed().idle.store(true); // the values stay where the records left them

    const struct
    {
        int module;
        std::vector<std::pair<const char*, float>> set;
        const char* caption;
        const char* value;
    } cases[] = {
        {3, {}, "REDUCTION", "-3.5 dB"},
        {4, {{"shimmer", 5.0f}, {"shimmerChar", 2.0f}}, "ADDED", "-14 dB"},
        {4, {{"shimmer", 5.0f}, {"shimmerChar", 0.0f}}, "LIFT AT 12 kHz", "+2.4 dB"},
        {4, {{"shimmer", 5.0f}, {"shimmerChar", 1.0f}}, "LIFT AT 12 kHz", "+2.4 dB"},
        {4, {{"shimmer", -5.0f}}, "TAMED", "-3.2 dB"},
        {4, {{"shimmer", 0.0f}}, "SHIMMER", "off"},
        {5, {{"reverb", 4.0f}}, "RETURN", "-10 dB"},
        {5, {{"reverb", 0.0f}}, "RETURN", "off"},
        {5, {{"reverb", 4.0f}, {"reverbOn", 0.0f}}, "SWITCHED OFF", "off"},
        {6, {{"delayChar", 2.0f}}, "TIME", "375 ms"},
        {6, {{"delayChar", 0.0f}}, "TIME", "100 ms"},
        {7, {{"width", 3.0f}}, "DOUBLES", "-6 dB"},
        {7, {{"width", 0.0f}}, "DOUBLES", "off"},
        {1, {{"deessOn", 0.0f}}, "SWITCHED OFF", "off"},
        {0, {}, "", ""},
        {2, {}, "", ""},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.caption + juce::String(" ") + c.value);
        setParameter("reverbOn", 1.0f);
        setParameter("deessOn", 1.0f);
        for (const auto& [id, value] : c.set)
            setParameter(id, value);
        e.select(c.module);
        EXPECT_EQ(e.readoutCaption.getText(), c.caption);
        EXPECT_EQ(e.readoutValue.getText(), c.value);
    }

    // The delay's time follows the tempo, Slap's does not.
    e.select(6);
    setParameter("delayChar", 2.0f);
    feed().hostBpm.store(0.0f);
    tick();
    EXPECT_EQ(e.readoutValue.getText(), "45000 ms");
    setParameter("delayChar", 0.0f);
    feed().hostBpm.store(200.0f);
    tick();
    EXPECT_EQ(e.readoutValue.getText(), "100 ms");
}

TEST_F(SorvelEditorTest, theBypassCaptionShowsTheMatchWhileBypassed)
{
    auto& e = open();
    EXPECT_EQ(e.bypassNote.getText(), "level-matched bypass");
    EXPECT_EQ(e.bypassNote.findColour(juce::Label::textColourId), ui::dim);
    setParameter("bypass", 1.0f);
    feed().matchOffsetDb.store(1.5f);
    tick();
    EXPECT_EQ(e.bypassNote.getText(), "matched +1.5 dB");
    EXPECT_EQ(e.bypassNote.findColour(juce::Label::textColourId), ui::amber);
    feed().matchOffsetDb.store(-2.04f);
    tick();
    EXPECT_EQ(e.bypassNote.getText(), "matched -2.0 dB");
}

TEST_F(SorvelEditorTest, aBacklogLargerThanTheRingAllowsKeepsOnlyTheNewestRecords)
{
    auto& e = open();
    // 600 records while the editor was blocked; each carries its number in its input peak.
    for (int k = 0; k < 600; ++k)
        feed().records.push(record({{R::inputPeak, static_cast<float>(k + 1) / 1000.0f}}));
    publishBlock();
    const int taken = [&]
    {
        auto copy = e.refresh;
        return copy.takeRecords(feed().records);
    }();
    EXPECT_EQ(taken, 504);
    tick();
    EXPECT_EQ(e.refresh.readIndex, 600u);
    EXPECT_FLOAT_EQ(e.refresh.frames[0][R::inputPeak], 97.0f / 1000.0f); // 600 - 504 = 96 dropped
    EXPECT_FLOAT_EQ(e.refresh.frames[503][R::inputPeak], 600.0f / 1000.0f);
    EXPECT_NEAR(e.wave.column(499).inDb, 20.0f * std::log10(0.6f), 1e-4);
    EXPECT_NEAR(e.wave.column(0).inDb, 20.0f * std::log10(0.101f), 1e-4);

    // The next tick takes only what is new.
    publishRecords({record({{R::inputPeak, 1.0f}})});
    tick();
    EXPECT_EQ(e.refresh.readIndex, 601u);
    EXPECT_FLOAT_EQ(e.wave.column(499).inDb, 0.0f);
}

TEST_F(SorvelEditorTest, theChainRowsBlocksShowTheParametersAndTheRefreshState)
{
    auto& e = open();
    setParameter("bassChar", 0.0f);
    setParameter("trebleChar", 0.0f);
    setParameter("compOn", 0.0f);
    tick();
    EXPECT_EQ(e.chain.blocks[2].text, "Sub / Bite");
    EXPECT_FALSE(e.chain.blocks[3].on);
    EXPECT_EQ(e.readoutCaption.getText(), "SWITCHED OFF");

    setParameter("compOn", 1.0f);
    publishRecords({record({{R::compStage1Db, 3.0f}, {R::compStage2Db, 3.0f}})});
    tick();
    EXPECT_NEAR(e.chain.blocks[3].level, 0.5f, 1e-5);
}
