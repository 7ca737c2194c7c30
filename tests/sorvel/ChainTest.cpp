// Sorvel's chain through the processor: delay compensation, gains, listen, bypass, duck, pieces
// and metering, tempo. Every processBlock is checked for heap use by the rig.
#include "SorvelRig.h"
#include "render/BlockSizes.h"
#include "support/RenderRun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using testsupport::SorvelRig;

namespace
{
juce::AudioBuffer<float> noise(int channels, int samples, unsigned seed, float amplitude = 0.5f)
{
    juce::AudioBuffer<float> b(channels, samples);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(-amplitude, amplitude);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < samples; ++i)
            b.setSample(c, i, u(rng));
    return b;
}

juce::AudioBuffer<float> phrase(double* rate = nullptr)
{
    return testsupport::readDemo("phrase.wav", rate);
}

double rms(const juce::AudioBuffer<float>& y, int channel, int from, int to)
{
    double sum = 0.0;
    for (int i = from; i < to; ++i)
        sum += static_cast<double>(y.getSample(channel, i)) * y.getSample(channel, i);
    return std::sqrt(sum / std::max(1, to - from));
}
} // namespace

TEST(SorvelChain, everyModuleOffIsThePureLatencyDelay)
{
    for (const bool mono : {false, true})
    {
        SorvelRig rig;
        rig.allModulesOff();
        rig.prepare(48000.0, 1024, mono);
        ASSERT_EQ(rig.p.getLatencySamples(), 127);
        const auto input = noise(mono ? 1 : 2, 20000, 3);
        BlockSizes sizes(1, 1024, 7);
        const auto y = rig.run(input, 1024, {}, [&] { return sizes.next(); });
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < y.getNumSamples(); ++i)
                ASSERT_EQ(y.getSample(c, i), i < 127 ? 0.0f : input.getSample(mono ? 0 : c, i - 127))
                    << (mono ? "mono" : "stereo") << " channel " << c << " sample " << i;
    }
}

TEST(SorvelChain, monoInputGivesTheVocalOnBothSidesAndStereoReturns)
{
    SorvelRig rig;
    rig.set("width", 10.0f);
    rig.set("reverb", 6.0f);
    rig.prepare(48000.0, 512, true);
    double rate = 0;
    const auto y = rig.run(phrase(&rate), 512);
    const int from = 24000, to = y.getNumSamples();
    EXPECT_NEAR(rms(y, 0, from, to) / rms(y, 1, from, to), 1.0, 0.2) << "both sides carry the vocal";
    float difference = 0.0f;
    for (int i = from; i < to; ++i)
        difference = std::max(difference, std::abs(y.getSample(0, i) - y.getSample(1, i)));
    EXPECT_GT(difference, 0.01f) << "the returns are stereo";
}

TEST(SorvelChain, gainsAndTheirRamps)
{
    auto step = [](SorvelRig& rig, int n)
    {
        juce::AudioBuffer<float> b(2, n);
        b.clear();
        EXPECT_NO_HEAP(rig.p.processBlock(b, rig.midi));
    };

    // Set before preparing, or after it but before the first block (a host restoring a
    // session): the first block starts at the values.
    for (const bool afterPreparing : {false, true})
    {
        SorvelRig rig;
        if (!afterPreparing)
            rig.set("input", -24.0f);
        rig.set("output", 24.0f);
        rig.prepare(48000.0, 100);
        if (afterPreparing)
            rig.set("input", -24.0f);
        step(rig, 1);
        EXPECT_FLOAT_EQ(rig.p.getChain().getInputGain(), 0.0630957f) << afterPreparing;
        EXPECT_NEAR(rig.p.getChain().getOutputGain(), 15.8489f, 1e-4f) << afterPreparing;
    }

    SorvelRig ramp;
    ramp.prepare(48000.0, 100);
    step(ramp, 100);
    ASSERT_EQ(ramp.p.getChain().getOutputGain(), 1.0f);
    ramp.set("output", -6.0f);
    const float target = 0.501187f;
    step(ramp, 480); // half way: linear
    EXPECT_NEAR(ramp.p.getChain().getOutputGain(), 1.0f + 0.5f * (target - 1.0f), 5e-5f);
    step(ramp, 479);
    EXPECT_GT(ramp.p.getChain().getOutputGain(), target) << "one sample before round(0.020 fs)";
    step(ramp, 1);
    EXPECT_NEAR(ramp.p.getChain().getOutputGain(), target, 1e-6f)
        << "exactly at round(0.020 fs) = 960 samples";
}

