#include "mirrel/PluginProcessor.h"
#include "support/AllocationCounter.h"
#include "support/ParameterAccess.h"
#include "support/ProcessorChecks.h"
#include "support/RenderRun.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{
void set(MirrelProcessor& p, const char* id, float plain)
{
    testsupport::setPlain(p.apvts, id, plain);
}

// A play head that reports a fixed transport and advances its position block by block.
struct FixedPlayHead : juce::AudioPlayHead
{
    bool playing = true;
    double bpm = 120.0, quarterNotes = 0.0;
    juce::Optional<PositionInfo> getPosition() const override
    {
        PositionInfo info;
        info.setIsPlaying(playing);
        info.setBpm(bpm);
        info.setPpqPosition(quarterNotes);
        return info;
    }
};
} // namespace

TEST(MirrelParameters, hostSeesTheNineInOrder)
{
    struct Row
    {
        const char* id;
        const char* name;
        float start, end, step, defaultValue;
        const char* label;
        const char* defaultText;
    };
    const Row rows[] = {
        {"sensitivity", "Sensitivity", 3, 20, 0.5f, 8, "dB", "8.0"},
        {"width", "Width", 0, 100, 1, 100, "%", "100"},
        {"hole", "Hole", 0, 100, 1, 30, "%", "30"},
        {"bias", "Side bias", 0, 100, 1, 50, "%", "50"},
        {"alternate", "Alternate", 0, 2, 1, 1, "", "Mostly"},
        {"minjump", "Min jump", 0, 100, 1, 20, "%", "20"},
        {"slew", "Slew", 0.5f, 20, 0.1f, 2, "ms", "2.0"},
        {"bypass", "Bypass", 0, 1, 1, 0, "", "Off"},
        {"seed", "Seed", 1, 999, 1, 1, "", "1"},
    };
    MirrelProcessor p;
    const auto& params = p.getParameters();
    ASSERT_EQ(params.size(), 9);
    for (int i = 0; i < 9; ++i)
    {
        const auto& row = rows[i];
        SCOPED_TRACE(row.id);
        auto* prm = dynamic_cast<juce::RangedAudioParameter*>(params[i]);
        ASSERT_NE(prm, nullptr);
        EXPECT_EQ(prm->getParameterID(), row.id);
        EXPECT_EQ(prm->getName(100), row.name);
        EXPECT_EQ(prm->getLabel(), row.label);
        EXPECT_EQ(prm->getVersionHint(), 1);
        EXPECT_FLOAT_EQ(prm->getNormalisableRange().start, row.start);
        EXPECT_FLOAT_EQ(prm->getNormalisableRange().end, row.end);
        EXPECT_FLOAT_EQ(prm->getNormalisableRange().interval, row.step);
        EXPECT_FLOAT_EQ(prm->getNormalisableRange().skew, 1.0f);
        EXPECT_FLOAT_EQ(prm->convertFrom0to1(prm->getDefaultValue()), row.defaultValue);
        EXPECT_EQ(prm->getText(prm->getDefaultValue(), 100), row.defaultText);
    }
    EXPECT_NE(dynamic_cast<juce::AudioParameterChoice*>(params[4]), nullptr);
    EXPECT_NE(dynamic_cast<juce::AudioParameterBool*>(params[7]), nullptr);
    EXPECT_NE(dynamic_cast<juce::AudioParameterInt*>(params[8]), nullptr);
}

TEST(MirrelLifecycle, fixedAnswersAndFiveMillisecondsOfLatency)
{
    MirrelProcessor p;
    EXPECT_EQ(p.getName(), "Mirrel");
    EXPECT_DOUBLE_EQ(p.getTailLengthSeconds(), 0.0);
    EXPECT_FALSE(p.acceptsMidi());
    EXPECT_FALSE(p.producesMidi());
    EXPECT_EQ(p.getNumPrograms(), 1);
    EXPECT_TRUE(p.hasEditor());
    EXPECT_EQ(p.getBus(true, 0)->getName(), "Input");
    EXPECT_EQ(p.getBus(false, 0)->getName(), "Output");

    for (const auto& [rate, latency] :
         {std::pair{44100.0, 221}, std::pair{48000.0, 240}, std::pair{96000.0, 480}})
    {
        p.prepareToPlay(rate, 512);
        EXPECT_EQ(p.getLatencySamples(), latency) << rate;
    }
}

TEST(MirrelLifecycle, acceptsMonoOrStereoInAndOnlyStereoOut)
{
    testsupport::expectMonoOrStereoInStereoOut<MirrelProcessor>();
}

TEST(MirrelState, roundTripsAndIgnoresAnythingElse)
{
    testsupport::expectStateRoundTrip<MirrelProcessor>();
    testsupport::expectBadStatesIgnored<MirrelProcessor>();
}

