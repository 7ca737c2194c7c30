#include "sorvel/PluginProcessor.h"
#include "support/AllocationCounter.h"
#include "support/ParameterAccess.h"
#include "support/ProcessorChecks.h"
#include "support/RenderRun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace
{
using Set = juce::AudioChannelSet;

juce::AudioBuffer<float> noise(int channels, int samples, unsigned seed)
{
    juce::AudioBuffer<float> b(channels, samples);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(-0.5f, 0.5f);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < samples; ++i)
            b.setSample(c, i, u(rng));
    return b;
}

} // namespace

TEST(SorvelLifecycle, reportsItsLookAheadLatencyAtEachRate)
{
    const std::pair<double, int> cases[] = {{44100.0, 119}, {48000.0, 127}, {88200.0, 207}, {96000.0, 223}};
    for (const auto& [rate, latency] : cases)
    {
        Sorvel2Processor p;
        p.prepareToPlay(rate, 512);
        EXPECT_EQ(p.getLatencySamples(), latency) << rate;
    }
}

TEST(SorvelLifecycle, fixedAnswersToTheHost)
{
    Sorvel2Processor p;
    EXPECT_EQ(p.getName(), "Sorvel");
    EXPECT_DOUBLE_EQ(p.getTailLengthSeconds(), 8.0);
    EXPECT_FALSE(p.acceptsMidi());
    EXPECT_FALSE(p.producesMidi());
    EXPECT_FALSE(p.isMidiEffect());
    EXPECT_EQ(p.getNumPrograms(), 1);
    EXPECT_EQ(p.getCurrentProgram(), 0);
    EXPECT_TRUE(p.getProgramName(0).isEmpty());
    EXPECT_TRUE(p.hasEditor());
    EXPECT_EQ(p.getBypassParameter(), nullptr) << "bypass is an ordinary, level-matched parameter";
    EXPECT_EQ(p.selectedModule.load(), 3) << "a fresh editor opens on Compress";
    EXPECT_EQ(p.getBus(true, 0)->getName(), "Input");
    EXPECT_EQ(p.getBus(false, 0)->getName(), "Output");
    EXPECT_EQ(p.getMainBusNumInputChannels(), 2);
    EXPECT_EQ(p.getMainBusNumOutputChannels(), 2);
}

TEST(SorvelLifecycle, acceptsMonoOrStereoInAndOnlyStereoOut)
{
    testsupport::expectMonoOrStereoInStereoOut<Sorvel2Processor>();
}

TEST(SorvelLifecycle, processBlockNeverTouchesTheHeapAtDefaults)
{
    Sorvel2Processor p;
    p.prepareToPlay(48000.0, 512);
    juce::MidiBuffer midi;
    for (unsigned block = 0; block < 50; ++block)
    {
        auto buffer = noise(2, 512, block);
        EXPECT_NO_HEAP(p.processBlock(buffer, midi));
    }
}

TEST(SorvelLifecycle, monoInputFeedsBothOutputs)
{
    Sorvel2Processor p;
    ASSERT_TRUE(testsupport::setMainLayout(p, Set::mono(), Set::stereo()));
    p.prepareToPlay(48000.0, 256);
    juce::MidiBuffer midi;
    double left = 0.0, right = 0.0;
    for (unsigned block = 0; block < 20; ++block)
    {
        auto buffer = noise(2, 256, block);
        buffer.clear(1, 0, 256);
        EXPECT_NO_HEAP(p.processBlock(buffer, midi));
        for (int i = 0; i < 256; ++i)
        {
            left += std::abs(buffer.getSample(0, i));
            right += std::abs(buffer.getSample(1, i));
        }
    }
    EXPECT_GT(right, 0.8 * left) << "the processed mono vocal is on both sides";
    EXPECT_LT(right, 1.25 * left);
}

TEST(SorvelLifecycle, oddHostBlocksAreHandledSafely)
{
    Sorvel2Processor p;
    p.prepareToPlay(48000.0, 64);
    juce::MidiBuffer midi;

    juce::AudioBuffer<float> empty(2, 0);
    EXPECT_NO_HEAP(p.processBlock(empty, midi));

    auto single = noise(1, 64, 3);
    const auto singleBefore = single;
    EXPECT_NO_HEAP(p.processBlock(single, midi));
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(single.getSample(0, i), singleBefore.getSample(0, i)) << "one channel is left untouched";

    // Larger than prepared: still processed (in pieces), still no allocation.
    auto large = noise(2, 4096, 4);
    const auto largeBefore = large;
    EXPECT_NO_HEAP(p.processBlock(large, midi));
    EXPECT_NE(large.getSample(1, 4095), largeBefore.getSample(1, 4095));
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 4096; ++i)
            ASSERT_TRUE(std::isfinite(large.getSample(c, i)));
}

TEST(SorvelLifecycle, metersReadInputAndOutputLoudness)
{
    const double rate = 48000.0;
    Sorvel2Processor p;
    // Every module off: the output is the input, later.
    for (const char* id :
         {"hpfOn", "deessOn", "eqOn", "compOn", "shimmerOn", "reverbOn", "delayOn", "widthOn"})
        testsupport::setPlain(p.apvts, id, 0.0f);
    p.prepareToPlay(rate, 480);
    juce::AudioBuffer<float> buffer(2, 480);
    juce::MidiBuffer midi;
    const double amp = 0.1; // -20 dBFS, both channels: -20 LUFS
    int t = 0;
    for (int block = 0; block < 310; ++block)
    {
        for (int i = 0; i < 480; ++i, ++t)
        {
            const auto v =
                static_cast<float>(amp * std::sin(2.0 * juce::MathConstants<double>::pi * 1000.0 * t / rate));
            buffer.setSample(0, i, v);
            buffer.setSample(1, i, v);
        }
        p.processBlock(buffer, midi);
    }
    EXPECT_NEAR(p.getInputMeter().shortTerm(), -20.0, 0.1);
    EXPECT_NEAR(p.getOutputMeter().shortTerm(), -20.0, 0.1);
    EXPECT_NEAR(p.getOutputMeter().integrated(), -20.0, 0.1);
}

TEST(SorvelLifecycle, prepareAgainAtAnotherRateResetsTheMeters)
{
    Sorvel2Processor p;
    p.prepareToPlay(48000.0, 512);
    auto buffer = noise(2, 512, 5);
    juce::MidiBuffer midi;
    for (int i = 0; i < 100; ++i)
        p.processBlock(buffer, midi);
    ASSERT_GT(p.getOutputMeter().momentary(), -100.0f);

    p.prepareToPlay(96000.0, 1024);
    EXPECT_EQ(p.getOutputMeter().momentary(), -100.0f);
    EXPECT_EQ(p.getLatencySamples(), 223);
}

TEST(SorvelLifecycle, nonFiniteInputIsReadAsSilence)
{
    testsupport::expectNonFiniteInputReadAsSilence<Sorvel2Processor>(
        testsupport::demoExcerpt("phrase.wav", 12000, 2 * 48000),
        [](Sorvel2Processor& p)
        {
            auto& feed = p.getFeed();
            return std::vector<float>{p.getInputMeter().momentary(),  p.getInputMeter().integrated(),
                                      p.getOutputMeter().momentary(), p.getOutputMeter().integrated(),
                                      feed.inputPeak.load(),          feed.outputPeak.load()};
        });
}