TEST(SorvelChain, listeningToASwitchedOffModuleFadesToSilenceIn20ms)
{
    SorvelRig rig;
    rig.set("listen", 4.0f); // Reverb
    rig.set("reverb", 8.0f);
    rig.prepare(48000.0, 480);
    const auto input = noise(2, 48000, 5, 0.3f);
    const auto y = rig.run(input, 480,
                           [&](int block, int)
                           {
                               if (block == 50)
                                   rig.set("reverbOn", 0.0f);
                           });
    EXPECT_GT(rms(y, 0, 20000, 24000), 1e-3) << "the reverb is heard before";
    for (int c = 0; c < 2; ++c)
        for (int i = 24000 + 960; i < 48000; ++i)
            ASSERT_EQ(y.getSample(c, i), 0.0f) << "silent 20 ms after switching off, sample " << i;
    EXPECT_GT(std::abs(y.getSample(0, 24000 + 200)), 0.0f) << "still fading";
}

TEST(SorvelChain, listenCrossfadesBetweenTwoListenSignalsNotThroughTheNormalOutput)
{
    const auto input = noise(2, 36000, 9, 0.3f);
    auto render = [&](int first, int second)
    {
        SorvelRig rig;
        rig.set("delay", 8.0f);
        rig.set("listen", static_cast<float>(first));
        rig.prepare(48000.0, 480);
        return rig.run(input, 480,
                       [&](int block, int)
                       {
                           if (block == 40)
                               rig.set("listen", static_cast<float>(second));
                       });
    };
    const auto deess = render(1, 1), delay = render(5, 5), change = render(1, 5), normal = render(0, 0);
    const int at = 40 * 480;
    for (int i = 0; i < 960; ++i)
    {
        const float r = static_cast<float>(i + 1) / 960.0f;
        for (int c = 0; c < 2; ++c)
        {
            const float a = deess.getSample(c, at + i), b = delay.getSample(c, at + i);
            ASSERT_NEAR(change.getSample(c, at + i), a + r * (b - a), 1e-5f) << "sample " << i;
        }
    }
    for (int c = 0; c < 2; ++c)
        for (int i = at + 960; i < at + 4800; ++i)
            ASSERT_NEAR(change.getSample(c, i), delay.getSample(c, i), 1e-6f);
    float fromNormal = 0.0f;
    for (int i = at; i < at + 960; ++i)
        fromNormal = std::max(fromNormal, std::abs(change.getSample(0, i) - normal.getSample(0, i)));
    EXPECT_GT(fromNormal, 0.1f) << "the normal output is not what is heard in between";
}

TEST(SorvelChain, quickListenChangesRunOneFadeToTheLastAndDropTheRest)
{
    SorvelRig rig;
    rig.set("listen", 1.0f);
    rig.prepare(48000.0, 128);
    const auto& chain = rig.p.getChain();
    rig.run(noise(2, 4800, 1), 128);
    ASSERT_EQ(chain.getListenTo(), 1);

    const std::vector<float> requests{4, 2, 4};
    rig.run(noise(2, 3 * 128, 2), 128,
            [&](int block, int) { rig.set("listen", requests[static_cast<size_t>(block)]); });
    EXPECT_EQ(chain.getListenFrom(), 1);
    EXPECT_EQ(chain.getListenTo(), 4);
    EXPECT_EQ(chain.getListenPending(), -1) << "2 was dropped when 4 was asked again";
    rig.run(noise(2, 960, 3), 128);
    EXPECT_FALSE(chain.isListenCrossfading()) << "one fade, to 4, and no other";
    EXPECT_EQ(chain.getListenTo(), 4);
}