TEST(MirrelLifecycle, processBlockNeverTouchesTheHeap)
{
    struct Case
    {
        const char* what;
        std::vector<std::pair<const char*, float>> settings;
        bool playing;
    };
    const Case cases[] = {
        {"defaults, stopped", {}, false},
        {"defaults, playing", {}, true},
        {"bypass", {{"bypass", 1}}, true},
        {"width 0, slew 20 ms", {{"width", 0}, {"slew", 20}}, false},
        {"always alternate, full hole, high sensitivity",
         {{"alternate", 2}, {"hole", 100}, {"sensitivity", 3}},
         true},
    };
    for (const auto& c : cases)
    {
        MirrelProcessor p;
        FixedPlayHead head;
        head.playing = c.playing;
        p.setPlayHead(&head);
        for (const auto& [id, v] : c.settings)
            set(p, id, v);
        p.prepareToPlay(48000.0, 512);
        juce::AudioBuffer<float> buffer(2, 512);
        juce::MidiBuffer midi;
        for (int block = 0; block < 200; ++block)
        {
            for (int i = 0; i < 512; ++i)
            {
                const float v = (i % 256) < 8 ? 0.8f : 0.01f * static_cast<float>(std::sin(0.05 * i));
                buffer.setSample(0, i, v);
                buffer.setSample(1, i, v);
            }
            SCOPED_TRACE(c.what);
            EXPECT_NO_HEAP(p.processBlock(buffer, midi));
            head.quarterNotes += 512.0 / 48000.0 * 2.0;
        }
        if (!c.settings.empty() && c.settings[0].first == std::string("bypass"))
            EXPECT_EQ(p.feed().hitCount.load(), 0) << c.what;
        else
            EXPECT_GT(p.feed().hitCount.load(), 0) << c.what << ": the clicks are hits";
    }
}

TEST(MirrelLifecycle, monoInputIsCopiedToBothChannelsAndOddBlocksAreLeftAlone)
{
    MirrelProcessor p;
    ASSERT_TRUE(
        testsupport::setMainLayout(p, juce::AudioChannelSet::mono(), juce::AudioChannelSet::stereo()));
    set(p, "width", 0); // any hit stays at the centre
    p.prepareToPlay(48000.0, 1024);
    juce::AudioBuffer<float> buffer(2, 1024);
    for (int i = 0; i < 1024; ++i)
        buffer.setSample(0, i, 0.1f * static_cast<float>(std::sin(0.02 * i)));
    buffer.clear(1, 0, 1024);
    const auto input = buffer;
    juce::MidiBuffer midi;
    p.processBlock(buffer, midi);
    for (int i = 240; i < 1024; ++i)
    {
        ASSERT_FLOAT_EQ(buffer.getSample(0, i), input.getSample(0, i - 240));
        ASSERT_FLOAT_EQ(buffer.getSample(1, i), input.getSample(0, i - 240));
    }

    juce::AudioBuffer<float> one(1, 64);
    one.clear();
    one.setSample(0, 3, 0.5f);
    EXPECT_NO_HEAP(p.processBlock(one, midi));
    EXPECT_EQ(one.getSample(0, 3), 0.5f) << "a one-channel buffer is untouched";
    juce::AudioBuffer<float> empty(2, 0);
    EXPECT_NO_HEAP(p.processBlock(empty, midi));
}

TEST(MirrelLifecycle, feedGoesIdleAfter100msOfSilence)
{
    MirrelProcessor p;
    p.prepareToPlay(48000.0, 480);
    juce::AudioBuffer<float> buffer(2, 480);
    juce::MidiBuffer midi;
    for (int i = 0; i < 480; ++i)
        buffer.setSample(0, i, 0.0f);
    buffer.clear();
    buffer.setSample(0, 10, 0.5f);
    p.processBlock(buffer, midi);
    EXPECT_FALSE(p.feed().idle.load());
    const int blocksBefore = p.feed().blocksProcessed.load();
    for (int block = 0; block < 10; ++block)
    {
        buffer.clear();
        p.processBlock(buffer, midi);
    }
    EXPECT_TRUE(p.feed().idle.load());
    EXPECT_EQ(p.feed().blocksProcessed.load(), blocksBefore + 9) << "idle blocks are not counted";
}

TEST(MirrelLifecycle, nonFiniteInputIsReadAsSilence)
{
    testsupport::expectNonFiniteInputReadAsSilence<MirrelProcessor>(
        testsupport::demoExcerpt("drums.wav", 0, 2 * 48000),
        [](MirrelProcessor& p)
        {
            auto& feed = p.feed();
            std::vector<float> read{p.getEngine().loudness().momentary(),
                                    p.getEngine().loudness().integrated(), feed.inputPeak.load(),
                                    feed.outputPeak.load(), static_cast<float>(feed.hitCount.load())};
            for (const auto& pan : feed.hitPans)
                read.push_back(pan.load());
            return read;
        });
}