TEST(SorvelChain, bypassGivesTheAlignedDryInputAtTheMeasuredLoudness)
{
    double rate = 0;
    const auto vocal = phrase(&rate);
    for (const auto& [outputDb, expectClamp] : {std::pair{6.0f, false}, std::pair{24.0f, true}})
    {
        SorvelRig rig;
        rig.set("output", outputDb);
        rig.set("input", expectClamp ? 4.0f : 0.0f);
        rig.prepare(rate, 512);
        const int engageBlock = 6 * 48000 / 512;
        const auto y = rig.run(vocal, 512,
                               [&](int block, int)
                               {
                                   if (block == engageBlock)
                                       rig.set("bypass", 1.0f);
                               });
        const float offset = rig.p.getFeed().matchOffsetDb.load();
        if (expectClamp)
            EXPECT_FLOAT_EQ(offset, 20.0f) << "at most 20 dB";
        else
            EXPECT_NEAR(offset, 6.0f, 2.0f) << "the chain was about 6 dB louder";
        const float m = std::pow(10.0f, offset / 20.0f);
        const int settled = engageBlock * 512 + 1200;
        for (int c = 0; c < 2; ++c)
            for (int i = settled; i < y.getNumSamples(); ++i)
                ASSERT_NEAR(y.getSample(c, i), vocal.getSample(0, i - 127) * m, 1e-5f)
                    << "the dry input, " << 127
                    << " samples later, at the match gain, without the output gain";
    }
}

TEST(SorvelChain, aProjectOpeningWithBypassOnIsNotLevelMatchedUntilBypassIsEngagedAgain)
{
    double rate = 0;
    const auto vocal = phrase(&rate);
    SorvelRig rig;
    rig.set("output", 10.0f);
    rig.set("bypass", 1.0f);
    rig.prepare(rate, 512);
    auto y = rig.run(vocal, 512);
    EXPECT_EQ(rig.p.getFeed().matchOffsetDb.load(), 0.0f);
    for (int i = 10000; i < 20000; ++i)
        ASSERT_EQ(y.getSample(0, i), vocal.getSample(0, i - 127)) << "plain dry, unity";

    y = rig.run(vocal, 512,
                [&](int block, int)
                {
                    if (block == 100)
                        rig.set("bypass", 0.0f);
                    if (block == 500) // over 3 s of processed output: the short-term loudness is the chain's
                        rig.set("bypass", 1.0f);
                });
    EXPECT_NEAR(rig.p.getFeed().matchOffsetDb.load(), 10.0f, 2.5f) << "measured at the new engage";
}

TEST(SorvelChain, returnsDuckUnderALoudVocalAndRecoverInThePause)
{
    auto render = [](float duckDb)
    {
        SorvelRig rig;
        rig.set("listen", 4.0f); // the ducked reverb return alone
        rig.set("reverb", 8.0f);
        rig.set("duck", duckDb);
        rig.prepare(48000.0, 480);
        auto input = testsupport::sine(48000.0, 440.0, 0.3f, 96000); // -10 dBFS: fully ducked
        input.clear(0, 48000, 48000);
        input.clear(1, 48000, 48000);
        std::vector<float> depth;
        const auto y =
            rig.run(input, 480, [&](int, int) { depth.push_back(rig.p.getChain().getDuckDepthDb()); });
        return std::make_pair(y, depth);
    };
    const auto [ducked, depth] = render(12.0f);
    const auto [open, noDepth] = render(0.0f);
    EXPECT_NEAR(depth[99], 12.0f, 0.05f) << "full depth while the vocal is loud";
    const double ratioDb = 20.0 * std::log10(rms(ducked, 0, 36000, 48000) / rms(open, 0, 36000, 48000));
    EXPECT_NEAR(ratioDb, -12.0, 0.1) << "the returns sit 12 dB lower";

    // In the pause: down to 5 % of the depth about 250 ms after the vocal's level has fallen.
    const int pause = 100; // block index where the input stops
    EXPECT_GT(depth[pause + 10], 3.0f) << "100 ms into the pause, still ducking";
    EXPECT_NEAR(depth[pause + 27], 0.6f, 0.3f) << "about 250 ms later, 5 %";
    EXPECT_LT(depth[pause + 60], 0.05f);
}

TEST(SorvelChain, piecesEndOnMeteringIntervalsAndRecordsFlowOnlyWhileAudioDoes)
{
    SorvelRig rig;
    rig.prepare(48000.0, 4096);
    auto& feed = rig.p.getFeed();
    const auto before = feed.records.count();
    rig.run(noise(2, 4096, 1, 0.2f), 4096);
    EXPECT_EQ(feed.records.count() - before, 8u) << "4096 samples: eight 480-sample intervals complete";
    rig.run(noise(2, 1000, 2, 0.2f), 1000);
    EXPECT_EQ(feed.records.count() - before, 10u) << "5096 samples: ten intervals";

    // Silence with the transport stopped: records go on for 100 ms, then stop.
    juce::AudioBuffer<float> silence(2, 48000);
    silence.clear();
    const auto counted = feed.records.count();
    const int blocksBefore = feed.blocksProcessed.load();
    rig.run(silence, 480);
    const auto recordsInSilence = feed.records.count() - counted;
    EXPECT_GE(recordsInSilence, 9u) << "100 ms: the tenth silent block is idle";
    EXPECT_LE(recordsInSilence, 10u);
    EXPECT_TRUE(feed.idle.load());
    const int blocksAfter = feed.blocksProcessed.load();
    rig.run(silence, 480);
    EXPECT_EQ(feed.records.count() - counted, recordsInSilence) << "no records while idle";
    EXPECT_EQ(feed.blocksProcessed.load(), blocksAfter);
    EXPECT_LE(blocksAfter - blocksBefore, 12);

    // A playing transport is never idle.
    rig.head.playing = true;
    rig.run(silence, 480);
    EXPECT_FALSE(feed.idle.load());
    EXPECT_GT(feed.records.count() - counted, recordsInSilence);
}

TEST(SorvelChain, aPeakShowsOnceToAnExchangingReader)
{
    SorvelRig rig;
    rig.prepare(48000.0, 480);
    auto& feed = rig.p.getFeed();
    auto loud = noise(2, 480, 3, 0.05f);
    loud.setSample(0, 100, 0.9f);
    rig.run(loud, 480);
    EXPECT_FLOAT_EQ(feed.inputPeak.exchange(0.0f), 0.9f);
    EXPECT_EQ(feed.inputPeak.exchange(0.0f), 0.0f) << "taken once, then 0";
    rig.run(noise(2, 480, 4, 0.05f), 480);
    const float quiet = feed.inputPeak.exchange(0.0f);
    EXPECT_GT(quiet, 0.0f);
    EXPECT_LE(quiet, 0.05f);
    EXPECT_GT(feed.outputPeak.exchange(0.0f), 0.0f);
}

TEST(SorvelChain, tapFifoFillsWhileEnabledAndDropsWholeEntriesWhenFull)
{
    SorvelRig rig;
    rig.allModulesOff();
    rig.prepare(48000.0, 512);
    auto& feed = rig.p.getFeed();
    juce::AudioBuffer<float> dc(2, 512 * 80);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < dc.getNumSamples(); ++i)
            dc.setSample(c, i, 0.25f);

    rig.run(dc, 512);
    EXPECT_EQ(feed.taps.pop([](const auto&) {}), 0u) << "nothing while the spectrum is not shown";

    feed.tapEnabled.store(true);
    rig.run(dc, 512); // 40960 samples, more than the FIFO holds
    std::uint32_t entries = 0, torn = 0;
    const auto popped = feed.taps.pop(
        [&](const sv2::TapFifo::Entry& e)
        {
            ++entries;
            // After the de-esser's look-ahead has filled, all three taps carry the same DC.
            if (entries > 200 && (e.a != 0.25f || e.b != 0.25f || e.c != 0.25f))
                ++torn;
        });
    EXPECT_EQ(popped, sv2::TapFifo::capacity) << "the rest was dropped";
    EXPECT_EQ(torn, 0u);
    rig.run(dc, 512);
    EXPECT_GT(feed.taps.pop([](const auto&) {}), 0u) << "room again after reading";
}

TEST(SorvelChain, hostTempoIsTakenWithinTwentyTo999Bpm)
{
    SorvelRig rig;
    rig.prepare(48000.0, 256);
    const auto block = noise(2, 256, 1, 0.1f);
    rig.head.bpm = 300.0;
    rig.run(block, 256);
    EXPECT_EQ(rig.p.getChain().getTempo(), 300.0);
    EXPECT_EQ(rig.p.getFeed().hostBpm.load(), 300.0f);
    rig.head.bpm = 1000.0;
    rig.run(block, 256);
    EXPECT_EQ(rig.p.getChain().getTempo(), 300.0) << "1000 bpm is ignored; the last valid tempo stays";
    rig.head.hasBpm = false;
    rig.run(block, 256);
    EXPECT_EQ(rig.p.getChain().getTempo(), 300.0);

    SorvelRig fresh;
    fresh.head.bpm = 1000.0;
    fresh.prepare(48000.0, 256);
    fresh.run(block, 256);
    EXPECT_EQ(fresh.p.getChain().getTempo(), 120.0) << "or 120";
}
